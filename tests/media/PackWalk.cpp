#include "tests/media/PackWalk.h"

using namespace mpeg;

namespace pack_walk {

bool CCollectingSink::WritePack(const uint8_t* pack)
{
    if (failAfter >= 0 && packs >= failAfter)
        return false;
    bytes.insert(bytes.end(), pack, pack + PackSize);
    ++packs;
    return true;
}

namespace {

int64_t ReadTimestamp(const uint8_t* p)
{
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (p[1] << 22) | ((p[2] & 0xFE) << 14) | (p[3] << 7) | (p[4] >> 1);
}

} // namespace

// Every pack: 2048 bytes, a pack header, the system header in the first one only, then PES and
// padding packets that end exactly at the pack's end.
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
            EXPECT_EQ(0, p[0] | p[1]);
            EXPECT_EQ(1, p[2]);
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
                const uint8_t flags = p[7];
                const uint8_t* field = p + 9;
                if (flags & 0x80) {
                    packet.pts = ReadTimestamp(field);
                    field += 5;
                }
                if (flags & 0x40) {
                    packet.dts = ReadTimestamp(field);
                    field += 5;
                }
                if (flags & 0x01) {
                    EXPECT_EQ(0x1E, field[0]);
                    packet.pstd = true;
                }
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

} // namespace pack_walk
