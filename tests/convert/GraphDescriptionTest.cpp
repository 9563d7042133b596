#include "app/ConverterApp.h"
#include "convert/GraphDescription.h"
#include "res/resource.h"
#include "settings/ConverterSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testing_support;

namespace {

constexpr UINT kShiftJis = 932;
constexpr UINT kWestern = 1252;

std::string InternalGraphBytes()
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    if (!resource)
        return std::string();
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    const char* bytes = static_cast<const char*>(::LockResource(loaded));
    return std::string(bytes, ::SizeofResource(nullptr, resource));
}

GraphDescription ReadText(const std::string& text, UINT codePage = CP_ACP)
{
    const std::string path = MakeScratchDirectory("convert-reader") + "graph.xgr";
    WriteFileBytes(path, text);
    CStdioFile file;
    EXPECT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    return ReadGraphDescription(file, codePage);
}

const FilterEntry* AsFilter(const GraphDescription& description, size_t index)
{
    return index < description.Entries.size() ? std::get_if<FilterEntry>(&description.Entries[index]) : nullptr;
}

const ConnectEntry* AsConnect(const GraphDescription& description, size_t index)
{
    return index < description.Entries.size() ? std::get_if<ConnectEntry>(&description.Entries[index]) : nullptr;
}

bool ParseFilter(const std::string& line, FilterEntry& filter, UINT codePage = CP_ACP)
{
    GraphEntry entry;
    if (!ParseGraphLine(line, entry, codePage) || !std::holds_alternative<FilterEntry>(entry))
        return false;
    filter = std::get<FilterEntry>(entry);
    return true;
}

bool ParseConnect(const std::string& line, ConnectEntry& connect)
{
    GraphEntry entry;
    if (!ParseGraphLine(line, entry) || !std::holds_alternative<ConnectEntry>(entry))
        return false;
    connect = std::get<ConnectEntry>(entry);
    return true;
}

struct ExpectedFilter {
    const char* id;
    const char* clsid;
};

struct ExpectedConnect {
    const char* src;
    const char* srcpin;
    const char* dest;
    const char* destpin;
};

const ExpectedFilter kInternalFilters[] = {
    {"Dump", "{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}"},
    {"CyberLink_MPEG_Muxer", "{4DF35815-79C5-44C8-8753-847D5C9C3CF5}"},
    {"Decrypt/Tag_0003", "{C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}"},
    {"Decrypt/Tag", "{C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}"},
    {"DVR_Source_0", "{C9F5FE02-F851-4EB5-99EE-AD602AF1E619}"},
};

const ExpectedConnect kInternalConnects[] = {
    {"DVR_Source_0", "DVR Out - 1", "Decrypt/Tag", "In(Enc/Tag)"},
    {"DVR_Source_0", "DVR Out - 3", "Decrypt/Tag_0003", "In(Enc/Tag)"},
    {"Decrypt/Tag_0003", "Out", "CyberLink_MPEG_Muxer", "Video In"},
    {"Decrypt/Tag", "Out", "CyberLink_MPEG_Muxer", "Audio In"},
    {"CyberLink_MPEG_Muxer", "Output", "Dump", "Input"},
};

void ExpectInternalGraph(const GraphDescription& description)
{
    ASSERT_EQ(description.Entries.size(), 10u);
    for (size_t i = 0; i < 5; ++i) {
        const FilterEntry* filter = AsFilter(description, i);
        ASSERT_NE(filter, nullptr) << "entry " << i;
        EXPECT_EQ(filter->ID, kInternalFilters[i].id);
        EXPECT_EQ(filter->clsid, kInternalFilters[i].clsid);
    }
    for (size_t i = 0; i < 5; ++i) {
        const ConnectEntry* connect = AsConnect(description, 5 + i);
        ASSERT_NE(connect, nullptr) << "entry " << 5 + i;
        EXPECT_EQ(connect->src, kInternalConnects[i].src);
        EXPECT_EQ(connect->srcpin, kInternalConnects[i].srcpin);
        EXPECT_EQ(connect->dest, kInternalConnects[i].dest);
        EXPECT_EQ(connect->destpin, kInternalConnects[i].destpin);
        EXPECT_TRUE(connect->direct);
    }
}

} // namespace

