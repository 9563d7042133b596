// The multiplexer and the file writer in Wine's graph, fed ffmpeg-made elementary streams and read
// back by ffmpeg and the tests' program stream checker: a stream alone, inputs that misbehave
// (broadcast rates: the multiplexer's and the end-to-end tests), and how the writer writes and fails.

#include "tests/filters/GraphFixture.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builtin/FileWriter.h"
#include "builtin/MuxMediaTypes.h"
#include "builtin/ProgramStreamMux.h"
#include "filters/Adopt.h"
#include "tests/filters/SourceStreamPin.h"
#include "tests/media/StreamProbe.h"
#include "tests/standins/Recordings.h"

using Microsoft::WRL::ComPtr;
using testing_support::VectorPath;

namespace {

const CLSID ElementaryStreamSourceClsid = {0x5a0c7f32, 0x1d44, 0x4f0b, {0x8e, 0x61, 0x93, 0x2b, 0x70, 0x1c, 0x4e, 0x01}};
const std::string Garbage = "garbage-garbage-\x01\x02\x03\xFF\x04-garbage-garbage";

// Plays an elementary stream file once, an access unit per sample with its time, typed by subtype alone.
class CElementaryStreamPin : public CSourceStreamPin {
public:
    CElementaryStreamPin(CBaseFilter* source, bool video, const std::string& path)
        : CSourceStreamPin(source, video ? L"Video" : L"Audio"), bytes(testing_support::ReadFileBytes(path)),
          type_(video ? MEDIATYPE_Video : MEDIATYPE_Audio,
                video ? MuxSubtypeMpeg2Video : bytes.compare(0, 2, "\x0B\x77") == 0 ? MuxSubtypeDolbyAc3 : MuxSubtypeMpeg2Audio)
    {
        // Access units with their display times, as the recording writer makes frames of them.
        EXPECT_TRUE(test_recordings::SplitFrames(path, frames, &times)) << path;
        endAfter = frames.size();
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == type_.Get().majortype && type.subtype == type_.Get().subtype ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        type = type_;
        return index == 0 ? S_OK : VFW_S_NO_MORE_ITEMS;
    }
    // The first units, as the file holds them.
    std::string Prefix(size_t count) const
    {
        std::string prefix;
        for (size_t i = 0; i < count; ++i)
            prefix += frames[i];
        return prefix;
    }

    const std::string bytes;
    std::vector<std::string> frames; // as the file holds them, whether or not all are delivered
    std::vector<int64_t> times;
    bool silent = false; // nothing is delivered until the graph stops
    size_t endAfter;     // units delivered before the end of stream
    int garbageAt = -1; // a sample of garbage goes out before this unit
    std::atomic<bool> finished{false}; // the streaming thread delivered its end (or was stopped)

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties = {8, static_cast<long>(bytes.size()), 1, 0}; // room for any unit, or the garbage
    }
    void OnThreadEnd() override { finished = true; }
    HRESULT FillSample(IMediaSample* sample) override
    {
        if (silent) {
            WaitUnlessStopping(INFINITE);
            return S_FALSE;
        }
        BYTE* data = nullptr;
        if (next_ >= endAfter || FAILED(sample->GetPointer(&data)))
            return S_FALSE;
        if (static_cast<int>(next_) == garbageAt) {
            garbageAt = -1;
            std::memcpy(data, Garbage.data(), Garbage.size());
            sample->SetActualDataLength(static_cast<long>(Garbage.size()));
            return sample->SetTime(nullptr, nullptr);
        }
        std::memcpy(data, frames[next_].data(), frames[next_].size());
        sample->SetActualDataLength(static_cast<long>(frames[next_].size()));
        REFERENCE_TIME start = times[next_++];
        return sample->SetTime(&start, nullptr);
    }

private:
    const CMediaType type_;
    size_t next_ = 0;
};

// Pin "Video" and a pin "Audio" for each audio vector named (none for a null name), with faults set by
// the tests.
class CElementaryStreamSource : public CBaseFilter {
public:
    CElementaryStreamSource(const char* videoVector, std::initializer_list<const char*> audioVectors)
        : CBaseFilter(ElementaryStreamSourceClsid)
    {
        if (videoVector)
            pins_.emplace_back(video = new CElementaryStreamPin(this, true, VectorPath(videoVector)));
        for (const char* audioVector : audioVectors) {
            if (!audioVector)
                continue;
            pins_.emplace_back(new CElementaryStreamPin(this, false, VectorPath(audioVector)));
            audios.push_back(static_cast<CElementaryStreamPin*>(pins_.back().get()));
        }
    }
    int PinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* PinAt(int index) override { return pins_[static_cast<size_t>(index)].get(); }

