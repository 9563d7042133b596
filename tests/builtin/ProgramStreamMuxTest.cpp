// The multiplexer between the elementary stream test source and the file writer, in Wine's
// Filter Graph Manager; the output judged by ffprobe and ffmpeg.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "builtin/FileWriter.h"
#include "builtin/MuxMediaTypes.h"
#include "builtin/ProgramStreamMux.h"
#include "filters/Adopt.h"
#include "filters/MediaType.h"
#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/builtin/ElementaryStreamSource.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using mux_tests::CElementaryStreamSource;
using mux_tests::ElementaryStreamOptions;
using mux_tests::Unit;
using testing_support::ReadFileBytes;
using testing_support::RunLinuxTool;
using testing_support::ToolOutput;
using testing_support::UnixPath;
using testing_support::VectorPath;

namespace {

// ffprobe's "key=value|key=value" lines as maps.
std::vector<std::map<std::string, std::string>> Records(const std::string& text)
{
    std::vector<std::map<std::string, std::string>> records;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> record;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '|')) {
            const size_t equals = field.find('=');
            if (equals != std::string::npos)
                record[field.substr(0, equals)] = field.substr(equals + 1);
        }
        records.push_back(record);
    }
    return records;
}

// What a graph sees of the filter before any streaming: identity, pins, the types each takes.
TEST(ProgramStreamMuxComTest, PinsTypesAndInterfaces)
{
    ScopedComInit com;
    const LONG moduleLocks = ModuleLockCount();
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, CProgramStreamMux::Create(&object));
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, object.As(&filter));
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(E_NOINTERFACE, object.As(&sink));

    const struct {
        const wchar_t* pin;
        GUID major;
        GUID subtype;
        HRESULT accepted;
    } types[] = {
        {L"Video In", MEDIATYPE_Video, MuxSubtypeMpeg2Video, S_OK},
        {L"Video In", MEDIATYPE_Video, MEDIASUBTYPE_RGB24, S_FALSE},
        {L"Video In", MEDIATYPE_Audio, MuxSubtypeMpeg2Video, S_FALSE},
        {L"Audio In", MEDIATYPE_Audio, MuxSubtypeMpeg2Audio, S_OK},
        {L"Audio In", MEDIATYPE_Audio, MuxSubtypeMpeg1Payload, S_OK},
        {L"Audio In", MEDIATYPE_Audio, MuxSubtypeDolbyAc3, S_OK},
        {L"Audio In", MEDIATYPE_Audio, MEDIASUBTYPE_PCM, S_FALSE},
        {L"Output", MEDIATYPE_Stream, MuxSubtypeMpeg2Program, S_OK},
        {L"Output", MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System, S_FALSE},
    };
    for (const auto& type : types) {
        ComPtr<IPin> pin;
        ASSERT_EQ(S_OK, filter->FindPin(type.pin, &pin));
        AM_MEDIA_TYPE mediaType = {};
        mediaType.majortype = type.major;
        mediaType.subtype = type.subtype;
        EXPECT_EQ(type.accepted, pin->QueryAccept(&mediaType));
    }

    // The output passes seeking upstream, so the graph knows the length.
    ComPtr<IPin> output;
    ASSERT_EQ(S_OK, filter->FindPin(L"Output", &output));
    ComPtr<IMediaSeeking> seeking;
    EXPECT_EQ(S_OK, output.As(&seeking));

    seeking.Reset();
    output.Reset();
    filter.Reset();
    EXPECT_EQ(0u, object.Reset());
    EXPECT_EQ(moduleLocks, ModuleLockCount());
}

class ProgramStreamMuxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        directory_ = testing_support::MakeScratchDirectory("program-stream-mux");
        outputPath_ = directory_ + "out.mpg";
    }

    void TearDown() override
    {
        ReleaseGraph();
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    // Source, multiplexer and writer in a graph, joined directly.
    HRESULT Build(const ElementaryStreamOptions& options, const std::string& outputPath)
    {
        source_ = Adopt(new CElementaryStreamSource(options));
        if (!source_->Load())
            return E_FAIL;
        HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_));
        if (FAILED(hr))
            return hr;
        hr = graph_.As(&control_);
        if (FAILED(hr))
            return hr;
        hr = graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events_.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        ComPtr<IUnknown> mux, writer;
        ComPtr<IFileSinkFilter> sink;
        hr = CProgramStreamMux::Create(&mux);
        if (SUCCEEDED(hr))
            hr = mux.As(&mux_);
        if (SUCCEEDED(hr))
            hr = CFileWriter::Create(&writer);
        if (SUCCEEDED(hr))
            hr = writer.As(&writer_);
        if (SUCCEEDED(hr))
            hr = writer.As(&sink);
        if (SUCCEEDED(hr))
            hr = sink->SetFileName(std::wstring(outputPath.begin(), outputPath.end()).c_str(), nullptr);
        if (SUCCEEDED(hr))
            hr = graph_->AddFilter(source_.Get(), L"Source");
        if (SUCCEEDED(hr))
            hr = graph_->AddFilter(mux_.Get(), L"Mux");
        if (SUCCEEDED(hr))
            hr = graph_->AddFilter(writer_.Get(), L"Writer");
        if (SUCCEEDED(hr) && source_->VideoPin())
            hr = Connect(source_->VideoPin(), mux_.Get(), L"Video In");
        if (SUCCEEDED(hr) && source_->AudioPin())
            hr = Connect(source_->AudioPin(), mux_.Get(), L"Audio In");
        ComPtr<IPin> output;
        if (SUCCEEDED(hr))
            hr = mux_->FindPin(L"Output", &output);
        return SUCCEEDED(hr) ? Connect(output.Get(), writer_.Get(), L"Input") : hr;
    }

    HRESULT Connect(IPin* output, IBaseFilter* to, const wchar_t* name)
    {
        ComPtr<IPin> input;
        HRESULT hr = to->FindPin(name, &input);
        return FAILED(hr) ? hr : graph_->ConnectDirect(output, input.Get(), nullptr);
    }

    void ReleaseGraph()
    {
        if (control_)
            control_->Stop();
        for (IBaseFilter* filter : {static_cast<IBaseFilter*>(source_.Get()), mux_.Get(), writer_.Get()})
            if (filter)
                filter->Stop();
        events_.Reset();
        control_.Reset();
        graph_.Reset();
        EXPECT_EQ(0u, mux_.Reset());
        EXPECT_EQ(0u, writer_.Reset());
        EXPECT_EQ(0u, source_.Reset());
    }

    // The run's outcome: EC_COMPLETE, EC_ERRORABORT, or 0 when neither came in time.
    long RunToEnd(DWORD timeoutMs)
    {
        if (FAILED(control_->Run()))
            return EC_ERRORABORT;
        long code = 0;
        return events_->WaitForCompletion(timeoutMs, &code) == S_OK ? code : 0;
    }

    std::string Tool(const std::string& command)
    {
        ToolOutput output;
        EXPECT_TRUE(RunLinuxTool(command, output)) << command;
        EXPECT_EQ("", output.err) << command;
        return output.out;
    }

    // One elementary stream of the output, as ffmpeg takes it out again.
    std::string Extract(const char* map, const char* format)
    {
        const std::string path = directory_ + "extract-" + format;
        Tool("/usr/bin/ffmpeg -v warning -y -i " + UnixPath(outputPath_) + " -map " + map + " -c copy -f " + format + " " +
             UnixPath(path));
        return ReadFileBytes(path);
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_;
    std::string outputPath_;
    ComPtr<CElementaryStreamSource> source_;
    ComPtr<IBaseFilter> mux_;
    ComPtr<IBaseFilter> writer_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
};

