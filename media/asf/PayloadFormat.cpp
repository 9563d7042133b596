#include "media/asf/PayloadFormat.h"

#include <cstring>

namespace asf {
namespace {

struct Rate {
    unsigned num;
    unsigned den;
};
constexpr Rate FrameRates[16] = {{25, 1},     {24000, 1001}, {24, 1}, {25, 1},     {30000, 1001}, {30, 1},
                                 {50, 1},     {60000, 1001}, {60, 1}, {25, 1},     {25, 1},       {25, 1},
                                 {25, 1},     {25, 1},       {25, 1}, {25, 1}};

constexpr unsigned Ac3Kbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr unsigned Ac3Rates[3] = {48000, 44100, 32000};
// Channels without the LFE, by audio coding mode.
constexpr unsigned Ac3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

constexpr unsigned MpegRates[3] = {44100, 48000, 32000};
// Kbit/s by [version 1 or 2][layer - 1][index].
constexpr unsigned MpegKbps[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};

} // namespace

size_t FindStartCode(const uint8_t* data, size_t size, uint8_t code)
{
    if (size < 4)
        return NotFound;
    const uint8_t* end = data + size - 3;
    for (const uint8_t* p = data; p < end;) {
        // memchr finds the 01 of a start code quickly; the two zeros before it are checked after.
        const uint8_t* one = static_cast<const uint8_t*>(std::memchr(p + 2, 1, static_cast<size_t>(end - p)));
        if (!one || one + 1 >= data + size)
            return NotFound;
        if (one[-1] == 0 && one[-2] == 0 && one[1] == code)
            return static_cast<size_t>(one - 2 - data);
        p = one - 1;
    }
    return NotFound;
}

bool ParseVideoFormat(const uint8_t* data, size_t size, VideoFormat& format)
{
    const size_t start = FindStartCode(data, size, 0xB3);
    if (start == NotFound || size - start < 12)
        return false;
    const uint8_t* s = data + start + 4;
    format.width = (s[0] << 4) | (s[1] >> 4);
    format.height = ((s[1] & 0x0F) << 8) | s[2];
    format.aspectCode = s[3] >> 4;
    const Rate rate = FrameRates[s[3] & 0x0F];
    format.frameRateNum = rate.num;
    format.frameRateDen = rate.den;
    format.bitRate = ((s[4] << 10) | (s[5] << 2) | (s[6] >> 6)) * 400u;
    if (format.width == 0 || format.height == 0)
        return false;
    // The header with its quantiser matrices and extensions runs to the next start code that is
    // not an extension (normally a GOP or picture header).
    size_t end = start + 12;
    for (;;) {
        size_t next = end;
        while (next + 3 < size && !(data[next] == 0 && data[next + 1] == 0 && data[next + 2] == 1))
            ++next;
        if (next + 3 >= size) {
            end = size;
            break;
        }
        end = next;
        if (data[next + 3] != 0xB5)
            break;
        // The sequence extension: profile and level, and the high bits of the size.
        if (next + 9 < size && (data[next + 4] >> 4) == 1) {
            const uint8_t* e = data + next + 4;
            format.profile = e[0] & 0x07;
            format.level = e[1] >> 4;
            format.width |= ((e[1] & 0x01) << 13) | ((e[2] >> 7) << 12);
            format.height |= ((e[2] >> 5) & 0x03) << 12;
        }
        end = next + 4;
    }
    format.sequenceHeader.assign(data + start, data + end);
    return true;
}

unsigned PictureCodingType(const uint8_t* data, size_t size)
{
    const size_t start = FindStartCode(data, size, 0x00);
    if (start == NotFound || size - start < 6)
        return 0;
    return (data[start + 5] >> 3) & 0x07;
}

bool ParseMpegAudioHeader(const uint8_t* data, size_t size, AudioFormat& format)
{
    if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return false;
    const unsigned versionBits = (data[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const unsigned layerBits = (data[1] >> 1) & 3;
    const unsigned bitrateIndex = data[2] >> 4;
    const unsigned rateIndex = (data[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    format.mpegVersion = versionBits == 3 ? 1 : 2;
    format.layer = 4 - layerBits;
    const unsigned divisor = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 4;
    format.sampleRate = MpegRates[rateIndex] / divisor;
    format.bitRate = MpegKbps[format.mpegVersion - 1][format.layer - 1][bitrateIndex] * 1000u;
    format.channels = (data[3] >> 6) == 3 ? 1 : 2;
    const unsigned padding = (data[2] >> 1) & 1;
    if (format.layer == 1) {
        format.samplesPerFrame = 384;
        format.frameBytes = (12 * format.bitRate / format.sampleRate + padding) * 4;
    } else {
        format.samplesPerFrame = format.layer == 3 && format.mpegVersion == 2 ? 576 : 1152;
        format.frameBytes = format.samplesPerFrame / 8 * format.bitRate / format.sampleRate + padding;
    }
    return true;
}

bool ParseAc3Header(const uint8_t* data, size_t size, AudioFormat& format)
{
    if (size < 7 || data[0] != 0x0B || data[1] != 0x77)
        return false;
    const unsigned rateCode = data[4] >> 6;
    const unsigned sizeCode = data[4] & 0x3F;
    if (rateCode == 3 || sizeCode >= 38)
        return false;
    format.sampleRate = Ac3Rates[rateCode];
    const unsigned kbps = Ac3Kbps[sizeCode / 2];
    format.bitRate = kbps * 1000u;
    format.samplesPerFrame = 1536;
    const unsigned words = kbps * 96000u / format.sampleRate;
    format.frameBytes = 2 * (rateCode == 1 ? words + (sizeCode & 1) : words);
    // bsid, bsmod, then the coding mode; the LFE bit follows the mode's optional fields.
    const unsigned mode = data[6] >> 5;
    unsigned bit = 3;
    if ((mode & 1) && mode != 1)
        bit += 2;
    if (mode & 4)
        bit += 2;
    if (mode == 2)
        bit += 2;
    const unsigned lfe = (((data[6] << 8) | (size > 7 ? data[7] : 0)) >> (15 - bit)) & 1;
    format.channels = Ac3Channels[mode] + lfe;
    format.layer = 0;
    format.mpegVersion = 0;
    return true;
}

} // namespace asf