    CElementaryStreamPin* video = nullptr;
    std::vector<CElementaryStreamPin*> audios;

private:
    std::vector<std::unique_ptr<CElementaryStreamPin>> pins_;
};

// Whether anyone holds the file open: nothing can open it without sharing while the writer does.
bool FileIsClosed(const std::string& path)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.IsValid();
}

class ProgramStreamMuxTest : public GraphTest {
protected:
    void SetUp() override
    {
        GraphTest::SetUp();
        output_ = directory_ + "out.mpg";
    }

    void TearDown() override
    {
        ReleaseGraph();
        EXPECT_EQ(0u, mux_.Reset());
        EXPECT_EQ(0u, writer_.Reset());
        EXPECT_EQ(0u, source_.Reset());
        GraphTest::TearDown();
    }

    // Source, multiplexer and writer in a graph, joined directly.
    HRESULT Build(const char* videoVector, std::initializer_list<const char*> audioVectors, const std::string& output,
                  void (*fault)(CElementaryStreamSource&) = nullptr)
    {
        TearDown();
        source_ = Adopt(new CElementaryStreamSource(videoVector, audioVectors));
        if (fault)
            fault(*source_.Get());
        ComPtr<IFileSinkFilter> sink;
        ComPtr<IPin> pin;
        HRESULT hr = MakeFilter(CProgramStreamMux::Create, mux_);
        if (SUCCEEDED(hr))
            hr = MakeFilter(CFileWriter::Create, writer_);
        if (SUCCEEDED(hr))
            hr = writer_.As(&sink);
        if (SUCCEEDED(hr))
            hr = sink->SetFileName(std::wstring(output.begin(), output.end()).c_str(), nullptr);
        if (SUCCEEDED(hr))
            hr = MakeGraph({source_.Get(), mux_.Get(), writer_.Get()});
        if (SUCCEEDED(hr) && source_->video)
            hr = Connect(source_->video, mux_.Get(), L"Video In");
        // Each audio pin to the free one the multiplexer offers.
        for (size_t i = 0; SUCCEEDED(hr) && i < source_->audios.size(); ++i)
            hr = Connect(source_->audios[i], mux_.Get(), i == 0 ? L"Audio In" : (L"Audio In " + std::to_wstring(i + 1)).c_str());
        if (SUCCEEDED(hr))
            hr = mux_->FindPin(L"Output", &pin);
        return SUCCEEDED(hr) ? Connect(pin.Get(), writer_.Get(), L"Input") : hr;
    }

    // The run's outcome: EC_COMPLETE or EC_ERRORABORT; 0 when neither came in time.
    long RunToEnd()
    {
        return SUCCEEDED(control_->Run()) && WaitForEvent({EC_COMPLETE, EC_ERRORABORT}) ? events.back().first : 0;
    }

    // One elementary stream of the output, as ffmpeg takes it out again, with no complaint.
    std::string Extract(const char* map, const char* format)
    {
        const std::string command = "/usr/bin/ffmpeg -v warning -i " + testing_support::UnixPath(output_) + " -map " + map +
                                    " -c copy -f " + format + " -";
        testing_support::ToolOutput output;
        EXPECT_TRUE(testing_support::RunLinuxTool(command, output) && output.err.empty()) << command << output.err;
        return output.out;
    }

    std::string output_;
    ComPtr<CElementaryStreamSource> source_;
    ComPtr<IBaseFilter> mux_;
    ComPtr<IBaseFilter> writer_;
};

// Types the multiplexer cannot carry are refused at connection, not turned into a broken output.
TEST_F(ProgramStreamMuxTest, TypesItCannotCarryAreRefused)
{
    ASSERT_EQ(S_OK, MakeFilter(CProgramStreamMux::Create, mux_));
    ComPtr<IPin> pin;
    for (const auto& refused : {std::make_pair(L"Video In", CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24)),
                                std::make_pair(L"Audio In", CMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM)),
                                std::make_pair(L"Output", CMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System))}) {
        ASSERT_EQ(S_OK, mux_->FindPin(refused.first, pin.ReleaseAndGetAddressOf()));
        EXPECT_EQ(S_FALSE, pin->QueryAccept(&refused.second.Get()));
    }
}

