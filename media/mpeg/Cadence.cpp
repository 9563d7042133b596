#include "media/mpeg/Cadence.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace mpeg {

namespace {

// Two streams' jumps are the same one when they agree this well and are found this close together.
constexpr int64_t SameJump = 45000;
constexpr int64_t SamePlace = 5 * 90000;

} // namespace

void CCadence::SetUnit(int64_t num, int64_t den)
{
    if (num == num_ && den == den_)
        return;
    if (Known())
        Anchor(Due());
    num_ = num;
    den_ = den;
}

void CCadence::Reset()
{
    anchor_ = NoTimestamp;
    counts_ = 0;
}

void CCadence::Anchor(int64_t time)
{
    anchor_ = time;
    counts_ = 0;
}

TimeVerdict JudgeTime(const TimeEvidence& evidence)
{
    // The others ran through at least half the hole: it is this stream's lost data. A jump or a
    // false time leaves the stream's units side by side in the file, the others barely moved.
    if (evidence.off > 0 && evidence.othersRan >= 0 && 2 * evidence.othersRan >= evidence.off)
        return TimeVerdict::Gap;
    if (evidence.nextOnOldCadence)
        return TimeVerdict::Outlier;
    return evidence.off > 0 && evidence.off <= LongestKeptGap ? TimeVerdict::Gap : TimeVerdict::Jump;
}

void CProgramTimeline::Reset()
{
    count_ = 0;
    streams_ = 0;
    std::fill(std::begin(ran_), std::end(ran_), 0);
}

size_t CProgramTimeline::Join()
{
    return streams_ < MaxStreams ? streams_++ : MaxStreams - 1;
}

void CProgramTimeline::Mark(Marks& marks) const
{
    std::copy(std::begin(ran_), std::end(ran_), marks);
}

int64_t CProgramTimeline::OthersRan(size_t slot, const Marks& before, const Marks& after) const
{
    int64_t longest = -1;
    for (size_t i = 0; i < streams_; ++i) {
        if (i != slot && ran_[i] > 0)
            longest = std::max(longest, after[i] - before[i]);
    }
    return longest;
}

int64_t CProgramTimeline::Close(int64_t due, int64_t jump)
{
    const size_t known = count_ < Kept ? count_ : Kept;
    for (size_t i = 0; i < known; ++i) {
        const Jump& j = jumps_[i];
        if (std::llabs(j.jump - jump) <= SameJump && std::llabs(j.due - due) <= SamePlace)
            return j.jump;
    }
    jumps_[count_++ % Kept] = {due, jump};
    return jump;
}

} // namespace mpeg
