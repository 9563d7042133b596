// Random damage to a writer-made DVR-MS recording and to an ffmpeg WTV file: the readers must neither
// crash nor hang nor grow without bound; nor may the elementary stream scanner, given damaged H.264
// (parameter sets and SEI with absurd values), AAC or E-AC-3, nor the caption inserter, given
// damaged H.264 or MPEG-2 video. HALVERN_FUZZ_SECONDS (3 by default) and HALVERN_FUZZ_SEED make
// longer or repeatable runs.

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/MediaErrors.h"
#include "media/OpenRecording.h"
#include "media/asf/AsfReader.h"
#include "media/captions/CaptionInserter.h"
#include "tests/media/CollectingVideo.h"
#include "media/mpeg/ElementaryStream.h"
#include "tests/media/RecordingWriter.h"
#include "tests/media/WtvEdits.h"
#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace {

// A fixed pseudo-random sequence from the seed.
struct Lcg {
    uint32_t state;
    uint32_t Next(uint32_t range)
    {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % range;
    }
};
using testing_support::EnvironmentNumber;
using testing_support::VectorPath;

size_t PeakMemory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)) ? counters.PeakPagefileUsage : 0;
}

// Whatever the file claims, the reader holds a read block and one object per stream at most.
constexpr size_t MemoryAllowance = 256u << 20;

