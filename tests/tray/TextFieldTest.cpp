#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tray_test;

TEST(TextFieldTest, CopiesWholeCharactersUpToTheLimitAndZeroFills)
{
    constexpr UINT kShiftJis = 932;
    constexpr UINT kWestern = 1252;
    const std::string a126(126, 'a');
    const std::string hiraganaA = "\x82\xa0"; // one double-byte character in code page 932
    const struct {
        size_t size;
        std::string text;
        UINT codePage;
        std::string expected;
    } cases[] = {
        {128, std::string(200, 'a'), kWestern, std::string(127, 'a')},
        {64, "short", kWestern, "short"},
        {128, a126 + hiraganaA, kShiftJis, a126}, // would leave no room for the terminator
        {128, a126 + hiraganaA, kWestern, a126 + "\x82"}, // two characters there, and the first fits
        {128, a126.substr(1) + hiraganaA + "z", kShiftJis, a126.substr(1) + hiraganaA},
        {128, a126 + "\xb1zz", kShiftJis, a126 + "\xb1"}, // a one-byte katakana: lead bytes, not "above 127"
        {64, "abc\x82", kShiftJis, "abc"}, // a lead byte without its trail byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string field(c.size, '\xCC');
        CopyTextField(&field[0], field.size(), c.text.c_str(), c.codePage);
        EXPECT_EQ(field, c.expected + std::string(c.size - c.expected.size(), '\0'));
    }
    char field[4] = "xyz";
    CopyTextField(field, sizeof(field), nullptr, kWestern);
    EXPECT_EQ(std::string(field, 4), std::string(4, '\0'));
}
