#include "media/mpeg/ProgramStreamLayout.h"

#include <cstring>

namespace mpeg {

void WritePackHeader(uint8_t* out, uint64_t scr27MHz, uint32_t muxRate)
{
    const uint64_t base = ClockBase(scr27MHz) & 0x1FFFFFFFFull;
    const uint32_t extension = ClockExtension(scr27MHz);
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = 0xBA;
    out[4] = static_cast<uint8_t>(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03));
    out[5] = static_cast<uint8_t>(base >> 20);
    out[6] = static_cast<uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03));
    out[7] = static_cast<uint8_t>(base >> 5);
    out[8] = static_cast<uint8_t>(((base << 3) & 0xF8) | 0x04 | ((extension >> 7) & 0x03));
    out[9] = static_cast<uint8_t>(((extension << 1) & 0xFE) | 0x01);
    out[10] = static_cast<uint8_t>(muxRate >> 14);
    out[11] = static_cast<uint8_t>(muxRate >> 6);
    out[12] = static_cast<uint8_t>(((muxRate << 2) & 0xFC) | 0x03);
    out[13] = 0xF8; // reserved bits, no pack stuffing
}

size_t SystemHeaderSize(size_t streamCount)
{
    return 12 + 3 * streamCount;
}

size_t WriteSystemHeader(uint8_t* out, uint32_t rateBound, int audioBound, int videoBound,
                         const SystemStreamEntry* streams, size_t streamCount)
{
    const size_t size = SystemHeaderSize(streamCount);
    const size_t length = size - 6;
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = 0xBB;
    out[4] = static_cast<uint8_t>(length >> 8);
    out[5] = static_cast<uint8_t>(length);
    out[6] = static_cast<uint8_t>(0x80 | (rateBound >> 15));
    out[7] = static_cast<uint8_t>(rateBound >> 7);
    out[8] = static_cast<uint8_t>((rateBound << 1) | 0x01);
    // Variable rate, not constrained; audio and video locked to the system clock, as DVD has it.
    out[9] = static_cast<uint8_t>(audioBound << 2);
    out[10] = static_cast<uint8_t>(0xE0 | videoBound);
    out[11] = 0x7F; // no packet rate restriction, reserved bits
    uint8_t* entry = out + 12;
    for (size_t i = 0; i < streamCount; ++i, entry += 3) {
        entry[0] = streams[i].streamId;
        entry[1] = static_cast<uint8_t>(0xC0 | (streams[i].scale1024 ? 0x20 : 0x00) | ((streams[i].bufferSize >> 8) & 0x1F));
        entry[2] = static_cast<uint8_t>(streams[i].bufferSize);
    }
    return size;
}

void WriteTimestamp(uint8_t* out, unsigned prefix, int64_t time90kHz)
{
    const uint64_t t = static_cast<uint64_t>(time90kHz) & 0x1FFFFFFFFull;
    out[0] = static_cast<uint8_t>((prefix << 4) | ((t >> 29) & 0x0E) | 0x01);
    out[1] = static_cast<uint8_t>(t >> 22);
    out[2] = static_cast<uint8_t>(((t >> 14) & 0xFE) | 0x01);
    out[3] = static_cast<uint8_t>(t >> 7);
    out[4] = static_cast<uint8_t>(((t << 1) & 0xFE) | 0x01);
}

static size_t HeaderDataLength(const PesHeader& header)
{
    size_t length = header.stuffing;
    if (header.pts != NoTimestamp)
        length += header.dts != NoTimestamp ? 2 * TimestampSize : TimestampSize;
    if (header.pstd)
        length += PstdExtensionSize;
    return length;
}

size_t PesHeaderSize(const PesHeader& header)
{
    return PesFixedHeaderSize + HeaderDataLength(header);
}

size_t WritePesHeader(uint8_t* out, const PesHeader& header, size_t payloadSize)
{
    const size_t dataLength = HeaderDataLength(header);
    const size_t packetLength = 3 + dataLength + payloadSize;
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = header.streamId;
    out[4] = static_cast<uint8_t>(packetLength >> 8);
    out[5] = static_cast<uint8_t>(packetLength);
    out[6] = 0x81; // '10', not scrambled, original
    uint8_t flags = 0;
    if (header.pts != NoTimestamp)
        flags |= header.dts != NoTimestamp ? 0xC0 : 0x80;
    if (header.pstd)
        flags |= 0x01;
    out[7] = flags;
    out[8] = static_cast<uint8_t>(dataLength);
    uint8_t* p = out + 9;
    if (header.pts != NoTimestamp) {
        if (header.dts != NoTimestamp) {
            WriteTimestamp(p, 3, header.pts);
            WriteTimestamp(p + 5, 1, header.dts);
            p += 10;
        } else {
            WriteTimestamp(p, 2, header.pts);
            p += 5;
        }
    }
    if (header.pstd) {
        // Only the P-STD buffer field of the PES extension: flags byte 0001 111 0.
        p[0] = 0x1E;
        p[1] = static_cast<uint8_t>(0x40 | (header.pstd->scale1024 ? 0x20 : 0x00) | ((header.pstd->bufferSize >> 8) & 0x1F));
        p[2] = static_cast<uint8_t>(header.pstd->bufferSize);
        p += 3;
    }
    std::memset(p, 0xFF, header.stuffing);
    return 9 + dataLength;
}

namespace {

constexpr size_t PciPayload = 980;
constexpr size_t DsiPayload = 1018;
static_assert(6 + PciPayload + 6 + DsiPayload == NavigationPacketsSize, "a navigation pack fills its 2048 bytes");

void PutBe32(uint8_t* out, uint32_t value)
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

// A packet with no PES header extension: start code, length, then `payload` bytes of `fill`.
uint8_t* StartPlainPacket(uint8_t* out, uint8_t streamId, size_t payload, uint8_t fill)
{
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = streamId;
    out[4] = static_cast<uint8_t>(payload >> 8);
    out[5] = static_cast<uint8_t>(payload);
    std::memset(out + 6, fill, payload);
    return out + 6;
}

// Private stream 2 begins its payload with the sub-stream number, as PCI and DSI do.
uint8_t* StartPrivateStream2(uint8_t* out, size_t payload, uint8_t substream)
{
    uint8_t* data = StartPlainPacket(out, PrivateStream2Id, payload, 0);
    data[0] = substream;
    return data;
}

} // namespace

void WriteNavigationPackets(uint8_t* out, uint32_t packNumber, uint64_t scr27MHz)
{
    // PCI general information: nv_pck_lbn first.
    uint8_t* pci = StartPrivateStream2(out, PciPayload, 0x00);
    PutBe32(pci + 1, packNumber);
    // DSI general information: nv_pck_scr (the SCR base's low 32 bits), then nv_pck_lbn.
    uint8_t* dsi = StartPrivateStream2(out + 6 + PciPayload, DsiPayload, 0x01);
    PutBe32(dsi + 1, static_cast<uint32_t>(ClockBase(scr27MHz)));
    PutBe32(dsi + 5, packNumber);
}

void WritePaddingPacket(uint8_t* out, size_t totalSize)
{
    StartPlainPacket(out, PaddingStreamId, totalSize - 6, 0xFF);
}

} // namespace mpeg