// A few damaging edits, most between `from` and `to`: extreme values, noise, a cut.
void Mutate(std::string& bytes, Lcg& random, size_t from, size_t to)
{
    static const uint32_t extremes[] = {0, 1, 0x7F, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    const unsigned edits = 1 + random.Next(8);
    for (unsigned i = 0; i < edits && !bytes.empty(); ++i) {
        // After a cut the bounded part may be gone.
        const bool anywhere = random.Next(4) == 0 || std::min(to, bytes.size()) <= from;
        const size_t at = anywhere ? random.Next(static_cast<uint32_t>(bytes.size()))
                                   : from + random.Next(static_cast<uint32_t>(std::min(to, bytes.size()) - from));
        const size_t room = bytes.size() - at;
        switch (random.Next(3)) {
        case 0: {
            const uint32_t value = extremes[random.Next(8)];
            for (size_t b = 0; b < 4 && b < room; ++b)
                bytes[at + b] = static_cast<char>(value >> (8 * b));
            break;
        }
        case 1:
            // Mostly a byte; now and then a long run, enough to make a recording count as damaged.
            for (size_t b = 0, run = random.Next(8) == 0 ? random.Next(512 * 1024) : 1; b < run && b < room; ++b)
                bytes[at + b] = static_cast<char>(random.Next(256));
            break;
        default:
            if (random.Next(4) == 0)
                bytes.resize(at);
            break;
        }
    }
}

// Reads every byte of every object, so an object that points outside its buffer shows.
class CTouchingSink : public asf::IObjectSink {
public:
    bool OnObject(const asf::MediaObject& object) override
    {
        EXPECT_LE(object.size, asf::MaxObjectSize);
        EXPECT_TRUE(object.data != nullptr || object.size == 0);
        for (size_t i = 0; i < object.size; ++i)
            sum += object.data[i];
        return true;
    }
    unsigned sum = 0;
};

TEST(MediaFuzzTest, DamagedRecordingsNeverCrashHangOrGrow)
{
    const DWORD milliseconds = EnvironmentNumber("HALVERN_FUZZ_SECONDS", 3) * 1000;
    const uint32_t seed = EnvironmentNumber("HALVERN_FUZZ_SEED", ::GetTickCount());
    SCOPED_TRACE(testing::Message() << "HALVERN_FUZZ_SEED=" << seed);
    const std::string directory = testing_support::MakeScratchDirectory("media-fuzz");
    std::vector<std::pair<std::string, size_t>> sources; // and where the media starts
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video-bframes.m2v");
    options.audioPath = VectorPath("es\\audio.ac3");
    options.captions = true;
    options.packetSize = 3000;
    test_recordings::WrittenRecording written;
    std::string error;
    ASSERT_TRUE(test_recordings::WriteRecording(directory + "source.dvr-ms", options, written, error)) << error;
    sources.emplace_back(testing_support::ReadFileBytes(directory + "source.dvr-ms"),
                         static_cast<size_t>(written.dataOffset));
    // WTV as a recorder lays it out, the directory at the front.
    std::string wtv = testing_support::ReadFileBytes(VectorPath("wtv\\mpeg2-ac3.wtv"));
    ASSERT_TRUE(test_wtv::MoveDirectoryToFront(wtv, error)) << error;
    test_wtv::Layout layout;
    ASSERT_TRUE(test_wtv::ReadLayout(wtv, layout, error)) << error;
    sources.emplace_back(wtv, static_cast<size_t>(layout.timelineAt));
    const std::string path = directory + "fuzzed.dvr-ms";
    const std::wstring widePath(path.begin(), path.end());
    const size_t baseline = PeakMemory();
    Lcg random{seed};
    unsigned opened = 0;
    for (const DWORD started = ::GetTickCount(); ::GetTickCount() - started < milliseconds;) {
        const auto& source = sources[random.Next(static_cast<uint32_t>(sources.size()))];
        std::string bytes = source.first;
        // Half the runs damage the header (or the file system), the others the packets (or chunks).
        const bool header = random.Next(2) == 0;
        Mutate(bytes, random, header ? 0 : source.second, header ? source.second : bytes.size());
        testing_support::WriteFileBytes(path, bytes);
        std::unique_ptr<media::IRecordingReader> reader;
        const HRESULT open = media::OpenRecording(widePath.c_str(), reader);
        if (SUCCEEDED(open)) {
            ++opened;
            CTouchingSink sink;
            const HRESULT read = reader->Read(sink);
            // A protection chunk may turn up only after the part Open looked at.
            EXPECT_TRUE(read == S_OK || read == HALVERN_E_DAMAGED || read == HALVERN_E_PROTECTED) << std::hex << read;
        } else {
            EXPECT_TRUE(open == HALVERN_E_NOT_RECORDING || open == HALVERN_E_BAD_HEADER || open == HALVERN_E_PROTECTED ||
                        open == HALVERN_E_NO_STREAMS)
                << std::hex << open;
        }
        if (HasFailure())
            break;
    }
    EXPECT_LT(PeakMemory() - baseline, MemoryAllowance);
    EXPECT_GT(opened, 0u);
}

// Whatever the bytes claim, a stream whose ready bytes are taken as they come holds no more than
// its untimed backlog and a push, and its decode times rise.
TEST(MediaFuzzTest, DamagedElementaryStreamsNeverCrashOrGrow)
{
    const DWORD milliseconds = EnvironmentNumber("HALVERN_FUZZ_SECONDS", 3) * 1000 / 2;
    const uint32_t seed = EnvironmentNumber("HALVERN_FUZZ_SEED", ::GetTickCount());
    SCOPED_TRACE(testing::Message() << "HALVERN_FUZZ_SEED=" << seed);
    const struct {
        const char* vector;
        mpeg::StreamKind kind;
    } sources[] = {
        {"wtv\\h264i-eac3.h264", mpeg::StreamKind::H264Video}, {"wtv\\h264-aac.h264", mpeg::StreamKind::H264Video},
        {"wtv\\h264i-eac3.audio", mpeg::StreamKind::Eac3Audio}, {"wtv\\audio.adts", mpeg::StreamKind::AacAudio},
        {"wtv\\audio.latm", mpeg::StreamKind::AacAudio},
    };
    std::vector<std::string> bytes;
    for (const auto& source : sources)
        bytes.push_back(testing_support::ReadFileBytes(VectorPath(source.vector)));
    constexpr size_t MaxPiece = 64 * 1024;
    Lcg random{seed};
    unsigned runs = 0;
    for (const DWORD started = ::GetTickCount(); ::GetTickCount() - started < milliseconds && !HasFailure(); ++runs) {
        const size_t which = random.Next(static_cast<uint32_t>(std::size(sources)));
        std::string data = bytes[which];
        // Most damage where the parameter sets and the first frames lie.
        Mutate(data, random, 0, random.Next(2) ? 4096 : data.size());
        mpeg::CProgramTimeline timeline;
        mpeg::CElementaryStream stream(sources[which].kind, timeline);
        int64_t lastDts = mpeg::NoTimestamp;
        uint64_t checked = 0; // units up to this position were checked
        const auto take = [&] {
            for (size_t i = 0; i < stream.UnitCount(); ++i) {
                const mpeg::AccessUnit& unit = stream.Unit(i);
                if (lastDts != mpeg::NoTimestamp && unit.position <= checked)
                    continue;
                EXPECT_TRUE(lastDts == mpeg::NoTimestamp || unit.dts > lastDts) << unit.position;
                lastDts = unit.dts;
                checked = unit.position;
            }
            stream.Consume(stream.Ready());
            EXPECT_LE(stream.Queued(), mpeg::CElementaryStream::MaxUntimedBacklog + MaxPiece);
        };
        for (size_t at = 0; at < data.size();) {
            const size_t piece = std::min<size_t>(data.size() - at, 1 + random.Next(MaxPiece));
            const int64_t time = random.Next(3) ? static_cast<int64_t>(random.Next(1u << 30)) : mpeg::NoTimestamp;
            stream.Push(reinterpret_cast<const uint8_t*>(data.data() + at), piece, time);
            at += piece;
            take();
        }
        stream.End();
        take();
        EXPECT_EQ(0u, stream.Queued());
    }
    EXPECT_GT(runs, 0u);
}

// Video on its way to the multiplexer through the caption inserter, damaged, or with a run longer
// than may be held in which no start code ends a unit: every byte comes out as it went in, beside
// the captions put in, and what is held stays bounded.
TEST(MediaFuzzTest, DamagedVideoPassesTheCaptionInserterWhole)
{
    const DWORD milliseconds = EnvironmentNumber("HALVERN_FUZZ_SECONDS", 3) * 1000 / 2;
    const uint32_t seed = EnvironmentNumber("HALVERN_FUZZ_SEED", ::GetTickCount());
    SCOPED_TRACE(testing::Message() << "HALVERN_FUZZ_SEED=" << seed);
    const struct {
        const char* vector;
        bool avc;
    } sources[] = {{"wtv\\h264i-eac3.h264", true}, {"wtv\\h264-aac.h264", true}, {"es\\video.m2v", false}};
    std::vector<std::string> bytes;
    for (const auto& source : sources)
        bytes.push_back(testing_support::ReadFileBytes(VectorPath(source.vector)));
    constexpr size_t MaxPiece = 64 * 1024;
    const uint8_t pairs[] = {0x94, 0x20, 0xC1, 0xC2, 0x80, 0x80};
    Lcg random{seed};
    unsigned runs = 0;
    for (const DWORD started = ::GetTickCount(); ::GetTickCount() - started < milliseconds && !HasFailure(); ++runs) {
        const size_t which = random.Next(static_cast<uint32_t>(std::size(sources)));
        std::string data = bytes[which];
        Mutate(data, random, 0, data.size());
        if (random.Next(3) == 0) {
            // Noise with no start code in it, longer than the inserter may hold.
            const size_t at = random.Next(static_cast<uint32_t>(data.size() + 1));
            data.insert(at, captions::CCaptionInserter::MaxHeldBytes + MaxPiece, '\xFF');
        }
        CCollectingVideo out;
        captions::CCaptionInserter inserter(out, nullptr);
        inserter.Reset(true, sources[which].avc);
        int64_t time = 900000;
        for (size_t at = 0; at < data.size();) {
            const size_t piece = std::min<size_t>(data.size() - at, 1 + random.Next(MaxPiece));
            ASSERT_TRUE(inserter.PushVideo(reinterpret_cast<const uint8_t*>(data.data() + at), piece,
                                           random.Next(3) ? time : mpeg::NoTimestamp));
            ASSERT_TRUE(inserter.PushPairs(pairs, 2 * (1 + random.Next(3)), time));
            at += piece;
            time += 3600;
            // The output carries at least the input that went out.
            ASSERT_LE(at, out.bytes.size() + captions::CCaptionInserter::MaxHeldBytes + 2 * MaxPiece) << "held without bound";
        }
        ASSERT_TRUE(inserter.EndCaptions());
        ASSERT_TRUE(inserter.EndVideo());
        EXPECT_TRUE(ps_check::WithoutCaptionUserData(out.bytes) == data) << sources[which].vector;
    }
    EXPECT_GT(runs, 0u);
}

} // namespace
