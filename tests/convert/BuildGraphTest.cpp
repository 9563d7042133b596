#include "app/ConverterApp.h"
#include "convert/BuildGraph.h"
#include "settings/ConverterSettings.h"
#include "framework/ScopedWin.h"
#include "tests/convert/TestFilters.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>
#include <initializer_list>

using Microsoft::WRL::ComPtr;
using namespace testfilters;
using namespace testing_support;

namespace {

const char kReportStart[] = "Converting : C:\\in.dvr-ms";
const char kInput[] = "C:\\in.dvr-ms";
const char kOutput[] = "D:\\out.mpg";

std::string FilterLine(const std::string& id, const CLSID& clsid)
{
    return "\t<FILTER ID=\"" + id + "\" clsid=\"" + ClsidText(clsid) + "\">";
}

std::string ConnectLine(const std::string& src, const std::string& srcpin, const std::string& dest,
                        const std::string& destpin, bool direct = true)
{
    return std::string("\t<connect direct=\"") + (direct ? "yes" : "no") + "\" src=\"" + src + "\" srcpin=\"" + srcpin
        + "\" dest=\"" + dest + "\" destpin=\"" + destpin + "\"/>";
}

GraphDescription Describe(std::initializer_list<std::string> lines)
{
    GraphDescription description;
    for (const std::string& line : lines) {
        GraphEntry entry;
        EXPECT_TRUE(ParseGraphLine(line, entry)) << line;
        description.Entries.push_back(entry);
    }
    return description;
}

class BuildGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        ASSERT_EQ(RegisterTestFilters(), S_OK);
        ASSERT_EQ(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_)), S_OK);
        report_ = kReportStart;
        TakeFileCalls();
    }

    void TearDown() override
    {
        graph_.Reset();
        RevokeTestFilters();
    }

    HRESULT Build(std::initializer_list<std::string> lines)
    {
        return BuildGraphFromDescription(graph_.Get(), Describe(lines), kInput, kOutput, report_);
    }

    // What the report gained after its first line.
    std::string Messages() const { return report_.substr(strlen(kReportStart)); }

    bool HasFilter(const wchar_t* name)
    {
        ComPtr<IBaseFilter> filter;
        return SUCCEEDED(graph_->FindFilterByName(name, &filter)) && filter;
    }

    int FilterCount()
    {
        ComPtr<IEnumFilters> filters;
        if (FAILED(graph_->EnumFilters(&filters)))
            return -1;
        int count = 0;
        ComPtr<IBaseFilter> filter;
        while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK)
            ++count;
        return count;
    }

    // "filter:pin" of the peer of a pin, or "" when it is not connected.
    std::string PeerOf(const wchar_t* filterName, const wchar_t* pinName)
    {
        ComPtr<IBaseFilter> filter;
        ComPtr<IPin> pin;
        ComPtr<IPin> peer;
        if (FAILED(graph_->FindFilterByName(filterName, &filter)) || FAILED(filter->FindPin(pinName, &pin))
            || FAILED(pin->ConnectedTo(&peer)) || !peer)
            return std::string();
        PIN_INFO info = {};
        peer->QueryPinInfo(&info);
        FILTER_INFO filterInfo = {};
        info.pFilter->QueryFilterInfo(&filterInfo);
        info.pFilter->Release();
        if (filterInfo.pGraph)
            filterInfo.pGraph->Release();
        std::string text;
        for (const wchar_t* c = filterInfo.achName; *c; ++c)
            text += static_cast<char>(*c);
        text += ':';
        for (const wchar_t* c = info.achName; *c; ++c)
            text += static_cast<char>(*c);
        return text;
    }

    ScopedComInit com_;
    ComPtr<IGraphBuilder> graph_;
    std::string report_;
};

} // namespace