TEST(InternalGraphReading, GivesItsTenEntriesAgainAfterEachRewind)
{
    const std::string bytes = InternalGraphBytes();
    ASSERT_EQ(bytes.size(), 1058u);
    const std::string path = MakeScratchDirectory("convert-internal") + "InternalXGR.tmp";
    WriteFileBytes(path, bytes);

    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    ExpectInternalGraph(ReadGraphDescription(file));
    // Without a rewind the stream is at its end and gives nothing more.
    EXPECT_TRUE(ReadGraphDescription(file).Entries.empty());
    file.SeekToBegin();
    ExpectInternalGraph(ReadGraphDescription(file));
}

TEST(InternalGraphReading, TheGraphChoiceReadsTheApplicationsStream)
{
    CConverterApp& app = ConverterApp();
    const std::string path = MakeScratchDirectory("convert-internal-app") + "InternalXGR.tmp";
    ASSERT_TRUE(app.InternalGraphFile.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                             | CStdioFile::shareExclusive | CStdioFile::typeText));
    const std::string bytes = InternalGraphBytes();
    app.InternalGraphFile.Write(bytes.data(), bytes.size());
    app.InternalGraphFile.Flush();

    for (int run = 0; run < 2; ++run) {
        app.InternalGraphFile.SeekToBegin(); // as every run does first
        GraphDescription description;
        ASSERT_EQ(ReadGraphDescription(kInternalGraphName, description), S_OK);
        ExpectInternalGraph(description);
    }
    app.InternalGraphFile.Close();

    // A closed stream is reported rather than read as an empty graph.
    GraphDescription description;
    EXPECT_TRUE(FAILED(ReadGraphDescription(kInternalGraphName, description)));
}

TEST(GraphFileReading, OpensTheBareNameInTheProgramDirectory)
{
    CConverterApp& app = ConverterApp();
    const std::string directory = MakeScratchDirectory("convert-program-dir");
    WriteFileBytes(directory + "Custom.xgr", "<FILTER ID=\"A\" clsid=\"{1}\">\n<connect src=\"A\" srcpin=\"o\" dest=\"A\" destpin=\"i\"/>");
    strcpy(app.ProgramDirectory, directory.c_str());

    GraphDescription description;
    ASSERT_EQ(ReadGraphDescription("Custom.xgr", description), S_OK);
    ASSERT_EQ(description.Entries.size(), 2u);
    EXPECT_EQ(AsFilter(description, 0)->ID, "A");
    EXPECT_EQ(AsConnect(description, 1)->destpin, "i"); // a last line without a line feed counts

    // A directory kept without its backslash still finds the file.
    strcpy(app.ProgramDirectory, directory.substr(0, directory.size() - 1).c_str());
    ASSERT_EQ(ReadGraphDescription("Custom.xgr", description), S_OK);
    EXPECT_EQ(description.Entries.size(), 2u);

    strcpy(app.ProgramDirectory, directory.c_str());
    EXPECT_TRUE(FAILED(ReadGraphDescription("Missing.xgr", description)));
    // Not resolved against the working directory either.
    ::SetCurrentDirectoryA(directory.c_str());
    strcpy(app.ProgramDirectory, MakeScratchDirectory("convert-empty-dir").c_str());
    EXPECT_TRUE(FAILED(ReadGraphDescription("Custom.xgr", description)));
    app.ProgramDirectory[0] = '\0';
}

TEST(GraphLineRules, BlanksAndCarriageReturnsAroundTheElementChangeNothing)
{
    FilterEntry bare;
    FilterEntry dressed;
    ASSERT_TRUE(ParseFilter("<FILTER ID=\"Dump\" clsid=\"{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}\">", bare));
    ASSERT_TRUE(ParseFilter("\t<FILTER ID=\"Dump\" clsid=\"{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}\">\r", dressed));
    EXPECT_EQ(bare.ID, dressed.ID);
    EXPECT_EQ(bare.clsid, dressed.clsid);

    // Only the carriage return right before the line feed goes with it; another stays harmless.
    GraphDescription description = ReadText("\t<FILTER ID=\"A\" clsid=\"{1}\">\r\r\n<FILTER ID=\"B\" clsid=\"{2}\">\r\n");
    ASSERT_EQ(description.Entries.size(), 2u);
    EXPECT_EQ(AsFilter(description, 0)->clsid, "{1}");
    EXPECT_EQ(AsFilter(description, 1)->ID, "B");
}

