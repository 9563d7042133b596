// The icon's life (add, balloons, re-adds on the shell's broadcasts, delete), its text fields.

#include "tray/SystemTray.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UINT IconId = 128;

// The shell, recording every record handed to it, which keeps one icon: no add of an icon shown,
// no modify or delete of one not. It must outlive the trays made from it. The versions are the
// system's: an icon and balloons under Wine.
struct FakeShell {
    bool Shown = false;                      // a re-created taskbar shows no icon
    bool RefuseNext = false;                 // the next call fails and changes nothing
    std::vector<NOTIFYICONDATAW> Calls = {}; // the records, in order

    CSystemTray::Platform Make()
    {
        auto shell = [this](DWORD message, NOTIFYICONDATAW* record) {
            Calls.push_back(*record);
            if (std::exchange(RefuseNext, false) || (message == NIM_ADD) == Shown)
                return FALSE;
            Shown = message != NIM_DELETE;
            return TRUE;
        };
        return {shell, {}, {}};
    }
};

// A real top-level window to stand for the main dialog.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, L"Tray test owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr); }
};

BOOL AddHalvern(CSystemTray& tray, OwnerWindow& owner, const wchar_t* tooltip = L"Halvern")
{
    return tray.AddToTray(&owner, WM_TRAY_CALLBACK, tooltip, ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), IconId);
}
void SendTaskbarCreated(CSystemTray& tray) { ::SendMessageA(tray.m_hWnd, TaskbarCreatedMessage(), 0, 0); }
void SendWorkAreaChange(CSystemTray& tray) { ::SendMessageA(tray.m_hWnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0); }
std::wstring Field(const wchar_t* field, size_t size) { return std::wstring(field, wcsnlen(field, size)); }

void ExpectState(const CSystemTray& tray, BOOL absent, BOOL deleted)
{
    EXPECT_EQ(tray.IconAbsent, absent);
    EXPECT_EQ(tray.IconDeleted, deleted);
}

// Halvern's icon added, its tip cut where a surrogate pair would not fit.
class SystemTrayIcon : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AddHalvern(tray, owner, (std::wstring(126, L't') + L"\U0001F4FA").c_str()));
        ASSERT_EQ(shell.Calls.size(), 1u);
        add = shell.Calls.back();
    }

    FakeShell shell;
    OwnerWindow owner;
    CSystemTray tray{shell.Make()};
    NOTIFYICONDATAW add = {};
};

TEST_F(SystemTrayIcon, AddHandsTheShellAWholeRecord)
{
    // Up to and including dwInfoFlags: the size the shell reads as the version-2 record.
    EXPECT_EQ(add.cbSize, offsetof(NOTIFYICONDATAW, dwInfoFlags) + sizeof(DWORD));
    EXPECT_EQ(add.hWnd, owner.m_hWnd); // notifications go to the owner, not the tray's window
    EXPECT_EQ(add.uID, IconId);
    EXPECT_EQ(add.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(Field(add.szTip, ARRAYSIZE(add.szTip)), std::wstring(126, L't'));
}

// A balloon changes only the balloon of the icon the shell knows by window and id; its text fields
// are cut at their own sizes, at whole characters.
TEST_F(SystemTrayIcon, ABalloonChangesOnlyTheBalloon)
{
    EXPECT_TRUE(tray.ShowBalloonNotice(L"Converting : C:\\rec\\Новости дня.dvr-ms\nDone!", L"ERROR", NIIF_ERROR, 10));
    const NOTIFYICONDATAW balloon = shell.Calls.back();
    EXPECT_EQ(memcmp(&balloon, &add, offsetof(NOTIFYICONDATAW, uFlags)), 0);
    EXPECT_EQ(balloon.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(Field(balloon.szInfo, 256), L"Converting : C:\\rec\\Новости дня.dvr-ms\nDone!");
    EXPECT_EQ(Field(balloon.szInfoTitle, 64), L"ERROR");
    EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
    EXPECT_EQ(balloon.uTimeout, 10000u);
    shell.RefuseNext = true;
    const std::wstring text = std::wstring(254, L'x') + L"\U0001F4FA";
    const std::wstring title = std::wstring(62, L'y') + L"\U0001F4FA";
    EXPECT_FALSE(tray.ShowBalloonNotice(text.c_str(), title.c_str(), NIIF_NONE, 3));
    EXPECT_EQ(Field(shell.Calls.back().szInfo, 256), std::wstring(254, L'x'));
    EXPECT_EQ(Field(shell.Calls.back().szInfoTitle, 64), std::wstring(62, L'y'));
}

// The re-add after a taskbar restart, broadcast to every top-level window, repeats the add with no
// balloon, shown or refused; a work-area change re-adds: the shell refuses to add the icon it
// shows, the modify finds it.
TEST_F(SystemTrayIcon, ShellBroadcastsReaddTheIcon)
{
    EXPECT_TRUE(tray.ShowBalloonNotice(L"shown", L"title", NIIF_NONE, 3));
    shell.RefuseNext = true;
    EXPECT_FALSE(tray.ShowBalloonNotice(L"text", L"title", NIIF_NONE, 3));
    shell.Shown = false;
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(HWND_BROADCAST, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                                      SMTO_ABORTIFHUNG, 60000, &result));
    ASSERT_EQ(shell.Calls.size(), 4u);
    EXPECT_EQ(memcmp(&shell.Calls.back(), &add, offsetof(NOTIFYICONDATAW, dwState)), 0);
    EXPECT_EQ(shell.Calls.back().szInfo[0], L'\0');
    SendWorkAreaChange(tray);
    EXPECT_EQ(shell.Calls.size(), 6u);
    ExpectState(tray, FALSE, FALSE);
}

TEST_F(SystemTrayIcon, NothingComesBackAfterADelete)
{
    EXPECT_TRUE(tray.RemoveFromTray());
    ExpectState(tray, TRUE, TRUE);
    shell.Shown = false;
    SendTaskbarCreated(tray);
    SendWorkAreaChange(tray);
    EXPECT_EQ(shell.Calls.size(), 2u);
}

// The broadcasts bring back an icon that should be there (at logon the taskbar may not exist yet, and
// a hidden window needs its icon); only a delete the shell took ends it.
TEST(SystemTray, RefusedCallsAreMadeGoodLater)
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
    const HWND window = tray->m_hWnd;
    tray.reset();
    EXPECT_FALSE(::IsWindow(window));
    ASSERT_EQ(shell.Calls.size(), 4u);
    EXPECT_FALSE(shell.Shown) << "the shell took a delete";
    EXPECT_EQ(shell.Calls.back().uFlags, 0u);
}