TEST_F(BuildGraphTest, FiltersAreAddedUnderTheirNamesWithTheirFileNames)
{
    EXPECT_EQ(Build({FilterLine("Writer", SinkClsid), FilterLine("Reader", SourceClsid),
                     ConnectLine("Reader", "Out 1", "Writer", "In 1")}),
              S_OK);
    EXPECT_EQ(Messages(), "");
    EXPECT_TRUE(HasFilter(L"Writer"));
    EXPECT_TRUE(HasFilter(L"Reader"));
    EXPECT_EQ(PeerOf(L"Writer", L"In 1"), "Reader:Out 1");

    const std::vector<FileCall> calls = TakeFileCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].filter, SinkClsid);
    EXPECT_EQ(calls[0].method, "SetFileName");
    EXPECT_EQ(calls[0].path, L"D:\\out.mpg");
    EXPECT_EQ(calls[1].filter, SourceClsid);
    EXPECT_EQ(calls[1].method, "Load");
    EXPECT_EQ(calls[1].path, L"C:\\in.dvr-ms");
}

TEST_F(BuildGraphTest, AFilterThatReadsAndWritesGetsOnlyTheInputPath)
{
    EXPECT_EQ(Build({FilterLine("Both", BothFilesClsid)}), S_OK);
    const std::vector<FileCall> calls = TakeFileCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "Load");
    EXPECT_EQ(calls[0].path, L"C:\\in.dvr-ms");
}

TEST_F(BuildGraphTest, AFilterThatCannotBeMadeStopsTheBuilding)
{
    // Not a class identifier: the message follows the text before it on the same line.
    HRESULT status = Build({FilterLine("Reader", SourceClsid), "<FILTER ID=\"Bad\" clsid=\"{not-a-clsid}\">",
                            FilterLine("Writer", SinkClsid)});
    EXPECT_TRUE(FAILED(status));
    EXPECT_EQ(report_, std::string(kReportStart) + "One or more DS filters couldn't be added to the graph.");
    EXPECT_TRUE(HasFilter(L"Reader"));
    EXPECT_FALSE(HasFilter(L"Writer"));

    // A class nobody registered.
    report_ = kReportStart;
    status = Build({"<FILTER ID=\"Unknown\" clsid=\"{5E1F0FFF-1111-4A4A-8000-000000000001}\">"});
    EXPECT_EQ(status, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Messages(), "One or more DS filters couldn't be added to the graph.");

    // The "ID contains clsid" trap gives a clsid text that cannot be converted.
    report_ = kReportStart;
    status = Build({"<FILTER ID=\"my clsid\" clsid=\"" + ClsidText(SourceClsid) + "\">"});
    EXPECT_TRUE(FAILED(status));
    EXPECT_EQ(Messages(), "One or more DS filters couldn't be added to the graph.");
    EXPECT_FALSE(HasFilter(L"my clsid"));
}

TEST_F(BuildGraphTest, FileNamesAndTheGraphCanBeRefused)
{
    EXPECT_EQ(Build({FilterLine("In", BadInputClsid), FilterLine("Writer", SinkClsid)}), LoadError);
    EXPECT_EQ(Messages(), "Could not open input file");
    EXPECT_FALSE(HasFilter(L"In"));
    EXPECT_FALSE(HasFilter(L"Writer"));

    report_ = kReportStart;
    EXPECT_EQ(Build({FilterLine("Out", BadOutputClsid)}), SetFileNameError);
    EXPECT_EQ(Messages(), "Could not open output file");
    EXPECT_FALSE(HasFilter(L"Out"));

    report_ = kReportStart;
    EXPECT_EQ(Build({FilterLine("Loner", UnjoinableClsid)}), JoinError);
    EXPECT_EQ(Messages(), "One or more DS filters couldn't be added to the graph.");
    EXPECT_EQ(FilterCount(), 0);
}

TEST_F(BuildGraphTest, NamesAreNeitherUniqueNorRequired)
{
    // The same class twice under one name: two filters, the second renamed by the graph.
    EXPECT_TRUE(SUCCEEDED(Build({FilterLine("Twin", SinkClsid), FilterLine("Twin", SinkClsid)})));
    EXPECT_EQ(FilterCount(), 2);
    EXPECT_EQ(Messages(), "");

    // A filter without ID is found through its clsid text.
    const std::string clsid = ClsidText(SourceClsid);
    EXPECT_TRUE(SUCCEEDED(Build({"<FILTER clsid=\"" + clsid + "\">", ConnectLine(clsid, "Out 1", "Twin", "In 1")})));
    EXPECT_EQ(Messages(), "");
    EXPECT_NE(PeerOf(L"Twin", L"In 1"), "");

    report_ = kReportStart;
    EXPECT_EQ(Build({}), S_OK);
    EXPECT_EQ(Messages(), "");
}

