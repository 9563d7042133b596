#include "media/mpeg/VideoHeaders.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mpeg {

size_t FindStartCode(const uint8_t* data, size_t size, size_t from)
{
    // Every byte of a picture is looked at, so this is the multiplexer's hottest loop. A start
    // code begins with two zero bytes, which coded pictures rarely hold otherwise: many bytes at a
    // time are looked at for such a pair, and only where there is one byte by byte.
    size_t i = from;
#if defined(__SSE2__)
    // 32 bytes a step: a bit for each byte that is zero and followed by a zero, and only those
    // places looked at for the 01 after them.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 34 <= size; i += 32) {
        const auto pairsAt = [&](size_t at) {
            const __m128i first = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)), zero);
            const __m128i second = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1)), zero);
            return static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(first, second)));
        };
        for (uint32_t pairs = pairsAt(i) | (pairsAt(i + 16) << 16); pairs != 0; pairs &= pairs - 1) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(pairs));
            if (data[at + 2] == 1)
                return at;
        }
    }
    for (; i + 2 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            return i;
#else
    while (i + 2 < size) {
        constexpr uint64_t lows = 0x7F7F7F7F7F7F7F7Full;
        constexpr uint64_t highs = 0x8080808080808080ull;
        while (i + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, data + i, sizeof(word));
            // The high bit of each zero byte (exactly), then of each zero followed by a zero.
            const uint64_t zeros = ~(((word & lows) + lows) | word) & highs;
            if ((zeros & (zeros >> 8)) != 0)
                break;
            // A pair may still begin at the last byte and run into the next word.
            i += 7;
        }
        for (const size_t end = std::min(size - 2, i + 8); i < end; ++i)
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
                return i;
    }
#endif
    return size;
}

size_t FindStartCodeOf(const uint8_t* data, size_t size, uint8_t code)
{
    for (size_t at = FindStartCode(data, size, 0); at + 3 < size; at = FindStartCode(data, size, at + 1))
        if (data[at + 3] == code)
            return at;
    return size;
}

bool ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader& header)
{
    if (size < 6)
        return false;
    const int type = (data[5] >> 3) & 0x07;
    if (type < 1 || type > 4)
        return false;
    header.temporalReference = (data[4] << 2) | (data[5] >> 6);
    header.type = static_cast<PictureType>(type);
    return true;
}

bool ParseSequenceHeader(const uint8_t* data, size_t size, SequenceHeader& header)
{
    if (size < 12)
        return false;
    header.width = (data[4] << 4) | (data[5] >> 4);
    header.height = ((data[5] & 0x0F) << 8) | data[6];
    header.aspectCode = data[7] >> 4;
    header.frameRateCode = data[7] & 0x0F;
    header.bitRateValue = (static_cast<uint32_t>(data[8]) << 10) | (data[9] << 2) | (data[10] >> 6);
    header.bitRate = header.bitRateValue * 400u;
    header.vbvBufferValue = ((data[10] & 0x1Fu) << 5) | (data[11] >> 3);
    return FramePeriod27MHz(header.frameRateCode) != 0;
}

FrameRate FrameRateOf(int frameRateCode)
{
    static const FrameRate rates[] = {{0, 1},     {24000, 1001}, {24, 1},      {25, 1}, {30000, 1001},
                                      {30, 1},    {50, 1},       {60000, 1001}, {60, 1}};
    return frameRateCode >= 1 && frameRateCode <= 8 ? rates[frameRateCode] : rates[0];
}

int64_t FramePeriod27MHz(int frameRateCode)
{
    const FrameRate rate = FrameRateOf(frameRateCode);
    return rate.num ? 27000000ll * rate.den / rate.num : 0;
}

bool ParseSequenceExtension(const uint8_t* data, size_t size, SequenceExtension& extension)
{
    if (size < 10 || (data[4] >> 4) != 1)
        return false;
    const uint8_t* e = data + 4;
    extension.profile = e[0] & 0x07;
    extension.level = e[1] >> 4;
    extension.widthHigh = ((e[1] & 0x01) << 13) | ((e[2] >> 7) << 12);
    extension.heightHigh = ((e[2] >> 5) & 0x03) << 12;
    extension.lowDelay = (e[5] & 0x80) != 0;
    extension.progressiveSequence = (e[1] & 0x08) != 0;
    extension.bitRateHigh = ((e[2] & 0x1Fu) << 7) | (e[3] >> 1);
    extension.vbvHigh = e[4];
    extension.frameRateN = (e[5] >> 5) & 0x03;
    extension.frameRateD = e[5] & 0x1F;
    return true;
}

uint32_t LevelVbvBytes(int level)
{
    switch (level) {
    case HighLevel: return 9781248 / 8;
    case High1440Level: return 7340032 / 8;
    case MainLevel: return 1835008 / 8;
    case LowLevel: return 475136 / 8;
    default: return 0;
    }
}

uint32_t LevelMaxBitRate(int level)
{
    switch (level) {
    case HighLevel: return 80000000;
    case High1440Level: return 60000000;
    case MainLevel: return 15000000;
    case LowLevel: return 4000000;
    default: return 0;
    }
}

bool ParsePictureCodingExtension(const uint8_t* data, size_t size, PictureCodingExtension& extension)
{
    if (size < 9 || (data[4] >> 4) != 8 || (data[6] & 0x03) == 0)
        return false;
    extension.structure = static_cast<PictureStructure>(data[6] & 0x03);
    extension.topFieldFirst = (data[7] & 0x80) != 0;
    extension.repeatFirstField = (data[7] & 0x02) != 0;
    extension.progressiveFrame = (data[8] & 0x80) != 0;
    return true;
}

int FieldsShown(const PictureCodingExtension& picture, bool progressiveSequence)
{
    if (progressiveSequence)
        return picture.repeatFirstField ? (picture.topFieldFirst ? 6 : 4) : 2;
    return picture.repeatFirstField ? 3 : 2;
}

} // namespace mpeg