// Inputs that end early, never deliver or deliver garbage, and video alone (audio alone is the
// failed-write test's): no stall, and the others whole; each run into a larger file that it
// replaces, closed before the run completes.
TEST_F(ProgramStreamMuxTest, AFaultyInputSpoilsNoOtherStream)
{
    struct Case {
        const char* name;
        const char* audio;   // the vector of the one audio input, if any
        void (*fault)(CElementaryStreamSource&);
        long outcome;        // of the run: EC_COMPLETE, or 0 when it cannot complete
        size_t audioFrames;  // that reach the output intact; -1: not compared
    } cases[] = {
        {"video alone", nullptr, nullptr, EC_COMPLETE, static_cast<size_t>(-1)},
        // Stopped in mid-stream, too: every reference must go all the same.
        {"audio never delivers", "es\\audio.mp2", [](CElementaryStreamSource& s) { s.audios[0]->silent = true; }, 0, 0},
        {"audio ends early", "es\\audio.mp2", [](CElementaryStreamSource& s) { s.audios[0]->endAfter = 20; }, EC_COMPLETE, 20},
        {"garbage in the audio", "es\\audio.mp2", [](CElementaryStreamSource& s) { s.audios[0]->garbageAt = 30; }, EC_COMPLETE,
         static_cast<size_t>(-1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::WriteFileBytes(output_, std::string(8 << 20, 'x'));
        ASSERT_EQ(S_OK, Build("es\\video.m2v", {c.audio}, output_, c.fault));
        if (c.outcome) {
            EXPECT_EQ(c.outcome, RunToEnd());
            // Whoever waits for the completion reads or deletes the file next.
            EXPECT_TRUE(FileIsClosed(output_));
        } else {
            // A run that cannot complete: once the video has all gone in, it must all be out.
            ASSERT_EQ(S_OK, control_->Run());
            EXPECT_TRUE(testing_support::WaitUntil([&] { return source_->video->finished.load(); }, 60000));
            EXPECT_FALSE(WaitForEvent({EC_COMPLETE}, 100));
        }
        control_->Stop();
        EXPECT_TRUE(FileIsClosed(output_));
        EXPECT_LT(testing_support::ReadFileBytes(output_).size(), 8u << 20);
        EXPECT_TRUE(Extract("0:v", "mpeg2video") == source_->video->Prefix(source_->video->endAfter));
        if (c.audioFrames != static_cast<size_t>(-1)) {
            EXPECT_TRUE((c.audioFrames ? Extract("0:a", "mp2") : "") == source_->audios[0]->Prefix(c.audioFrames));
        }
        EXPECT_TRUE(IsSoundProgramStream(output_));
    }
}

// The pins a graph sees as audio inputs are connected: always one free "Audio In N" more; a
// disconnected last one takes the free one after it away again.
TEST_F(ProgramStreamMuxTest, AFreeAudioInputIsAlwaysOffered)
{
    ASSERT_EQ(S_OK, Build("es\\video-bframes.m2v", {"es\\audio-5.1.ac3", "es\\audio.mp2", "es\\audio.ac3", "es\\audio.mp2"},
                          output_));
    const auto pinNames = [&] {
        std::wstring names;
        ComPtr<IEnumPins> pins;
        ComPtr<IPin> pin;
        EXPECT_EQ(S_OK, mux_->EnumPins(&pins));
        while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            PIN_INFO info = {};
            EXPECT_EQ(S_OK, pin->QueryPinInfo(&info));
            info.pFilter->Release();
            names += std::wstring(names.empty() ? L"" : L",") + info.achName;
        }
        return names;
    };
    EXPECT_EQ(L"Video In,Audio In,Audio In 2,Audio In 3,Audio In 4,Audio In 5,Captions In,Output", pinNames());
    ComPtr<IPin> pin;
    ComPtr<IEnumPins> stale;
    ASSERT_EQ(S_OK, mux_->EnumPins(&stale));
    ASSERT_EQ(S_OK, mux_->FindPin(L"Audio In 4", &pin));
    EXPECT_TRUE(SUCCEEDED(graph_->Disconnect(source_->audios[3])));
    EXPECT_TRUE(SUCCEEDED(graph_->Disconnect(pin.Get())));
    EXPECT_EQ(L"Video In,Audio In,Audio In 2,Audio In 3,Audio In 4,Captions In,Output", pinNames());
    ComPtr<IPin> next;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, stale->Next(1, &next, nullptr));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->audios[3], pin.Get(), nullptr));
    EXPECT_EQ(L"Video In,Audio In,Audio In 2,Audio In 3,Audio In 4,Audio In 5,Captions In,Output", pinNames());
}

