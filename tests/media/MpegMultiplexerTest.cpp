// The multiplexer core fed with elementary streams, its packs read back by a program stream
// walker of the test's own that checks each pack's framing and splits it into packets, and judged
// by the tests' program stream checker (timing, buffers, decode order).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/Multiplexer.h"
#include "tests/media/FieldPictureWriter.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"

using namespace mpeg;

namespace {

// Collects the packs; fails once `failAfter` packs are in, when that is set.
class CCollectingSink : public IPackSink {
public:
    bool WritePack(const uint8_t* pack) override
    {
        if (failAfter >= 0 && packs >= failAfter)
            return false;
        bytes.insert(bytes.end(), pack, pack + PackSize);
        ++packs;
        return true;
    }
    std::vector<uint8_t> bytes;
    int packs = 0;
    int failAfter = -1;
};

struct Packet {
    size_t pack;
    uint64_t scr; // 27 MHz
    uint8_t streamId;
    int64_t pts = NoTimestamp;
    int64_t dts = NoTimestamp;
    bool pstd = false;
    int ac3Frames = -1;
    int ac3Pointer = -1;
    std::string payload;
};

int64_t ReadTimestamp(const uint8_t* p)
{
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (p[1] << 22) | ((p[2] & 0xFE) << 14) | (p[3] << 7) | (p[4] >> 1);
}


// Every pack: 2048 bytes, a pack header, the system header in the first one only, then PES and
// padding packets that end exactly at the pack's end (checked with EXPECTs); at the DVD's mux rate
// where `dvd` says so, as SD recordings within DVD limits are written.
std::vector<Packet> Walk(const std::vector<uint8_t>& bytes, bool dvd = true)
{
    std::vector<Packet> packets;
    EXPECT_EQ(0u, bytes.size() % PackSize);
    uint64_t lastScr = 0;
    for (size_t pack = 0; pack * PackSize < bytes.size(); ++pack) {
        const uint8_t* p = bytes.data() + pack * PackSize;
        const uint8_t* const end = p + PackSize;
        EXPECT_EQ(0x000001BAu, static_cast<uint32_t>(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3])) << pack;
        const uint64_t base = (static_cast<uint64_t>(p[4] & 0x38) << 27) | (static_cast<uint64_t>(p[4] & 0x03) << 28) |
                              (p[5] << 20) | ((p[6] & 0xF8) << 12) | ((p[6] & 0x03) << 13) | (p[7] << 5) | (p[8] >> 3);
        const uint64_t scr = base * 300 + (((p[8] & 0x03) << 7) | (p[9] >> 1));
        EXPECT_LE(lastScr, scr) << pack;
        lastScr = scr;
        if (dvd) {
            EXPECT_EQ(DvdMuxRate, static_cast<uint32_t>((p[10] << 14) | (p[11] << 6) | (p[12] >> 2)));
        }
        p += PackHeaderSize;
        while (p < end) {
            EXPECT_EQ(1, p[0] << 16 | p[1] << 8 | p[2]);
            const uint8_t id = p[3];
            const size_t length = (p[4] << 8) | p[5];
            const uint8_t* const next = p + 6 + length;
            if (next > end) {
                ADD_FAILURE() << "a packet runs past the end of pack " << pack;
                return packets;
            }
            EXPECT_EQ(id == 0xBB, pack == 0 && p == bytes.data() + PackHeaderSize) << pack;
            if (id != 0xBB && id != PaddingStreamId) {
                Packet packet{pack, scr, id, NoTimestamp, NoTimestamp, false, -1, -1, {}};
                EXPECT_EQ(0x81, p[6]);
                // A DTS only ever follows a PTS; the P-STD extension comes after both.
                const uint8_t flags = p[7];
                packet.pts = flags & 0x80 ? ReadTimestamp(p + 9) : NoTimestamp;
                packet.dts = flags & 0x40 ? ReadTimestamp(p + 14) : NoTimestamp;
                packet.pstd = flags & 0x01;
                EXPECT_TRUE(!packet.pstd || p[9 + (flags & 0x80 ? 5 : 0) + (flags & 0x40 ? 5 : 0)] == 0x1E);
                const uint8_t* payload = p + 9 + p[8];
                if (id == PrivateStream1Id) {
                    EXPECT_EQ(Ac3SubstreamId, payload[0]);
                    packet.ac3Frames = payload[1];
                    packet.ac3Pointer = (payload[2] << 8) | payload[3];
                    payload += 4;
                }
                packet.payload.assign(reinterpret_cast<const char*>(payload), static_cast<size_t>(next - payload));
                packets.push_back(std::move(packet));
            }
            p = next;
        }
        EXPECT_EQ(end, p) << pack;
    }
    return packets;
}

