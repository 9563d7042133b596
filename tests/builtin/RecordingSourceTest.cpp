// The recording source inside Wine's own Filter Graph Manager, connected to a renderer that keeps
// every sample: what comes out must be ffmpeg's elementary streams, byte for byte, with the
// writer's times.

#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "media/MediaErrors.h"
#include "builtin/RecordingSource.h"
#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/builtin/SampleRecorder.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace test_recordings;
using testing_support::VectorPath;

namespace {

constexpr GUID Mpeg2VideoSubtype = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Mpeg2VideoFormat = {0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Mpeg2AudioSubtype = {0xE06D802B, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Ac3Subtype = {0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Line21Captions = {0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The picture coding type of a frame's first picture header (1 = I).
unsigned PictureType(const std::string& frame)
{
    const size_t at = frame.find(std::string("\0\0\1\0", 4));
    return at == std::string::npos || at + 5 >= frame.size() ? 0 : (static_cast<uint8_t>(frame[at + 5]) >> 3) & 7;
}

class RecordingSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        if (VectorPath("es\\video.m2v").empty())
            GTEST_SKIP() << "no test vectors";
        moduleLocks_ = ModuleLockCount();
        directory_ = testing_support::MakeScratchDirectory("recording-source");
    }

    void TearDown() override
    {
        Release();
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    HRESULT MakeSource(const std::string& path)
    {
        ComPtr<IUnknown> created;
        HRESULT hr = CRecordingSource::Create(&created);
        if (FAILED(hr))
            return hr;
        hr = created.As(&source_);
        if (FAILED(hr))
            return hr;
        ComPtr<IFileSourceFilter> file;
        hr = source_.As(&file);
        return FAILED(hr) ? hr : file->Load(Wide(path).c_str(), nullptr);
    }

    std::vector<ComPtr<IPin>> SourcePins()
    {
        std::vector<ComPtr<IPin>> pins;
        ComPtr<IEnumPins> pinEnum;
        if (FAILED(source_->EnumPins(&pinEnum)))
            return pins;
        ComPtr<IPin> pin;
        while (pinEnum->Next(1, &pin, nullptr) == S_OK)
            pins.push_back(std::move(pin));
        return pins;
    }

    // The source and a recorder with a pin for each of its pins, in Wine's graph manager, running.
    void BuildAndRun()
    {
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_)));
        ASSERT_EQ(S_OK, graph_.As(&control_));
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events_.GetAddressOf())));
        const std::vector<ComPtr<IPin>> pins = SourcePins();
        recorder_ = CSampleRecorder::Create(static_cast<int>(pins.size()));
        ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"DVR_Source_0"));
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_.Get(), L"Recorder"));
        for (size_t i = 0; i < pins.size(); ++i)
            ASSERT_EQ(S_OK, graph_->ConnectDirect(pins[i].Get(), recorder_->Pin(static_cast<int>(i)), nullptr));
        ASSERT_EQ(S_OK, control_->Run());
    }

    // Events queued so far, until one with this code came (or the time is up).
    std::vector<std::pair<long, LONG_PTR>> EventsUntil(long wanted, DWORD timeoutMs)
    {
        std::vector<std::pair<long, LONG_PTR>> seen;
        testing_support::WaitUntil(
            [&] {
                long code = 0;
                LONG_PTR first = 0, second = 0;
                while (events_->GetEvent(&code, &first, &second, 0) == S_OK) {
                    seen.emplace_back(code, first);
                    events_->FreeEventParams(code, first, second);
                }
                return std::any_of(seen.begin(), seen.end(), [&](const auto& e) { return e.first == wanted; });
            },
            timeoutMs);
        return seen;
    }

    void Release()
    {
        if (control_)
            control_->Stop();
        if (source_)
            source_->Stop();
        if (recorder_)
            recorder_->Stop();
        events_.Reset();
        control_.Reset();
        graph_.Reset();
        if (source_) {
            EXPECT_EQ(0u, source_.Reset());
        }
        if (recorder_) {
            EXPECT_EQ(0u, recorder_.Reset());
        }
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_;
    ComPtr<IBaseFilter> source_;
    ComPtr<CSampleRecorder> recorder_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
};

