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

} // namespace mpeg
