#include "convert/GraphDescription.h"
#include "convert/InternalGraph.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// One line per entry, "F id|clsid" or "C src|srcpin|dest|destpin[|direct]", so whole
// descriptions compare in one expectation.
std::string Render(const std::vector<GraphEntry>& entries)
{
    std::string text;
    for (const GraphEntry& entry : entries) {
        if (const FilterEntry* f = std::get_if<FilterEntry>(&entry)) {
            text += "F " + f->ID + "|" + f->clsid + "\n";
        } else {
            const ConnectEntry& c = std::get<ConnectEntry>(entry);
            text += "C " + c.src + "|" + c.srcpin + "|" + c.dest + "|" + c.destpin + (c.direct ? "|direct\n" : "\n");
        }
    }
    return text;
}

std::string ParseLine(const std::string& line)
{
    GraphEntry entry;
    return ParseGraphLine(line, entry) ? Render({entry}) : "";
}

std::string ReadText(const std::string& text)
{
    const std::wstring path = Wide(MakeScratchDirectory("convert-reader")) + L"graph.xgr";
    WriteFileBytes(path, text);
    CStdioFile file;
    EXPECT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    return Render(ReadGraphDescription(file).Entries);
}

} // namespace

// The internal graph is held so that a second instance cannot have it. (That it is extracted and
// read back into a graph that converts: every conversion of the run and worker tests.)
TEST(InternalGraph, IsHeldExclusively)
{
    const std::wstring path = Wide(MakeScratchDirectory("convert-internal")) + InternalGraphFileName;
    WriteFileBytes(path, "left behind by a crashed run");
    CStdioFile file;
    GraphDescription graph;
    ASSERT_EQ(OpenInternalGraph(path.c_str(), file, graph), InternalGraphOpen::Opened);
    CStdioFile second;
    EXPECT_EQ(OpenInternalGraph(path.c_str(), second, graph), InternalGraphOpen::Locked);
}

TEST(GraphLineRules, EachLineGivesAtMostOneEntry)
{
    const struct {
        const char* line;
        const char* entry;
    } cases[] = {
        {"\t<FILTER ID=\"Dump\" clsid=\"{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}\">\r",
         "F Dump|{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}\n"},
        {"junk <FILTER clsid=\"{1}\">", "F {1}|{1}\n"}, // anywhere in the line; named after its clsid
        {"<filter ID=\"A\" clsid=\"{1}\">", ""},
        {"<FILTER ID=\"NoClass\">", ""},
        {"<FILTER ID=\"A\" clsid=\"{1}>", ""},
        // Keys are plain substrings: "srcpin" is found by "src".
        {"<connect direct=\"yes\" srcpin=\"P\" src=\"F\" dest=\"D\" destpin=\"Q\"/>", "C P|P|D|Q|direct\n"},
        // Direct only for exactly "yes".
        {"<connect direct=\"Yes\" src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>", "C S|o|D|i\n"},
        {"<connect src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>", "C S|o|D|i\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLine(c.line), c.entry) << c.line;
}

TEST(GraphFileRules, SkippedAndSplitLinesLetReadingGoOn)
{
    EXPECT_EQ(ReadText("<GRAPH version=\"1.0\">\n"
                       "<connect direct=\"yes\" src=\"S\" srcpin=\"o\" dest=\"D\"/>\n" // no destpin
                       "<FILTER ID=\"Split\"\n clsid=\"{9}\">\n"
                       "\n<!-- <PARAM name=\"x\"/> -->\n"
                       "\t<FILTER ID=\"A\" clsid=\"{1}\">\r\r\n" // only the last CR goes with the line feed
                       "<connect src=\"S\" srcpin=\"o\"\n dest=\"D\" destpin=\"i\"/>\n"
                       "<connect src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>\r\n"
                       "</GRAPH>\n<FILTER ID=\"Last\" clsid=\"{2}\">"),
              "F A|{1}\nC S|o|D|i\nF Last|{2}\n");
}

// Only a regular file of sane size, named bare in the program directory, is read (and closed again):
// a device would block the run for ever, a path reach outside, a huge file exhaust memory.
TEST(GraphFileRules, OnlyAPlainGraphFileOfTheProgramDirectoryIsRead)
{
    const std::wstring directory = Wide(MakeScratchDirectory("convert-graph-file"));
    const std::string graph = "<FILTER ID=\"A\" clsid=\"{1}\">";
    WriteFileBytes(directory + L"Fine.xgr", graph);
    WriteFileBytes(directory + L"..\\Outside.xgr", graph);
    WriteFileBytes(directory + L"Huge.xgr", graph + std::string(16 * 1024 * 1024, ' '));

    GraphSource source;
    GraphDescription description;
    // With and without the directory's backslash.
    for (const std::wstring& programDirectory : {directory.substr(0, directory.size() - 1), directory}) {
        source.ProgramDirectory = programDirectory;
        ASSERT_EQ(ReadGraphDescription(source, L"Fine.xgr", description), S_OK);
        EXPECT_EQ(Render(description.Entries), "F A|{1}\n");
    }
    for (const std::wstring& choice : {std::wstring(L"..\\Outside.xgr"), directory + L"Fine.xgr", std::wstring(L"Huge.xgr"),
                                       std::wstring(L"com1.xgr"), std::wstring(L"NUL .xgr")}) {
        EXPECT_TRUE(FAILED(ReadGraphDescription(source, choice, description))) << choice;
    }
    EXPECT_TRUE(::DeleteFileW((directory + L"Fine.xgr").c_str()));
}
