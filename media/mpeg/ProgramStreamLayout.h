#pragma once
// Byte layout of an MPEG-2 program stream (ISO/IEC 13818-1), DVD style: pack headers, the system
// header, PES packet headers and padding packets. Timestamps are 33-bit 90 kHz values.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/Clocks.h"

namespace mpeg {

constexpr size_t PackSize = 2048;
constexpr size_t PackHeaderSize = 14;
// DVD mux rate in units of 50 bytes/s: 10.08 Mbit/s.
constexpr uint32_t DvdMuxRate = 25200;
constexpr uint8_t VideoStreamId = 0xE0;
constexpr uint8_t MpegAudioStreamId = 0xC0;
constexpr uint8_t PrivateStream1Id = 0xBD;
constexpr uint8_t PaddingStreamId = 0xBE;
constexpr uint8_t PrivateStream2Id = 0xBF;
// System header entries that stand for all MPEG audio streams and all video streams.
constexpr uint8_t AllAudioStreamsId = 0xB8;
constexpr uint8_t AllVideoStreamsId = 0xB9;
constexpr uint8_t ProgramEndCode[4] = {0x00, 0x00, 0x01, 0xB9};
// First AC-3 sub-stream inside private stream 1.
constexpr uint8_t Ac3SubstreamId = 0x80;
constexpr size_t Ac3SubstreamHeaderSize = 4;
constexpr int64_t NoTimestamp = INT64_MIN;

// scr27MHz is the full 27 MHz system clock (its ClockBase and ClockExtension).
void WritePackHeader(uint8_t* out, uint64_t scr27MHz, uint32_t muxRate);

struct SystemStreamEntry {
    uint8_t streamId;
    bool scale1024; // buffer size in 1024-byte units rather than 128-byte units
    uint16_t bufferSize;
};
size_t SystemHeaderSize(size_t streamCount);
size_t WriteSystemHeader(uint8_t* out, uint32_t rateBound, int audioBound, int videoBound,
                         const SystemStreamEntry* streams, size_t streamCount);

struct PesHeader {
    uint8_t streamId = VideoStreamId;
    int64_t pts = NoTimestamp;
    int64_t dts = NoTimestamp;          // only written with a PTS
    const SystemStreamEntry* pstd = nullptr; // P-STD buffer extension, in each stream's first packet
    size_t stuffing = 0;                // 0xFF bytes inside the header
};
// A PES header's start code, stream id, length, flags and header length; then the optional fields:
// a PTS (or a PTS and a DTS, twice as long) and the P-STD buffer extension with its flags byte.
constexpr size_t PesFixedHeaderSize = 9;
constexpr size_t TimestampSize = 5;
constexpr size_t PstdExtensionSize = 3;
// Header bytes before the payload: start code, length, flags and the optional fields.
size_t PesHeaderSize(const PesHeader& header);
// Writes the header of a packet whose payload (after the header) is payloadSize bytes.
size_t WritePesHeader(uint8_t* out, const PesHeader& header, size_t payloadSize);
// A DVD navigation pack's private stream 2 packets after its pack header and 24-byte system header:
// the presentation control packet (PCI, 980 bytes of payload) and the data search packet (DSI,
// 1018). Authoring tools fill them in; here they hold the pack's own number and SCR.
constexpr size_t DvdSystemHeaderSize = 24;
constexpr size_t NavigationPacketsSize = PackSize - PackHeaderSize - DvdSystemHeaderSize;
void WriteNavigationPackets(uint8_t* out, uint32_t packNumber, uint64_t scr27MHz);
// A padding packet of exactly totalSize bytes (at least 6).
void WritePaddingPacket(uint8_t* out, size_t totalSize);
// Five timestamp bytes with the given 4-bit prefix (2 = PTS alone, 3 = PTS before DTS, 1 = DTS).
void WriteTimestamp(uint8_t* out, unsigned prefix, int64_t time90kHz);

} // namespace mpeg
