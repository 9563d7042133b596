// The icon's life: add, balloons, re-adds on the shell's broadcasts, delete, and the states they leave.

#include "tests/tray/FakeShell.h"

#include "res/resource.h"

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

// An icon needs the low byte of GetVersion, the major version, at 4 whatever the 9x and build
// bits; balloons need the NT family from version 5. Without them the shell is never called.
TEST(TrayStateTest, VersionsDecideWhetherThereAreAnIconAndBalloons)
{
    const struct {
        DWORD version, platformId, major;
        BOOL icon, balloons;
    } cases[] = {
        {0x00000003, VER_PLATFORM_WIN32_NT, 5, FALSE, TRUE},
        {0x80000A03, VER_PLATFORM_WIN32_NT, 4, FALSE, FALSE},
        {0x05650004, VER_PLATFORM_WIN32_WINDOWS, 4, TRUE, FALSE},
        {0xC0000A04, VER_PLATFORM_WIN32_WINDOWS, 5, TRUE, FALSE},
        {0x0A280105, VER_PLATFORM_WIN32_NT, 10, TRUE, TRUE},
    };
    OwnerWindow owner;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << c.platformId << " " << c.major);
        FakeShell shell;
        shell.Version = c.version;
        shell.PlatformId = c.platformId;
        shell.MajorVersion = c.major;
        auto tray = std::make_unique<CSystemTray>(shell.Make());
        const NOTIFYICONDATAA zero = {};
        EXPECT_EQ(memcmp(&tray->IconRecord, &zero, sizeof(zero)), 0);
        ExpectState(*tray, TRUE, TRUE); // nothing added yet
        EXPECT_EQ(tray->BalloonsAvailable, c.balloons);
        EXPECT_FALSE(tray->ShowBalloonNotice("orphan", nullptr, NIIF_NONE, 10)); // the shell has no icon

        EXPECT_EQ(AddHalvern(*tray, owner), c.icon);
        EXPECT_EQ(tray->m_hWnd != nullptr, c.icon != FALSE);
        ExpectState(*tray, !c.icon, !c.icon);
        EXPECT_TRUE(tray->RemoveFromTray());
        tray.reset();
        EXPECT_EQ(shell.Calls.size(), (c.balloons ? 1u : 0u) + (c.icon ? 2u : 0u)) << "a balloon, add and delete";
    }
}

TEST(TrayStateTest, AddBalloonsAndReaddsHandTheShellWholeRecords)
{
    FakeShell shell;
    shell.CodePage = 932; // where "\x82\xa0" is one character
    OwnerWindow owner;
    CSystemTray tray(shell.Make());
    ASSERT_TRUE(AddHalvern(tray, owner, (std::string(126, 't') + "\x82\xa0").c_str()));
    ASSERT_EQ(shell.Calls.size(), 1u);
    const NOTIFYICONDATAA add = shell.Calls.back();
    // Up to and including dwInfoFlags: the size the shell reads as the version-2 record.
    EXPECT_EQ(add.cbSize, offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD));
    EXPECT_EQ(add.hWnd, owner.m_hWnd); // notifications go to the owner, not the tray's window
    EXPECT_EQ(add.uID, kIconId);
    EXPECT_EQ(add.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    // Each text field is cut at its own size, at whole characters of the tray's code page.
    EXPECT_EQ(Field(add.szTip, sizeof(add.szTip)), std::string(126, 't'));

    // A balloon changes only the balloon of the icon the shell knows by window and id.
    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\rec\\Show.dvr-ms\nDone!", "ERROR", NIIF_ERROR, 10));
    const NOTIFYICONDATAA balloon = shell.Calls.back();
    EXPECT_EQ(memcmp(&balloon, &add, offsetof(NOTIFYICONDATAA, uFlags)), 0);
    EXPECT_EQ(balloon.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Field(balloon.szInfo, 256), "Converting : C:\\rec\\Show.dvr-ms\nDone!");
    EXPECT_EQ(Field(balloon.szInfoTitle, 64), "ERROR");
    EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
    EXPECT_EQ(balloon.uTimeout, 10000u);
    // A refused one as well leaves no text for a re-add.
    shell.RefuseNext = true;
    const std::string text = std::string(254, 'x') + "\x82\xa0";
    const std::string title = std::string(62, 'y') + "\x82\xa0";
    EXPECT_FALSE(tray.ShowBalloonNotice(text.c_str(), title.c_str(), NIIF_NONE, 3));
    EXPECT_EQ(Field(shell.Calls.back().szInfo, 256), std::string(254, 'x'));
    EXPECT_EQ(Field(shell.Calls.back().szInfoTitle, 64), std::string(62, 'y'));
    EXPECT_EQ(shell.Calls.back().uTimeout, 3000u); // the fields after them are not overrun

    // The re-add after a taskbar restart repeats the add's fields, flags included, and no balloon.
    shell.Shown = false;
    SendTaskbarCreated(tray);
    ASSERT_EQ(shell.Calls.size(), 4u);
    EXPECT_EQ(memcmp(&shell.Calls.back(), &add, offsetof(NOTIFYICONDATAA, dwState)), 0);
    EXPECT_EQ(shell.Calls.back().szInfo[0], '\0');
    // Only a work-area change re-adds: the shell refuses to add the icon it shows, the modify finds it.
    for (WPARAM flag : {WPARAM{0}, WPARAM{SPI_SETDESKWALLPAPER}, WPARAM{SPI_SETNONCLIENTMETRICS}})
        ::SendMessageA(tray.m_hWnd, WM_SETTINGCHANGE, flag, reinterpret_cast<LPARAM>("intl"));
    SendWorkAreaChange(tray);
    EXPECT_EQ(shell.Calls.size(), 6u);
    ExpectState(tray, FALSE, FALSE);

    EXPECT_TRUE(tray.RemoveFromTray());
    ExpectState(tray, TRUE, TRUE);
    shell.Shown = false;
    SendTaskbarCreated(tray);
    SendWorkAreaChange(tray);
    EXPECT_EQ(shell.Calls.size(), 7u) << "nothing comes back after a delete";
}

