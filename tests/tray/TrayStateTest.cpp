// The icon's life: construction, the add, re-adds on the shell's broadcasts, the delete, and the
// IconAbsent / IconDeleted states each of them leaves behind.

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

    std::unique_ptr<CSystemTray> MakeTray() { return std::make_unique<CSystemTray>(shell.Make()); }

    BOOL Add(CSystemTray& tray) { return tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId); }
};

TEST_F(TrayStateTest, ConstructionLeavesEverythingZeroAndCallsNothing)
{
    auto tray = MakeTray();
    NOTIFYICONDATAA zero = {};
    EXPECT_EQ(memcmp(&tray->IconRecord, &zero, sizeof(zero)), 0);
    EXPECT_FALSE(tray->TrayAvailable);
    ExpectState(*tray, TRUE, TRUE);
    EXPECT_EQ(tray->AddFlags, 0u);
    EXPECT_EQ(tray->m_hWnd, nullptr);
    EXPECT_EQ(shell.CallCount(), 0u);
}

TEST_F(TrayStateTest, BalloonsNeedTheNtFamilyFromVersionFive)
{
    struct Case {
        DWORD platformId;
        DWORD major;
        BOOL versionExResult;
        BOOL expected;
    };
    const Case cases[] = {
        {VER_PLATFORM_WIN32_NT, 5, TRUE, TRUE},
        {VER_PLATFORM_WIN32_NT, 6, TRUE, TRUE},
        {VER_PLATFORM_WIN32_NT, 10, TRUE, TRUE},
        {VER_PLATFORM_WIN32_NT, 4, TRUE, FALSE},
        {VER_PLATFORM_WIN32_WINDOWS, 4, TRUE, FALSE},
        {VER_PLATFORM_WIN32_WINDOWS, 5, TRUE, FALSE},
        {VER_PLATFORM_WIN32_NT, 5, FALSE, FALSE}, // version unknown
    };
    for (const Case& c : cases) {
        FakeShell versions;
        versions.PlatformId = c.platformId;
        versions.MajorVersion = c.major;
        versions.VersionExResult = c.versionExResult;
        CSystemTray tray(versions.Make());
        EXPECT_EQ(tray.BalloonsAvailable, c.expected)
            << "platform " << c.platformId << " major " << c.major << " query " << c.versionExResult;
    }
}

TEST_F(TrayStateTest, TrayNeedsMajorVersionFourInTheLowByte)
{
    struct Case {
        DWORD version;
        BOOL expected;
    };
    const Case cases[] = {{kVersionXp, TRUE}, {kVersionNt4, TRUE}, {kVersion98, TRUE}, {kVersionWin32s, FALSE},
                          {0x00000003, FALSE}};
    for (const Case& c : cases) {
        FakeShell versions;
        versions.Version = c.version;
        CSystemTray tray(versions.Make());
        EXPECT_EQ(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId), c.expected)
            << std::hex << c.version;
        EXPECT_EQ(tray.TrayAvailable, c.expected) << std::hex << c.version;
    }
}

TEST_F(TrayStateTest, WithoutANotificationAreaNothingIsCreatedOrCalled)
{
    shell.Version = kVersionWin32s;
    auto tray = MakeTray();
    EXPECT_FALSE(Add(*tray));
    EXPECT_FALSE(tray->TrayAvailable);
    EXPECT_EQ(tray->m_hWnd, nullptr);
    ExpectState(*tray, TRUE, TRUE);
    EXPECT_EQ(tray->AddFlags, 0u);

    EXPECT_TRUE(tray->RemoveFromTray());
    tray.reset();
    EXPECT_EQ(shell.CallCount(), 0u);
}

TEST_F(TrayStateTest, SuccessfulAddHandsTheShellTheWholeRecord)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    ExpectState(*tray, FALSE, FALSE);
    EXPECT_EQ(tray->AddFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));

    ASSERT_EQ(shell.CallCount(), 1u);
    ShellCall add = shell.LastCall();
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    // Up to and including dwInfoFlags: the size the shell reads as the version-2 record.
    EXPECT_EQ(add.record.cbSize, offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD));
#ifndef _WIN64
    EXPECT_EQ(add.record.cbSize, 488u);
#endif
    EXPECT_EQ(add.record.hWnd, owner.m_hWnd); // notifications go to the owner, not the tray's window
    EXPECT_NE(add.record.hWnd, tray->m_hWnd);
    EXPECT_EQ(add.record.uID, kIconId);
    EXPECT_EQ(add.record.uCallbackMessage, 0x800Au);
    EXPECT_EQ(add.record.hIcon, TestIcon());
    EXPECT_EQ(add.record.uFlags, 7u);
    EXPECT_EQ(Field(add.record.szTip, sizeof(add.record.szTip)), "Halvern");
    EXPECT_EQ(add.record.dwState, 0u);
    EXPECT_EQ(add.record.dwStateMask, 0u);
    EXPECT_EQ(add.record.szInfo[0], '\0');
}

