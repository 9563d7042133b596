#include "media/mpeg/Cadence.h"

#include <cstdlib>

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

TimeVerdict JudgeTime(int64_t off, bool nextOnOldCadence)
{
    if (nextOnOldCadence)
        return TimeVerdict::Outlier;
    return off > 0 && off <= LongestKeptGap ? TimeVerdict::Gap : TimeVerdict::Jump;
}

int64_t CTimeJumps::Close(int64_t due, int64_t jump)
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
