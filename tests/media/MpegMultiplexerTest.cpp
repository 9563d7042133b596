// The multiplexer core fed with elementary streams, its packs read back by a program stream
// walker of the test's own that checks each pack's framing and splits it into packets.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/Multiplexer.h"
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
// padding packets that end exactly at the pack's end (checked with EXPECTs).
std::vector<Packet> Walk(const std::vector<uint8_t>& bytes)
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
        EXPECT_EQ(DvdMuxRate, static_cast<uint32_t>((p[10] << 14) | (p[11] << 6) | (p[12] >> 2)));
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