TEST_F(BuildGraphTest, AConnectionToAFilterNotYetAddedFails)
{
    EXPECT_EQ(Build({FilterLine("Reader", SourceClsid), ConnectLine("Reader", "Out 1", "Writer", "In 1"),
                     FilterLine("Writer", SinkClsid)}),
              -1);
    EXPECT_EQ(Messages(), "\nCouldn't connect one or more pins.");
    EXPECT_FALSE(HasFilter(L"Writer"));

    report_ = kReportStart;
    EXPECT_EQ(Build({ConnectLine("Nobody", "Out 1", "Reader", "In 1")}), -1);
    EXPECT_EQ(Messages(), "\nCouldn't connect one or more pins.");
}

TEST_F(BuildGraphTest, AMissingThirdStreamPinFallsBackToTheSecondSilently)
{
    EXPECT_EQ(Build({FilterLine("Dvr", DvrSourceClsid), FilterLine("Writer", SinkClsid),
                     ConnectLine("Dvr", "DVR Out - 1", "Writer", "In 1"), ConnectLine("Dvr", "DVR Out - 3", "Writer", "In 2")}),
              S_OK);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(PeerOf(L"Writer", L"In 1"), "Dvr:DVR Out - 1");
    EXPECT_EQ(PeerOf(L"Writer", L"In 2"), "Dvr:DVR Out - 2");
}

TEST_F(BuildGraphTest, OtherMissingPinsAreAutoRendered)
{
    // "DVR Out - 2" has no fallback of its own: the source's outputs are rendered instead, into the
    // free inputs already in the graph.
    HRESULT status = Build({FilterLine("Reader", SourceClsid), FilterLine("Writer", SinkClsid),
                            ConnectLine("Reader", "DVR Out - 2", "Writer", "In 1")});
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(Messages(), "\nCouldn't find some pins... trying Auto-Render");
    EXPECT_NE(PeerOf(L"Writer", L"In 1"), "");
    EXPECT_NE(PeerOf(L"Writer", L"In 2"), "");

    // A later entry whose destination the render already fed succeeds without a word.
    report_ = kReportStart;
    EXPECT_EQ(Build({ConnectLine("Reader", "Missing", "Writer", "In 2")}), S_OK);
    EXPECT_EQ(Messages(), "");
}

TEST_F(BuildGraphTest, AnAlreadyConnectedDestinationSatisfiesTheEntry)
{
    EXPECT_EQ(Build({FilterLine("Reader", SourceClsid), FilterLine("Writer", SinkClsid),
                     ConnectLine("Reader", "Out 1", "Writer", "In 1"), ConnectLine("Reader", "Missing", "Writer", "In 1")}),
              S_OK);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(PeerOf(L"Writer", L"In 2"), ""); // no render happened
}

TEST_F(BuildGraphTest, AutoRenderWithoutOutputPinsFailsWithMinusOne)
{
    EXPECT_EQ(Build({FilterLine("Dead End", InputOnlyClsid), FilterLine("Writer", SinkClsid),
                     ConnectLine("Dead End", "Out", "Writer", "In 1")}),
              -1);
    EXPECT_EQ(Messages(), "\nCouldn't find some pins... trying Auto-Render\nCouldn't connect one or more pins.");
}

TEST_F(BuildGraphTest, AutoRenderThatRendersNothingGivesTheRenderResult)
{
    const HRESULT status = Build({FilterLine("Lonely", LonelySourceClsid), FilterLine("Writer", SinkClsid),
                                  ConnectLine("Lonely", "Missing", "Writer", "In 1")});
    EXPECT_TRUE(FAILED(status));
    EXPECT_NE(status, -1);
    EXPECT_EQ(Messages(), "\nCouldn't find some pins... trying Auto-Render\nCouldn't connect one or more pins.");
}

