// The multiplexer between the elementary stream test source and the file writer, in Wine's
// Filter Graph Manager; the output judged by ffprobe and ffmpeg. Remuxes of both streams together
// are the end-to-end test's; here, each stream alone and inputs that misbehave.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "builtin/FileWriter.h"
#include "builtin/MuxMediaTypes.h"
#include "builtin/ProgramStreamMux.h"
#include "filters/Adopt.h"
#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/builtin/ElementaryStreamSource.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using mux_tests::CElementaryStreamSource;
using mux_tests::ElementaryStreamOptions;
using mux_tests::Unit;
using testing_support::VectorPath;

namespace {

// What a graph sees of the filter before any streaming: the types each pin takes, and seeking
// passed upstream from the output so the graph knows the length.
TEST(ProgramStreamMuxComTest, PinsTakeOnlyTheirTypes)
{
    ScopedComInit com;
    const LONG moduleLocks = ModuleLockCount();
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, CProgramStreamMux::Create(&object));
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, object.As(&filter));
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
        output_ = directory_ + "out.mpg";
    }

    void TearDown() override
    {
        ReleaseGraph();
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    // Source, multiplexer and writer in a graph, joined directly.
    HRESULT Build(const ElementaryStreamOptions& options)
    {
        source_ = Adopt(new CElementaryStreamSource(options));
        if (!source_->Load())
            return E_FAIL;
        ComPtr<IUnknown> mux, writer;
        ComPtr<IFileSinkFilter> sink;
        ComPtr<IPin> output;
        HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_));
        for (const auto& step : std::initializer_list<std::function<HRESULT()>>{
                 [&] { return graph_.As(&control_); },
                 [&] { return graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events_.GetAddressOf())); },
                 [&] { return CProgramStreamMux::Create(&mux); },
                 [&] { return mux.As(&mux_); },
                 [&] { return CFileWriter::Create(&writer); },
                 [&] { return writer.As(&writer_); },
                 [&] { return writer.As(&sink); },
                 [&] { return sink->SetFileName(std::wstring(output_.begin(), output_.end()).c_str(), nullptr); },
                 [&] { return graph_->AddFilter(source_.Get(), L"Source"); },
                 [&] { return graph_->AddFilter(mux_.Get(), L"Mux"); },
                 [&] { return graph_->AddFilter(writer_.Get(), L"Writer"); },
                 [&] { return source_->VideoPin() ? Connect(source_->VideoPin(), mux_.Get(), L"Video In") : S_OK; },
                 [&] { return source_->AudioPin() ? Connect(source_->AudioPin(), mux_.Get(), L"Audio In") : S_OK; },
                 [&] { return mux_->FindPin(L"Output", &output); },
                 [&] { return Connect(output.Get(), writer_.Get(), L"Input"); }}) {
            if (FAILED(hr))
                return hr;
            hr = step();
        }
        return hr;
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
    long RunToEnd()
    {
        if (FAILED(control_->Run()))
            return EC_ERRORABORT;
        long code = 0;
        return events_->WaitForCompletion(60000, &code) == S_OK ? code : 0;
    }

    std::string Tool(const std::string& command)
    {
        testing_support::ToolOutput output;
        EXPECT_TRUE(testing_support::RunLinuxTool(command, output)) << command;
        EXPECT_EQ("", output.err) << command;
        return output.out;
    }

    // One elementary stream of the output, as ffmpeg takes it out again.
    std::string Extract(const char* map, const char* format)
    {
        const std::string path = directory_ + "extract-" + format;
        Tool("/usr/bin/ffmpeg -v warning -y -i " + testing_support::UnixPath(output_) + " -map " + map +
             " -c copy -f " + format + " " + testing_support::UnixPath(path));
        return testing_support::ReadFileBytes(path);
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_;
    std::string output_;
    ComPtr<CElementaryStreamSource> source_;
    ComPtr<IBaseFilter> mux_;
    ComPtr<IBaseFilter> writer_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
};

TEST_F(ProgramStreamMuxTest, RemuxesOneStreamAloneExactlyForItsLength)
{
    const struct {
        const char* video;
        const char* audio;
        const char* codec;
    } cases[] = {
        {"es\\video-bframes.m2v", nullptr, "mpeg2video"},
        {nullptr, "es\\audio.ac3", "ac3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        ElementaryStreamOptions options;
        options.videoPath = c.video ? VectorPath(c.video) : "";
        options.audioPath = c.audio ? VectorPath(c.audio) : "";
        ASSERT_EQ(S_OK, Build(options));
        ASSERT_EQ(EC_COMPLETE, RunToEnd());
        const std::string file = testing_support::UnixPath(output_);
        EXPECT_EQ("mpeg\n", Tool("/usr/bin/ffprobe -v warning -show_entries format=format_name -of default=nw=1:nk=1 " + file));
        EXPECT_EQ(std::string(c.codec) + "\n",
                  Tool("/usr/bin/ffprobe -v warning -show_entries stream=codec_name -of default=nw=1:nk=1 " + file));
        const double duration =
            std::atof(Tool("/usr/bin/ffprobe -v warning -show_entries format=duration -of default=nw=1:nk=1 " + file).c_str());
        const std::vector<Unit>& units = c.video ? source_->VideoUnits() : source_->AudioUnits();
        const double expected = c.video ? units.size() * 0.04 : (2 * units.back().start - units[units.size() - 2].start) / 1e7;
        EXPECT_NEAR(expected, duration, 0.04);
        EXPECT_TRUE(Extract(c.video ? "0:v" : "0:a", c.codec) == (c.video ? source_->VideoBytes() : source_->AudioBytes()));
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
        ASSERT_EQ(S_OK, Build(options));
        if (c.outcome) {
            EXPECT_EQ(c.outcome, RunToEnd());
        } else {
            // A run that cannot complete: once the video has all gone in, it must all be out.
            ASSERT_EQ(S_OK, control_->Run());
            EXPECT_TRUE(testing_support::WaitUntil([&] { return source_->VideoFinished(); }, 60000));
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
    ASSERT_EQ(S_OK, Build(options));
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
