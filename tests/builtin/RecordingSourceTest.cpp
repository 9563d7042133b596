// The recording source in Wine's graph, into a renderer that keeps every sample.

#include "tests/filters/GraphFixture.h"

#include <dvdmedia.h>
#include <mmreg.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "base/MediaErrors.h"
#include "builtin/MuxMediaTypes.h"
#include "builtin/RecordingSource.h"
#include "filters/Adopt.h"
#include "filters/BaseRenderer.h"
#include "filters/InputPin.h"
#include "tests/media/RecordingWriter.h"

using Microsoft::WRL::ComPtr;
using namespace test_recordings;
using testing_support::ReadFileBytes;
using testing_support::VectorPath;

namespace {

const CLSID SampleRecorderClsid = {0x5d2a8f31, 0x7c04, 0x4b6e, {0x91, 0x3a, 0x0e, 0x52, 0xc4, 0x7d, 0x18, 0x6b}};

struct RecordedSample {
    std::string bytes;
    REFERENCE_TIME start, stop;
    bool hasTime, syncPoint, discontinuity;
};

// A renderer with any number of inputs that takes every type and keeps every sample.
class CSampleRecorder : public CBaseRenderer {
public:
    struct Pin : public CBaseInputPin {
        explicit Pin(CSampleRecorder* recorder) : CBaseInputPin(recorder, L"In") {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
        HRESULT OnReceive(IMediaSample* sample) override
        {
            // The sample before is ours alone now: an upstream holding it keeps a buffer from its pool.
            if (previous) {
                previous->AddRef();
                heldByUpstream += previous->Release() > 1 ? 1 : 0;
            }
            previous = sample;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            RecordedSample record{std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(sample->GetActualDataLength())),
                                  0, 0, false, sample->IsSyncPoint() == S_OK, sample->IsDiscontinuity() == S_OK};
            record.hasTime = SUCCEEDED(sample->GetTime(&record.start, &record.stop));
            samples.push_back(std::move(record));
            return S_OK;
        }
        HRESULT OnEndOfStream() override
        {
            previous.Reset();
            ended = true;
            static_cast<CSampleRecorder*>(filter_)->InputEnded();
            return S_OK;
        }
        bool ReceiveMayBlock() const override { return false; }

        // Written on the streaming thread, read once the graph completed or stopped.
        std::vector<RecordedSample> samples;
        ComPtr<IMediaSample> previous;
        size_t heldByUpstream = 0;
        bool ended = false;
    };

    explicit CSampleRecorder(int pins) : CBaseRenderer(SampleRecorderClsid)
    {
        for (int i = 0; i < pins; ++i)
            pins_.push_back(std::make_unique<Pin>(this));
        SetSeekingPin(pins_.front().get());
    }
    int PinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* PinAt(int index) override { return pins_[static_cast<size_t>(index)].get(); }
    Pin& In(int index) { return *pins_[static_cast<size_t>(index)]; }

private:
    std::vector<std::unique_ptr<Pin>> pins_;
};

class RecordingSourceTest : public GraphTest {
protected:
    void TearDown() override
    {
        ReleaseGraph();
        EXPECT_EQ(0u, source_.Reset());
        EXPECT_EQ(0u, recorder_.Reset());
        GraphTest::TearDown();
    }

    // A writer-made recording of the mp2 vectors, changed as `set` says.
    std::string Write(const std::function<void(RecordingOptions&)>& set)
    {
        const std::string path = directory_ + "show.dvr-ms";
        RecordingOptions options;
        options.videoPath = VectorPath("es\\video.m2v");
        options.audioPath = VectorPath("es\\audio.mp2");
        set(options);
        std::string error;
        EXPECT_TRUE(WriteRecording(path, options, written_, error)) << error;
        return path;
    }

    HRESULT MakeSource(const std::string& path)
    {
        TearDown();
        ComPtr<IFileSourceFilter> file;
        HRESULT hr = MakeFilter(CRecordingSource::Create, source_);
        if (SUCCEEDED(hr))
            hr = source_.As(&file);
        return FAILED(hr) ? hr : file->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr);
    }

    CRecordingSource& Source() { return *static_cast<CRecordingSource*>(source_.Get()); }

    // The source and a recorder with a pin for each of its pins, in the graph, running.
    // Call through ASSERT_NO_FATAL_FAILURE: a graph that did not build ends the test here.
    void BuildAndRun()
    {
        recorder_ = Adopt(new CSampleRecorder(Source().PinCount()));
        ASSERT_EQ(S_OK, MakeGraph({source_.Get(), recorder_.Get()}));
        for (int i = 0; i < Source().PinCount(); ++i)
            ASSERT_EQ(S_OK, graph_->ConnectDirect(Source().PinAt(i), &recorder_->In(i), nullptr));
        ASSERT_EQ(S_OK, control_->Run());
    }

