// Balloons: what the shell is handed, what is left in the record afterwards, and the platforms
// that have none.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

using namespace tray_test;

namespace {

class TrayBalloonTest : public ::testing::Test {
protected:
    FakeShell shell;
    OwnerWindow owner;

    void Add(CSystemTray& tray)
    {
        ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId));
    }
};

TEST_F(TrayBalloonTest, BalloonModifiesOnlyTheBalloon)
{
    CSystemTray tray(shell.Make());
    Add(tray);
    NOTIFYICONDATAA added = shell.LastCall().record;

    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\rec\\Show.dvr-ms\nDone!", "ERROR", NIIF_ERROR, 10));
    ASSERT_EQ(shell.CallCount(), 2u);
    ShellCall balloon = shell.LastCall();
    EXPECT_EQ(balloon.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(balloon.record.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Field(balloon.record.szInfo, sizeof(balloon.record.szInfo)),
              "Converting : C:\\rec\\Show.dvr-ms\nDone!");
    EXPECT_EQ(Field(balloon.record.szInfoTitle, sizeof(balloon.record.szInfoTitle)), "ERROR");
    EXPECT_EQ(balloon.record.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
    EXPECT_EQ(balloon.record.uTimeout, 10000u);
    // The shell finds the icon by these; they must be those of the add.
    EXPECT_EQ(balloon.record.cbSize, added.cbSize);
    EXPECT_EQ(balloon.record.hWnd, added.hWnd);
    EXPECT_EQ(balloon.record.uID, added.uID);

    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');
    EXPECT_FALSE(tray.IconAbsent);
    EXPECT_FALSE(tray.IconDeleted);
}

TEST_F(TrayBalloonTest, TextIsEmptiedAfterEveryBalloonWhateverTheResult)
{
    CSystemTray tray(shell.Make());
    Add(tray);
    shell.QueueResults({TRUE, FALSE});
    EXPECT_TRUE(tray.ShowBalloonNotice("first", nullptr, NIIF_NONE, 10));
    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');
    EXPECT_FALSE(tray.ShowBalloonNotice("second", nullptr, NIIF_NONE, 10));
    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');
    EXPECT_EQ(Field(shell.LastCall().record.szInfo, 256), "second");
}

TEST_F(TrayBalloonTest, NullTitleGivesAnEmptyTitle)
{
    CSystemTray tray(shell.Make());
    Add(tray);
    ASSERT_TRUE(tray.ShowBalloonNotice("failed", "ERROR", NIIF_ERROR, 10));
    ASSERT_TRUE(tray.ShowBalloonNotice("next run", nullptr, NIIF_NONE, 3));
    ShellCall balloon = shell.LastCall();
    const char zeros[sizeof(balloon.record.szInfoTitle)] = {};
    EXPECT_EQ(memcmp(balloon.record.szInfoTitle, zeros, sizeof(zeros)), 0);
    EXPECT_EQ(balloon.record.dwInfoFlags, static_cast<DWORD>(NIIF_NONE));
    EXPECT_EQ(balloon.record.uTimeout, 3000u);
}

TEST_F(TrayBalloonTest, ReaddAfterABalloonRepeatsTheAddNotTheBalloon)
{
    CSystemTray tray(shell.Make());
    Add(tray);
    NOTIFYICONDATAA added = shell.LastCall().record;
    ASSERT_TRUE(tray.ShowBalloonNotice("Converting : x", "ERROR", NIIF_ERROR, 10));

    SendTaskbarCreated(tray);
    ASSERT_EQ(shell.CallCount(), 3u);
    ShellCall readd = shell.LastCall();
    EXPECT_EQ(readd.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(readd.record.uFlags, tray.AddFlags);
    EXPECT_EQ(readd.record.cbSize, added.cbSize);
    EXPECT_EQ(readd.record.hWnd, added.hWnd);
    EXPECT_EQ(readd.record.uID, added.uID);
    EXPECT_EQ(readd.record.uCallbackMessage, added.uCallbackMessage);
    EXPECT_EQ(readd.record.hIcon, added.hIcon);
    EXPECT_EQ(memcmp(readd.record.szTip, added.szTip, sizeof(added.szTip)), 0);
    EXPECT_EQ(readd.record.szInfo[0], '\0');
}

TEST_F(TrayBalloonTest, PlatformsWithoutBalloonsNeverCallTheShell)
{
    struct Case {
        DWORD platformId;
        DWORD major;
    };
    for (Case c : {Case{VER_PLATFORM_WIN32_WINDOWS, 4}, Case{VER_PLATFORM_WIN32_NT, 4}}) {
        FakeShell old;
        old.Version = c.platformId == VER_PLATFORM_WIN32_NT ? kVersionNt4 : kVersion98;
        old.PlatformId = c.platformId;
        old.MajorVersion = c.major;
        CSystemTray tray(old.Make());
        ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId));
        EXPECT_FALSE(tray.ShowBalloonNotice("text", "ERROR", NIIF_ERROR, 10));
        EXPECT_EQ(old.CallCount(), 1u) << "platform " << c.platformId; // the add alone
        EXPECT_EQ(tray.IconRecord.uFlags, tray.AddFlags);
    }
}

TEST_F(TrayBalloonTest, BalloonIgnoresTheIconState)
{
    // No icon was ever added: the shell gets the balloon and refuses it itself.
    CSystemTray tray(shell.Make());
    shell.QueueResults({FALSE});
    EXPECT_FALSE(tray.ShowBalloonNotice("orphan", nullptr, NIIF_NONE, 10));
    ASSERT_EQ(shell.CallCount(), 1u);
    EXPECT_EQ(shell.LastCall().message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(Field(shell.LastCall().record.szInfo, 256), "orphan");
    EXPECT_TRUE(tray.IconAbsent);
    EXPECT_TRUE(tray.IconDeleted);
}

} // namespace
