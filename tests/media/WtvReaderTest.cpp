// The WTV reader on ffmpeg's WTV files, whole and edited: the objects out must be ffmpeg's own
// extraction of the streams byte for byte, with ffprobe's times; bad input ends in a clear
// failure or a clean end.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>

#include "media/MediaErrors.h"
#include "media/OpenRecording.h"
#include "media/wtv/WtvReader.h"
#include "tests/media/WtvEdits.h"
#include "tests/media/ShrinkingSink.h"
#include "tests/support/TestSupport.h"

namespace {

using testing_support::VectorPath;
using namespace test_wtv;

constexpr unsigned VideoStream = 2; // ffmpeg numbers the streams of a WTV file from 2
constexpr uint64_t Sector = 4096;
// The media centre's protection flag's name in the file's attributes.
const std::string ProtectedName("W\0M\0/\0W\0M\0R\0V\0C\0o\0n\0t\0e\0n\0t\0P\0r\0o\0t\0e\0c\0t\0e\0d\0", 46);

std::vector<int64_t> Times(const std::string& path)
{
    std::vector<int64_t> times;
    std::istringstream lines(testing_support::ReadFileBytes(path));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            times.push_back(std::stoll(line));
    return times;
}

// The objects of the video and the audio stream, one after another, and their times.
class CollectingSink : public media::ObjectSink {
public:
    explicit CollectingSink(const std::vector<media::StreamFormat>& formats) : formats_(formats) {}

    bool OnObject(const media::MediaObject& object) override
    {
        const media::Codec codec = formats_[object.streamIndex].codec;
        Stream& stream = codec == media::Codec::Mpeg2Video ? video : audio;
        EXPECT_TRUE(codec != media::Codec::Unknown);
        stream.bytes.append(reinterpret_cast<const char*>(object.data), object.size);
        if (object.StartsFrame())
            stream.times.push_back(object.time);
        stream.discontinuities += object.discontinuity;
        return true;
    }

