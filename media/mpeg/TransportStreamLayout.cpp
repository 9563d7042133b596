#include "media/mpeg/TransportStreamLayout.h"

#include <cstring>

namespace mpeg {

namespace {

constexpr uint8_t PatTableId = 0x00;
constexpr uint8_t PmtTableId = 0x02;
constexpr uint8_t RegistrationTag = 0x05;
constexpr uint8_t LanguageTag = 0x0A;
// DVB's AC-3 and enhanced AC-3 descriptors, with no optional fields.
constexpr uint8_t DvbAc3Tag = 0x6A;
constexpr uint8_t DvbEac3Tag = 0x7A;

void Put16(uint8_t* out, unsigned value)
{
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

// The section from its table_id at `section` (after the pointer field), `length` bytes before the
// CRC, closed by the CRC; the rest of the packet 0xFF.
void CloseSection(uint8_t* packet, uint8_t* section, size_t length)
{
    Put16(section + 1, 0xB000 | static_cast<unsigned>(length + 4 - 3));
    const uint32_t crc = PsiCrc32(section, length);
    section[length] = static_cast<uint8_t>(crc >> 24);
    section[length + 1] = static_cast<uint8_t>(crc >> 16);
    section[length + 2] = static_cast<uint8_t>(crc >> 8);
    section[length + 3] = static_cast<uint8_t>(crc);
    uint8_t* end = section + length + 4;
    std::memset(end, 0xFF, static_cast<size_t>(packet + TsPacketSize - end));
}

uint8_t* StartSection(uint8_t* out, uint16_t pid, uint8_t cc, uint8_t tableId, uint16_t idExtension, uint8_t version)
{
    WriteTsHeader(out, pid, true, false, true, cc);
    out[4] = 0; // pointer_field: the section starts at once
    uint8_t* section = out + 5;
    section[0] = tableId;
    Put16(section + 3, idExtension);
    section[5] = static_cast<uint8_t>(0xC1 | ((version & 0x1F) << 1)); // current
    section[6] = 0; // section_number
    section[7] = 0; // last_section_number
    return section;
}

} // namespace

uint8_t StreamType(Coding coding)
{
    switch (coding) {
    case Coding::Mpeg2Video: return 0x02;
    case Coding::H264Video: return 0x1B;
    case Coding::Mpeg1Audio: return 0x03;
    case Coding::Mpeg2Audio: return 0x04;
    case Coding::Ac3: return 0x81;
    case Coding::Eac3: return 0x87;
    case Coding::AacAdts:
    case Coding::AacRaw: return 0x0F; // written with ADTS headers
    case Coding::AacLatm: return 0x11;
    }
    return 0x06;
}

uint8_t PesStreamId(Coding coding, size_t sameKindBefore)
{
    switch (coding) {
    case Coding::Mpeg2Video:
    case Coding::H264Video: return VideoStreamId;
    case Coding::Ac3:
    case Coding::Eac3: return PrivateStream1Id;
    default: return static_cast<uint8_t>(MpegAudioStreamId + sameKindBefore);
    }
}

uint32_t PsiCrc32(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void WriteTsHeader(uint8_t* out, uint16_t pid, bool payloadStart, bool adaptation, bool payload, uint8_t cc)
{
    out[0] = 0x47;
    out[1] = static_cast<uint8_t>((payloadStart ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    out[2] = static_cast<uint8_t>(pid);
    out[3] = static_cast<uint8_t>((adaptation ? 0x20 : 0x00) | (payload ? 0x10 : 0x00) | (cc & 0x0F));
}

void WritePatPacket(uint8_t* out, uint8_t cc, uint8_t version)
{
    uint8_t* section = StartSection(out, PatPid, cc, PatTableId, TransportStreamId, version);
    Put16(section + 8, ProgramNumber);
    Put16(section + 10, 0xE000 | PmtPid);
    CloseSection(out, section, 12);
}

bool WritePmtPacket(uint8_t* out, uint8_t cc, uint8_t version, uint16_t pcrPid, const TsStreamEntry* streams, size_t count)
{
    uint8_t* section = StartSection(out, PmtPid, cc, PmtTableId, ProgramNumber, version);
    Put16(section + 8, 0xE000 | pcrPid);
    Put16(section + 10, 0xF000); // no program descriptors
    uint8_t* p = section + 12;
    const uint8_t* limit = out + TsPacketSize - 4;
    for (size_t i = 0; i < count; ++i) {
        const TsStreamEntry& stream = streams[i];
        uint8_t descriptors[32];
        size_t length = 0;
        const bool ac3 = stream.coding == Coding::Ac3, eac3 = stream.coding == Coding::Eac3;
        if (ac3 || eac3) {
            // ATSC names the coding by the registration descriptor; DVB by its own descriptor.
            const char* format = ac3 ? "AC-3" : "EAC3";
            const uint8_t tagged[] = {RegistrationTag, 4, static_cast<uint8_t>(format[0]), static_cast<uint8_t>(format[1]),
                                      static_cast<uint8_t>(format[2]), static_cast<uint8_t>(format[3]),
                                      ac3 ? DvbAc3Tag : DvbEac3Tag, 1, 0x00};
            std::memcpy(descriptors, tagged, sizeof(tagged));
            length = sizeof(tagged);
        }
        if (stream.language[0]) {
            const uint8_t language[] = {LanguageTag, 4, static_cast<uint8_t>(stream.language[0]), static_cast<uint8_t>(stream.language[1]),
                                        static_cast<uint8_t>(stream.language[2]), 0x00};
            std::memcpy(descriptors + length, language, sizeof(language));
            length += sizeof(language);
        }
        if (p + 5 + length > limit)
            return false;
        p[0] = StreamType(stream.coding);
        Put16(p + 1, 0xE000 | stream.pid);
        Put16(p + 3, 0xF000 | static_cast<unsigned>(length));
        std::memcpy(p + 5, descriptors, length);
        p += 5 + length;
    }
    CloseSection(out, section, static_cast<size_t>(p - section));
    return true;
}

size_t AdaptationFieldSize(const AdaptationField& field)
{
    return field.pcr ? 8 : (field.randomAccess || field.discontinuity) ? 2 : 0;
}

void WriteAdaptationField(uint8_t* out, const AdaptationField& field, size_t size)
{
    out[0] = static_cast<uint8_t>(size - 1);
    if (size == 1)
        return; // one stuffing byte: the length alone
    out[1] = static_cast<uint8_t>((field.discontinuity ? 0x80 : 0) | (field.randomAccess ? 0x40 : 0) | (field.pcr ? 0x10 : 0));
    size_t at = 2;
    if (field.pcr) {
        const uint64_t base = ClockBase(field.pcr27MHz) & 0x1FFFFFFFFull;
        const unsigned extension = ClockExtension(field.pcr27MHz);
        out[2] = static_cast<uint8_t>(base >> 25);
        out[3] = static_cast<uint8_t>(base >> 17);
        out[4] = static_cast<uint8_t>(base >> 9);
        out[5] = static_cast<uint8_t>(base >> 1);
        out[6] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
        out[7] = static_cast<uint8_t>(extension);
        at = 8;
    }
    std::memset(out + at, 0xFF, size - at);
}

void WriteAdaptationOnlyPacket(uint8_t* out, uint16_t pid, uint8_t cc, const AdaptationField& field)
{
    WriteTsHeader(out, pid, false, true, false, cc);
    WriteAdaptationField(out + TsHeaderSize, field, TsPacketSize - TsHeaderSize);
}

void WriteNullPacket(uint8_t* out)
{
    WriteTsHeader(out, NullPid, false, false, true, 0);
    std::memset(out + TsHeaderSize, 0xFF, TsPacketSize - TsHeaderSize);
}

size_t TsPesHeaderSize(int64_t pts, int64_t dts)
{
    return 9 + (pts == NoTimestamp ? 0 : dts != NoTimestamp && dts != pts ? 10 : 5);
}

size_t WriteTsPesHeader(uint8_t* out, uint8_t streamId, int64_t pts, int64_t dts, size_t payloadSize)
{
    const bool both = pts != NoTimestamp && dts != NoTimestamp && dts != pts;
    const size_t dataLength = pts == NoTimestamp ? 0 : both ? 10 : 5;
    const size_t packetLength = 3 + dataLength + payloadSize;
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = streamId;
    Put16(out + 4, packetLength > 0xFFFF ? 0 : static_cast<unsigned>(packetLength));
    out[6] = 0x85; // '10', not scrambled, data aligned, original
    out[7] = pts == NoTimestamp ? 0x00 : both ? 0xC0 : 0x80;
    out[8] = static_cast<uint8_t>(dataLength);
    if (both) {
        WriteTimestamp(out + 9, 3, pts);
        WriteTimestamp(out + 14, 1, dts);
    } else if (pts != NoTimestamp) {
        WriteTimestamp(out + 9, 2, pts);
    }
    return 9 + dataLength;
}

bool ReadAacConfig(const uint8_t* config, size_t size, AdtsConfig& out)
{
    if (size < 2)
        return false;
    out.objectType = config[0] >> 3;
    out.frequencyIndex = ((config[0] & 0x07) << 1) | (config[1] >> 7);
    out.channelConfiguration = (config[1] >> 3) & 0x0F;
    // ADTS has two bits for the profile (object types 1-4) and no explicit frequency.
    return out.objectType >= 1 && out.objectType <= 4 && out.frequencyIndex < 13;
}

void WriteAdtsHeader(uint8_t* out, const AdtsConfig& config, size_t frameSize)
{
    const size_t length = frameSize + AdtsHeaderSize;
    out[0] = 0xFF;
    out[1] = 0xF1; // MPEG-4, layer 0, no CRC
    out[2] = static_cast<uint8_t>(((config.objectType - 1) << 6) | (config.frequencyIndex << 2) | (config.channelConfiguration >> 2));
    out[3] = static_cast<uint8_t>(((config.channelConfiguration & 3) << 6) | ((length >> 11) & 0x03));
    out[4] = static_cast<uint8_t>(length >> 3);
    out[5] = static_cast<uint8_t>(((length & 7) << 5) | 0x1F); // buffer fullness 0x7FF: variable rate
    out[6] = 0xFC;                                              // one raw data block
}

} // namespace mpeg