TEST_F(BuildGraphTest, ARefusedConnectionIsRescuedByRenderingTheOutput)
{
    EXPECT_TRUE(SUCCEEDED(Build({FilterLine("Reader", SourceClsid), FilterLine("Picky", PickyClsid),
                                 FilterLine("Writer", SinkClsid), ConnectLine("Reader", "Out 1", "Picky", "Picky In"),
                                 ConnectLine("Reader", "Out 2", "Writer", "In 2")})));
    EXPECT_EQ(Messages(), "\nSuccessfully renedered pin Out 1");
    EXPECT_EQ(PeerOf(L"Picky", L"Picky In"), "");
    EXPECT_EQ(PeerOf(L"Writer", L"In 1"), "Reader:Out 1");
    EXPECT_EQ(PeerOf(L"Writer", L"In 2"), "Reader:Out 2"); // building went on
}

TEST_F(BuildGraphTest, ARefusedConnectionThatCannotBeRenderedFails)
{
    const HRESULT status = Build({FilterLine("Lonely", LonelySourceClsid), FilterLine("Writer", SinkClsid),
                                  ConnectLine("Lonely", "Out", "Writer", "In 1"), FilterLine("Later", SinkClsid)});
    EXPECT_TRUE(FAILED(status));
    EXPECT_NE(status, -1);
    EXPECT_EQ(Messages(), "\nCouldn't connect one or more pins.");
    EXPECT_FALSE(HasFilter(L"Later"));
}

TEST_F(BuildGraphTest, OnlyIndirectConnectionsMayPassThroughOtherFilters)
{
    EXPECT_EQ(Build({FilterLine("Reader", SourceClsid), FilterLine("Converter", ConverterClsid),
                     FilterLine("Picky", PickyClsid), ConnectLine("Reader", "Out 1", "Picky", "Picky In", false)}),
              S_OK);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(PeerOf(L"Picky", L"Picky In"), "Converter:Out");
    EXPECT_EQ(PeerOf(L"Converter", L"In"), "Reader:Out 1");

    // Asked for directly, the pins refuse each other and only the render finds the way.
    ASSERT_EQ(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_)), S_OK);
    report_ = kReportStart;
    EXPECT_TRUE(SUCCEEDED(Build({FilterLine("Reader", SourceClsid), FilterLine("Converter", ConverterClsid),
                                 FilterLine("Picky", PickyClsid), ConnectLine("Reader", "Out 1", "Picky", "Picky In")})));
    EXPECT_EQ(Messages(), "\nSuccessfully renedered pin Out 1");
}

TEST_F(BuildGraphTest, ADescriptionFileIsReadFromTheProgramDirectoryAndClosed)
{
    CConverterApp& app = ConverterApp();
    const std::string directory = MakeScratchDirectory("convert-build-file");
    WriteFileBytes(directory + "Test Graph.xgr",
                   "<GRAPH version=\"1.0\">\r\n" + FilterLine("Writer", SinkClsid) + "\r\n</FILTER>\r\n"
                       + FilterLine("Reader", SourceClsid) + "\r\n" + ConnectLine("Reader", "Out 1", "Writer", "In 1")
                       + "\r\n</GRAPH>");
    strcpy(app.ProgramDirectory, directory.c_str());

    EXPECT_EQ(BuildGraph(graph_.Get(), "Test Graph.xgr", kInput, kOutput, report_), S_OK);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(PeerOf(L"Writer", L"In 1"), "Reader:Out 1");
    // Closed once building is over, before anything runs.
    EXPECT_TRUE(::DeleteFileA((directory + "Test Graph.xgr").c_str()));

    report_ = kReportStart;
    ASSERT_EQ(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_)), S_OK);
    EXPECT_EQ(BuildGraph(graph_.Get(), "Test Graph.xgr", kInput, kOutput, report_), -1);
    EXPECT_EQ(report_, std::string(kReportStart) + "Could not open \"Test Graph.xgr\"");
    EXPECT_EQ(FilterCount(), 0);
    app.ProgramDirectory[0] = '\0';
}

namespace {

std::string InternalGraphBytes()
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(131), "XGR");
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource)));
    return std::string(bytes, ::SizeofResource(nullptr, resource));
}

