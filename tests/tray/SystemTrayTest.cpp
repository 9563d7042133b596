// The icon's life (add, balloons, re-adds on the shell's broadcasts, delete), its text fields.

#include "tray/SystemTray.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UINT kIconId = 128;

// The shell, recording every record handed to it, which keeps one icon: no add of an icon shown,
// no modify or delete of one not. It must outlive the trays made from it. The versions are the
// system's: an icon and balloons under Wine.
struct FakeShell {
    UINT CodePage = CP_ACP;
    bool Shown = false;                      // a re-created taskbar shows no icon
    bool RefuseNext = false;                 // the next call fails and changes nothing
    std::vector<NOTIFYICONDATAA> Calls = {}; // the records, in order

    CSystemTray::Platform Make()
    {
        auto shell = [this](DWORD message, NOTIFYICONDATAA* record) {
            Calls.push_back(*record);
            if (std::exchange(RefuseNext, false) || (message == NIM_ADD) == Shown)
                return FALSE;
            Shown = message != NIM_DELETE;
            return TRUE;
        };
        return {shell, {}, {}, CodePage};
    }
};

// A real top-level window to stand for the main dialog.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, "Tray test owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr); }
};

BOOL AddHalvern(CSystemTray& tray, OwnerWindow& owner, const char* tooltip = "Halvern")
{
    return tray.AddToTray(&owner, WM_TRAY_CALLBACK, tooltip, ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), kIconId);
}
void SendTaskbarCreated(CSystemTray& tray) { ::SendMessageA(tray.m_hWnd, TaskbarCreatedMessage(), 0, 0); }
void SendWorkAreaChange(CSystemTray& tray) { ::SendMessageA(tray.m_hWnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0); }
std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

void ExpectState(const CSystemTray& tray, BOOL absent, BOOL deleted)
{
    EXPECT_EQ(tray.IconAbsent, absent);
    EXPECT_EQ(tray.IconDeleted, deleted);
}

TEST(SystemTray, AddBalloonsAndReaddsHandTheShellWholeRecords)
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

    // The re-add after a taskbar restart, broadcast to every top-level window, repeats the add, no balloon.
    shell.Shown = false;
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(HWND_BROADCAST, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0,
                                      SMTO_ABORTIFHUNG, 60000, &result));
    ASSERT_EQ(shell.Calls.size(), 4u);
    EXPECT_EQ(memcmp(&shell.Calls.back(), &add, offsetof(NOTIFYICONDATAA, dwState)), 0);
    EXPECT_EQ(shell.Calls.back().szInfo[0], '\0');
    // A work-area change re-adds: the shell refuses to add the icon it shows, the modify finds it.
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

TEST(SystemTray, TextFieldsTakeWholeCharactersUpToTheLimitAndAreZeroFilled)
{
    constexpr UINT kShiftJis = 932;
    constexpr UINT kWestern = 1252;
    const std::string a126(126, 'a');
    const std::string hiraganaA = "\x82\xa0"; // one double-byte character in code page 932
    const struct { size_t size; std::string text; UINT codePage; std::string expected; } cases[] = {
        {128, a126 + hiraganaA, kWestern, a126 + "\x82"}, // two characters there, and the first fits
        {128, a126.substr(1) + hiraganaA + "z", kShiftJis, a126.substr(1) + hiraganaA},
        {128, a126 + "\xb1zz", kShiftJis, a126 + "\xb1"}, // a one-byte katakana: lead bytes, not "above 127"
        {64, "abc\x82", kShiftJis, "abc"}, // a lead byte without its trail byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::string field(c.size, '\xCC');
        CopyTextField(&field[0], field.size(), c.text.c_str(), c.codePage);
        EXPECT_EQ(field, c.expected + std::string(c.size - c.expected.size(), '\0'));
    }
    char field[4] = "xyz";
    CopyTextField(field, sizeof(field), nullptr, kWestern);
    EXPECT_EQ(std::string(field, 4), std::string(4, '\0'));
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
    ASSERT_TRUE(tray.KeepWhileClosing("Halvern is finishing a conversion..."));
    ASSERT_GE(shell.Calls.size(), 3u);
    EXPECT_EQ(shell.Calls[shell.Calls.size() - 2].uFlags, 0u); // the owner's icon deleted first
    const NOTIFYICONDATAA kept = shell.Calls.back();
    EXPECT_EQ(kept.hWnd, tray.m_hWnd);
    EXPECT_EQ(kept.uID, kIconId);
    EXPECT_EQ(kept.uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP)); // nothing left to call back
    EXPECT_EQ(Field(kept.szTip, sizeof(kept.szTip)), "Halvern is finishing a conversion...");
    EXPECT_TRUE(shell.Shown);

    shell.Shown = false;
    SendTaskbarCreated(tray);
    EXPECT_TRUE(shell.Shown) << "a restarted taskbar lost the icon";
    EXPECT_EQ(shell.Calls.back().hWnd, tray.m_hWnd);
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_FALSE(shell.Shown);
}

} // namespace