// The broadcasts bring the icon back whenever it should be there: at logon the taskbar may not
// exist yet, and a hidden window could never be reached without its icon. Only a delete the
// shell took ends it.
TEST(TrayStateTest, RefusedCallsAreMadeGoodLater)
{
    FakeShell shell;
    OwnerWindow owner;
    auto tray = std::make_unique<CSystemTray>(shell.Make());
    shell.RefuseNext = true;
    EXPECT_FALSE(AddHalvern(*tray, owner));
    ExpectState(*tray, TRUE, TRUE);
    SendTaskbarCreated(*tray);
    ExpectState(*tray, FALSE, FALSE);

    shell.RefuseNext = true;
    EXPECT_FALSE(tray->RemoveFromTray());
    ExpectState(*tray, FALSE, FALSE);
    shell.Shown = false;
    shell.RefuseNext = true;
    SendTaskbarCreated(*tray); // the add is refused and there is nothing to modify
    ExpectState(*tray, TRUE, FALSE);
    EXPECT_FALSE(tray->RemoveFromTray()); // the shell has no icon to delete
    SendWorkAreaChange(*tray);
    ExpectState(*tray, FALSE, FALSE);
    EXPECT_EQ(shell.Calls.size(), 7u);

    const HWND window = tray->m_hWnd;
    tray.reset();
    EXPECT_FALSE(::IsWindow(window));
    ASSERT_EQ(shell.Calls.size(), 8u);
    EXPECT_EQ(shell.LastMessage, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(shell.Calls.back().uFlags, 0u);
}

// The system's own Shell_NotifyIconA (Wine's), counted, with the broadcasts sent the way the
// shell sends them: to every top-level window.
TEST(TrayStateTest, RealShellAndBroadcastsReachTheHiddenTopLevelWindow)
{
    OwnerWindow owner;
    int calls = 0;
    CSystemTray::Platform counted;
    counted.ShellNotifyIcon = [&calls](DWORD message, NOTIFYICONDATAA* record) {
        ++calls;
        return ::Shell_NotifyIconA(message, record);
    };
    CSystemTray tray(counted);
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", icon, IDR_MAINFRAME));
    EXPECT_FALSE(::IsWindowVisible(tray.m_hWnd));
    EXPECT_TRUE(tray.ShowBalloonNotice("Converting : C:\\Recorded TV\\Show.dvr-ms\nDone!", "ERROR", NIIF_ERROR, 10));

    EXPECT_EQ(TaskbarCreatedMessage(), ::RegisterWindowMessageA("TaskbarCreated"));
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(HWND_BROADCAST, TaskbarCreatedMessage(), 0, 0, SMTO_ABORTIFHUNG, 60000, &result));
    EXPECT_EQ(calls, 4) << "the shell refuses to add the icon it shows; the modify finds it";
    EXPECT_FALSE(tray.IconAbsent);
    EXPECT_TRUE(tray.RemoveFromTray());
    // Had the delete not reached the shell, this balloon would still find the icon.
    EXPECT_FALSE(tray.ShowBalloonNotice("gone", nullptr, NIIF_NONE, 10));
}

} // namespace