TEST_F(TrayStateTest, FailedFirstAddIsNeverRetried)
{
    shell.QueueResults({FALSE});
    auto tray = MakeTray();
    EXPECT_FALSE(Add(*tray));
    ExpectState(*tray, TRUE, TRUE);
    EXPECT_TRUE(tray->TrayAvailable);
    ASSERT_NE(tray->m_hWnd, nullptr); // the window comes before the add

    SendTaskbarCreated(*tray);
    SendWorkAreaChange(*tray);
    ExpectState(*tray, TRUE, TRUE);
    EXPECT_TRUE(tray->RemoveFromTray());
    tray.reset();
    EXPECT_EQ(shell.CallCount(), 1u); // the failed add alone
}

TEST_F(TrayStateTest, ReaddFromShownRepeatsTheAdd)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    ShellCall first = shell.LastCall();

    SendTaskbarCreated(*tray);
    ASSERT_EQ(shell.CallCount(), 2u);
    ShellCall readd = shell.LastCall();
    EXPECT_EQ(readd.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(memcmp(&readd.record, &first.record, sizeof(first.record)), 0);
    ExpectState(*tray, FALSE, FALSE);

    SendWorkAreaChange(*tray);
    ASSERT_EQ(shell.CallCount(), 3u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_ADD));
    ExpectState(*tray, FALSE, FALSE);
}

TEST_F(TrayStateTest, FailedReaddStopsLaterReaddsButNotTheDeleteAtExit)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    shell.QueueResults({FALSE});
    SendWorkAreaChange(*tray);
    ExpectState(*tray, TRUE, FALSE);

    SendTaskbarCreated(*tray);
    SendWorkAreaChange(*tray);
    EXPECT_EQ(shell.CallCount(), 2u);
    ExpectState(*tray, TRUE, FALSE);

    tray.reset();
    ASSERT_EQ(shell.CallCount(), 3u);
    ShellCall remove = shell.LastCall();
    EXPECT_EQ(remove.message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(remove.record.uFlags, 0u);
    EXPECT_EQ(remove.record.hWnd, owner.m_hWnd);
    EXPECT_EQ(remove.record.uID, kIconId);
}

TEST_F(TrayStateTest, OtherSettingChangesLeaveTheIconAlone)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    for (WPARAM flag : {WPARAM{0}, WPARAM{SPI_SETDESKWALLPAPER}, WPARAM{SPI_SETNONCLIENTMETRICS}})
        ::SendMessageA(tray->m_hWnd, WM_SETTINGCHANGE, flag, reinterpret_cast<LPARAM>("intl"));
    EXPECT_EQ(shell.CallCount(), 1u);
    ExpectState(*tray, FALSE, FALSE);
}

TEST_F(TrayStateTest, RemoveDeletesOnceAndEndsReadds)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    EXPECT_TRUE(tray->RemoveFromTray());
    ExpectState(*tray, TRUE, TRUE);
    ASSERT_EQ(shell.CallCount(), 2u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(shell.LastCall().record.uFlags, 0u);

    EXPECT_TRUE(tray->RemoveFromTray());
    SendTaskbarCreated(*tray);
    SendWorkAreaChange(*tray);
    tray.reset();
    EXPECT_EQ(shell.CallCount(), 2u);
}

TEST_F(TrayStateTest, RemoveAfterFailedReaddDeletes)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    shell.QueueResults({FALSE});
    SendTaskbarCreated(*tray);
    ExpectState(*tray, TRUE, FALSE);

    EXPECT_TRUE(tray->RemoveFromTray());
    ExpectState(*tray, TRUE, TRUE);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(shell.CallCount(), 3u);
}

TEST_F(TrayStateTest, FailedDeleteKeepsTheStateAndIsTriedAgain)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    shell.QueueResults({FALSE});
    EXPECT_FALSE(tray->RemoveFromTray());
    ExpectState(*tray, FALSE, FALSE);

    // Still Shown: a re-add still happens, and the destructor deletes again.
    SendTaskbarCreated(*tray);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_ADD));
    tray.reset();
    ASSERT_EQ(shell.CallCount(), 4u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_DELETE));

    // The same from Re-add failed.
    FakeShell other;
    auto second = std::make_unique<CSystemTray>(other.Make());
    ASSERT_TRUE(second->AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId));
    other.QueueResults({FALSE, FALSE});
    SendWorkAreaChange(*second);
    EXPECT_FALSE(second->RemoveFromTray());
    ExpectState(*second, TRUE, FALSE);
    EXPECT_TRUE(second->RemoveFromTray());
    ExpectState(*second, TRUE, TRUE);
    EXPECT_EQ(other.CallCount(), 4u);
}

TEST_F(TrayStateTest, DestructionDeletesTheIconAndDestroysTheWindow)
{
    auto tray = MakeTray();
    ASSERT_TRUE(Add(*tray));
    HWND window = tray->m_hWnd;
    ASSERT_TRUE(::IsWindow(window));
    tray.reset();
    EXPECT_FALSE(::IsWindow(window));
    ASSERT_EQ(shell.CallCount(), 2u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_DELETE));
}

} // namespace