std::string Concatenated(const std::vector<Packet>& packets, uint8_t id)
{
    std::string bytes;
    for (const Packet& packet : packets)
        if (packet.streamId == id)
            bytes += packet.payload;
    return bytes;
}

TEST(MpegMultiplexerTest, InterleavesEncodedStreamsByteForByteWithinBufferLimits)
{
    struct Case {
        const char* video;
        const char* audio;
        StreamKind kind;
        uint8_t audioId;
        int64_t audioStart; // 90 kHz; the gap to the video's first time must survive
        size_t audioBuffer;
    } cases[] = {
        {"es\\video.m2v", "es\\audio.mp2", StreamKind::MpegAudio, MpegAudioStreamId, 0, 4096},
        {"es\\video-bframes.m2v", "es\\audio.ac3", StreamKind::Ac3Audio, PrivateStream1Id, 27000, 58 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video);
        const std::string bytes[2] = {testing_support::ReadFileBytes(testing_support::VectorPath(c.video)), // video, audio
                                      testing_support::ReadFileBytes(testing_support::VectorPath(c.audio))};
        ASSERT_GT(bytes[0].size(), 100000u);
        ASSERT_GT(bytes[1].size(), 10000u);
        CCollectingSink sink;
        CProgramStreamMultiplexer mux(sink);
        const int streams[2] = {mux.AddStream(StreamKind::Mpeg2Video), mux.AddStream(c.kind)};
        const int64_t starts[2] = {0, c.audioStart};
        // Both streams in irregular pieces, audio first, the video's twenty times larger, with a time
        // only on the first piece of each.
        size_t at[2] = {0, 0};
        for (size_t k = 0; at[0] < bytes[0].size() || at[1] < bytes[1].size(); ++k) {
            for (int s : {1, 0}) {
                const size_t n = std::min((300 + k * 7919 % 1000) * (s == 0 ? 20 : 1), bytes[s].size() - at[s]);
                if (n == 0)
                    continue;
                ASSERT_TRUE(mux.Push(streams[s], reinterpret_cast<const uint8_t*>(bytes[s].data() + at[s]), n,
                                     at[s] == 0 ? starts[s] : NoTimestamp));
                if ((at[s] += n) == bytes[s].size()) {
                    ASSERT_TRUE(mux.End(streams[s]));
                }
            }
        }
        ASSERT_TRUE(mux.Finished());
        EXPECT_EQ(0u, mux.Damaged());

        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        const std::vector<Packet> packets = Walk(sink.bytes);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(0u, packets[0].scr);
        EXPECT_EQ(bytes[0], Concatenated(packets, VideoStreamId));
        EXPECT_EQ(bytes[1], Concatenated(packets, c.audioId));

        std::vector<size_t> ac3Starts;
        AudioFrame frame;
        for (size_t at = 0; c.kind == StreamKind::Ac3Audio && at < bytes[1].size(); at += frame.size) {
            ASSERT_TRUE(ParseAc3Frame(reinterpret_cast<const uint8_t*>(bytes[1].data() + at), bytes[1].size() - at, frame));
            ac3Starts.push_back(at);
        }
        struct Buffer {
            std::deque<std::pair<int64_t, size_t>> held;
            size_t occupancy = 0;
            int64_t dts = 0;
        } buffers[2];
        int64_t firstVideo = NoTimestamp, firstAudio = NoTimestamp, lastDts[2] = {INT64_MIN, INT64_MIN};
        size_t audioOffset = 0;
        bool bPictures = false;
        for (const Packet& packet : packets) {
            const bool isVideo = packet.streamId == VideoStreamId;
            EXPECT_EQ(packet.pstd, &packet == &*std::find_if(packets.begin(), packets.end(), [&](const Packet& p) {
                          return p.streamId == packet.streamId;
                      }));
            if (packet.ac3Frames >= 0) {
                const auto first = std::lower_bound(ac3Starts.begin(), ac3Starts.end(), audioOffset);
                const auto last = std::lower_bound(ac3Starts.begin(), ac3Starts.end(), audioOffset + packet.payload.size());
                EXPECT_EQ(last - first, packet.ac3Frames);
                EXPECT_EQ(first == last ? 0 : static_cast<int>(*first - audioOffset) + 1, packet.ac3Pointer);
            }
            if (!isVideo)
                audioOffset += packet.payload.size();
            // Bytes arrive before their decode time and never overflow the decoder buffer (each
            // packet's bytes counted until the decode time of its first unit, so up to a packet more).
            Buffer& buffer = buffers[isVideo ? 0 : 1];
            while (!buffer.held.empty() && static_cast<uint64_t>(buffer.held.front().first) * 300 <= packet.scr) {
                buffer.occupancy -= buffer.held.front().second;
                buffer.held.pop_front();
            }
            if (packet.pts != NoTimestamp)
                buffer.dts = packet.dts != NoTimestamp ? packet.dts : packet.pts;
            buffer.held.push_back({buffer.dts, packet.payload.size()});
            buffer.occupancy += packet.payload.size();
            EXPECT_LE(buffer.occupancy, (isVideo ? 232 * 1024u : c.audioBuffer) + PackSize) << packet.pack;
            if (packet.pts == NoTimestamp)
                continue;
            const int64_t dts = buffer.dts;
            bPictures |= isVideo && packet.dts != NoTimestamp;
            EXPECT_LT(lastDts[isVideo ? 0 : 1], dts);
            EXPECT_LE(dts, packet.pts);
            lastDts[isVideo ? 0 : 1] = dts;
            EXPECT_LE(packet.scr, static_cast<uint64_t>(dts) * 300) << packet.pack;
            int64_t& first = isVideo ? firstVideo : firstAudio;
            if (first == NoTimestamp)
                first = packet.pts;
        }
        EXPECT_EQ(c.kind == StreamKind::Ac3Audio, bPictures);
        EXPECT_EQ(c.audioStart, firstAudio - firstVideo);
        EXPECT_EQ(CProgramStreamMultiplexer::Preload + (bPictures ? 3600 : 0), firstVideo);
    }
}