// The internal graph, built from the application's stream with the stand-ins of its filters.
class InternalGraphBuildTest : public BuildGraphTest {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(RegisterStandInsInProcess(), S_OK);
        CConverterApp& app = ConverterApp();
        const std::string path = MakeScratchDirectory("convert-build-internal") + "InternalXGR.tmp";
        ASSERT_TRUE(app.InternalGraphFile.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                               | CStdioFile::shareExclusive | CStdioFile::typeText));
        const std::string bytes = InternalGraphBytes();
        app.InternalGraphFile.Write(bytes.data(), bytes.size());
        app.InternalGraphFile.Flush();
    }

    static void TearDownTestSuite()
    {
        ConverterApp().InternalGraphFile.Close();
        RevokeStandIns();
    }

    void SetUp() override
    {
        BuildGraphTest::SetUp();
        const std::string directory = MakeScratchDirectory("convert-build-recording");
        recordingPath_ = directory + "Show.dvr-ms";
        outputPath_ = directory + "Show.MPG"; // the writer stand-in creates it at once
        ConverterApp().InternalGraphFile.SeekToBegin();
    }

    HRESULT BuildInternal(const std::string& inputPath)
    {
        report_ = "Converting : " + inputPath;
        return BuildGraph(graph_.Get(), kInternalGraphName, inputPath, outputPath_, report_);
    }

    std::wstring CurrentFile(const wchar_t* filterName)
    {
        ComPtr<IBaseFilter> filter;
        if (FAILED(graph_->FindFilterByName(filterName, &filter)))
            return L"<no filter>";
        LPOLESTR name = nullptr;
        ComPtr<IFileSourceFilter> reader;
        ComPtr<IFileSinkFilter> writer;
        if (SUCCEEDED(filter.As(&reader)))
            reader->GetCurFile(&name, nullptr);
        else if (SUCCEEDED(filter.As(&writer)))
            writer->GetCurFile(&name, nullptr);
        std::wstring text = name ? name : L"";
        ::CoTaskMemFree(name);
        return text;
    }

    void ExpectInternalPipeline(const char* videoPin)
    {
        EXPECT_EQ(FilterCount(), 5); // direct connections put nothing between the pins
        EXPECT_EQ(PeerOf(L"Decrypt/Tag", L"In(Enc/Tag)"), "DVR_Source_0:DVR Out - 1");
        EXPECT_EQ(PeerOf(L"Decrypt/Tag_0003", L"In(Enc/Tag)"), std::string("DVR_Source_0:") + videoPin);
        EXPECT_EQ(PeerOf(L"CyberLink_MPEG_Muxer", L"Video In"), "Decrypt/Tag_0003:Out");
        EXPECT_EQ(PeerOf(L"CyberLink_MPEG_Muxer", L"Audio In"), "Decrypt/Tag:Out");
        EXPECT_EQ(PeerOf(L"Dump", L"Input"), "CyberLink_MPEG_Muxer:Output");
    }

    std::string recordingPath_;
    std::string outputPath_;
};

} // namespace

TEST_F(InternalGraphBuildTest, ARecordingWithAllPinsConnectsDirectlyWithoutAMessage)
{
    WriteStandInRecording(recordingPath_, StandInRecording());
    EXPECT_TRUE(SUCCEEDED(BuildInternal(recordingPath_)));
    EXPECT_EQ(report_, "Converting : " + recordingPath_);
    ExpectInternalPipeline("DVR Out - 3");
    EXPECT_EQ(CurrentFile(L"DVR_Source_0"), std::wstring(recordingPath_.begin(), recordingPath_.end()));
    EXPECT_EQ(CurrentFile(L"Dump"), std::wstring(outputPath_.begin(), outputPath_.end()));
}

TEST_F(InternalGraphBuildTest, ARecordingWithoutTheThirdStreamUsesTheSecondSilently)
{
    StandInRecording recording;
    recording.hasPin3 = false;
    WriteStandInRecording(recordingPath_, recording);
    EXPECT_TRUE(SUCCEEDED(BuildInternal(recordingPath_)));
    EXPECT_EQ(report_, "Converting : " + recordingPath_);
    ExpectInternalPipeline("DVR Out - 2");
}

TEST_F(InternalGraphBuildTest, AMissingRecordingStopsAtTheSource)
{
    const std::string missing = recordingPath_ + ".gone";
    EXPECT_EQ(BuildInternal(missing), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(report_, "Converting : " + missing + "Could not open input file");
    EXPECT_EQ(FilterCount(), 4); // the four before the source stay in the graph
    EXPECT_FALSE(HasFilter(L"DVR_Source_0"));
}
