#pragma once
// Access units of elementary streams as the tests' checkers find them, independent of the
// multiplexers they judge: MPEG-2 pictures (two field pictures make one unit) with the headers
// before them, MPEG audio and AC-3 frames.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace es_units {

constexpr int64_t Hz27 = 27000000;
constexpr uint64_t None = ~0ull;

struct Unit {
    uint64_t start = 0;           // first byte, headers before the picture included
    uint64_t anchor = 0;          // where a stamp for it must start: the (first) picture start code, the frame start
    uint64_t secondAnchor = None; // the second field picture's start code
    int64_t duration = 0;         // 27 MHz
    bool awaitingSecond = false;
    bool group = false;           // a sequence or GOP header starts it
    int64_t decode = 0;           // 27 MHz
    bool timed = false;
};

// Size and duration (27 MHz) of the frame at p, or false.
bool MpegAudioFrame(const uint8_t* p, size_t left, size_t& size, int64_t& duration);
bool Ac3Frame(const uint8_t* p, size_t left, size_t& size, int64_t& duration);
using FrameParser = bool (*)(const uint8_t*, size_t, size_t&, int64_t&);
// Audio frames one after another; bytes that are no frame join the frame before them. A sync word
// is believed when the next frame follows, or the stream ends within the frame.
std::vector<Unit> AudioUnits(const std::string& es, FrameParser parse);
// Pictures, with the sequence and GOP headers before them; two field pictures make one unit.
std::vector<Unit> VideoUnits(const std::string& es);

} // namespace es_units
