#include "convert/OutputName.h"
#include "convert/PathText.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>


using namespace testing_support;

TEST(OutputName, KeepsTheNameUpToItsLastDot)
{
    const struct {
        const char* directory;
        const char* name;
        const char* ext;
        const char* expected;
    } cases[] = {
        {"D:\\Video", "News.2005.03.28.dvr-ms", "mpg", "D:\\Video\\News.2005.03.28.mpg"},
        {"D:\\Video\\", "Show.dvr-ms", "MPG", "D:\\Video\\Show.MPG"},
        // Windows drops the blanks and dots that end a name: the output is named as it will be written.
        {"D:\\Video", "Show.dvr-ms", "MPG. ", "D:\\Video\\Show.MPG"},
        {"D:\\Video", "Show.dvr-ms", "", "D:\\Video\\Show"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OutputPathFor(c.directory, c.name, c.ext), c.expected) << c.directory << " " << c.name;

    // 0x95 0x5C is one Shift-JIS character; its trail byte is no backslash.
    const std::string directory = "D:\\\x95\x5C";
    EXPECT_EQ(OutputPathFor(directory, "Show.dvr-ms", "MPG", 932), directory + "\\Show.MPG");
}

TEST(OutputName, FileNameStartsAfterTheLastSeparatorOfItsOwn)
{
    // "\x83\x5C" is Shift-JIS "so": in code page 932 its trail byte is no separator.
    const std::string name = "\x83\x5C.dvr-ms";
    EXPECT_EQ(FileNameOf("E:\\Rec\\" + name, 932), name);
}

TEST(OutputName, OnlyAPlainExtensionIsUsable)
{
    EXPECT_EQ(AsWindowsNamesIt("DVR-MS . "), "DVR-MS");
    EXPECT_EQ(AsWindowsNamesIt(" .x"), " .x");
    for (const char* extension : {"", "*", "dvr-ms?", "dvr-ms\\..\\x", "d/x", "dvr-ms:x", "\x95\x5C"})
        EXPECT_FALSE(IsUsableExtension(extension, 1252)) << extension;
    EXPECT_TRUE(IsUsableExtension("\x95\x5C", 932)); // one Shift-JIS character, no backslash
}