// A stream cut into the pieces a recording delivers, each with the 90 kHz time pushed with it
// (NoTimestamp for none), and the true display time of each unit.
struct Piece {
    std::string bytes;
    int64_t time;
};
struct Timed {
    std::string es;
    std::vector<Piece> pieces;
    std::vector<int64_t> truth;   // per unit
    std::vector<int64_t> sendKeys; // per piece, 90 kHz, the order a recorder sends them in
};

constexpr int64_t To90kHz(int64_t time100ns) { return time100ns * 9 / 1000; }

Timed FromFrames(const std::vector<std::string>& frames, const std::vector<int64_t>& times, const std::vector<size_t>& seconds,
                 bool splitFields, int64_t start)
{
    Timed timed;
    const int64_t period = frames.size() > 1 ? To90kHz(*std::max_element(times.begin(), times.end())) / static_cast<int64_t>(frames.size() - 1) : 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        timed.es += frames[i];
        const int64_t time = start + To90kHz(times[i]);
        timed.truth.push_back(time);
        const size_t second = splitFields && i < seconds.size() ? seconds[i] : 0;
        timed.pieces.push_back({second ? frames[i].substr(0, second) : frames[i], time});
        timed.sendKeys.push_back(start + (static_cast<int64_t>(i) - 1) * period);
        if (second) {
            timed.pieces.push_back({frames[i].substr(second), NoTimestamp});
            timed.sendKeys.push_back(timed.sendKeys.back());
        }
    }
    return timed;
}

Timed VideoOf(const std::string& es, int64_t start)
{
    std::vector<std::string> frames;
    std::vector<int64_t> times;
    EXPECT_TRUE(test_recordings::SplitVideo(es, frames, &times));
    return FromFrames(frames, times, {}, false, start);
}

Timed AudioOf(const std::string& es, int64_t start)
{
    std::vector<std::string> frames;
    std::vector<int64_t> times;
    EXPECT_TRUE(test_recordings::SplitAudio(es, frames, times));
    Timed timed = FromFrames(frames, times, {}, false, start);
    for (size_t i = 0; i < timed.pieces.size(); ++i)
        timed.sendKeys[i] = timed.pieces[i].time;
    return timed;
}

