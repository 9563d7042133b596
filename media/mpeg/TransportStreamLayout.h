#pragma once
// Byte layout of an MPEG-2 transport stream (ISO/IEC 13818-1): 188-byte packets, the adaptation
// field with its PCR, PAT and PMT sections with their CRC, and PES headers for a transport stream.
// Stream types and descriptors are those ATSC and DVB receivers expect.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/MuxPlanning.h"
#include "media/mpeg/ProgramStreamLayout.h"

namespace mpeg {

constexpr size_t TsPacketSize = 188;
constexpr size_t TsHeaderSize = 4;
constexpr uint16_t PatPid = 0x0000;
constexpr uint16_t NullPid = 0x1FFF;
// Clear of DVB's SI PIDs (0x10-0x1F) and ATSC's PSIP base (0x1FFB).
constexpr uint16_t PmtPid = 0x0100;
constexpr uint16_t FirstStreamPid = 0x0101;
constexpr uint16_t ProgramNumber = 1;
constexpr uint16_t TransportStreamId = 1;

uint8_t StreamType(Coding coding);
uint8_t PesStreamId(Coding coding, size_t sameKindBefore);

struct TsStreamEntry {
    Coding coding;
    uint16_t pid;
    char language[3];  // ISO 639-2 code; all zero when the recording names none
};

// CRC-32 of PSI sections: polynomial 0x04C11DB7, MSB first, initial 0xFFFFFFFF, no final XOR.
uint32_t PsiCrc32(const uint8_t* data, size_t size);

// One whole PSI packet (pointer field, the section, 0xFF after it) on `pid` with counter `cc`.
void WritePatPacket(uint8_t* out, uint8_t cc, uint8_t version);
// False when the streams' descriptors do not fit one packet (not with up to nine streams).
bool WritePmtPacket(uint8_t* out, uint8_t cc, uint8_t version, uint16_t pcrPid, const TsStreamEntry* streams, size_t count);

// The 4-byte packet header. payloadStart marks a packet where a PES or section begins.
void WriteTsHeader(uint8_t* out, uint16_t pid, bool payloadStart, bool adaptation, bool payload, uint8_t cc);

struct AdaptationField {
    bool pcr = false;
    uint64_t pcr27MHz = 0;     // base * 300 + extension
    bool randomAccess = false;
    bool discontinuity = false;
};
// Bytes the adaptation field needs without stuffing (0 when none is needed).
size_t AdaptationFieldSize(const AdaptationField& field);
// An adaptation field of exactly `size` bytes (at least AdaptationFieldSize, at least 1), stuffed.
void WriteAdaptationField(uint8_t* out, const AdaptationField& field, size_t size);
// A packet of adaptation field only on `pid` (a PCR where no payload is due); `cc` is the PID's
// last counter, which a packet without payload repeats.
void WriteAdaptationOnlyPacket(uint8_t* out, uint16_t pid, uint8_t cc, const AdaptationField& field);
void WriteNullPacket(uint8_t* out);

// A PES header for a transport stream: data alignment set (each PES starts with an access unit),
// PTS and DTS as given; PES_packet_length 0 (unbounded) where the packet is longer than the field
// holds, which a transport stream allows for video only.
size_t TsPesHeaderSize(int64_t pts, int64_t dts);
size_t WriteTsPesHeader(uint8_t* out, uint8_t streamId, int64_t pts, int64_t dts, size_t payloadSize);

// Raw AAC frames travel with a 7-byte ADTS header each, made from the AudioSpecificConfig.
constexpr size_t AdtsHeaderSize = 7;
struct AdtsConfig {
    unsigned objectType = 0;
    unsigned frequencyIndex = 0;
    unsigned channelConfiguration = 0;
};
// False when the config names what ADTS cannot say (an object type above 4, an explicit frequency).
bool ReadAacConfig(const uint8_t* config, size_t size, AdtsConfig& out);
void WriteAdtsHeader(uint8_t* out, const AdtsConfig& config, size_t frameSize);

} // namespace mpeg
