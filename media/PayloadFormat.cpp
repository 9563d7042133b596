#include "media/PayloadFormat.h"

#include <algorithm>
#include <cstdint>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/AvcSyntax.h"
#include "media/mpeg/VideoHeaders.h"

namespace media {
namespace {

void SetAudioFormat(const mpeg::AudioFrame& frame, AudioFormat& format)
{
    format.sampleRate = frame.sampleRate;
    format.channels = frame.channels;
    format.bitRate = frame.bitRate;
    format.layer = frame.layer;
    format.mpegVersion = frame.version;
    format.samplesPerFrame = frame.samples;
    format.frameBytes = frame.size;
}

} // namespace

bool ParseVideoFormat(const uint8_t* data, size_t size, VideoFormat& format)
{
    const size_t start = mpeg::FindStartCodeOf(data, size, mpeg::SequenceHeaderCode);
    mpeg::SequenceHeader sequence{};
    // A reserved frame rate is taken for 25 frames/s rather than lose the stream.
    mpeg::ParseSequenceHeader(data + start, size - start, sequence);
    if (size - start < 12 || sequence.width == 0 || sequence.height == 0)
        return false;
    format.width = static_cast<unsigned>(sequence.width);
    format.height = static_cast<unsigned>(sequence.height);
    format.aspectCode = static_cast<unsigned>(sequence.aspectCode);
    const mpeg::FrameRate rate = mpeg::FrameRateOf(sequence.frameRateCode);
    format.frameRateNum = rate.num ? rate.num : 25;
    format.frameRateDen = rate.num ? rate.den : 1;
    format.bitRate = sequence.bitRate;
    // The header with its quantiser matrices and extensions runs to the next start code that is
    // not an extension (normally a GOP or picture header).
    size_t end = start + 12;
    for (;;) {
        const size_t next = mpeg::FindStartCode(data, size, end);
        if (next + 3 >= size) {
            end = size;
            break;
        }
        end = next;
        if (data[next + 3] != mpeg::ExtensionStartCode)
            break;
        mpeg::SequenceExtension extension{};
        if (mpeg::ParseSequenceExtension(data + next, size - next, extension)) {
            format.profile = static_cast<unsigned>(extension.profile);
            format.level = static_cast<unsigned>(extension.level);
            format.width |= static_cast<unsigned>(extension.widthHigh);
            format.height |= static_cast<unsigned>(extension.heightHigh);
        }
        end = next + 4;
    }
    format.sequenceHeader.assign(data + start, data + end);
    return true;
}

unsigned PictureCodingType(const uint8_t* data, size_t size)
{
    const size_t start = mpeg::FindStartCodeOf(data, size, mpeg::PictureStartCode);
    mpeg::PictureHeader picture{};
    return mpeg::ParsePictureHeader(data + start, size - start, picture) ? static_cast<unsigned>(picture.type) : 0;
}

size_t FindSequenceParameterSet(const uint8_t* data, size_t size)
{
    for (size_t at = mpeg::FindStartCode(data, size, 0); at + 3 < size; at = mpeg::FindStartCode(data, size, at + 3)) {
        if (mpeg::NalType(data[at + 3]) == mpeg::nal::Sps)
            return at > 0 && data[at - 1] == 0 ? at - 1 : at;
    }
    return size;
}

bool ParsePayloadAs(Codec codec, const uint8_t* data, size_t size, StreamFormat& format)
{
    switch (codec) {
    case Codec::Mpeg2Video:
        return ParseVideoFormat(data, size, format.video);
    case Codec::H264Video:
        return ParseH264Format(data, size, format.video);
    case Codec::MpegAudio:
        return ParseMpegAudioHeader(data, size, format.audio);
    case Codec::Ac3:
        return ParseAc3Header(data, size, format.audio);
    case Codec::Eac3:
        return ParseEac3Header(data, size, format.audio);
    case Codec::Aac:
        return ParseAacHeader(data, size, format.audio);
    case Codec::Unknown:
    case Codec::Captions:
        break;
    }
    return false;
}

bool TrimToVideoStart(const uint8_t*& data, size_t& size, Codec codec)
{
    size_t start = codec == Codec::H264Video ? size : mpeg::FindStartCodeOf(data, size, mpeg::SequenceHeaderCode);
    if (codec != Codec::Mpeg2Video && start == size)
        start = FindSequenceParameterSet(data, size);
    if (start == size)
        return false;
    data += start;
    size -= start;
    return true;
}

bool HoldsIdrSlice(const uint8_t* data, size_t size)
{
    for (size_t at = mpeg::FindStartCode(data, size, 0); at + 3 < size; at = mpeg::FindStartCode(data, size, at + 3)) {
        const int type = mpeg::NalType(data[at + 3]);
        if (type == mpeg::nal::IdrSlice)
            return true;
        if (type == mpeg::nal::Slice)
            return false;
    }
    return false;
}

bool ParseMpegAudioHeader(const uint8_t* data, size_t size, AudioFormat& format)
{
    mpeg::AudioFrame frame{};
    if (!mpeg::ParseMpegAudioFrame(data, size, frame))
        return false;
    SetAudioFormat(frame, format);
    return true;
}

bool ParseAc3Header(const uint8_t* data, size_t size, AudioFormat& format)
{
    mpeg::AudioFrame frame{};
    // The coding mode (channels) is in the seventh byte.
    if (size < 7 || !mpeg::ParseAc3Frame(data, size, frame))
        return false;
    SetAudioFormat(frame, format);
    return true;
}

bool ParseEac3Header(const uint8_t* data, size_t size, AudioFormat& format)
{
    mpeg::AudioFrame frame{};
    bool dependent = false;
    if (!mpeg::ParseEac3Frame(data, size, frame, dependent) || dependent)
        return false;
    SetAudioFormat(frame, format);
    return true;
}

bool ParseH264Format(const uint8_t* data, size_t size, VideoFormat& format)
{
    mpeg::AvcSps sps;
    size_t spsAt = size, spsEnd = size, ppsAt = size, ppsEnd = size;
    for (size_t at = mpeg::FindStartCode(data, size, 0); at + 3 < size;) {
        const size_t next = mpeg::FindStartCode(data, size, at + 3);
        size_t end = next;
        while (end > at + 3 && data[end - 1] == 0)
            --end;
        const int type = mpeg::NalType(data[at + 3]);
        if (type == mpeg::nal::Sps && spsAt == size && mpeg::ParseAvcSps(data + at + 3, end - at - 3, sps) >= 0) {
            spsAt = at + 3;
            spsEnd = end;
        } else if (type == mpeg::nal::Pps && ppsAt == size && spsAt != size) {
            ppsAt = at + 3;
            ppsEnd = end;
        }
        at = next;
    }
    if (spsAt == size || ppsAt == size)
        return false;
    format.width = sps.width;
    format.height = sps.height;
    format.aspectCode = 0;
    format.sarWidth = sps.sarWidth;
    format.sarHeight = sps.sarHeight;
    // A frame is two clock ticks.
    const bool timed = mpeg::AvcFramePeriod27MHz(sps) != 0;
    const bool halve = sps.numUnitsInTick > UINT32_MAX / 2; // 2 x ticks would not fit: halve the scale instead
    format.frameRateNum = timed ? (halve ? sps.timeScale / 2 : sps.timeScale) : 25;
    format.frameRateDen = timed ? (halve ? sps.numUnitsInTick : 2 * sps.numUnitsInTick) : 1;
    format.bitRate = sps.bitRate;
    format.profile = static_cast<unsigned>(sps.profileIdc);
    format.level = static_cast<unsigned>(sps.levelIdc);
    static const uint8_t startCode[4] = {0, 0, 0, 1};
    format.sequenceHeader.assign(startCode, startCode + 4);
    format.sequenceHeader.insert(format.sequenceHeader.end(), data + spsAt, data + spsEnd);
    format.sequenceHeader.insert(format.sequenceHeader.end(), startCode, startCode + 4);
    format.sequenceHeader.insert(format.sequenceHeader.end(), data + ppsAt, data + ppsEnd);
    return true;
}

bool ParseAacHeader(const uint8_t* data, size_t size, AudioFormat& format)
{
    mpeg::AudioFrame frame{};
    mpeg::AacConfig config;
    switch (mpeg::AacFramingOf(data, size)) {
    case mpeg::AacFraming::Adts:
        mpeg::ParseAdtsFrame(data, size, frame);
        format.aacPayload = AacPayload::Adts;
        break;
    case mpeg::AacFraming::Loas:
        mpeg::ParseLoasFrame(data, size, config, frame, config);
        format.aacPayload = AacPayload::Loas;
        break;
    default:
        if (size == 0 || !mpeg::ParseAudioSpecificConfig(format.aacConfig.data(), format.aacConfig.size(), config))
            return false;
        frame = {static_cast<uint32_t>(size), config.frameSamples, config.sampleRate, 0, config.channels, 0, 0};
        format.aacPayload = AacPayload::Raw;
        break;
    }
    SetAudioFormat(frame, format);
    return true;
}

bool DeclaredAac(const uint8_t* wave, size_t size, std::vector<uint8_t>& config)
{
    constexpr size_t WaveBytes = 18;
    if (size < WaveBytes)
        return false;
    const unsigned tag = wave[0] | wave[1] << 8;
    const size_t extra = std::min<size_t>(wave[16] | wave[17] << 8, size - WaveBytes);
    // HEAACWAVEINFO puts 12 bytes of its own before the config.
    const size_t skip = tag == 0x1610 ? 12 : 0;
    if (tag != 0x00FF && tag != 0x1600 && tag != 0x1602 && tag != 0x1610)
        return false;
    config.clear();
    if (extra > skip)
        config.assign(wave + WaveBytes + skip, wave + WaveBytes + extra);
    return true;
}

} // namespace media