// Whole characters up to the limit, the rest zero-filled.
TEST(SystemTray, TextFieldsTakeWholeCharactersUpToTheLimit)
{
    const std::wstring a126(126, L'a');
    const std::wstring tv = L"\U0001F4FA"; // one character, a surrogate pair in UTF-16
    const struct { size_t size; std::wstring text; std::wstring expected; } cases[] = {
        {128, a126 + tv, a126},                             // the pair would need the terminator's place
        {128, a126.substr(1) + tv + L"z", a126.substr(1) + tv},
        {128, a126 + L"Жz", a126 + L"Ж"},
        {64, L"abc\xD83D", L"abc\xD83D"},                  // a lone surrogate is kept as it came
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::wstring field(c.size, L'\xCCCC');
        CopyTextField(&field[0], field.size(), c.text.c_str());
        EXPECT_EQ(field, c.expected + std::wstring(c.size - c.expected.size(), L'\0'));
    }
    wchar_t field[4] = L"xyz";
    CopyTextField(field, ARRAYSIZE(field), nullptr);
    EXPECT_EQ(std::wstring(field, 4), std::wstring(4, L'\0'));
}

// At exit the main window goes first: the icon is handed over to the tray's own window with a tip
// that says why Halvern is still there, stays through a taskbar restart, and goes at the end.
TEST(SystemTray, AtExitTheIconOutlivesItsWindowUntilRemoved)
{
    FakeShell shell;
    CSystemTray tray(shell.Make());
    {
        OwnerWindow owner;
        ASSERT_TRUE(AddHalvern(tray, owner));
    }
    ASSERT_TRUE(tray.KeepWhileClosing(L"Halvern is finishing a conversion..."));
    ASSERT_GE(shell.Calls.size(), 3u);
    EXPECT_EQ(shell.Calls[shell.Calls.size() - 2].uFlags, 0u); // the owner's icon deleted first
    const NOTIFYICONDATAW kept = shell.Calls.back();
    EXPECT_EQ(kept.hWnd, tray.m_hWnd);
    EXPECT_EQ(kept.uID, IconId);
    EXPECT_EQ(kept.uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP)); // nothing left to call back
    EXPECT_EQ(Field(kept.szTip, ARRAYSIZE(kept.szTip)), L"Halvern is finishing a conversion...");
    EXPECT_TRUE(shell.Shown);

    shell.Shown = false;
    SendTaskbarCreated(tray);
    EXPECT_TRUE(shell.Shown) << "a restarted taskbar lost the icon";
    EXPECT_EQ(shell.Calls.back().hWnd, tray.m_hWnd);
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_FALSE(shell.Shown);
}

} // namespace