// Every recording kind through the multiplexer, pushed as a recording delivers it (a unit per push
// with its time, in send order): the output keeps the system target decoder's rules, every frame
// keeps its time (a constant offset, the same for both streams) and only the DVD-sized SD streams
// keep the DVD's mux rate. Broken times come in as recorders give them: an outlier must take the
// time its neighbours give it; after a jump every stream shares, each part keeps audio and video
// within an audio frame of each other.
TEST(MpegMultiplexerTest, EveryKindOfRecordingKeepsTheDecoderModelAndItsTimes)
{
    enum class Video { Vector, FieldPictures, FieldsApart, Pulldown };
    const struct Case {
        const char* name;
        Video video;
        const char* videoVector;
        const char* audio;
        bool dvd;
        int64_t outlier;  // added to the pushed time of picture 20 (decode order)
        int64_t jump;     // added to every time from picture 36 on (and audio sent from then on)
    } cases[] = {
        {"SD within DVD limits", Video::Vector, "es\\video-bframes.m2v", "es\\audio.ac3", true, 0, 0},
        {"1080i 18 Mb/s, 5.1 AC-3", Video::Vector, "es\\hd-1080i.m2v", "es\\audio-5.1.ac3", false, 0, 0},
        {"1080i, no maximum rate", Video::Vector, "es\\hd-1080i-nomax.m2v", "es\\audio.ac3", false, 0, 0},
        {"1440x1080 12 Mb/s", Video::Vector, "es\\hd-1440.m2v", "es\\audio.mp2", false, 0, 0},
        {"720x576 15 Mb/s", Video::Vector, "es\\sd-15m.m2v", "es\\audio.mp2", false, 0, 0},
        {"720x576 40 Mb/s", Video::Vector, "es\\sd-40m.m2v", "es\\audio-5.1.ac3", false, 0, 0},
        {"field pictures, a frame per push", Video::FieldPictures, nullptr, "es\\audio-5.1.ac3", false, 0, 0},
        {"field pictures, the second field untimed apart", Video::FieldsApart, nullptr, "es\\audio.ac3", false, 0, 0},
        {"3:2 pulldown", Video::Pulldown, nullptr, "es\\audio.mp2", false, 0, 0},
        {"an outlier an hour late", Video::Vector, "es\\video-bframes.m2v", "es\\audio.ac3", false, 3600 * 90000LL, 0},
        {"an outlier in 1080i", Video::Vector, "es\\hd-1080i.m2v", "es\\audio-5.1.ac3", false, -3600 * 90000LL, 0},
        {"a shared jump forward", Video::Vector, "es\\video-bframes.m2v", "es\\audio.mp2", false, 0, 30 * 90000},
        {"a shared jump back", Video::Vector, "es\\video-bframes.m2v", "es\\audio.ac3", false, 0, -30 * 90000},
    };
    constexpr size_t OutlierPicture = 20, JumpPicture = 36;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t start = 7200 * 90000LL; // room for a jump back and an outlier an hour early
        Timed video;
        if (c.video == Video::Vector) {
            video = VideoOf(testing_support::ReadFileBytes(testing_support::VectorPath(c.videoVector)), start);
        } else {
            test_recordings::FieldPictureOptions options;
            options.coding = c.video == Video::Pulldown ? test_recordings::FieldCoding::Pulldown : test_recordings::FieldCoding::FieldPictures;
            options.frames = 90;
            options.frameBytes = 75000; // 18 Mb/s at 29.97
            const test_recordings::GeneratedVideo generated = test_recordings::MakeFieldPictureStream(options);
            video = FromFrames(generated.frames, generated.times, generated.secondField, c.video == Video::FieldsApart, start);
        }
        Timed audio = AudioOf(testing_support::ReadFileBytes(testing_support::VectorPath(c.audio)), start);
        ASSERT_GT(video.truth.size(), JumpPicture);
        ASSERT_GT(audio.truth.size(), 10u);
        const bool ac3 = audio.es.compare(0, 2, "\x0B\x77") == 0;

        // The faults, on pieces (a unit is a piece here: only field pictures are split, and they have none).
        if (c.outlier)
            video.pieces[OutlierPicture].time += c.outlier;
        const int64_t jumpKey = video.sendKeys[JumpPicture];
        std::vector<bool> videoJumped(video.truth.size()), audioJumped(audio.truth.size());
        for (size_t i = JumpPicture; c.jump && i < video.pieces.size(); ++i) {
            video.pieces[i].time += c.jump;
            video.truth[i] += c.jump;
            videoJumped[i] = true;
        }
        for (size_t i = 0; c.jump && i < audio.pieces.size(); ++i) {
            if (audio.sendKeys[i] >= jumpKey) {
                audio.pieces[i].time += c.jump;
                audio.truth[i] += c.jump;
                audioJumped[i] = true;
            }
        }

        CCollectingSink sink;
        CProgramStreamMultiplexer mux(sink);
        const int streams[2] = {mux.AddStream(StreamKind::Mpeg2Video), mux.AddStream(ac3 ? StreamKind::Ac3Audio : StreamKind::MpegAudio)};
        const Timed* timed[2] = {&video, &audio};
        size_t next[2] = {0, 0};
        while (next[0] < video.pieces.size() || next[1] < audio.pieces.size()) {
            const int s = next[1] >= audio.pieces.size() ||
                                  (next[0] < video.pieces.size() && video.sendKeys[next[0]] <= audio.sendKeys[next[1]])
                              ? 0 : 1;
            const Piece& piece = timed[s]->pieces[next[s]];
            ASSERT_TRUE(mux.Push(streams[s], reinterpret_cast<const uint8_t*>(piece.bytes.data()), piece.bytes.size(), piece.time));
            if (++next[s] == timed[s]->pieces.size()) {
                ASSERT_TRUE(mux.End(streams[s]));
            }
        }
        ASSERT_TRUE(mux.Finished());
        EXPECT_EQ(0u, mux.Damaged());

        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        EXPECT_EQ(PackSize, report.smallestPack);
        EXPECT_EQ(PackSize, report.largestPack);
        if (c.dvd) {
            EXPECT_EQ(DvdMuxRate, report.lowestMuxRate);
            EXPECT_EQ(DvdMuxRate, report.highestMuxRate);
        }
        // Packs, PES headers and padding: a few per cent at most.
        EXPECT_LT(report.Overhead(), 0.04) << report.Text();
        const ps_check::StreamReport* out[2] = {report.Stream(VideoStreamId), report.Stream(ac3 ? PrivateStream1Id : MpegAudioStreamId)};
        ASSERT_TRUE(out[0] && out[1]) << report.Text();
        EXPECT_TRUE(out[0]->elementary == video.es);
        EXPECT_TRUE(out[1]->elementary == audio.es);

        // Each side of a jump keeps the streams within an audio frame of each other; otherwise within
        // the rounding of 100 ns times.
        std::vector<int> videoParts(videoJumped.begin(), videoJumped.end()), audioParts(audioJumped.begin(), audioJumped.end());
        EXPECT_EQ("", ps_check::TimesKept({{out[0], video.truth, videoParts}, {out[1], audio.truth, audioParts}}, 2,
                                          c.jump ? (ac3 ? 2880 : 2160) : 2));
    }
}

// Bytes that never show a unit are passed on once they pile up, rather than held for ever; a sink
// that fails stops the multiplexer for good. (Garbage between frames is the multiplexer filter's test's.)
TEST(MpegMultiplexerTest, BacklogStaysBoundedAndAFailedSinkStopsAll)
{
    CCollectingSink sink;
    sink.failAfter = 3;
    CProgramStreamMultiplexer mux(sink);
    const int noise = mux.AddStream(StreamKind::Mpeg2Video);
    const std::string piece(1 << 20, '\xAA');
    for (int i = 0; i < 5 && !mux.Failed(); ++i) {
        EXPECT_LE(mux.Queued(noise), CElementaryStream::MaxUntimedBacklog);
        mux.Push(noise, reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), NoTimestamp);
    }
    EXPECT_TRUE(mux.Failed());
    EXPECT_EQ(3, sink.packs);
    EXPECT_FALSE(mux.Push(noise, reinterpret_cast<const uint8_t*>(piece.data()), 100, NoTimestamp));
}

} // namespace