    struct Stream {
        std::string bytes;
        std::vector<int64_t> times;
        unsigned discontinuities = 0;
    } video, audio;

private:
    const std::vector<media::StreamFormat>& formats_;
};

// What a case expects once the file opened.
enum class Delivery {
    All,        // every object byte for byte with its time
    BeforeCut,  // the objects wholly before the cut, none after
    AllButOne,  // one video object lost to damage, the rest whole
    Unchecked,  // whatever the damage left (the read result is checked)
};

// A case's change to the file; returns where to cut it (0: not at all).
using Edit = std::function<uint64_t(std::string& file, const Layout& layout)>;
using Offset = std::function<uint64_t(const std::string& file, const Layout& layout)>;

uint64_t Unchanged(std::string&, const Layout&)
{
    return 0;
}

Edit CutAt(const Offset& at)
{
    return [at](std::string& f, const Layout& l) { return at(f, l); };
}

Edit Put(const Offset& at, uint32_t value)
{
    return [at, value](std::string& f, const Layout& l) {
        const uint64_t where = at(f, l);
        EXPECT_LE(where + 4, f.size()) << "the field to change is not in the file";
        if (where + 4 <= f.size())
            PutU32(f, where, value);
        return uint64_t(0);
    };
}

Edit OnVideo(void (*edit)(std::string& file, const Layout& layout, unsigned stream))
{
    return [edit](std::string& f, const Layout& l) {
        edit(f, l, VideoStream);
        return uint64_t(0);
    };
}

// The n-th data chunk of the video.
const Chunk& VideoChunk(const Layout& l, size_t n)
{
    for (const Chunk& c : l.chunks)
        if (c.data && c.stream == VideoStream && n-- == 0)
            return c;
    return l.chunks.back();
}

TEST(WtvReaderTest, GivesFfmpegsStreamsAndEndsBadInputInAClearFailureOrACleanEnd)
{
    if (VectorPath("wtv\\mpeg2-mp2.wtv").empty())
        GTEST_SKIP() << "no test vectors";
    const std::string directory = testing_support::MakeScratchDirectory("wtv-reader");
    struct Case {
        const char* name;
        const char* vector;
        bool recorderLayout; // directory and table moved to the front first
        Edit edit;
        HRESULT open = S_OK;
        Delivery delivery = Delivery::All;
        HRESULT read = S_OK;
    };
    using F = const std::string&;
    using L = const Layout&;
    const char *Mp2 = "mpeg2-mp2", *Ac3 = "mpeg2-ac3";
    const Case cases[] = {
        {"a recorder's layout", Ac3, true, Unchanged},
        {"timeline sectors out of the file's order", Mp2, true,
         [](std::string& f, L) {
             std::string error;
             for (size_t k : {5, 20, 21})
                 EXPECT_TRUE(SwapTimelineSectors(f, k, error)) << error;
             return uint64_t(0);
         }},
        {"H.264", "h264-ac3", false, Unchanged, HALVERN_E_H264_VIDEO},
        // A recorder need not put a stream's data right after its timestamp: the time is the next
        // data chunk's of the same stream (here a video chunk moved past an audio pair).
        {"a timestamp apart from its data", Mp2, false,
         [](std::string& f, L l) {
             for (size_t i = 10; i + 2 < l.chunks.size(); ++i) {
                 const Chunk &video = l.chunks[i], &time = l.chunks[i + 1], &audio = l.chunks[i + 2];
                 if (video.data && video.stream == VideoStream && time.timestamp && audio.data && audio.stream != VideoStream) {
                     const uint64_t end = audio.at + ((audio.size + 7) & ~7u);
                     std::rotate(f.begin() + video.at, f.begin() + time.at, f.begin() + end);
                     break;
                 }
             }
             return uint64_t(0);
         }},
        // The header and the directory.
        {"cut inside the magic", Mp2, false, CutAt([](F, L) { return 10; }), HALVERN_E_NOT_RECORDING},
        {"cut inside the header", Mp2, false, CutAt([](F, L) { return 0x30; }), HALVERN_E_BAD_HEADER},
        {"cut inside the directory", Mp2, false, CutAt([](F, L l) { return l.rootAt + 100; }), HALVERN_E_BAD_HEADER},
        {"cut inside the timeline's table", Mp2, true, CutAt([](F, L) { return 2 * Sector + 16; }),
         HALVERN_E_BAD_HEADER},
        {"directory of absurd size", Mp2, false, Put([](F, L) { return 0x30; }, 0xFFFFFFF0), HALVERN_E_BAD_HEADER},
        {"directory past the end", Mp2, false, Put([](F, L) { return 0x38; }, 0x7FFFFFFF), HALVERN_E_BAD_HEADER},
        {"directory entry of size 0", Mp2, false, Put([](F, L l) { return l.rootAt + 16; }, 0), HALVERN_E_BAD_HEADER},
        {"name longer than its entry", Mp2, false, Put([](F, L l) { return l.timelineEntryAt + 32; }, 0x7FFFFFFF),
         HALVERN_E_BAD_HEADER},
        {"table depth 3", Mp2, false,
         Put([](F f, L l) { return l.timelineEntryAt + 40 + 2 * GetU32(f, l.timelineEntryAt + 32) + 4; }, 3),
         HALVERN_E_BAD_HEADER},
        // The directory's length of the timeline is a claim: absurd it is clamped to the sectors,
        // short the chunks after it are read all the same.
        {"timeline length absurd", Mp2, false, Put([](F, L l) { return l.timelineEntryAt + 24; }, 0xFFFFFFF0)},
        {"timeline length short", Ac3, false,
         [](std::string& f, L l) {
             PutU32(f, l.timelineEntryAt + 24, static_cast<uint32_t>(l.timelineLength / 4));
             return uint64_t(0);
         }},
        // Chunks. A recorder's file cut short: at a chunk's end, inside a chunk, inside its head.
        {"cut at a chunk's end", Mp2, true,
         CutAt([](F, L l) { return VideoChunk(l, 40).at + ((VideoChunk(l, 40).size + 7) & ~7u); }), S_OK,
         Delivery::BeforeCut},
        {"cut inside a chunk", Ac3, true, CutAt([](F, L l) { return VideoChunk(l, 30).at + 200; }), S_OK,
         Delivery::BeforeCut},
        {"cut inside a chunk's head", Ac3, true, CutAt([](F, L l) { return VideoChunk(l, 50).at + 20; }), S_OK,
         Delivery::BeforeCut},
        {"cut at a sector's end", Mp2, true, CutAt([](F, L l) { return l.timelineAt + 50 * Sector; }), S_OK,
         Delivery::BeforeCut},
        {"chunk of absurd size", Mp2, false, Put([](F, L l) { return VideoChunk(l, 20).at + 16; }, 0xFFFFFFF0), S_OK,
         Delivery::AllButOne},
        {"chunk of size 0", Ac3, false, Put([](F, L l) { return VideoChunk(l, 20).at + 16; }, 0), S_OK,
         Delivery::AllButOne},
        {"chunk longer than the timeline", Ac3, false, Put([](F, L l) { return VideoChunk(l, 60).at + 16; }, 8u << 20),
         S_OK, Delivery::Unchecked},
        {"random bytes over half the timeline", Mp2, false,
         [](std::string& f, L l) {
             uint32_t state = 12345;
             for (uint64_t at = VideoChunk(l, 10).at; at < l.timelineAt + l.timelineLength * 3 / 4; ++at) {
                 state = state * 1103515245u + 12345u;
                 f[at] = static_cast<char>(state >> 16);
             }
             return uint64_t(0);
         },
         S_OK, Delivery::Unchecked, HALVERN_E_DAMAGED},
        // Protection: the media centre's flag (a BOOL; ffmpeg's text of the same name is not it), a
        // protection chunk on the video, or a payload with no sync word in it.
        {"protection flag", "marked", false, Put([](F f, L) { return f.find(ProtectedName) - 8; }, 3),
         HALVERN_E_PROTECTED},
        {"protection flag as text", "marked", false, Unchanged, S_OK, Delivery::Unchecked},
        {"protection chunk", Mp2, false, OnVideo(MarkProtected), HALVERN_E_PROTECTED},
        {"encrypted payload", Ac3, false, OnVideo(Scramble), HALVERN_E_PROTECTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = VectorPath(std::string("wtv\\") + c.vector);
        std::string file = testing_support::ReadFileBytes(base + ".wtv"), error;
        if (c.recorderLayout) {
            ASSERT_TRUE(MoveDirectoryToFront(file, error)) << error;
        }
        Layout layout;
        ASSERT_TRUE(ReadLayout(file, layout, error)) << error;
        const uint64_t cut = c.edit(file, layout);
        if (cut)
            file.resize(cut);
        const std::string path = directory + "rec.dvr-ms";
        testing_support::WriteFileBytes(path, file);

        // Chosen by content whatever the name, as the source chooses.
        std::unique_ptr<media::RecordingReader> reader;
        ASSERT_EQ(c.open, media::OpenRecording(std::wstring(path.begin(), path.end()).c_str(), reader));
        if (FAILED(c.open))
            continue;
        ASSERT_TRUE(dynamic_cast<wtv::Reader*>(reader.get()));
        const auto& formats = reader->Formats();
        const bool ac3 = std::string(c.vector).find("ac3") != std::string::npos;
        const auto streams = [&](media::Codec codec) {
            return std::count_if(formats.begin(), formats.end(), [&](const media::StreamFormat& f) { return f.codec == codec; });
        };
        ASSERT_EQ(1, streams(media::Codec::Mpeg2Video));
        ASSERT_EQ(1, streams(ac3 ? media::Codec::Ac3 : media::Codec::MpegAudio));

        CollectingSink sink(formats);
        EXPECT_EQ(c.read, reader->Read(sink));
        if (FAILED(c.read))
            continue;
        EXPECT_EQ(file.size(), reader->BytesDone());
        EXPECT_EQ(file.size(), reader->BytesTotal());
        const std::string videoEs = testing_support::ReadFileBytes(base + ".m2v");
        const std::string audioEs = testing_support::ReadFileBytes(base + (ac3 ? ".ac3" : ".mp2"));
        const std::vector<int64_t> videoTimes = Times(base + ".v.times"), audioTimes = Times(base + ".a.times");
        switch (c.delivery) {
        case Delivery::All:
            EXPECT_TRUE(sink.video.bytes == videoEs) << "the video differs from ffmpeg's extraction";
            EXPECT_TRUE(sink.audio.bytes == audioEs) << "the audio differs from ffmpeg's extraction";
            EXPECT_EQ(videoTimes, sink.video.times);
            EXPECT_EQ(audioTimes, sink.audio.times);
            EXPECT_EQ(1u, sink.video.discontinuities);
            EXPECT_GT(reader->Duration(), 25000000);
            EXPECT_LT(reader->Duration(), 35000000);
            break;
        case Delivery::BeforeCut: {
            size_t video = 0, audio = 0;
            bool inside = false; // the cut went through a chunk
            for (const Chunk& chunk : layout.chunks) {
                if (chunk.data && chunk.at + chunk.size <= cut)
                    ++(chunk.stream == VideoStream ? video : audio);
                inside = inside || (chunk.at < cut && cut < chunk.at + chunk.size);
            }
            EXPECT_EQ(video, sink.video.times.size());
            EXPECT_EQ(audio, sink.audio.times.size());
            EXPECT_EQ(0u, videoEs.compare(0, sink.video.bytes.size(), sink.video.bytes));
            EXPECT_EQ(0u, audioEs.compare(0, sink.audio.bytes.size(), sink.audio.bytes));
            EXPECT_EQ(inside, static_cast<wtv::Reader*>(reader.get())->Counters().truncatedBytes > 0);
            break;
        }
        case Delivery::AllButOne:
            EXPECT_EQ(videoTimes.size() - 1, sink.video.times.size());
            EXPECT_TRUE(sink.audio.bytes == audioEs);
            EXPECT_EQ(2u, sink.video.discontinuities) << "the object after the damage says data was lost";
            break;
        case Delivery::Unchecked:
            break;
        }
    }
}

// Whether the lost part was in the read block already or not, the read cannot vouch for what it gave.
TEST(WtvReaderTest, AFileThatShrinksWhileItIsReadFails)
{
    if (VectorPath("wtv\\mpeg2-mp2.wtv").empty())
        GTEST_SKIP() << "no test vectors";
    const std::string path = testing_support::MakeScratchDirectory("wtv-reader-shrink") + "rec.wtv";
    std::string file = testing_support::ReadFileBytes(VectorPath("wtv\\mpeg2-mp2.wtv")), error;
    ASSERT_TRUE(MoveDirectoryToFront(file, error)) << error;
    testing_support::WriteFileBytes(path, file);
    wtv::Reader reader;
    ASSERT_EQ(S_OK, reader.Open(std::wstring(path.begin(), path.end()).c_str()));
    ShrinkingSink sink(path, file.size() * 3 / 4);
    EXPECT_EQ(HALVERN_E_SHRANK, reader.Read(sink));
}

} // namespace
