#pragma once
// Frame headers of MPEG audio (layers I-III, MPEG-1/2/2.5) and AC-3: where a frame starts, how
// long it is in bytes and in samples.

#include <cstddef>
#include <cstdint>

namespace mpeg {

struct AudioFrame {
    uint32_t size;       // bytes, header included
    uint32_t samples;    // per channel
    uint32_t sampleRate; // Hz
};

// `data` points at a candidate header (4 bytes for MPEG audio, 6 for AC-3). False when the
// bytes are not a valid header (free-format MPEG audio included: its size is not in the header).
bool ParseMpegAudioFrame(const uint8_t* data, size_t size, AudioFrame& frame);
bool ParseAc3Frame(const uint8_t* data, size_t size, AudioFrame& frame);

} // namespace mpeg
