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

TEST(StdioFile, LinesSplitAtLineFeedsDropOnlyACarriageReturnBeforeOneAndCreateTruncatesAndHoldsTheFile)
{
    const std::string directory = MakeScratchDirectory("stdio");
    const std::string head = "one\r\ntwo\rthree\n\n";
    // Past the 4096-byte buffer: a carriage return ends the first one, a CR LF straddles another's end.
    std::string longLine(4096 * 24 + 4095 - head.size(), 'x');
    longLine[4095 - head.size()] = '\r';
    WriteFileBytes(directory + "lines.txt", head + longLine + "\r\nlast\r");
    const std::vector<std::string> expected = {"one", "two\rthree", "", longLine, "last\r"};
    CStdioFile file;
    ASSERT_TRUE(file.Open((directory + "lines.txt").c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    EXPECT_EQ(expected, ReadAllLines(file));
    file.SeekToBegin();
    EXPECT_EQ(expected, ReadAllLines(file)) << "rewinding gives the same lines again";

    const std::string path = directory + "out.tmp";
    WriteFileBytes(path, std::string(5000, 'o'));
    CStdioFile out;
    ASSERT_TRUE(out.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                           | CStdioFile::shareExclusive | CStdioFile::typeText));
    ASSERT_TRUE(out.WriteString("a\r\nb\n"));
    EXPECT_FALSE(CStdioFile().Open(path.c_str(), CStdioFile::modeRead)) << "nobody else may open it";
    out.SeekToBegin();
    EXPECT_EQ(std::vector<std::string>({"a", "b"}), ReadAllLines(out));
    out.Close();
    EXPECT_EQ("a\r\nb\n", ReadFileBytes(path)) << "no line-end translation, old content gone";
}
