// The tray against the real Shell_NotifyIconA of the system the tests run on (Wine's shell).

#include "tests/tray/FakeShell.h"

#include "res/resource.h"

#include <gtest/gtest.h>

using namespace tray_test;

namespace {

TEST(TrayShellTest, RealShellAddsShowsBalloonsAndRemoves)
{
    OwnerWindow owner;
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);
    CSystemTray tray;
    EXPECT_TRUE(tray.BalloonsAvailable);
    ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", icon, IDR_MAINFRAME));

    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\Recorded TV\\Show.dvr-ms", nullptr, NIIF_NONE, 10));
    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\Recorded TV\\Show.dvr-ms\nDone!", "ERROR", NIIF_ERROR, 10));

    // The icon is still there, so the shell refuses the repeated add; it still counts as shown.
    SendWorkAreaChange(tray);
    EXPECT_FALSE(tray.IconAbsent);
    EXPECT_FALSE(tray.IconDeleted);
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_TRUE(tray.IconDeleted);
    // Had the delete not reached the shell, this balloon would still find the icon.
    EXPECT_FALSE(tray.ShowBalloonNotice("gone", nullptr, NIIF_NONE, 10));
}

} // namespace
