// Balloons: what the shell is handed, what is left in the record afterwards, and the platforms
// that have none.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <cstddef>

using namespace tray_test;

namespace {

TEST(TrayBalloonTest, BalloonChangesOnlyTheBalloonAndLeavesNoTextForTheReadd)
{
    FakeShell shell;
    OwnerWindow owner;
    CSystemTray tray(shell.Make());
    ASSERT_TRUE(AddHalvern(tray, owner));
    NOTIFYICONDATAA added = shell.LastCall().record;

    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\rec\\Show.dvr-ms\nDone!", "ERROR", NIIF_ERROR, 10));
    ShellCall balloon = shell.LastCall();
    EXPECT_EQ(balloon.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(balloon.record.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Field(balloon.record.szInfo, 256), "Converting : C:\\rec\\Show.dvr-ms\nDone!");
    EXPECT_EQ(Field(balloon.record.szInfoTitle, 64), "ERROR");
    EXPECT_EQ(balloon.record.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
    EXPECT_EQ(balloon.record.uTimeout, 10000u);
    EXPECT_EQ(balloon.record.hWnd, added.hWnd); // the shell finds the icon by these
    EXPECT_EQ(balloon.record.uID, added.uID);
    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');

    // A refused balloon empties the text as well; a null title is an empty one.
    shell.QueueResults({FALSE});
    EXPECT_FALSE(tray.ShowBalloonNotice("next run", nullptr, NIIF_NONE, 3));
    balloon = shell.LastCall();
    EXPECT_EQ(Field(balloon.record.szInfo, 256), "next run");
    const char zeros[64] = {};
    EXPECT_EQ(memcmp(balloon.record.szInfoTitle, zeros, sizeof(zeros)), 0);
    EXPECT_EQ(balloon.record.dwInfoFlags, static_cast<DWORD>(NIIF_NONE));
    EXPECT_EQ(balloon.record.uTimeout, 3000u);
    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');

    // The re-add repeats the add's fields, the flags included, and no balloon.
    shell.RestartShell();
    SendTaskbarCreated(tray);
    ASSERT_EQ(shell.CallCount(), 4u);
    ShellCall readd = shell.LastCall();
    EXPECT_EQ(readd.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(memcmp(&readd.record, &added, offsetof(NOTIFYICONDATAA, dwState)), 0);
    EXPECT_EQ(readd.record.szInfo[0], '\0');
    EXPECT_FALSE(tray.IconAbsent);
}

// Balloons need the NT family from version 5. Where they exist they go to the shell whatever the
// icon's state (none was added here); elsewhere the shell is never called.
TEST(TrayBalloonTest, OnlyNtFromVersionFiveCallsTheShell)
{
    struct Case {
        DWORD platformId;
        DWORD major;
        BOOL available;
    };
    for (Case c : {Case{VER_PLATFORM_WIN32_NT, 5, TRUE}, Case{VER_PLATFORM_WIN32_NT, 10, TRUE},
                   Case{VER_PLATFORM_WIN32_NT, 4, FALSE}, Case{VER_PLATFORM_WIN32_WINDOWS, 4, FALSE},
                   Case{VER_PLATFORM_WIN32_WINDOWS, 5, FALSE}}) {
        SCOPED_TRACE(testing::Message() << c.platformId << " " << c.major);
        FakeShell shell;
        shell.PlatformId = c.platformId;
        shell.MajorVersion = c.major;
        shell.QueueResults({FALSE});
        CSystemTray tray(shell.Make());
        EXPECT_EQ(tray.BalloonsAvailable, c.available);
        EXPECT_FALSE(tray.ShowBalloonNotice("orphan", nullptr, NIIF_NONE, 10));
        EXPECT_EQ(shell.CallCount(), c.available ? 1u : 0u);
    }
}

} // namespace
