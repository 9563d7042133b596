#include "app/ConverterApp.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// The internal graph, assembled here line by line from its filters and connections.
std::string ExpectedInternalGraph()
{
    const char* filters[][2] = {
        {"Dump", "{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}"},
        {"CyberLink_MPEG_Muxer", "{4DF35815-79C5-44C8-8753-847D5C9C3CF5}"},
        {"Decrypt/Tag_0003", "{C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}"},
        {"Decrypt/Tag", "{C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}"},
        {"DVR_Source_0", "{C9F5FE02-F851-4EB5-99EE-AD602AF1E619}"},
    };
    const char* connections[][4] = {
        {"DVR_Source_0", "DVR Out - 1", "Decrypt/Tag", "In(Enc/Tag)"},
        {"DVR_Source_0", "DVR Out - 3", "Decrypt/Tag_0003", "In(Enc/Tag)"},
        {"Decrypt/Tag_0003", "Out", "CyberLink_MPEG_Muxer", "Video In"},
        {"Decrypt/Tag", "Out", "CyberLink_MPEG_Muxer", "Audio In"},
        {"CyberLink_MPEG_Muxer", "Output", "Dump", "Input"},
    };
    std::string text = "<GRAPH version=\"1.0\">\r\n";
    bool first = true;
    for (const auto& filter : filters) {
        text += std::string("\t<FILTER ID=\"") + filter[0] + "\" clsid=\"" + filter[1] + "\">\r\n";
        if (first)
            text += "\t\t<PARAM name=\"src\" value=\"D:\\Recorded TV\\Test.mpg\"/>\r\n";
        first = false;
        text += "\t</FILTER>\r\n";
    }
    for (const auto& c : connections) {
        text += std::string("\t<connect direct=\"yes\" src=\"") + c[0] + "\" srcpin=\"" + c[1] + "\" dest=\"" + c[2]
            + "\" destpin=\"" + c[3] + "\"/>\r\n";
    }
    return text + "</GRAPH>";
}

} // namespace

TEST(InternalGraphResource, IsExactlyTheGraphWithCrLfAndNoFinalLineEnd)
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    ASSERT_NE(resource, nullptr);
    std::string bytes(static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource))),
                      ::SizeofResource(nullptr, resource));
    EXPECT_EQ(bytes.size(), 1058u);
    EXPECT_EQ(bytes, ExpectedInternalGraph());
}

TEST(InternalGraphResource, IsWrittenWholeOrReportedAsNotWritten)
{
    const std::string path = testing_support::MakeScratchDirectory("graph-write") + "InternalXGR.tmp";
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite | CStdioFile::shareExclusive));
    EXPECT_TRUE(WriteInternalGraph(file));
    file.Close();
    EXPECT_EQ(testing_support::ReadFileBytes(path), ExpectedInternalGraph());

    // A file that cannot take the bytes (here: open for reading only) must not pass for written.
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead));
    EXPECT_FALSE(WriteInternalGraph(file));
}

TEST(Resources, AboutStringIconAndBothDialogsArePresent)
{
    char text[64] = {};
    ASSERT_GT(::LoadStringA(::GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof(text)), 0);
    EXPECT_STREQ(text, "&About Halvern...");
    EXPECT_NE(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)), nullptr);
    EXPECT_NE(::FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), MAKEINTRESOURCEA(5)), nullptr);
    EXPECT_NE(::FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_HALVERN_DIALOG), MAKEINTRESOURCEA(5)), nullptr);
}