TEST(GraphLineRules, ElementNamesAreCaseSensitiveAndNeedTheirBlank)
{
    GraphEntry entry;
    EXPECT_FALSE(ParseGraphLine("<filter ID=\"A\" clsid=\"{1}\">", entry));
    EXPECT_FALSE(ParseGraphLine("<Connect src=\"A\" srcpin=\"o\" dest=\"B\" destpin=\"i\"/>", entry));
    EXPECT_FALSE(ParseGraphLine("<FILTER\tID=\"A\" clsid=\"{1}\">", entry));
    EXPECT_FALSE(ParseGraphLine("<PARAM name=\"src\" value=\"clsid\"/>", entry));
    EXPECT_FALSE(ParseGraphLine("", entry));
    // The element may stand anywhere in the line.
    EXPECT_TRUE(ParseGraphLine("junk <FILTER clsid=\"{1}\">", entry));
}

TEST(GraphLineRules, AFilterWithoutIdIsNamedAfterItsClsid)
{
    FilterEntry filter;
    ASSERT_TRUE(ParseFilter("<FILTER clsid=\"{C9F5FE02-F851-4EB5-99EE-AD602AF1E619}\">", filter));
    EXPECT_EQ(filter.ID, "{C9F5FE02-F851-4EB5-99EE-AD602AF1E619}");
    EXPECT_EQ(filter.clsid, filter.ID);

    GraphEntry entry;
    EXPECT_FALSE(ParseGraphLine("<FILTER ID=\"NoClass\">", entry));
}

TEST(GraphLineRules, KeysAreFoundAsPlainSubstrings)
{
    // "clsid" inside the ID value wins over the clsid attribute.
    FilterEntry filter;
    ASSERT_TRUE(ParseFilter("<FILTER ID=\"my clsid filter\" clsid=\"{1}\">", filter));
    EXPECT_EQ(filter.ID, "my clsid filter");
    EXPECT_EQ(filter.clsid, " clsid=");

    // "srcpin" before "src": the shorter key finds the longer attribute first.
    ConnectEntry connect;
    ASSERT_TRUE(ParseConnect("<connect direct=\"yes\" srcpin=\"P\" src=\"F\" dest=\"D\" destpin=\"Q\"/>", connect));
    EXPECT_EQ(connect.src, "P");
    EXPECT_EQ(connect.srcpin, "P");
    EXPECT_EQ(connect.dest, "D");
    EXPECT_EQ(connect.destpin, "Q");

    // Entities stay literal; an empty value is a value.
    ASSERT_TRUE(ParseFilter("<FILTER ID=\"a&amp;b\" clsid=\"\">", filter));
    EXPECT_EQ(filter.ID, "a&amp;b");
    EXPECT_EQ(filter.clsid, "");

    // Two elements on one line: the first rule decides, first occurrences give the values.
    GraphEntry entry;
    ASSERT_TRUE(ParseGraphLine(
        "<connect src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/><FILTER ID=\"F\" clsid=\"{2}\">", entry));
    ASSERT_TRUE(std::holds_alternative<FilterEntry>(entry));
    EXPECT_EQ(std::get<FilterEntry>(entry).ID, "F");
    EXPECT_EQ(std::get<FilterEntry>(entry).clsid, "{2}");
}

TEST(GraphLineRules, AttributeValuesNeedBothQuotes)
{
    std::string value = "untouched";
    EXPECT_FALSE(ExtractAttribute("<FILTER ID=\"A\">", "clsid", value));
    EXPECT_FALSE(ExtractAttribute("<FILTER clsid=>", "clsid", value));
    EXPECT_FALSE(ExtractAttribute("<FILTER clsid=\"{1}>", "clsid", value));
    EXPECT_EQ(value, "untouched");
    ASSERT_TRUE(ExtractAttribute("clsid    junk \"v\"", "clsid", value));
    EXPECT_EQ(value, "v");
}

