#include "media/wtv/WtvStreamType.h"

#include "media/ByteCursor.h"
#include "media/GuidBytes.h"
#include "media/PayloadFormat.h"
#include "media/mpeg/VideoHeaders.h"
#include "media/wtv/WtvGuids.h"

namespace wtv {
namespace {

using media::ReadGuid;

constexpr uint32_t FourCc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint16_t Ac3Tag = 0x2000;
constexpr uint16_t MpegTag = 0x0050;
constexpr uint16_t Mp3Tag = 0x0055;
// RAW_AAC1, MPEG_ADTS_AAC, MPEG_LOAS, MPEG_HEAAC.
constexpr uint16_t AacTag = 0x00FF;
constexpr uint16_t AdtsAacTag = 0x1600;
constexpr uint16_t LatmAacTag = 0x1602;
constexpr uint16_t HeAacTag = 0x1610;

Declared VideoKind(const GUID& subtype)
{
    if (subtype == Mpeg2VideoSubtype)
        return Declared::Mpeg2Video;
    if (IsBaseGuid(subtype)) {
        switch (subtype.Data1) {
        case FourCc('H', '2', '6', '4'):
        case FourCc('h', '2', '6', '4'):
        case FourCc('X', '2', '6', '4'):
        case FourCc('x', '2', '6', '4'):
            return Declared::H264Video;
        case FourCc('A', 'V', 'C', '1'):
        case FourCc('a', 'v', 'c', '1'):
            return Declared::Avc1Video;
        default:
            break;
        }
    }
    return Declared::OtherVideo;
}

Declared AudioKind(const GUID& subtype, const uint8_t* format, size_t formatSize, const GUID& formatType)
{
    if (subtype == Ac3Subtype)
        return Declared::Ac3;
    if (subtype == Eac3Subtype)
        return Declared::Eac3;
    if (subtype == Mpeg2AudioSubtype || subtype == Mpeg1PayloadSubtype)
        return Declared::MpegAudio;
    // A WAVE tag made a subtype, or the WAVEFORMATEX's own tag.
    uint32_t tag = IsBaseGuid(subtype) ? subtype.Data1 : 0;
    if (tag == 0 && formatType == WaveFormatExFormat && formatSize >= 2)
        tag = static_cast<uint32_t>(format[0] | format[1] << 8);
    if (tag == AacTag || tag == AdtsAacTag || tag == LatmAacTag || tag == HeAacTag)
        return Declared::Aac;
    return tag == Ac3Tag ? Declared::Ac3 : tag == MpegTag || tag == Mp3Tag ? Declared::MpegAudio : Declared::OtherAudio;
}

} // namespace

bool ParseStreamType(const uint8_t* chunk, size_t size, const TypeLayout& layout, StreamType& type)
{
    if (size < layout.format)
        return false;
    media::CByteCursor sizeField(chunk + layout.formatSize, 4);
    size_t formatSize = sizeField.U32();
    if (formatSize > size - layout.format)
        return false;
    const uint8_t* format = chunk + layout.format;
    type.majorType = ReadGuid(chunk + layout.major);
    type.subtype = ReadGuid(chunk + layout.subtype);
    GUID formatType = ReadGuid(chunk + layout.formatType);
    // The wrapper keeps the real subtype and format type in the last 32 bytes of its format block.
    if (type.subtype == WrappedSubtype && formatType == WrappedFormat && formatSize >= 32) {
        formatSize -= 32;
        type.subtype = ReadGuid(format + formatSize);
        formatType = ReadGuid(format + formatSize + 16);
    }
    if (type.majorType == VideoMajor)
        type.declared = VideoKind(type.subtype);
    else if (type.majorType == AudioMajor)
        type.declared = AudioKind(type.subtype, format, formatSize, formatType);
    else if (type.majorType == CaptionsMajor || type.majorType == Line21Major)
        type.declared = Declared::Captions;
    else
        type.declared = Declared::Other;
    if (type.declared == Declared::Aac && formatType == WaveFormatExFormat)
        media::DeclaredAac(format, formatSize, type.aacConfig);
    return true;
}

bool HasSyncWord(Declared declared, const uint8_t* data, size_t size)
{
    switch (declared) {
    case Declared::Mpeg2Video:
    case Declared::H264Video:
        return mpeg::FindStartCode(data, size, 0) < size;
    case Declared::Ac3:
    case Declared::Eac3:
        for (size_t i = 0; i + 1 < size; ++i)
            if (data[i] == 0x0B && data[i + 1] == 0x77)
                return true;
        return false;
    case Declared::MpegAudio:
        for (size_t i = 0; i + 1 < size; ++i)
            if (data[i] == 0xFF && (data[i + 1] & 0xE0) == 0xE0)
                return true;
        return false;
    default:
        return true;
    }
}

} // namespace wtv
