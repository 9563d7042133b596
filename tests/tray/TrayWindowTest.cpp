// The tray's own window: a real hidden top-level window that the shell's broadcasts reach.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

using namespace tray_test;

namespace {

class TrayWindowTest : public ::testing::Test {
protected:
    FakeShell shell;
    OwnerWindow owner;
    CSystemTray tray{shell.Make()};

    void SetUp() override
    {
        ASSERT_NE(owner.m_hWnd, nullptr);
        ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId));
        ASSERT_NE(tray.m_hWnd, nullptr);
    }
};

TEST_F(TrayWindowTest, WindowIsHiddenTopLevelAndUntitled)
{
    HWND window = tray.m_hWnd;
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_EQ(::GetAncestor(window, GA_PARENT), ::GetDesktopWindow());
    EXPECT_EQ(::GetWindow(window, GW_OWNER), nullptr);
    EXPECT_FALSE(::IsWindowVisible(window));

    LONG_PTR style = ::GetWindowLongPtrA(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CHILD | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME));
    EXPECT_EQ(::GetWindowLongPtrA(window, GWL_EXSTYLE) & (WS_EX_APPWINDOW | WS_EX_TOPMOST), 0);
    EXPECT_EQ(::GetMenu(window), nullptr);
    EXPECT_EQ(::GetWindowTextLengthA(window), 0);

    RECT rect = {};
    ASSERT_TRUE(::GetWindowRect(window, &rect));
    EXPECT_EQ(rect.right - rect.left, 0);
    EXPECT_EQ(rect.bottom - rect.top, 0);

    char className[64] = {};
    ::GetClassNameA(window, className, sizeof(className));
    EXPECT_STREQ(className, CWndClassName());
    EXPECT_EQ(::GetWindowThreadProcessId(window, nullptr), ::GetCurrentThreadId());
}

TEST_F(TrayWindowTest, TaskbarCreatedIsTheSystemsRegisteredMessage)
{
    UINT id = TaskbarCreatedMessage();
    EXPECT_GE(id, 0xC000u); // registered messages live in their own range
    EXPECT_EQ(id, ::RegisterWindowMessageA("TaskbarCreated"));
}

TEST_F(TrayWindowTest, BroadcastsReachTheWindowAndReaddTheIcon)
{
    EXPECT_EQ(::SendMessageA(tray.m_hWnd, TaskbarCreatedMessage(), 7, 9), 0);
    ASSERT_EQ(shell.CallCount(), 2u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_ADD));

    ::SendMessageA(tray.m_hWnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    ASSERT_EQ(shell.CallCount(), 3u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_ADD));

    // The way the shell really sends it: to every top-level window.
    DWORD_PTR result = 1;
    ASSERT_TRUE(::SendMessageTimeoutA(HWND_BROADCAST, TaskbarCreatedMessage(), 0, 0, SMTO_ABORTIFHUNG, 5000,
                                      &result));
    EXPECT_EQ(shell.CallCount(), 4u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_ADD));
    EXPECT_FALSE(tray.IconAbsent);
}

} // namespace