    WrittenRecording written_;
    ComPtr<IBaseFilter> source_;
    ComPtr<CSampleRecorder> recorder_;
};

TEST_F(RecordingSourceTest, DeliversEveryFrameWithTheWritersTimes)
{
    // B-frames (times out of decode order), AC-3 and captions; plain MPEG audio is the end-to-end test's.
    ASSERT_EQ(S_OK, MakeSource(Write([](RecordingOptions& o) {
        o.videoPath = VectorPath("es\\video-bframes.m2v");
        o.audioPath = VectorPath("es\\audio.ac3");
        o.captions = true;
        o.firstTime = 7200ll * 10000000; // two hours into the broadcast clock
        o.audioDelay = -2000000;
    })));
    // One recording per filter, and it says it is a source.
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, source_.As(&flags));
    EXPECT_EQ(E_UNEXPECTED, Source().Load(L"C:\\other.dvr-ms", nullptr));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());
    ASSERT_NO_FATAL_FAILURE(BuildAndRun());
    ASSERT_TRUE(WaitForEvent({EC_COMPLETE, EC_ERRORABORT}));
    EXPECT_EQ(S_OK, AbortError());

    // Audio first, captions next, video last.
    ASSERT_EQ(3, recorder_->PinCount());
    const int audioPin = 0, videoPin = 2;
    const AM_MEDIA_TYPE& audioType = recorder_->In(audioPin).ConnectedType().Get();
    EXPECT_TRUE(audioType.majortype == MEDIATYPE_Audio && audioType.subtype == MEDIASUBTYPE_DOLBY_AC3);
    EXPECT_EQ(48000u, reinterpret_cast<const WAVEFORMATEX*>(audioType.pbFormat)->nSamplesPerSec);
    const AM_MEDIA_TYPE& videoType = recorder_->In(videoPin).ConnectedType().Get();
    EXPECT_TRUE(videoType.majortype == MEDIATYPE_Video && videoType.subtype == MEDIASUBTYPE_MPEG2_VIDEO);
    ASSERT_EQ(FORMAT_MPEG2Video, videoType.formattype);
    const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(videoType.pbFormat);
    EXPECT_EQ(720, info->hdr.bmiHeader.biWidth);
    EXPECT_EQ(576, info->hdr.bmiHeader.biHeight);
    EXPECT_EQ(400000, info->hdr.AvgTimePerFrame);
    EXPECT_EQ(0, std::memcmp(info->dwSequenceHeader, "\0\0\1\xB3", 4));
    EXPECT_TRUE(recorder_->In(1).ConnectedType().Get().majortype == MEDIATYPE_AUXLine21Data);

    // Samples in the order written, byte for byte, with the writer's times from the earliest.
    int64_t earliest = INT64_MAX;
    for (const WrittenObject& object : written_.objects)
        earliest = object.kind == Kind::Captions ? earliest : std::min(earliest, object.time);
    for (Kind kind : {Kind::Audio, Kind::Video}) {
        const CSampleRecorder::Pin& pin = recorder_->In(kind == Kind::Audio ? audioPin : videoPin);
        size_t i = 0;
        for (const WrittenObject& object : written_.objects) {
            if (object.kind != kind)
                continue;
            SCOPED_TRACE(i);
            ASSERT_LT(i, pin.samples.size());
            const RecordedSample& sample = pin.samples[i];
            ASSERT_TRUE(sample.bytes == object.bytes);
            ASSERT_TRUE(sample.hasTime);
            EXPECT_EQ(object.time - earliest, sample.start);
            EXPECT_GT(sample.stop, sample.start);
            EXPECT_EQ(i++ == 0, sample.discontinuity);
            EXPECT_EQ(kind == Kind::Audio || object.frameType == 1, sample.syncPoint);
        }
        EXPECT_EQ(i, pin.samples.size());
        EXPECT_EQ(0u, pin.heldByUpstream);
        EXPECT_TRUE(pin.ended);
    }
}