TEST_F(RecordingSourceTest, DeliversEveryFrameWithTheWritersTimes)
{
    struct Case {
        const char* name;
        const char* video;
        const char* audio;
        bool captions;
        GUID audioSubtype;
    };
    const Case cases[] = {
        {"mp2 without captions", "es\\video.m2v", "es\\audio.mp2", false, Mpeg2AudioSubtype},
        {"b-frames, ac3, captions", "es\\video-bframes.m2v", "es\\audio.ac3", true, Ac3Subtype},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingOptions options;
        options.videoPath = VectorPath(c.video);
        options.audioPath = VectorPath(c.audio);
        options.captions = c.captions;
        options.firstTime = 7200ll * 10000000; // two hours into the broadcast clock
        options.audioDelay = -2000000;
        WrittenRecording written;
        std::string error;
        const std::string path = directory_ + "show.dvr-ms";
        ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
        ASSERT_EQ(S_OK, MakeSource(path));
        BuildAndRun();
        long code = 0;
        ASSERT_EQ(S_OK, events_->WaitForCompletion(30000, &code));
        EXPECT_EQ(EC_COMPLETE, code);

        // Audio first, captions next, video last, named as the media centre's source names them.
        std::vector<ComPtr<IPin>> pins = SourcePins();
        ASSERT_EQ(c.captions ? 3u : 2u, pins.size());
        for (size_t i = 0; i < pins.size(); ++i) {
            PIN_INFO info;
            ASSERT_EQ(S_OK, pins[i]->QueryPinInfo(&info));
            info.pFilter->Release();
            EXPECT_EQ(L"DVR Out - " + std::to_wstring(i + 1), std::wstring(info.achName));
        }
        const int audioPin = 0, videoPin = static_cast<int>(pins.size()) - 1;
        const CMediaType audioType = recorder_->ConnectedType(audioPin);
        EXPECT_EQ(MEDIATYPE_Audio, audioType.Get().majortype);
        EXPECT_EQ(c.audioSubtype, audioType.Get().subtype);
        EXPECT_EQ(48000u, reinterpret_cast<const WAVEFORMATEX*>(audioType.Get().pbFormat)->nSamplesPerSec);
        const CMediaType videoType = recorder_->ConnectedType(videoPin);
        EXPECT_EQ(MEDIATYPE_Video, videoType.Get().majortype);
        EXPECT_EQ(Mpeg2VideoSubtype, videoType.Get().subtype);
        ASSERT_EQ(Mpeg2VideoFormat, videoType.Get().formattype);
        const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(videoType.Get().pbFormat);
        EXPECT_EQ(720, info->hdr.bmiHeader.biWidth);
        EXPECT_EQ(576, info->hdr.bmiHeader.biHeight);
        EXPECT_EQ(400000, info->hdr.AvgTimePerFrame);
        EXPECT_EQ(0, std::memcmp(info->dwSequenceHeader, "\0\0\1\xB3", 4));
        if (c.captions) {
            EXPECT_EQ(Line21Captions, recorder_->ConnectedType(1).Get().majortype);
        }

        // Samples in the order written, byte for byte, with the writer's times from the earliest.
        int64_t earliest = INT64_MAX;
        for (const WrittenObject& object : written.objects)
            if (object.kind != Kind::Captions)
                earliest = std::min(earliest, object.time);
        for (Kind kind : {Kind::Audio, Kind::Video}) {
            const int pin = kind == Kind::Audio ? audioPin : videoPin;
            const std::vector<RecordedSample> samples = recorder_->Samples(pin);
            std::vector<const WrittenObject*> expected;
            std::string all;
            for (const WrittenObject& object : written.objects)
                if (object.kind == kind)
                    expected.push_back(&object);
            ASSERT_EQ(expected.size(), samples.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                SCOPED_TRACE(i);
                const RecordedSample& sample = samples[i];
                ASSERT_TRUE(sample.bytes == expected[i]->bytes);
                all += sample.bytes;
                ASSERT_TRUE(sample.hasTime);
                EXPECT_EQ(expected[i]->time - earliest, sample.start);
                EXPECT_GT(sample.stop, sample.start);
                EXPECT_EQ(i == 0, sample.discontinuity);
                EXPECT_EQ(kind == Kind::Audio || PictureType(sample.bytes) == 1, sample.syncPoint);
            }
            EXPECT_TRUE(all == testing_support::ReadFileBytes(kind == Kind::Audio ? options.audioPath : options.videoPath));
            EXPECT_TRUE(recorder_->Ended(pin));
        }
        pins.clear();
        Release();
    }
}

