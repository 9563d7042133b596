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
