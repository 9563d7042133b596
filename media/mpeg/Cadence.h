#pragma once
// A stream's own rhythm and the jumps its times make. A unit is due at the last trusted time plus
// the exact durations of the units since (fields of video, samples of audio), so the rounding of
// 90 kHz ticks never adds up; the jumps found are shared by the streams of one program, so each
// stream closes a jump they share by the same amount and they stay in step.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/ProgramStreamLayout.h"

namespace mpeg {

class CCadence {
public:
    // One count lasts num / den ticks of 90 kHz. A change keeps the time already due.
    void SetUnit(int64_t num, int64_t den);
    void Reset();
    bool Known() const { return anchor_ != NoTimestamp; }
    // 90 kHz: when the unit after `more` further counts is due.
    int64_t Due(int64_t more = 0) const { return anchor_ + (counts_ + more) * num_ / den_; }
    void Anchor(int64_t time);
    void Advance(int64_t counts) { counts_ += counts; }

private:
    int64_t anchor_ = NoTimestamp;
    int64_t counts_ = 0;
    int64_t num_ = 1;
    int64_t den_ = 1;
};

// What a given time that disagrees with the cadence turns out to be, once the next given time of
// the same stream is known.
enum class TimeVerdict { Outlier, Gap, Jump };

// `off` is how far the given time is from the cadence. The next given time agreeing with the old
// cadence makes it an outlier; else it is a discontinuity: a short forward one is a gap in the
// stream, kept; a longer or backward one is a jump, closed.
TimeVerdict JudgeTime(int64_t off, bool nextOnOldCadence);

// Forward discontinuities up to this long are kept as gaps (lost frames); longer ones and every
// backward one are closed.
constexpr int64_t LongestKeptGap = 90000;

class CTimeJumps {
public:
    void Reset() { count_ = 0; }
    // A stream found its times jump by `jump` where its cadence put the unit at `due` (output time
    // line). The amount to close: that of a jump another stream found there already, else `jump`.
    int64_t Close(int64_t due, int64_t jump);

private:
    struct Jump {
        int64_t due;
        int64_t jump;
    };
    static constexpr size_t Kept = 16;
    Jump jumps_[Kept] = {};
    size_t count_ = 0;
};

} // namespace mpeg
