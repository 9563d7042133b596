#pragma once
// What a stream carries, decided from its payload rather than from the header's tags, which
// media-centre recordings fill unreliably. The headers themselves are read by media/mpeg's parsers.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace asf {

enum class Codec { Unknown, Mpeg2Video, MpegAudio, Ac3, Captions };

struct VideoFormat {
    unsigned width = 0;
    unsigned height = 0;
    unsigned aspectCode = 0;      // 1 square, 2 4:3, 3 16:9, 4 2.21:1
    unsigned frameRateNum = 25;
    unsigned frameRateDen = 1;
    uint32_t bitRate = 0;         // bits per second
    unsigned profile = 0;         // from the sequence extension; 0 without one (MPEG-1)
    unsigned level = 0;
    std::vector<uint8_t> sequenceHeader; // the sequence header and its extensions, as in the stream
};

struct AudioFormat {
    unsigned sampleRate = 0;
    unsigned channels = 0;
    uint32_t bitRate = 0;         // bits per second
    unsigned layer = 0;           // MPEG audio only
    unsigned mpegVersion = 0;     // 1, or 2 for the half rates
    unsigned samplesPerFrame = 0;
    unsigned frameBytes = 0;
};

// Parses the first sequence header in the data (with the extensions after it).
bool ParseVideoFormat(const uint8_t* data, size_t size, VideoFormat& format);
// The picture coding type of the first picture header (1 I, 2 P, 3 B, 4 D), 0 when there is none.
unsigned PictureCodingType(const uint8_t* data, size_t size);
// Frame headers at the very start of the data.
bool ParseMpegAudioHeader(const uint8_t* data, size_t size, AudioFormat& format);
bool ParseAc3Header(const uint8_t* data, size_t size, AudioFormat& format);

} // namespace asf