TEST_F(ProgramStreamMuxTest, RemuxesElementaryStreamsExactlyWithTheirTiming)
{
    struct Case {
        const char* video;
        const char* audio;
        const char* audioCodec;
    } cases[] = {
        {"es\\video.m2v", "es\\audio.mp2", "mp2"},
        {"es\\video-bframes.m2v", "es\\audio.ac3", "ac3"},
        {"es\\video-bframes.m2v", nullptr, nullptr},
        {nullptr, "es\\audio.ac3", "ac3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.video ? c.video : "-") + " " + (c.audio ? c.audio : "-"));
        ElementaryStreamOptions options;
        options.videoPath = c.video ? VectorPath(c.video) : "";
        options.audioPath = c.audio ? VectorPath(c.audio) : "";
        ASSERT_EQ(S_OK, Build(options, outputPath_));
        ASSERT_EQ(EC_COMPLETE, RunToEnd(30000));

        const auto format = Records(Tool("/usr/bin/ffprobe -v warning -show_entries format=format_name,duration:stream=index,codec_name "
                                         "-of compact=p=0 " + UnixPath(outputPath_)));
        std::map<std::string, std::string> codecs; // stream index -> codec
        double duration = 0;
        for (const auto& record : format) {
            if (record.count("codec_name"))
                codecs[record.at("index")] = record.at("codec_name");
            if (record.count("format_name")) {
                EXPECT_EQ("mpeg", record.at("format_name"));
                duration = std::atof(record.at("duration").c_str());
            }
        }
        std::map<std::string, std::string> expected;
        double expectedDuration = 0;
        if (c.video) {
            expected["video"] = "mpeg2video";
            expectedDuration = source_->VideoUnits().size() * 0.04;
        }
        if (c.audio) {
            expected["audio"] = c.audioCodec;
            const std::vector<Unit>& units = source_->AudioUnits();
            expectedDuration = std::max(expectedDuration, (2 * units.back().start - units[units.size() - 2].start) / 1e7);
        }
        ASSERT_EQ(expected.size(), codecs.size());
        for (const auto& stream : codecs)
            EXPECT_TRUE(stream.second == "mpeg2video" ? c.video != nullptr : stream.second == (c.audioCodec ? c.audioCodec : ""))
                << stream.second;
        EXPECT_NEAR(expectedDuration, duration, 0.04);

        if (c.video) {
            EXPECT_TRUE(Extract("0:v", "mpeg2video") == source_->VideoBytes());
        }
        if (c.audio) {
            EXPECT_TRUE(Extract("0:a", c.audioCodec) == source_->AudioBytes());
        }

        // Every packet's time is its input time shifted by one constant, for both streams.
        const auto packets = Records(Tool("/usr/bin/ffprobe -v warning -show_entries packet=stream_index,pts "
                                          "-of compact=p=0 " + UnixPath(outputPath_)));
        std::map<std::string, size_t> next;
        bool shiftKnown = false;
        int64_t shift = 0;
        size_t compared = 0;
        for (const auto& packet : packets) {
            const std::string& codec = codecs[packet.at("stream_index")];
            const std::vector<Unit>& units = codec == "mpeg2video" ? source_->VideoUnits() : source_->AudioUnits();
            const size_t index = next[codec]++;
            ASSERT_LT(index, units.size());
            if (packet.at("pts") == "N/A")
                continue;
            const int64_t difference = std::atoll(packet.at("pts").c_str()) - units[index].start * 9 / 1000;
            if (!shiftKnown)
                shift = difference;
            shiftKnown = true;
            EXPECT_EQ(shift, difference) << codec << " " << index;
            ++compared;
        }
        EXPECT_EQ(source_->VideoUnits().size(), next["mpeg2video"]);
        EXPECT_GT(compared, packets.size() * 9 / 10);
        ReleaseGraph();
    }
}

TEST_F(ProgramStreamMuxTest, FaultyInputsNeitherStallNorSpoilTheOthers)
{
    struct Case {
        const char* name;
        void (*apply)(ElementaryStreamOptions&);
        long outcome;        // of the run: EC_COMPLETE, or 0 when it cannot complete
        size_t audioFrames;  // that reach the output intact; -1: not compared
        bool damaged;
    } cases[] = {
        {"audio never delivers", [](ElementaryStreamOptions& o) { o.audioSilent = true; }, 0, 0, false},
        {"audio ends early", [](ElementaryStreamOptions& o) { o.audioEndAfter = 20; }, EC_COMPLETE, 20, false},
        {"video ends early", [](ElementaryStreamOptions& o) { o.videoEndAfter = 10; }, EC_COMPLETE, static_cast<size_t>(-1), false},
        {"garbage in the audio", [](ElementaryStreamOptions& o) { o.audioGarbageAt = 30; }, EC_COMPLETE, static_cast<size_t>(-1), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ElementaryStreamOptions options;
        options.videoPath = VectorPath("es\\video.m2v");
        options.audioPath = VectorPath("es\\audio.mp2");
        c.apply(options);
        ASSERT_EQ(S_OK, Build(options, outputPath_));
        if (c.outcome) {
            EXPECT_EQ(c.outcome, RunToEnd(30000));
        } else {
            // A run that cannot complete: once the video has all gone in, it must all be out.
            ASSERT_EQ(S_OK, control_->Run());
            EXPECT_TRUE(testing_support::WaitUntil([&] { return source_->VideoFinished(); }, 30000));
            long code = 0;
            EXPECT_EQ(E_ABORT, events_->WaitForCompletion(100, &code));
        }
        control_->Stop();
        const size_t videoUnits = options.videoEndAfter >= 0 ? static_cast<size_t>(options.videoEndAfter) : source_->VideoUnits().size();
        const Unit& endOfVideo = source_->VideoUnits()[videoUnits - 1];
        EXPECT_TRUE(Extract("0:v", "mpeg2video") == source_->VideoBytes().substr(0, endOfVideo.offset + endOfVideo.size));
        if (c.audioFrames != static_cast<size_t>(-1)) {
            const std::string audio = c.audioFrames ? Extract("0:a", "mp2") : "";
            EXPECT_TRUE(audio == source_->AudioBytes().substr(0, source_->AudioUnits()[c.audioFrames].offset));
        }
        EXPECT_EQ(c.damaged, static_cast<CProgramStreamMux*>(mux_.Get())->DamagedSamples() > 0);
        ReleaseGraph();
    }
}

TEST_F(ProgramStreamMuxTest, StopInMidStreamReleasesAll)
{
    ElementaryStreamOptions options;
    options.videoPath = VectorPath("es\\video-bframes.m2v");
    options.audioPath = VectorPath("es\\audio.ac3");
    ASSERT_EQ(S_OK, Build(options, outputPath_));
    // Stopped at once, in mid-stream: nothing completes, and every reference goes (TearDown).
    ASSERT_EQ(S_OK, control_->Run());
    EXPECT_EQ(S_OK, control_->Stop());
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (events_->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        EXPECT_NE(EC_COMPLETE, code);
        events_->FreeEventParams(code, param1, param2);
    }
}

} // namespace
