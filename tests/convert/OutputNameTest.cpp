#include "convert/OutputName.h"
#include "convert/PathText.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(OutputName, KeepsTheNameUpToItsLastDot)
{
    const struct {
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* ext;
        const wchar_t* expected;
    } cases[] = {
        {L"D:\\Video", L"News.2005.03.28.dvr-ms", L"mpg", L"D:\\Video\\News.2005.03.28.mpg"},
        {L"D:\\Video\\", L"Show.dvr-ms", L"MPG", L"D:\\Video\\Show.MPG"},
        // Windows drops the blanks and dots that end a name: the output is named as it will be written.
        {L"D:\\Video", L"Show.dvr-ms", L"MPG. ", L"D:\\Video\\Show.MPG"},
        {L"D:\\Video", L"Show.dvr-ms", L"", L"D:\\Video\\Show"},
        // Names in any script, characters beyond the Basic Multilingual Plane included.
        {L"D:\\Видео", L"Новости дня.dvr-ms", L"MPG", L"D:\\Видео\\Новости дня.MPG"},
        {L"D:\\録画", L"日本のニュース.dvr-ms", L"MPG", L"D:\\録画\\日本のニュース.MPG"},
        {L"D:\\\U0001F4FA", L"TV \U0001F4FA.wtv", L"mpg", L"D:\\\U0001F4FA\\TV \U0001F4FA.mpg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OutputPathFor(c.directory, c.name, c.ext), c.expected) << c.directory << " " << c.name;
}

TEST(OutputName, FileNameStartsAfterTheLastSeparator)
{
    EXPECT_EQ(FileNameOf(L"E:\\Rec\\Новости дня.dvr-ms"), L"Новости дня.dvr-ms");
    EXPECT_EQ(FileNameOf(L"E:/Rec/日本のニュース.dvr-ms"), L"日本のニュース.dvr-ms");
    EXPECT_EQ(FileNameOf(L"\U0001F4FA.dvr-ms"), L"\U0001F4FA.dvr-ms");
}

TEST(OutputName, OnlyAPlainExtensionIsUsable)
{
    EXPECT_EQ(AsWindowsNamesIt(L"DVR-MS . "), L"DVR-MS");
    EXPECT_EQ(AsWindowsNamesIt(L" .x"), L" .x");
    for (const wchar_t* extension : {L"", L"*", L"dvr-ms?", L"dvr-ms\\..\\x", L"d/x", L"dvr-ms:x"})
        EXPECT_FALSE(IsUsableExtension(extension)) << extension;
    for (const wchar_t* extension : {L"dvr-ms", L"видео", L"\U0001F4FA"})
        EXPECT_TRUE(IsUsableExtension(extension)) << extension;
}

// The output name pattern: fields in any letter case, a missing field's brackets and separator gone
// with it, characters and names Windows refuses made safe, long names cut (never inside a
// surrogate pair), and the recording's own name when nothing is left.
TEST(OutputName, APatternNamesTheOutputFromTheFieldsThereAre)
{
    const NameFields all = {L"Show_WXYZ_2009_05_04", L"Show", L"Pilot", L"WXYZ", L"2009-05-01", L"2009-05-04", L"2000"};
    NameFields noTitle = all, noEpisode = all, noDate = all, none;
    none.name = all.name;
    noTitle.title.clear();
    noEpisode.subTitle.clear();
    noDate.airDate.clear();
    const auto titled = [&](const std::wstring& title) {
        NameFields fields = all;
        fields.title = title;
        return fields;
    };
    const std::wstring longTitle(300, L'x');
    const struct {
        const wchar_t* pattern;
        NameFields fields;
        std::wstring expected;
        size_t maxLength;
    } cases[] = {
        {L"{Title} - {SubTitle}", all, L"Show - Pilot", MaxPatternNameLength},
        {L"{Title} - {SubTitle}", noEpisode, L"Show", MaxPatternNameLength},
        {L"{Title} - {SubTitle}", noTitle, L"Pilot", MaxPatternNameLength},
        {L"{title} - {SUBTITLE} - {Channel}", noEpisode, L"Show - WXYZ", MaxPatternNameLength},
        {L"{Title} ({AirDate}) {Channel}", all, L"Show (2009-05-01) WXYZ", MaxPatternNameLength},
        {L"{Title} ({AirDate}) {Channel}", noDate, L"Show WXYZ", MaxPatternNameLength},
        {L"[{Channel}] {Title}", none, all.name, MaxPatternNameLength},
        {L"TV {RecordDate} {RecordTime} {Title}", all, L"TV 2009-05-04 2000 Show", MaxPatternNameLength},
        {L"{Name} {Title}", noTitle, all.name, MaxPatternNameLength},
        {L"{Title}", none, all.name, MaxPatternNameLength},
        {L"Recording", all, all.name, MaxPatternNameLength}, // no field: nothing tells recordings apart
        {L"{Title}", titled(L"A/B: C?*<>|\"\\\tD"), L"A_B_ C________D", MaxPatternNameLength},
        {L"{Title}.", titled(L"  Show... "), L"Show", MaxPatternNameLength},
        {L"{Title}", titled(L"..."), all.name, MaxPatternNameLength},
        {L"{Title}", titled(L"con"), L"_con", MaxPatternNameLength},
        {L"{Title}", titled(L"COM1.x"), L"_COM1.x", MaxPatternNameLength},
        {L"{Title}", titled(L"Console"), L"Console", MaxPatternNameLength},
        {L"{Title}", titled(longTitle), longTitle.substr(0, MaxPatternNameLength), MaxPatternNameLength},
        {L"{Title} - {SubTitle}", all, L"Show", 7}, // cut, and the blank and dash that end it go
        {L"{Title}", titled(L"abcdefghi\U0001F4FA"), L"abcdefghi", 10},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(IsUsableNamePattern(c.pattern)) << c.pattern;
        EXPECT_EQ(ExpandNamePattern(c.pattern, c.fields, c.maxLength), c.expected) << c.pattern << " " << c.fields.title;
    }
    for (const wchar_t* pattern : {L"{Episode}", L"{Title", L"Title}", L"{}", L"{{Title}}"})
        EXPECT_FALSE(IsUsableNamePattern(pattern)) << pattern;
    EXPECT_TRUE(IsUsableNamePattern(L""));
}
