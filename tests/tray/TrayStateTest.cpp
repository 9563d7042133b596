// The icon's life: the add, re-adds on the shell's broadcasts, the delete, and the IconAbsent /
// IconDeleted states each of them leaves behind.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

using namespace tray_test;

namespace {

void ExpectState(const CSystemTray& tray, BOOL absent, BOOL deleted)
{
    EXPECT_EQ(tray.IconAbsent, absent);
    EXPECT_EQ(tray.IconDeleted, deleted);
}

class TrayStateTest : public ::testing::Test {
protected:
    FakeShell shell;
    OwnerWindow owner;
    std::unique_ptr<CSystemTray> tray = std::make_unique<CSystemTray>(shell.Make());

    void AddShown()
    {
        ASSERT_TRUE(AddHalvern(*tray, owner));
        ExpectState(*tray, FALSE, FALSE);
    }
};

// Only the low byte of GetVersion is the major version; 9x and build bits do not count.
TEST_F(TrayStateTest, NotificationAreaNeedsMajorVersionFour)
{
    struct Case {
        DWORD version;
        BOOL available;
    };
    for (Case c : {Case{0x00000003, FALSE}, Case{0x80000A03, FALSE}, Case{0x05650004, TRUE}, Case{0xC0000A04, TRUE}}) {
        SCOPED_TRACE(c.version);
        FakeShell versions;
        versions.Version = c.version;
        auto platformTray = std::make_unique<CSystemTray>(versions.Make());
        NOTIFYICONDATAA zero = {};
        EXPECT_EQ(memcmp(&platformTray->IconRecord, &zero, sizeof(zero)), 0);
        EXPECT_FALSE(platformTray->TrayAvailable);
        ExpectState(*platformTray, TRUE, TRUE); // not yet added
        EXPECT_EQ(platformTray->AddFlags, 0u);

        EXPECT_EQ(AddHalvern(*platformTray, owner), c.available);
        EXPECT_EQ(platformTray->TrayAvailable, c.available);
        EXPECT_EQ(platformTray->m_hWnd != nullptr, c.available != FALSE);
        ExpectState(*platformTray, !c.available, !c.available);
        EXPECT_TRUE(c.available || platformTray->RemoveFromTray());
        platformTray.reset();
        EXPECT_EQ(versions.CallCount(), c.available ? 2u : 0u); // add and delete, or nothing at all
    }
}

TEST_F(TrayStateTest, AddHandsTheShellTheWholeRecordAndReaddsRepeatIt)
{
    AddShown();
    EXPECT_EQ(tray->AddFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    ASSERT_EQ(shell.CallCount(), 1u);
    ShellCall add = shell.LastCall();
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    // Up to and including dwInfoFlags: the size the shell reads as the version-2 record.
    EXPECT_EQ(add.record.cbSize, offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD));
    EXPECT_EQ(add.record.hWnd, owner.m_hWnd); // notifications go to the owner, not the tray's window
    EXPECT_EQ(add.record.uID, kIconId);
    EXPECT_EQ(add.record.uCallbackMessage, 0x800Au);
    EXPECT_EQ(add.record.hIcon, ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512)));
    EXPECT_EQ(add.record.uFlags, 7u);
    EXPECT_EQ(Field(add.record.szTip, sizeof(add.record.szTip)), "Halvern");
    EXPECT_EQ(add.record.dwState | add.record.dwStateMask, 0u);

    shell.RestartShell();
    SendTaskbarCreated(*tray);
    ASSERT_EQ(shell.CallCount(), 2u);
    ShellCall readd = shell.LastCall();
    EXPECT_EQ(readd.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(memcmp(&readd.record, &add.record, sizeof(add.record)), 0);

    for (WPARAM flag : {WPARAM{0}, WPARAM{SPI_SETDESKWALLPAPER}, WPARAM{SPI_SETNONCLIENTMETRICS}})
        ::SendMessageA(tray->m_hWnd, WM_SETTINGCHANGE, flag, reinterpret_cast<LPARAM>("intl"));
    EXPECT_EQ(shell.CallCount(), 2u);

    // The icon is still shown, so the shell refuses the add; the modify that follows finds it.
    SendWorkAreaChange(*tray);
    ASSERT_EQ(shell.CallCount(), 4u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_MODIFY));
    ExpectState(*tray, FALSE, FALSE);
    shell.RestartShell();
    SendTaskbarCreated(*tray);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_ADD));
    ExpectState(*tray, FALSE, FALSE);

    EXPECT_TRUE(tray->RemoveFromTray());
    ExpectState(*tray, TRUE, TRUE); // removed from Shown
}

// At logon the taskbar may not exist yet: the icon must come with it, or a hidden window could
// never be reached.
TEST_F(TrayStateTest, FailedFirstAddIsMadeGoodWhenTheTaskbarComes)
{
    shell.QueueResults({FALSE});
    EXPECT_FALSE(AddHalvern(*tray, owner));
    ExpectState(*tray, TRUE, TRUE);
    ASSERT_NE(tray->m_hWnd, nullptr); // the window comes before the add

    SendTaskbarCreated(*tray);
    ExpectState(*tray, FALSE, FALSE);
    EXPECT_EQ(shell.CallCount(), 2u);
    tray.reset();
    EXPECT_EQ(shell.CallCount(), 3u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayStateTest, FailedReaddIsMadeGoodByTheNextBroadcast)
{
    AddShown();
    shell.RestartShell();
    shell.QueueResults({FALSE});
    SendTaskbarCreated(*tray); // the add is refused and there is nothing to modify
    ExpectState(*tray, TRUE, FALSE);
    EXPECT_EQ(shell.CallCount(), 3u);

    SendWorkAreaChange(*tray);
    ExpectState(*tray, FALSE, FALSE);
    EXPECT_EQ(shell.CallCount(), 4u);

    HWND window = tray->m_hWnd;
    tray.reset();
    EXPECT_FALSE(::IsWindow(window));
    ASSERT_EQ(shell.CallCount(), 5u);
    ShellCall remove = shell.LastCall();
    EXPECT_EQ(remove.message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(remove.record.uFlags, 0u);
    EXPECT_EQ(remove.record.hWnd, owner.m_hWnd);
    EXPECT_EQ(remove.record.uID, kIconId);
}

TEST_F(TrayStateTest, FailedDeleteIsTriedAgainAndOnlyASuccessfulOneEndsTheIcon)
{
    AddShown();
    shell.QueueResults({FALSE});
    EXPECT_FALSE(tray->RemoveFromTray());
    ExpectState(*tray, FALSE, FALSE); // still shown: broadcasts still re-add

    shell.RestartShell();
    shell.QueueResults({FALSE});
    SendTaskbarCreated(*tray); // the re-add fails
    ExpectState(*tray, TRUE, FALSE);
    EXPECT_FALSE(tray->RemoveFromTray()); // the shell has no icon to delete
    ExpectState(*tray, TRUE, FALSE);
    SendTaskbarCreated(*tray);
    EXPECT_TRUE(tray->RemoveFromTray());
    ExpectState(*tray, TRUE, TRUE);
    EXPECT_EQ(shell.CallCount(), 7u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_DELETE));

    // Removed: a second remove, the broadcasts and the destructor call nothing.
    EXPECT_TRUE(tray->RemoveFromTray());
    shell.RestartShell();
    SendTaskbarCreated(*tray);
    SendWorkAreaChange(*tray);
    tray.reset();
    EXPECT_EQ(shell.CallCount(), 7u);
}

} // namespace
