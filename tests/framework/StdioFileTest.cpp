#include "framework/StdioFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testing_support;

static std::vector<std::string> ReadAllLines(CStdioFile& file)
{
    std::vector<std::string> lines;
    for (std::string line; file.ReadString(line);)
        lines.push_back(line);
    return lines;
}

// (Created for writing, as the lock file is: the black-box start-up test's.)
// Lines split at line feeds and drop only a carriage return before one.
TEST(StdioFile, LinesEndAtLineFeeds)
{
    const std::string directory = MakeScratchDirectory("stdio");
    const std::string head = "one\r\ntwo\rthree\n\n";
    // Past the 4096-byte buffer: a carriage return ends the first one, a CR LF straddles another's end.
    std::string longLine(4096 * 24 + 4095 - head.size(), 'x');
    longLine[4095 - head.size()] = '\r';
    WriteFileBytes(directory + "lines.txt", head + longLine + "\r\nlast\r");
    const std::vector<std::string> expected = {"one", "two\rthree", "", longLine, "last\r"};
    CStdioFile file;
    ASSERT_TRUE(file.Open(testing_support::Wide(directory + "lines.txt").c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    EXPECT_EQ(expected, ReadAllLines(file));
    file.SeekToBegin();
    EXPECT_EQ(expected, ReadAllLines(file)) << "rewinding gives the same lines again";
}
