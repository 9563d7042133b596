#pragma once
// Frame headers of MPEG audio (layers I-III, MPEG-1/2/2.5) and AC-3: where a frame starts, how
// long it is in bytes and in samples, and what it carries.

#include <cstddef>
#include <cstdint>

namespace mpeg {

struct AudioFrame {
    uint32_t size;       // bytes, header included
    uint32_t samples;    // per channel
    uint32_t sampleRate; // Hz
    uint32_t bitRate;    // bits per second
    unsigned channels;   // AC-3: the LFE counts; 0 when the header is cut before the coding mode
    unsigned layer;      // MPEG audio 1-3; 0 for AC-3
    unsigned version;    // MPEG audio 1, or 2 for the half and quarter rates; 0 for AC-3
};

// `data` points at a candidate header (4 bytes for MPEG audio, 6 for AC-3). False when the
// bytes are not a valid header (free-format MPEG audio included: its size is not in the header;
// E-AC-3, whose header differs).
bool ParseMpegAudioFrame(const uint8_t* data, size_t size, AudioFrame& frame);
bool ParseAc3Frame(const uint8_t* data, size_t size, AudioFrame& frame);

// E-AC-3 (ATSC A/52 annex E): needs 6 bytes. `dependent` tells a dependent substream, which
// belongs to the independent frame before it (the same samples, more channels).
bool ParseEac3Frame(const uint8_t* data, size_t size, AudioFrame& frame, bool& dependent);

// AAC (ISO/IEC 14496-3). What an AudioSpecificConfig declares.
struct AacConfig {
    unsigned objectType = 0;
    uint32_t sampleRate = 0;
    unsigned channels = 0;
    unsigned frameSamples = 1024; // 960 with the short frame flag
    unsigned subFrames = 1;       // LATM: frames per LOAS frame
};
bool ParseAudioSpecificConfig(const uint8_t* data, size_t size, AacConfig& config);
// An ADTS frame: needs 7 bytes.
bool ParseAdtsFrame(const uint8_t* data, size_t size, AudioFrame& frame);
// A LOAS frame (AudioSyncStream, 0x2B7) holding LATM: needs 3 bytes for its size and, when the
// frame carries its StreamMuxConfig, the bytes of that; a frame that reuses the last one takes
// `known` (sample rate 0 when none was seen).
bool ParseLoasFrame(const uint8_t* data, size_t size, const AacConfig& known, AudioFrame& frame, AacConfig& config);
// The bytes of an AAC stream tell its framing: ADTS and LOAS have sync words, raw frames none.
enum class AacFraming { Raw, Adts, Loas };
AacFraming AacFramingOf(const uint8_t* data, size_t size);

} // namespace mpeg