TEST(GraphLineRules, DirectOnlyForExactlyYes)
{
    const char* const lines[] = {
        "<connect direct=\"no\" src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>",
        "<connect direct=\"Yes\" src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>",
        "<connect direct=\"yes \" src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>",
        "<connect src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>",
    };
    for (const char* line : lines) {
        ConnectEntry connect;
        ASSERT_TRUE(ParseConnect(line, connect)) << line;
        EXPECT_FALSE(connect.direct) << line;
    }
    ConnectEntry connect;
    ASSERT_TRUE(ParseConnect("<connect direct=\"yes\" src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>", connect));
    EXPECT_TRUE(connect.direct);
}

TEST(GraphFileRules, SkippedLinesLetReadingGoOn)
{
    const GraphDescription description = ReadText(
        "<GRAPH version=\"1.0\">\n"
        "<connect direct=\"yes\" src=\"S\" srcpin=\"o\" dest=\"D\"/>\n" // no destpin
        "<FILTER ID=\"NoClass\">\n"
        "\n"
        "<!-- <PARAM name=\"x\"/> -->\n"
        "<FILTER ID=\"A\" clsid=\"{1}\">\n"
        "<connect src=\"S\" srcpin=\"o\" dest=\"D\" destpin=\"i\"/>\n"
        "</GRAPH>\n");
    ASSERT_EQ(description.Entries.size(), 2u);
    EXPECT_EQ(AsFilter(description, 0)->ID, "A");
    EXPECT_EQ(AsConnect(description, 1)->destpin, "i");

    EXPECT_TRUE(ReadText("").Entries.empty());
}

TEST(GraphFileRules, AnElementSplitOverTwoLinesGivesNothing)
{
    EXPECT_TRUE(ReadText("<FILTER ID=\"A\"\n clsid=\"{1}\">\n").Entries.empty());
    EXPECT_TRUE(ReadText("<connect src=\"S\" srcpin=\"o\"\n dest=\"D\" destpin=\"i\"/>\n").Entries.empty());
}

TEST(GraphFileRules, LinesHaveNoLengthLimit)
{
    const std::string padding(20000, 'x');
    const GraphDescription description =
        ReadText("<FILTER " + padding + " ID=\"Long\" clsid=\"{" + padding + "}\">\n<FILTER ID=\"B\" clsid=\"{2}\">");
    ASSERT_EQ(description.Entries.size(), 2u);
    EXPECT_EQ(AsFilter(description, 0)->ID, "Long");
    EXPECT_EQ(AsFilter(description, 0)->clsid, "{" + padding + "}");
    EXPECT_EQ(AsFilter(description, 1)->ID, "B");
}

TEST(GraphLineRules, TrailBytesNeverStartAMatch)
{
    // In Shift-JIS 0x83 0x63 and 0x83 0x49 are single characters whose trail bytes are 'c' and 'I'.
    const std::string line = "<FILTER tag=\"\x83" "ID\" name=\"\x83" "clsid\" clsid=\"{1}\" ID=\"Good\">";
    FilterEntry filter;
    ASSERT_TRUE(ParseFilter(line, filter, kShiftJis));
    EXPECT_EQ(filter.clsid, "{1}");
    EXPECT_EQ(filter.ID, "Good");

    // Read byte by byte, the same line matches inside those characters.
    ASSERT_TRUE(ParseFilter(line, filter, kWestern));
    EXPECT_EQ(filter.clsid, " clsid=");
    EXPECT_EQ(filter.ID, " name=");

    // A value may hold double-byte text; a lead byte that ends the line is not read past.
    std::string value;
    ASSERT_TRUE(ExtractAttribute("ID=\"\x83\x49\x83\x63\"", "ID", value, kShiftJis));
    EXPECT_EQ(value, "\x83\x49\x83\x63");
    EXPECT_FALSE(ExtractAttribute("ID=\"x\x83", "ID", value, kShiftJis));
}
