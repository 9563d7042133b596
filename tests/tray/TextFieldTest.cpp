// The byte-counted text fields of the record: cut at whole characters of the code page, the rest
// of the field zero.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

using namespace tray_test;

namespace {

constexpr UINT kShiftJis = 932;
constexpr UINT kWestern = 1252;
const std::string kHiraganaA = "\x82\xa0"; // one double-byte character in code page 932
const std::string kKatakanaA = "\xb1";     // a half-width katakana: one byte in code page 932

TEST(TextFieldTest, CopiesWholeCharactersUpToTheLimitAndZeroFills)
{
    const std::string a126(126, 'a');
    struct Case {
        size_t size;
        const char* text; // null for no text
        UINT codePage;
        std::string expected;
    };
    const std::string cut[] = {std::string(200, 'a'), std::string(300, 'b'), std::string(64, 'c'),
                               a126 + kHiraganaA, std::string(125, 'a') + kHiraganaA + "z",
                               a126 + kKatakanaA + "zz", std::string(62, 'c') + kHiraganaA};
    const Case cases[] = {
        {128, cut[0].c_str(), kWestern, std::string(127, 'a')},
        {256, cut[1].c_str(), kWestern, std::string(255, 'b')},
        {64, cut[2].c_str(), kWestern, std::string(63, 'c')},
        {64, "short", kWestern, "short"},
        // A character on bytes 126 and 127 would leave no room for the terminator.
        {128, cut[3].c_str(), kShiftJis, a126},
        {128, cut[3].c_str(), kWestern, a126 + "\x82"}, // two characters there, and the first fits
        {128, cut[4].c_str(), kShiftJis, std::string(125, 'a') + kHiraganaA},
        {128, cut[5].c_str(), kShiftJis, a126 + kKatakanaA}, // lead-byte ranges, not "above 127"
        {64, cut[6].c_str(), kShiftJis, std::string(62, 'c')},
        {64, "abc\x82", kShiftJis, "abc"}, // a lead byte without its trail byte
        {64, "", kWestern, ""},
        {16, nullptr, kWestern, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " " << (c.text ? c.text : "(null)"));
        std::vector<char> field(c.size, '\xCC');
        CopyTextField(field.data(), field.size(), c.text, c.codePage);
        EXPECT_EQ(Field(field.data(), field.size()), c.expected);
        EXPECT_EQ(std::count(field.begin() + c.expected.size(), field.end(), '\0'),
                  static_cast<std::ptrdiff_t>(c.size - c.expected.size()));
    }
}

// The same rules through the record the shell is handed, each field at its own limit, with the
// code page the tray was given.
TEST(TextFieldTest, TrayCutsEachFieldAtItsOwnLimit)
{
    FakeShell shell;
    shell.CodePage = kShiftJis;
    OwnerWindow owner;
    CSystemTray tray(shell.Make());

    ASSERT_TRUE(AddHalvern(tray, owner, (std::string(126, 't') + kHiraganaA).c_str()));
    EXPECT_EQ(Field(shell.LastCall().record.szTip, 128), std::string(126, 't'));

    std::string text = std::string(254, 'x') + kHiraganaA;
    std::string title = std::string(62, 'y') + kHiraganaA;
    ASSERT_TRUE(tray.ShowBalloonNotice(text.c_str(), title.c_str(), NIIF_NONE, 10));
    NOTIFYICONDATAA record = shell.LastCall().record;
    EXPECT_EQ(Field(record.szInfo, 256), std::string(254, 'x'));
    EXPECT_EQ(Field(record.szInfoTitle, 64), std::string(62, 'y'));
    EXPECT_EQ(record.uTimeout, 10000u); // the fields after them are not overrun

    // A shorter balloon after a longer one carries nothing of the longer one.
    ASSERT_TRUE(tray.ShowBalloonNotice("ok", "T", NIIF_NONE, 10));
    record = shell.LastCall().record;
    EXPECT_EQ(std::string(record.szInfo, 256), "ok" + std::string(254, '\0'));
    EXPECT_EQ(std::string(record.szInfoTitle, 64), "T" + std::string(63, '\0'));
}

} // namespace
