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

TEST(WtvReaderTest, GivesFfmpegsStreamsAndEndsBadInputInAClearFailureOrACleanEnd)
{
    if (VectorPath("wtv\\mpeg2-mp2.wtv").empty())
        GTEST_SKIP() << "no test vectors";
    const std::string directory = testing_support::MakeScratchDirectory("wtv-reader");
    struct Case {
        const char* name;
        const char* vector;
        bool recorderLayout; // directory and table moved to the front first
        // Edits the file; returns where to cut it (0: not at all).
        std::function<uint64_t(std::string& file, const Layout& layout)> edit;
        HRESULT open;
        HRESULT read;
        Delivery delivery;
    };
    const auto none = [](std::string&, const Layout&) { return uint64_t(0); };
    const auto patch = [](uint64_t at, uint32_t value) {
        return [=](std::string& f, const Layout&) {
            PutU32(f, at, value);
            return uint64_t(0);
        };
    };
    // The n-th data chunk of the video.
    const auto videoChunk = [](const Layout& l, size_t n) -> const Chunk& {
        for (const Chunk& c : l.chunks)
            if (c.data && c.stream == VideoStream && n-- == 0)
                return c;
        return l.chunks.back();
    };
    const Case cases[] = {
        {"MPEG-2 and MP2", "mpeg2-mp2", false, none, S_OK, S_OK, Delivery::All},
        {"MPEG-2 and AC-3", "mpeg2-ac3", false, none, S_OK, S_OK, Delivery::All},
        {"a recorder's layout", "mpeg2-ac3", true, none, S_OK, S_OK, Delivery::All},
        {"timeline sectors out of the file's order", "mpeg2-mp2", true,
         [](std::string& f, const Layout&) {
             std::string error;
             for (size_t k : {5, 20, 21})
                 EXPECT_TRUE(SwapTimelineSectors(f, k, error)) << error;
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::All},
        {"H.264", "h264-ac3", false, none, HALVERN_E_H264_VIDEO, S_OK, Delivery::All},
        // A recorder need not put a stream's data right after its timestamp: the time is the next
        // data chunk's of the same stream (here a video chunk moved past an audio pair).
        {"a timestamp apart from its data", "mpeg2-mp2", false,
         [](std::string& f, const Layout& l) {
             for (size_t i = 10; i + 2 < l.chunks.size(); ++i) {
                 const Chunk &video = l.chunks[i], &time = l.chunks[i + 1], &audio = l.chunks[i + 2];
                 if (video.data && video.stream == VideoStream && time.timestamp && audio.data && audio.stream != VideoStream) {
                     const uint64_t end = audio.at + ((audio.size + 7) & ~7u);
                     std::rotate(f.begin() + video.at, f.begin() + time.at, f.begin() + end);
                     break;
                 }
             }
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::All},
        // The header and the directory.
        {"cut inside the magic", "mpeg2-mp2", false, [](std::string&, const Layout&) { return uint64_t(10); },
         HALVERN_E_NOT_RECORDING, S_OK, Delivery::All},
        {"cut inside the header", "mpeg2-mp2", false, [](std::string&, const Layout&) { return uint64_t(0x30); },
         HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"cut inside the directory", "mpeg2-mp2", false, [](std::string&, const Layout& l) { return l.rootAt + 100; },
         HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"cut inside the timeline's table", "mpeg2-mp2", true, [](std::string&, const Layout&) { return 2 * Sector + 16; },
         HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"directory of absurd size", "mpeg2-mp2", false, patch(0x30, 0xFFFFFFF0), HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"directory past the end", "mpeg2-mp2", false, patch(0x38, 0x7FFFFFFF), HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"directory entry of size 0", "mpeg2-mp2", false,
         [](std::string& f, const Layout& l) {
             f[l.rootAt + 16] = f[l.rootAt + 17] = 0;
             return uint64_t(0);
         },
         HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"name longer than its entry", "mpeg2-mp2", false,
         [](std::string& f, const Layout& l) {
             PutU32(f, l.timelineEntryAt + 32, 0x7FFFFFFF);
             return uint64_t(0);
         },
         HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        {"table depth 3", "mpeg2-mp2", false,
         [](std::string& f, const Layout& l) {
             PutU32(f, l.timelineEntryAt + 40 + 2 * GetU32(f, l.timelineEntryAt + 32) + 4, 3);
             return uint64_t(0);
         },
         HALVERN_E_BAD_HEADER, S_OK, Delivery::All},
        // The directory's length of the timeline is a claim: absurd it is clamped to the sectors,
        // short the chunks after it are read all the same.
        {"timeline length absurd", "mpeg2-mp2", false, [](std::string& f, const Layout& l) {
             PutU32(f, l.timelineEntryAt + 24, 0xFFFFFFF0);
             f[l.timelineEntryAt + 28] = '\x7F';
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::All},
        {"timeline length short", "mpeg2-ac3", false, [](std::string& f, const Layout& l) {
             PutU32(f, l.timelineEntryAt + 24, static_cast<uint32_t>(l.timelineLength / 4));
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::All},
        // Chunks. A recorder's file cut short: at a chunk's end, inside a chunk, inside its head.
        {"cut at a chunk's end", "mpeg2-mp2", true,
         [&](std::string&, const Layout& l) {
             const Chunk& c = videoChunk(l, 40);
             return c.at + ((c.size + 7) & ~7u);
         },
         S_OK, S_OK, Delivery::BeforeCut},
        {"cut inside a chunk", "mpeg2-ac3", true, [&](std::string&, const Layout& l) { return videoChunk(l, 30).at + 200; },
         S_OK, S_OK, Delivery::BeforeCut},
        {"cut inside a chunk's head", "mpeg2-ac3", true, [&](std::string&, const Layout& l) { return videoChunk(l, 50).at + 20; },
         S_OK, S_OK, Delivery::BeforeCut},
        {"cut at a sector's end", "mpeg2-mp2", true, [&](std::string&, const Layout& l) { return l.timelineAt + 50 * Sector; },
         S_OK, S_OK, Delivery::BeforeCut},
        {"chunk of absurd size", "mpeg2-mp2", false,
         [&](std::string& f, const Layout& l) {
             PutU32(f, videoChunk(l, 20).at + 16, 0xFFFFFFF0);
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::AllButOne},
        {"chunk of size 0", "mpeg2-ac3", false,
         [&](std::string& f, const Layout& l) {
             PutU32(f, videoChunk(l, 20).at + 16, 0);
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::AllButOne},
        {"chunk longer than the timeline", "mpeg2-ac3", false,
         [&](std::string& f, const Layout& l) {
             PutU32(f, videoChunk(l, 60).at + 16, 8u << 20);
             return uint64_t(0);
         },
         S_OK, S_OK, Delivery::Unchecked},
        {"random bytes over half the timeline", "mpeg2-mp2", false,
         [&](std::string& f, const Layout& l) {
             uint32_t state = 12345;
             for (uint64_t at = videoChunk(l, 10).at; at < l.timelineAt + l.timelineLength * 3 / 4; ++at) {
                 state = state * 1103515245u + 12345u;
                 f[at] = static_cast<char>(state >> 16);
             }
             return uint64_t(0);
         },
         S_OK, HALVERN_E_DAMAGED, Delivery::Unchecked},
        // Protection: the media centre's flag (a BOOL; ffmpeg's text of the same name is not it), a
        // protection chunk on the video, or a payload with no sync word in it.
        {"protection flag", "marked", false,
         [](std::string& f, const Layout&) {
             const std::string name("W\0M\0/\0W\0M\0R\0V\0C\0o\0n\0t\0e\0n\0t\0P\0r\0o\0t\0e\0c\0t\0e\0d\0", 46);
             const size_t at = f.find(name);
             EXPECT_NE(std::string::npos, at);
             if (at != std::string::npos)
                 PutU32(f, at - 8, 3);
             return uint64_t(0);
         },
         HALVERN_E_PROTECTED, S_OK, Delivery::All},
        {"protection flag as text", "marked", false, none, S_OK, S_OK, Delivery::Unchecked},
        {"protection chunk", "mpeg2-mp2", false,
         [](std::string& f, const Layout& l) {
             MarkProtected(f, l, VideoStream);
             return uint64_t(0);
         },
         HALVERN_E_PROTECTED, S_OK, Delivery::All},
        {"encrypted payload", "mpeg2-ac3", false,
         [](std::string& f, const Layout& l) {
             Scramble(f, l, VideoStream);
             return uint64_t(0);
         },
         HALVERN_E_PROTECTED, S_OK, Delivery::All},
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
        size_t videos = 0, audios = 0;
        for (const media::StreamFormat& format : formats) {
            videos += format.codec == media::Codec::Mpeg2Video;
            audios += format.codec == (ac3 ? media::Codec::Ac3 : media::Codec::MpegAudio);
        }
        ASSERT_EQ(1u, videos);
        ASSERT_EQ(1u, audios);

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
