#include "framework/StdioFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testing_support;

namespace {

std::vector<std::string> ReadAllLines(CStdioFile& file)
{
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadString(line))
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(StdioFile, LinesSplitAtLineFeedAndDropOnlyTheCarriageReturnBeforeIt)
{
    std::string path = MakeScratchDirectory("stdio-lines") + "lines.txt";
    WriteFileBytes(path, "one\r\ntwo\rthree\n\nlast\r");
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    std::vector<std::string> expected = {"one", "two\rthree", "", "last\r"};
    EXPECT_EQ(ReadAllLines(file), expected);
    file.SeekToBegin();
    EXPECT_EQ(ReadAllLines(file), expected) << "rewinding gives the same lines again";
}

TEST(StdioFile, LinesLongerThanTheBufferComeWhole)
{
    std::string path = MakeScratchDirectory("stdio-long") + "long.txt";
    std::string longLine(100000, 'x');
    longLine[4095] = '\r'; // a carriage return at a buffer edge stays part of the line
    WriteFileBytes(path, longLine + "\r\nend");
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    std::vector<std::string> expected = {longLine, "end"};
    EXPECT_EQ(ReadAllLines(file), expected);
}

TEST(StdioFile, CreateTruncatesWritesBytesAsGivenAndHoldsTheFileExclusively)
{
    std::string path = MakeScratchDirectory("stdio-create") + "out.tmp";
    WriteFileBytes(path, std::string(5000, 'o'));
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                | CStdioFile::shareExclusive | CStdioFile::typeText));
        ASSERT_TRUE(file.WriteString("a\r\nb\n"));
        ASSERT_TRUE(file.Flush());

        HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "nobody else may open the file";
        if (other != INVALID_HANDLE_VALUE)
            ::CloseHandle(other);
        CStdioFile second;
        EXPECT_FALSE(second.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                   | CStdioFile::shareExclusive));

        file.SeekToBegin();
        std::vector<std::string> expected = {"a", "b"};
        EXPECT_EQ(ReadAllLines(file), expected);
    }
    EXPECT_EQ(ReadFileBytes(path), "a\r\nb\n") << "no line-end translation, old content gone";
}

TEST(StdioFile, OpeningAMissingFileForReadingFails)
{
    CStdioFile file;
    EXPECT_FALSE(file.Open((MakeScratchDirectory("stdio-missing") + "none.txt").c_str(), CStdioFile::modeRead));
    std::string line;
    EXPECT_FALSE(file.ReadString(line));
}