// A second language and stereo beside 5.1: every audio stream comes out byte for byte, in the order
// of the inputs (the numbers each kind's streams get: the multiplexer's test).
TEST_F(ProgramStreamMuxTest, EveryAudioStreamComesOutInItsInputsOrder)
{
    ASSERT_EQ(S_OK, Build("es\\video-bframes.m2v", {"es\\audio-5.1.ac3", "es\\audio.mp2", "es\\audio.ac3", "es\\audio.mp2"},
                          output_, [](CElementaryStreamSource& s) { s.audios[3]->endAfter = 30; }));
    ASSERT_EQ(EC_COMPLETE, RunToEnd());
    EXPECT_TRUE(Extract("0:v", "mpeg2video") == source_->video->bytes);
    const char* formats[] = {"ac3", "mp2", "ac3", "mp2"};
    for (size_t a = 0; a < source_->audios.size(); ++a) {
        SCOPED_TRACE(a);
        const CElementaryStreamPin& audio = *source_->audios[a];
        EXPECT_TRUE(Extract(("0:a:" + std::to_string(a)).c_str(), formats[a]) == audio.Prefix(audio.endAfter));
    }
    EXPECT_TRUE(IsSoundProgramStream(output_));
}

// Wine's drive Z: reaches /dev/full, whose every write fails as a full disk does: at a write, or
// without the video at the end of stream (less than the writer's buffer). One abort, and no completion.
TEST_F(ProgramStreamMuxTest, AFailedWriteAbortsTheRunOnce)
{
    for (const char* video : {"es\\video.m2v", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(video ? "failing at a write" : "failing at the end of stream");
        ASSERT_EQ(S_OK, Build(video, {"es\\audio.mp2"}, "Z:\\dev\\full"));
        EXPECT_EQ(EC_ERRORABORT, RunToEnd());
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), AbortError());
        EXPECT_FALSE(WaitForEvent({EC_COMPLETE, EC_ERRORABORT}, 500)) << "one abort, and no completion";
    }
}

// Owns a piece of data for the writer, counting who holds it.
class CPieceOwner : public IUnknown {
public:
    explicit CPieceOwner(std::string bytes) : bytes(std::move(bytes)) {}
    STDMETHODIMP QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    std::string bytes;
    std::atomic<ULONG> references{1};
};

// Small pieces are gathered into large writes, large ones with an owner go as they are.
class WriteBehindTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string path = testing_support::MakeScratchDirectory("halvern-writer") + "out.bin";
        CWriteBehindFile output;
        ASSERT_EQ(S_OK, output.Open(std::wstring(path.begin(), path.end())));
        const auto append = [&](DWORD length, bool owned) {
            std::string piece(length, '\0');
            for (size_t i = 0; i < length; ++i)
                piece[i] = static_cast<char>(((written_.size() + i) * 2654435761u) >> 13); // no period a buffer could hide
            written_ += piece;
            owners_.push_back(std::make_unique<CPieceOwner>(std::move(piece)));
            const std::string& bytes = owners_.back()->bytes;
            return output.Append(reinterpret_cast<const BYTE*>(bytes.data()), length, owned ? owners_.back().get() : nullptr);
        };
        for (DWORD i = 0; i < 6000; ++i)
            ASSERT_EQ(S_OK, append(1 + (i * 37) % 700, i % 3 == 0));
        for (DWORD size : {3u << 20 | 5, 100u, 1u << 20, (1u << 20) - 1, 2u << 20 | 7, 1u, 1u << 20})
            for (bool owned : {true, false})
                ASSERT_EQ(S_OK, append(size, owned));
        ASSERT_EQ(S_OK, output.Finish());
        file_ = testing_support::ReadFileBytes(path);
    }

    std::string written_, file_;
    std::vector<std::unique_ptr<CPieceOwner>> owners_;
};

TEST_F(WriteBehindTest, KeepsEveryByteInOrder)
{
    EXPECT_TRUE(file_ == written_);
}

TEST_F(WriteBehindTest, LetsEveryOwnerGoOnceItsPieceIsOut)
{
    for (const auto& owner : owners_)
        EXPECT_EQ(1u, owner->references.load());
}

} // namespace
