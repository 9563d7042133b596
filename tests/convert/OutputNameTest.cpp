#include "convert/ConversionRun.h"
#include "convert/OutputName.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cmath>

using namespace testing_support;

TEST(OutputName, KeepsTheNameUpToItsLastDot)
{
    EXPECT_EQ(OutputPathFor("D:\\Video", "News.dvr-ms", "MPG"), "D:\\Video\\News.MPG");
    EXPECT_EQ(OutputPathFor("D:\\Video\\", "Show.dvr-ms", "MPG"), "D:\\Video\\Show.MPG");
    EXPECT_EQ(OutputPathFor("D:\\Video", "a.b.dvr-ms", "MPG"), "D:\\Video\\a.b.MPG");
    EXPECT_EQ(OutputPathFor("D:\\Video", "News.2005.03.28.dvr-ms", "mpg"), "D:\\Video\\News.2005.03.28.mpg");
    EXPECT_EQ(OutputPathFor("D:\\Video", "Show.dvr-ms", ".MPG"), "D:\\Video\\Show..MPG");
    EXPECT_EQ(OutputPathFor("D:\\Video", "Show.", "MPG"), "D:\\Video\\Show.MPG");
}

TEST(OutputName, ANameWithoutADotGivesTheExtensionAloneInTheDirectory)
{
    EXPECT_EQ(OutputPathFor("D:\\My.Videos", "Show", "MPG"), "D:\\My.Videos\\MPG");
    EXPECT_EQ(OutputPathFor("", "Show", "MPG"), "\\MPG");
    EXPECT_EQ(OutputPathFor("D:\\Video/", "Show.dvr-ms", "MPG"), "D:\\Video/\\Show.MPG");
}

TEST(OutputName, ABackslashTrailByteIsNotASeparator)
{
    // 0x95 0x5C is one Shift-JIS character; its trail byte is no backslash.
    const std::string directory = "D:\\\x95\x5C";
    EXPECT_EQ(OutputPathFor(directory, "Show.dvr-ms", "MPG", 932), directory + "\\Show.MPG");
    EXPECT_EQ(OutputPathFor(directory, "Show.dvr-ms", "MPG", 1252), directory + "Show.MPG");
    EXPECT_TRUE(EndsWithBackslash("D:\\\x95\x5C\\", 932));
    EXPECT_FALSE(EndsWithBackslash("", 932));
}

TEST(ProgressSeconds, AreCutTowardZero)
{
    EXPECT_EQ(WholeSeconds(59.9), 59);
    EXPECT_EQ(WholeSeconds(12.7), 12);
    EXPECT_EQ(WholeSeconds(0.99), 0);
    EXPECT_EQ(WholeSeconds(-0.5), 0);
    EXPECT_EQ(WholeSeconds(std::nan("")), 0);
    EXPECT_EQ(WholeSeconds(1e12), LONG_MAX);
    EXPECT_EQ(WholeSeconds(-1e12), LONG_MIN);
}

TEST(SameFileTest, MatchesOneFileUnderAnyOfItsNames)
{
    const std::string directory = MakeScratchDirectory("convert-same-file");
    const std::string input = directory + "Recording With Long Name.dvr-ms";
    WriteFileBytes(input, "x");
    std::string upper = input;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(NamesSameFile(input, upper));
    EXPECT_TRUE(NamesSameFile(input, directory + "sub\\..\\Recording With Long Name.DVR-MS"));
    // An output that does not exist yet is matched by its path alone.
    EXPECT_TRUE(NamesSameFile(directory + "new.mpg", directory + "NEW.MPG"));
    EXPECT_FALSE(NamesSameFile(input, directory + "Recording With Long Name.MPG"));
    EXPECT_FALSE(NamesSameFile(directory + "a.mpg", directory + "b.mpg"));

    char shortName[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameA(input.c_str(), shortName, MAX_PATH);
    if (length > 0 && length < MAX_PATH && input != shortName) {
        EXPECT_TRUE(NamesSameFile(input, shortName)) << shortName;
    }
}