// WTV recordings of H.264 with AAC (raw, LOAS, and ADTS that ffmpeg labels raw) or E-AC-3, and a DVR-MS
// one of H.264 and ADTS AAC: each stream is offered as the media centre types it and delivered
// byte for byte as ffmpeg copies it out.
TEST_F(RecordingSourceTest, H264RecordingsDeliverEachStreamAsFfmpegCopiesIt)
{
    const struct {
        const char* name;
        GUID audioSubtype;
        WORD formatTag;
        unsigned width, height;
        REFERENCE_TIME framePeriod;
        DWORD profile; // profile_idc: x264 codes testsrc's RGB as 4:4:4 (High 4:4:4 Predictive)
        const char* dvrmsAudio = nullptr; // DVR-MS of the WTV's video and this sound, else the WTV
    } cases[] = {
        {"h264-aac", MuxSubtypeRawAac, 0x00FF, 720, 576, 400000, 244},
        {"h264-adts", MuxSubtypeAdtsAac, 0x1600, 720, 576, 400000, 244},
        {"h264-latm", MuxSubtypeLoas, 0x1602, 720, 576, 400000, 244},
        {"h264i-eac3", MuxSubtypeDolbyDigitalPlus, WAVE_FORMAT_EXTENSIBLE, 1920, 1080, 333666, 77},
        {"h264i-eac3", MuxSubtypeAdtsAac, 0x1600, 1920, 1080, 333666, 77, "wtv\\audio.adts"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.dvrmsAudio ? " in DVR-MS" : ""));
        const std::string base = std::string("wtv\\") + c.name;
        const std::string audioBytes = ReadFileBytes(VectorPath(c.dvrmsAudio ? c.dvrmsAudio : base + ".audio"));
        if (c.dvrmsAudio) {
            ASSERT_EQ(S_OK, MakeSource(Write([&](RecordingOptions& o) {
                o.videoPath = VectorPath(base + ".h264");
                o.audioPath = VectorPath(c.dvrmsAudio);
            })));
        } else {
            ASSERT_EQ(S_OK, MakeSource(VectorPath(base + ".wtv")));
        }
        ASSERT_EQ(2, Source().PinCount());
        ASSERT_NO_FATAL_FAILURE(BuildAndRun());
        ASSERT_TRUE(WaitForEvent({EC_COMPLETE, EC_ERRORABORT}));
        EXPECT_EQ(S_OK, AbortError());

        const AM_MEDIA_TYPE& audioType = recorder_->In(0).ConnectedType().Get();
        EXPECT_TRUE(audioType.majortype == MEDIATYPE_Audio && audioType.subtype == c.audioSubtype);
        ASSERT_EQ(FORMAT_WaveFormatEx, audioType.formattype);
        const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(audioType.pbFormat);
        EXPECT_EQ(c.formatTag, wave->wFormatTag);
        EXPECT_EQ(48000u, wave->nSamplesPerSec);
        if (c.formatTag == 0x00FF) {
            // The AudioSpecificConfig: AAC LC (object type 2) at 48 kHz (index 3), stereo.
            ASSERT_GE(wave->cbSize, 2);
            const auto* config = reinterpret_cast<const uint8_t*>(wave + 1);
            EXPECT_EQ(0x1190, config[0] << 8 | config[1]);
        }
        const AM_MEDIA_TYPE& videoType = recorder_->In(1).ConnectedType().Get();
        EXPECT_TRUE(videoType.majortype == MEDIATYPE_Video && videoType.subtype == MuxSubtypeH264);
        ASSERT_EQ(FORMAT_MPEG2Video, videoType.formattype);
        const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(videoType.pbFormat);
        EXPECT_EQ(static_cast<LONG>(c.width), info->hdr.bmiHeader.biWidth);
        EXPECT_EQ(static_cast<LONG>(c.height), info->hdr.bmiHeader.biHeight);
        EXPECT_EQ(c.framePeriod, info->hdr.AvgTimePerFrame);
        EXPECT_EQ(c.profile, info->dwProfile);
        // The parameter sets with start codes: SPS then PPS.
        ASSERT_GT(info->cbSequenceHeader, 10u);
        const auto* header = reinterpret_cast<const uint8_t*>(info->dwSequenceHeader);
        EXPECT_EQ(0, std::memcmp(header, "\0\0\0\1\x67", 5));
        CMediaType second;
        ASSERT_EQ(S_OK, static_cast<CBasePin*>(Source().PinAt(1))->GetMediaType(1, second));
        EXPECT_TRUE(second.Get().subtype == MuxSubtypeH264 && second.Get().formattype == FORMAT_VideoInfo2);

        // Byte for byte, every sample timed, the pictures that start decoding marked.
        for (int pin = 0; pin < 2; ++pin) {
            std::string bytes;
            size_t syncPoints = 0;
            for (const RecordedSample& sample : recorder_->In(pin).samples) {
                bytes += sample.bytes;
                EXPECT_TRUE(sample.hasTime);
                syncPoints += sample.syncPoint ? 1 : 0;
            }
            EXPECT_TRUE(bytes == (pin == 0 ? audioBytes : ReadFileBytes(VectorPath(base + ".h264")))) << pin;
            // Video: the first picture, an IDR picture, and some later ones, never the B pictures between.
            if (pin == 1) {
                EXPECT_TRUE(recorder_->In(1).samples.front().syncPoint);
                EXPECT_GT(syncPoints, 1u);
                EXPECT_LT(syncPoints * 4, recorder_->In(1).samples.size());
            }
        }
    }
}