TEST_F(RecordingSourceTest, KeepsTheSourceContract)
{
    RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    WrittenRecording written;
    std::string error;
    const std::string path = directory_ + "contract.dvr-ms";
    ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
    ComPtr<IUnknown> created;
    ASSERT_EQ(S_OK, CRecordingSource::Create(&created));
    ASSERT_EQ(S_OK, created.As(&source_));
    created.Reset();
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, source_.As(&flags));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());
    flags.Reset();
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source_.As(&file));
    LPOLESTR name = nullptr;
    ASSERT_EQ(S_OK, file->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);
    ASSERT_EQ(S_OK, file->Load(Wide(path).c_str(), nullptr));
    EXPECT_EQ(E_UNEXPECTED, file->Load(Wide(path).c_str(), nullptr)); // one recording per filter
    ASSERT_EQ(S_OK, file->GetCurFile(&name, nullptr));
    EXPECT_EQ(Wide(path), std::wstring(name));
    ::CoTaskMemFree(name);
    file.Reset();
    // Each pin tells the graph the recording's length.
    for (ComPtr<IPin>& pin : SourcePins()) {
        ComPtr<IMediaSeeking> seeking;
        ASSERT_EQ(S_OK, pin.As(&seeking));
        LONGLONG duration = 0;
        ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
        EXPECT_NEAR(3 * 10000000ll, duration, 500000);
    }
}

TEST_F(RecordingSourceTest, LoadFailsClearlyAndLeavesNothingOpen)
{
    struct Case {
        const char* name;
        std::function<void(RecordingOptions&)> set;
        std::function<void(std::string&)> mutate;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no such file", nullptr, nullptr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"not ASF", nullptr, [](std::string& f) { f.assign(5000, 'x'); }, HALVERN_E_NOT_RECORDING},
        {"header cut short", [](RecordingOptions& o) { o.cutAt = 400; }, nullptr, HALVERN_E_BAD_HEADER},
        {"protected", [](RecordingOptions& o) { o.protection = Protection::EncryptedStream; }, nullptr,
         HALVERN_E_PROTECTED},
        {"neither video nor audio", [](RecordingOptions& o) { o.cutAt = 9000; }, nullptr, HALVERN_E_NO_STREAMS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = directory_ + "bad.dvr-ms";
        ::DeleteFileA(path.c_str());
        if (c.set || c.mutate) {
            RecordingOptions options;
            options.videoPath = VectorPath("es\\video.m2v");
            options.audioPath = VectorPath("es\\audio.mp2");
            if (c.set)
                c.set(options);
            WrittenRecording written;
            std::string error;
            ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
            if (c.mutate) {
                std::string bytes = testing_support::ReadFileBytes(path);
                c.mutate(bytes);
                testing_support::WriteFileBytes(path, bytes);
            }
        }
        EXPECT_EQ(c.expected, MakeSource(path));
        EXPECT_TRUE(SourcePins().empty());
        // Nothing half-open: the file can go at once.
        if (c.set || c.mutate) {
            EXPECT_TRUE(::DeleteFileA(path.c_str()));
        }
        Release();
    }
}

TEST_F(RecordingSourceTest, DamagedRecordingAbortsAndNeverEndsItsStreams)
{
    RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    options.garbageEvery = 2;
    WrittenRecording written;
    std::string error;
    const std::string path = directory_ + "damaged.dvr-ms";
    ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
    ASSERT_EQ(S_OK, MakeSource(path));
    BuildAndRun();
    const auto events = EventsUntil(EC_ERRORABORT, 20000);
    const auto abort = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.first == EC_ERRORABORT; });
    ASSERT_NE(events.end(), abort);
    EXPECT_EQ(HALVERN_E_DAMAGED, static_cast<HRESULT>(abort->second));
    EXPECT_TRUE(std::none_of(events.begin(), events.end(), [](const auto& e) { return e.first == EC_COMPLETE; }));
    EXPECT_FALSE(recorder_->Ended(0));
    EXPECT_FALSE(recorder_->Ended(1));
}

} // namespace
