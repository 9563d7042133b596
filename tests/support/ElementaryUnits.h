#pragma once
// Access units of elementary streams as the tests' checkers find them, independent of the
// multiplexers they judge: MPEG-2 pictures (two field pictures make one unit) with the headers
// before them, MPEG audio and AC-3 frames; and what the program and transport stream checkers
// share: their fault log, decode and removal times.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A PES header's 33-bit PTS or DTS (90 kHz).
int64_t Timestamp(const uint8_t* p);
std::string Seconds(double ticks27);

// A checker's faults: how many of each, with the first few messages of each. FaultName(Fault) is
// the checker's own.
template <class Fault>
struct FaultLog {
    size_t counts[static_cast<size_t>(Fault::Count)] = {};
    std::vector<std::string> messages;

    size_t Count(Fault fault) const { return counts[static_cast<size_t>(fault)]; }
    std::vector<Fault> Found() const
    {
        std::vector<Fault> found;
        for (size_t f = 0; f < static_cast<size_t>(Fault::Count); ++f)
            if (counts[f])
                found.push_back(static_cast<Fault>(f));
        return found;
    }
    void Add(Fault fault, const std::string& message)
    {
        if (counts[static_cast<size_t>(fault)]++ < 6)
            messages.push_back(std::string(FaultName(fault)) + ": " + message);
    }
};

enum class TimingFault { PtsBeforeDts, PtsGap, DecodeOrder };
// Decode times from the stamps the units got (90 kHz, -1 for none): the DTS, else the PTS. A unit
// without a stamp decodes when the one before ends: exact for audio and for video without
// B-pictures or pulldown, an estimate with them. Units before the first stamp stay untimed. A
// decoder goes at most 0.7 s without a stamp; while a stream has no units it owes none.
void DecodeTimes(std::vector<Unit>& units, const std::vector<int64_t>& pts, const std::vector<int64_t>& dts,
                 const std::string& name, const std::function<void(TimingFault, const std::string&)>& fail);
// When each unit leaves its buffer (27 MHz): the untimed ones before the first timed unit with it,
// none before the one before it. Empty when no unit is timed.
std::vector<int64_t> RemovalTimes(const std::vector<Unit>& units);

} // namespace es_units
