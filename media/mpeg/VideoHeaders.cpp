#include "media/mpeg/VideoHeaders.h"

#include <cstring>

namespace mpeg {

size_t FindStartCode(const uint8_t* data, size_t size, size_t from)
{
    // memchr finds the 01 quickly; the two zeros before it are checked after.
    size_t i = from + 2;
    while (i < size) {
        const void* one = std::memchr(data + i, 0x01, size - i);
        if (!one)
            return size;
        i = static_cast<size_t>(static_cast<const uint8_t*>(one) - data);
        if (data[i - 1] == 0 && data[i - 2] == 0)
            return i - 2;
        ++i;
    }
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
    if (size < 8)
        return false;
    header.width = (data[4] << 4) | (data[5] >> 4);
    header.height = ((data[5] & 0x0F) << 8) | data[6];
    header.frameRateCode = data[7] & 0x0F;
    return FramePeriod27MHz(header.frameRateCode) != 0;
}

int64_t FramePeriod27MHz(int frameRateCode)
{
    static const int64_t periods[] = {0, 1126125, 1125000, 1080000, 900900, 900000, 540000, 450450, 450000};
    return frameRateCode >= 1 && frameRateCode <= 8 ? periods[frameRateCode] : 0;
}

bool SequenceExtensionLowDelay(const uint8_t* data, size_t size)
{
    if (size < 10 || (data[4] >> 4) != 1)
        return false;
    return (data[9] & 0x80) != 0;
}

} // namespace mpeg