// Pins are named as the media centre's source names them, audio first, captions next, video last,
// so the names move with the layout; FindPin also knows each by what it carries.
class RecordingSourcePins : public RecordingSourceTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(RecordingSourceTest::SetUp());
        // The second audio stream's number comes after the video's.
        ASSERT_EQ(S_OK, MakeSource(Write([](RecordingOptions& o) {
            o.audioStreams = 2;
            o.captions = true;
        })));
        ASSERT_EQ(4, Source().PinCount());
    }

    // The index of the pin FindPin gives; -1 when it finds none, -2 for anything else.
    int Found(const std::wstring& id)
    {
        ComPtr<IPin> pin;
        const HRESULT hr = Source().FindPin(id.c_str(), &pin);
        for (int i = 0; SUCCEEDED(hr) && i < 4; ++i)
            if (pin.Get() == Source().PinAt(i))
                return i;
        return hr == VFW_E_NOT_FOUND && !pin ? -1 : -2;
    }
};

TEST_F(RecordingSourcePins, AreNamedInTheMediaCentresOrderAndFoundByWhatTheyCarry)
{
    for (int i = 0; i < 4; ++i) {
        PIN_INFO info = {};
        ASSERT_EQ(S_OK, Source().PinAt(i)->QueryPinInfo(&info));
        info.pFilter->Release();
        EXPECT_EQ(L"DVR Out - " + std::to_wstring(i + 1), std::wstring(info.achName));
        EXPECT_EQ(i, Found(info.achName));
    }
    EXPECT_EQ(0, Found(L"Audio 1"));
    EXPECT_EQ(1, Found(L"Audio 2"));
    EXPECT_EQ(-1, Found(L"Audio 3"));
    EXPECT_EQ(2, Found(L"Captions"));
    EXPECT_EQ(3, Found(L"Video"));
    EXPECT_EQ(-1, Found(L"video")) << "identifiers are exact, as pin names are";
}

// The reader's failures pass through as they are, with nothing half-open: the file can go at once.
TEST_F(RecordingSourceTest, AFailedLoadGivesTheReadersError)
{
    const std::pair<void (*)(RecordingOptions&), HRESULT> failures[] = {
        {[](RecordingOptions& o) { o.protection = Protection::EncryptedStream; }, HALVERN_E_PROTECTED},
        {[](RecordingOptions& o) { o.cutAt = 9000; }, HALVERN_E_NO_STREAMS}, // neither video nor audio
    };
    for (const auto& failure : failures) {
        const std::string path = Write(failure.first);
        EXPECT_EQ(failure.second, MakeSource(path));
        EXPECT_EQ(0, Source().PinCount());
        EXPECT_TRUE(::DeleteFileA(path.c_str()));
    }
}

// A damaged recording must not look finished: the graph hears why, and no stream ends.
TEST_F(RecordingSourceTest, DamageAbortsTheGraphWithoutEndingAStream)
{
    ASSERT_EQ(S_OK, MakeSource(Write([](RecordingOptions& o) { o.garbageEvery = 2; })));
    ASSERT_NO_FATAL_FAILURE(BuildAndRun());
    ASSERT_TRUE(WaitForEvent({EC_ERRORABORT}, 20000));
    EXPECT_EQ(HALVERN_E_DAMAGED, AbortError());
    EXPECT_FALSE(WaitForEvent({EC_COMPLETE}, 500));
    EXPECT_FALSE(recorder_->In(0).ended);
    EXPECT_FALSE(recorder_->In(1).ended);
}

// In bytes of the file: how much of the recording it has read and delivered.
TEST_F(RecordingSourceTest, PositionsAreBytesDelivered)
{
    ASSERT_EQ(S_OK, MakeSource(Write([](RecordingOptions&) {})));
    const LONGLONG fileSize = static_cast<LONGLONG>(written_.fileSize);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, source_.As(&seeking));
    GUID format = GUID_NULL;
    EXPECT_EQ(S_OK, seeking->GetTimeFormat(&format));
    EXPECT_EQ(TIME_FORMAT_BYTE, format);
    EXPECT_EQ(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(E_INVALIDARG, seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(E_POINTER, seeking->GetCurrentPosition(nullptr));
    LONGLONG current = -1, stop = -1;
    ASSERT_EQ(S_OK, seeking->GetPositions(&current, &stop));
    EXPECT_EQ(0, current) << "nothing delivered before it runs";
    EXPECT_EQ(fileSize, stop);

    ASSERT_NO_FATAL_FAILURE(BuildAndRun());
    ASSERT_TRUE(WaitForEvent({EC_COMPLETE, EC_ERRORABORT}));
    EXPECT_EQ(S_OK, AbortError());
    ASSERT_EQ(S_OK, seeking->GetPositions(&current, &stop));
    EXPECT_EQ(fileSize, current);
    EXPECT_EQ(fileSize, stop);
}

} // namespace
