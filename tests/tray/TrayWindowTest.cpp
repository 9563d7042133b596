// The tray's own window: a hidden top-level window that the shell's broadcasts really reach.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

using namespace tray_test;

namespace {

TEST(TrayWindowTest, HiddenTopLevelWindowReceivesTheShellsBroadcasts)
{
    FakeShell shell;
    OwnerWindow owner;
    CSystemTray tray(shell.Make());
    ASSERT_TRUE(AddHalvern(tray, owner));
    HWND window = tray.m_hWnd;
    ASSERT_TRUE(::IsWindow(window));
    EXPECT_EQ(::GetAncestor(window, GA_PARENT), ::GetDesktopWindow());
    EXPECT_EQ(::GetWindow(window, GW_OWNER), nullptr);
    EXPECT_FALSE(::IsWindowVisible(window));
    DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CHILD | WS_VISIBLE | WS_CAPTION), static_cast<DWORD>(WS_POPUP));

    EXPECT_EQ(TaskbarCreatedMessage(), ::RegisterWindowMessageA("TaskbarCreated"));
    // The way the shell sends them: to every top-level window.
    struct Broadcast {
        UINT message;
        WPARAM wParam;
    };
    for (Broadcast b : {Broadcast{TaskbarCreatedMessage(), 0}, Broadcast{WM_SETTINGCHANGE, SPI_SETWORKAREA}}) {
        const size_t calls = shell.CallCount();
        DWORD_PTR result = 1;
        ASSERT_TRUE(::SendMessageTimeoutA(HWND_BROADCAST, b.message, b.wParam, 0, SMTO_ABORTIFHUNG, 5000, &result));
        ASSERT_EQ(shell.CallCount(), calls + 2) << b.message;
        // Still shown: the add is refused and the modify after it finds the icon.
        EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_MODIFY));
    }
    EXPECT_FALSE(tray.IconAbsent);
}

} // namespace
