// The tray against the real Shell_NotifyIconA of the system the tests run on (Wine's shell).

#include "tests/tray/FakeShell.h"

#include "res/resource.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tray_test;

namespace {

TEST(TrayShellTest, RealShellAddsShowsABalloonAndRemoves)
{
    OwnerWindow owner;
    ASSERT_NE(owner.m_hWnd, nullptr);
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);

    CSystemTray tray;
    EXPECT_TRUE(tray.BalloonsAvailable);
    EXPECT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", icon, IDR_MAINFRAME));
    EXPECT_TRUE(tray.TrayAvailable);
    EXPECT_FALSE(tray.IconAbsent);

    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\Recorded TV\\Show.dvr-ms", nullptr, NIIF_NONE, 10));
    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\Recorded TV\\Show.dvr-ms\nDone!", "ERROR", NIIF_ERROR, 10));
    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');

    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_TRUE(tray.IconAbsent);
    EXPECT_TRUE(tray.IconDeleted);
    // The shell no longer knows the icon: a balloon for it is refused there.
    EXPECT_FALSE(tray.ShowBalloonNotice("gone", nullptr, NIIF_NONE, 10));
}

TEST(TrayShellTest, WorkAreaChangeStillLeavesTheIconToTheDeleteAtExit)
{
    OwnerWindow owner;
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    auto tray = std::make_unique<CSystemTray>();
    ASSERT_TRUE(tray->AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", icon, IDR_MAINFRAME));

    // The icon is still there, so the shell may refuse the repeated add; either way the icon is
    // not forgotten: the state keeps it for the delete.
    SendWorkAreaChange(*tray);
    EXPECT_FALSE(tray->IconDeleted);
    EXPECT_TRUE(tray->RemoveFromTray());
    EXPECT_TRUE(tray->IconDeleted);
    // Had the delete not reached the shell, this balloon would still find the icon.
    EXPECT_FALSE(tray->ShowBalloonNotice("gone", nullptr, NIIF_NONE, 10));
}

} // namespace
