// The byte-counted text fields of the record: cut at whole characters of the code page, the rest
// of the field zero.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <string>

using namespace tray_test;

namespace {

constexpr UINT kShiftJis = 932;
constexpr UINT kWestern = 1252;
const std::string kHiraganaA = "\x82\xa0"; // one double-byte character in code page 932
const std::string kKatakanaA = "\xb1";     // a half-width katakana: one byte in code page 932

// The field after the copy; its size is checked for garbage past the text.
template <size_t N>
std::string Copy(const std::string& text, UINT codePage)
{
    char field[N];
    memset(field, 0xCC, sizeof(field));
    CopyTextField(field, sizeof(field), text.c_str(), codePage);
    size_t length = strnlen(field, N);
    for (size_t i = length; i < N; ++i)
        EXPECT_EQ(field[i], '\0') << "byte " << i << " of a " << N << "-byte field";
    return std::string(field, length);
}

TEST(TextFieldTest, CutsAtTheLastByteBeforeTheTerminator)
{
    EXPECT_EQ(Copy<128>(std::string(200, 'a'), kWestern), std::string(127, 'a'));
    EXPECT_EQ(Copy<128>(std::string(127, 'a'), kWestern), std::string(127, 'a'));
    EXPECT_EQ(Copy<256>(std::string(300, 'b'), kWestern), std::string(255, 'b'));
    EXPECT_EQ(Copy<64>(std::string(64, 'c'), kWestern), std::string(63, 'c'));
    EXPECT_EQ(Copy<64>("short", kWestern), "short");
}

TEST(TextFieldTest, DoubleByteCharacterAcrossTheLimitIsDroppedWhole)
{
    // The character would take bytes 126 and 127 of a 128-byte field, where the terminator must go.
    std::string straddling = std::string(126, 'a') + kHiraganaA;
    EXPECT_EQ(Copy<128>(straddling, kShiftJis), std::string(126, 'a'));
    // In a single-byte code page the same bytes are two characters, and the first one fits.
    EXPECT_EQ(Copy<128>(straddling, kWestern), std::string(126, 'a') + "\x82");

    std::string fitting = std::string(125, 'a') + kHiraganaA;
    EXPECT_EQ(Copy<128>(fitting + "z", kShiftJis), fitting);

    // Lead-byte ranges, not "any byte above 127": a half-width katakana is one byte.
    EXPECT_EQ(Copy<128>(std::string(126, 'a') + kKatakanaA + "zz", kShiftJis), std::string(126, 'a') + kKatakanaA);

    EXPECT_EQ(Copy<256>(std::string(254, 'b') + kHiraganaA, kShiftJis), std::string(254, 'b'));
    EXPECT_EQ(Copy<64>(std::string(62, 'c') + kHiraganaA, kShiftJis), std::string(62, 'c'));
    EXPECT_EQ(Copy<64>(kHiraganaA + kHiraganaA, kShiftJis), kHiraganaA + kHiraganaA);
}

TEST(TextFieldTest, LeadByteWithoutItsTrailByteIsNotCopied)
{
    EXPECT_EQ(Copy<64>("abc\x82", kShiftJis), "abc");
}

TEST(TextFieldTest, NullOrEmptyTextLeavesAZeroField)
{
    EXPECT_EQ(Copy<64>("", kWestern), "");
    char field[16];
    memset(field, 0xCC, sizeof(field));
    CopyTextField(field, sizeof(field), nullptr, kWestern);
    const char zeros[sizeof(field)] = {};
    EXPECT_EQ(memcmp(field, zeros, sizeof(field)), 0);
}

// The same rules, through the record the shell is handed, with the code page the tray was given.
TEST(TextFieldTest, TrayCutsEachFieldAtItsOwnLimit)
{
    FakeShell shell;
    shell.CodePage = kShiftJis;
    OwnerWindow owner;
    CSystemTray tray(shell.Make());

    std::string tooltip = std::string(126, 't') + kHiraganaA;
    ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, tooltip.c_str(), TestIcon(), kIconId));
    EXPECT_EQ(Field(shell.LastCall().record.szTip, 128), std::string(126, 't'));

    std::string text = std::string(254, 'x') + kHiraganaA;
    std::string title = std::string(62, 'y') + kHiraganaA;
    ASSERT_TRUE(tray.ShowBalloonNotice(text.c_str(), title.c_str(), NIIF_NONE, 10));
    NOTIFYICONDATAA record = shell.LastCall().record;
    EXPECT_EQ(Field(record.szInfo, 256), std::string(254, 'x'));
    EXPECT_EQ(record.szInfo[255], '\0');
    EXPECT_EQ(Field(record.szInfoTitle, 64), std::string(62, 'y'));
    EXPECT_EQ(record.szInfoTitle[63], '\0');

    // A shorter balloon after a longer one carries nothing of the longer one.
    ASSERT_TRUE(tray.ShowBalloonNotice("ok", "T", NIIF_NONE, 10));
    record = shell.LastCall().record;
    const char zeros[256] = {};
    EXPECT_EQ(Field(record.szInfo, 256), "ok");
    EXPECT_EQ(memcmp(record.szInfo + 2, zeros, 256 - 2), 0);
    EXPECT_EQ(Field(record.szInfoTitle, 64), "T");
    EXPECT_EQ(memcmp(record.szInfoTitle + 1, zeros, 64 - 1), 0);
}

TEST(TextFieldTest, LongLatinTextsAreCutTo127255And63Bytes)
{
    FakeShell shell;
    shell.CodePage = kWestern;
    OwnerWindow owner;
    CSystemTray tray(shell.Make());
    std::string longText(400, 'q');
    ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, longText.c_str(), TestIcon(), kIconId));
    EXPECT_EQ(Field(shell.LastCall().record.szTip, 128), std::string(127, 'q'));
    ASSERT_TRUE(tray.ShowBalloonNotice(longText.c_str(), longText.c_str(), NIIF_NONE, 10));
    NOTIFYICONDATAA record = shell.LastCall().record;
    EXPECT_EQ(Field(record.szInfo, 256), std::string(255, 'q'));
    EXPECT_EQ(Field(record.szInfoTitle, 64), std::string(63, 'q'));
    // The fields around them are not overrun.
    EXPECT_EQ(record.uTimeout, 10000u);
    EXPECT_EQ(record.dwInfoFlags, static_cast<DWORD>(NIIF_NONE));
    EXPECT_EQ(record.dwState, 0u);
}

} // namespace
