#include "media/mpeg/AudioFrames.h"

namespace mpeg {
namespace {

const unsigned FullBandChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
const uint32_t AacSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

// Bits of a header, most significant first; reading past the end fails it.
class HeaderBits {
public:
    HeaderBits(const uint8_t* data, size_t size) : data_(data), bits_(size * 8) {}
    bool Failed() const { return failed_; }
    uint32_t Bits(unsigned count)
    {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (at_ >= bits_) {
                failed_ = true;
                return 0;
            }
            value = (value << 1) | ((data_[at_ / 8] >> (7 - at_ % 8)) & 1);
            ++at_;
        }
        return value;
    }

private:
    const uint8_t* data_;
    size_t bits_;
    size_t at_ = 0;
    bool failed_ = false;
};

unsigned AacObjectType(HeaderBits& bits)
{
    const unsigned type = bits.Bits(5);
    return type == 31 ? 32 + bits.Bits(6) : type;
}

uint32_t AacSampleRate(HeaderBits& bits)
{
    const unsigned index = bits.Bits(4);
    if (index == 15)
        return bits.Bits(24);
    return index < 13 ? AacSampleRates[index] : 0;
}

// ISO/IEC 14496-3 1.6.2.1; the rate that times a frame is the core's (SBR doubles the samples and
// the rate alike).
bool ReadAudioSpecificConfig(HeaderBits& bits, AacConfig& config)
{
    AacConfig read;
    read.objectType = AacObjectType(bits);
    read.sampleRate = AacSampleRate(bits);
    read.channels = bits.Bits(4);
    if (read.objectType == 5 || read.objectType == 29) {
        AacSampleRate(bits);
        read.objectType = AacObjectType(bits);
    }
    // GASpecificConfig's frameLengthFlag, for the object types that have one.
    const unsigned type = read.objectType;
    if ((type >= 1 && type <= 4) || type == 6 || type == 7 || type == 17 || (type >= 19 && type <= 23))
        read.frameSamples = bits.Bits(1) ? 960 : 1024;
    if (bits.Failed() || read.sampleRate == 0 || read.sampleRate > 96000)
        return false;
    config = read;
    return true;
}

uint32_t LatmValue(HeaderBits& bits)
{
    const unsigned bytes = bits.Bits(2) + 1;
    return bits.Bits(8 * bytes);
}

void SetAacFrame(const AacConfig& config, uint32_t size, unsigned subFrames, AudioFrame& frame)
{
    frame.size = size;
    frame.samples = config.frameSamples * subFrames;
    frame.sampleRate = config.sampleRate;
    frame.bitRate = static_cast<uint32_t>(uint64_t(size) * 8 * config.sampleRate / frame.samples);
    frame.channels = config.channels;
    frame.layer = 0;
    frame.version = 0;
}

} // namespace

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

bool ParseEac3Frame(const uint8_t* data, size_t size, AudioFrame& frame, bool& dependent)
{
    if (size < 6 || data[0] != 0x0B || data[1] != 0x77)
        return false;
    const unsigned streamType = data[2] >> 6;
    const unsigned bitstreamId = data[5] >> 3;
    const unsigned rateCode = data[4] >> 6;
    const unsigned blocksCode = (data[4] >> 4) & 3;
    if (streamType == 3 || bitstreamId < 11 || bitstreamId > 16 || (rateCode == 3 && blocksCode == 3))
        return false;
    static const uint32_t rates[3] = {48000, 44100, 32000};
    static const unsigned blocks[4] = {1, 2, 3, 6};
    // A reduced rate (fscod 3) has six blocks; its code sits where the block count would.
    frame.sampleRate = rateCode == 3 ? rates[blocksCode] / 2 : rates[rateCode];
    frame.samples = 256 * (rateCode == 3 ? 6 : blocks[blocksCode]);
    frame.size = ((((data[2] & 7u) << 8) | data[3]) + 1) * 2;
    frame.bitRate = static_cast<uint32_t>(uint64_t(frame.size) * 8 * frame.sampleRate / frame.samples);
    frame.channels = FullBandChannels[(data[4] >> 1) & 7] + (data[4] & 1);
    frame.layer = 0;
    frame.version = 0;
    dependent = streamType == 1;
    return true;
}

bool ParseAudioSpecificConfig(const uint8_t* data, size_t size, AacConfig& config)
{
    HeaderBits bits(data, size);
    return ReadAudioSpecificConfig(bits, config);
}

bool ParseAdtsFrame(const uint8_t* data, size_t size, AudioFrame& frame)
{
    if (size < 7 || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0)
        return false;
    const unsigned rateIndex = (data[2] >> 2) & 0x0F;
    const uint32_t length = ((data[3] & 3u) << 11) | (uint32_t(data[4]) << 3) | (data[5] >> 5);
    const unsigned headerBytes = data[1] & 1 ? 7 : 9;
    if (rateIndex >= 13 || length < headerBytes)
        return false;
    AacConfig config;
    config.objectType = (data[2] >> 6) + 1u;
    config.sampleRate = AacSampleRates[rateIndex];
    config.channels = ((data[2] & 1u) << 2) | (data[3] >> 6);
    SetAacFrame(config, length, (data[6] & 3u) + 1, frame);
    return true;
}

bool ParseLoasFrame(const uint8_t* data, size_t size, const AacConfig& known, AudioFrame& frame, AacConfig& config)
{
    if (size < 3 || data[0] != 0x56 || (data[1] & 0xE0) != 0xE0)
        return false;
    const uint32_t length = ((data[1] & 0x1Fu) << 8) | data[2];
    // AudioMuxElement(1): the StreamMuxConfig unless the last one holds.
    HeaderBits bits(data + 3, size - 3 < length ? size - 3 : length);
    AacConfig found = known;
    unsigned subFrames = known.subFrames;
    if (bits.Bits(1) == 0) {
        const unsigned version = bits.Bits(1);
        if (version && bits.Bits(1)) // audioMuxVersionA: reserved
            return false;
        if (version)
            LatmValue(bits); // taraBufferFullness
        bits.Bits(1);        // allStreamsSameTimeFraming
        subFrames = bits.Bits(6) + 1;
        bits.Bits(4); // numProgram
        bits.Bits(3); // numLayer
        if (version)
            LatmValue(bits); // ascLen
        if (!ReadAudioSpecificConfig(bits, found))
            return false;
        found.subFrames = subFrames;
    } else if (known.sampleRate == 0) {
        return false;
    }
    if (bits.Failed())
        return false;
    config = found;
    SetAacFrame(found, length + 3, subFrames, frame);
    return true;
}

AacFraming AacFramingOf(const uint8_t* data, size_t size)
{
    AudioFrame frame;
    AacConfig config, none;
    if (ParseAdtsFrame(data, size, frame))
        return AacFraming::Adts;
    if (ParseLoasFrame(data, size, none, frame, config))
        return AacFraming::Loas;
    return AacFraming::Raw;
}

} // namespace mpeg
