#include "media/mpeg/AudioFrames.h"

namespace mpeg {

bool ParseMpegAudioFrame(const uint8_t* data, size_t size, AudioFrame& frame)
{
    if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return false;
    const int version = (data[1] >> 3) & 0x03; // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const int layer = 4 - ((data[1] >> 1) & 0x03);
    const int bitrateIndex = data[2] >> 4;
    const int rateIndex = (data[2] >> 2) & 0x03;
    const int padding = (data[2] >> 1) & 0x01;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    static const uint16_t bitratesV1[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    static const uint16_t bitratesV2[2][15] = {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    static const uint32_t rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const uint32_t bitrate = 1000u * (mpeg1 ? bitratesV1[layer - 1][bitrateIndex] : bitratesV2[layer == 1 ? 0 : 1][bitrateIndex]);
    const uint32_t rate = rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    frame.sampleRate = rate;
    frame.bitRate = bitrate;
    frame.channels = (data[3] >> 6) == 3 ? 1 : 2;
    frame.layer = static_cast<unsigned>(layer);
    frame.version = mpeg1 ? 1 : 2;
    if (layer == 1) {
        frame.samples = 384;
        frame.size = (12 * bitrate / rate + padding) * 4;
    } else {
        frame.samples = layer == 3 && !mpeg1 ? 576 : 1152;
        frame.size = frame.samples / 8 * bitrate / rate + padding;
    }
    return true;
}

bool ParseAc3Frame(const uint8_t* data, size_t size, AudioFrame& frame)
{
    if (size < 6 || data[0] != 0x0B || data[1] != 0x77)
        return false;
    const int rateCode = data[4] >> 6;
    const int sizeCode = data[4] & 0x3F;
    const int bitstreamId = data[5] >> 3;
    // Above 10 is E-AC-3, which has a different header.
    if (rateCode == 3 || sizeCode > 37 || bitstreamId > 10)
        return false;
    static const uint16_t kbits[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    const uint32_t bitrate = kbits[sizeCode >> 1];
    switch (rateCode) {
    case 0: // 48 kHz
        frame.sampleRate = 48000;
        frame.size = bitrate * 4;
        break;
    case 1: // 44.1 kHz: 16-bit words, odd codes one word more
        frame.sampleRate = 44100;
        frame.size = 2 * (bitrate * 320 / 147 + (sizeCode & 1));
        break;
    default: // 32 kHz
        frame.sampleRate = 32000;
        frame.size = bitrate * 6;
        break;
    }
    frame.samples = 1536;
    frame.bitRate = bitrate * 1000;
    frame.layer = 0;
    frame.version = 0;
    frame.channels = 0;
    if (size > 6) {
        // The coding mode, then its optional mix levels, then the LFE bit.
        static const unsigned fullBand[8] = {2, 1, 2, 3, 3, 4, 4, 5};
        const unsigned mode = data[6] >> 5;
        unsigned bit = 3;
        if ((mode & 1) && mode != 1)
            bit += 2;
        if (mode & 4)
            bit += 2;
        if (mode == 2)
            bit += 2;
        const unsigned lfe = (((data[6] << 8) | (size > 7 ? data[7] : 0)) >> (15 - bit)) & 1;
        frame.channels = fullBand[mode] + lfe;
    }
    return true;
}

} // namespace mpeg
