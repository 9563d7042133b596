#include "media/mpeg/Cadence.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace mpeg {

namespace {

// Two streams' jumps are the same one when they agree this well and are found this close together,
// in their times and in the file. How far apart in the file is told by how far the streams that
// found them ran between the two places, the least of them: one that lost data there ran less
// (video found a loss of every stream up to a group of pictures after audio did, and ran none of
// it). Where each ran on for longer than the file's interleaving, they are two events: a run of
// false times in one stream, and a loss in every stream a second or two later.
constexpr int64_t SameJump = 90000;
constexpr int64_t SamePlace = 5 * 90000;
constexpr int64_t SameFilePlace = 90000;
// A stream whose times have gone this far past a jump another found, without the jump, does not
// share it: units lie in the file up to a second or so from those of the same time.
constexpr int64_t SettlingTime = 2 * 90000;
// The longest loss taken to follow a jump of the clock inside one step of a stream's times.
constexpr int64_t LongestLossAfterJump = 10 * 90000;

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
        return evidence.off - evidence.othersRan >= SmallestHiddenJump ? TimeVerdict::PartGap : TimeVerdict::Gap;
    if (evidence.nextOnOldCadence)
        return TimeVerdict::Outlier;
    // The others barely ran: the stream's times stepped where its data did not, alone (false
    // times, put back on its cadence) or with the others' (a shared jump, closed alike).
    if (evidence.othersRan >= 0)
        return TimeVerdict::Jump;
    return evidence.off > 0 && evidence.off <= LongestKeptGap ? TimeVerdict::Gap : TimeVerdict::Jump;
}

void CProgramTimeline::Reset()
{
    count_ = 0;
    streams_ = 0;
    std::fill(std::begin(ran_), std::end(ran_), 0);
    std::fill(std::begin(last_), std::end(last_), NoTimestamp);
    std::fill(std::begin(ended_), std::end(ended_), false);
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

size_t CProgramTimeline::Propose(size_t slot, int64_t due, int64_t off, bool estimated, const Marks& ran)
{
    const size_t known = count_ < Kept ? count_ : Kept;
    for (size_t i = 0; i < known; ++i) {
        // One stream finds a jump once; a step back after a step forward is another.
        Jump& j = jumps_[i];
        const int64_t amount = j.Amount();
        if (j.declined || (j.found & (1u << slot)) || (amount < 0) != (off < 0) || std::llabs(amount - off) >= SameJump ||
            std::llabs(j.due - due) > SamePlace || FileDistance(j, slot, ran) > SameFilePlace)
            continue;
        j.found |= 1u << slot;
        if (!j.taken) {
            int64_t& least = estimated ? j.estimated : j.exact;
            least = least == NoTimestamp ? off : std::min(least, off);
        }
        return i;
    }
    const size_t index = count_++ % Kept;
    Jump& j = jumps_[index];
    j = {due, {}, estimated ? NoTimestamp : off, estimated ? off : NoTimestamp, NoTimestamp, 0, 1, 1u << slot, false, false, 0};
    std::copy(std::begin(ran), std::end(ran), j.ran);
    return index;
}

size_t CProgramTimeline::JoinAsPart(size_t slot, int64_t due, int64_t off, const Marks& ran)
{
    const size_t known = count_ < Kept ? count_ : Kept;
    for (size_t i = 0; i < known; ++i) {
        Jump& j = jumps_[i];
        const int64_t rest = off - j.Amount();
        if (j.declined || (j.found & (1u << slot)) || rest < SameJump || rest > LongestLossAfterJump ||
            std::llabs(j.due - due) > SamePlace || FileDistance(j, slot, ran) > SameFilePlace)
            continue;
        j.found |= 1u << slot;
        return i;
    }
    return NoJump;
}

int64_t CProgramTimeline::FileDistance(const Jump& jump, size_t slot, const Marks& ran) const
{
    int64_t least = std::llabs(ran[slot] - jump.ran[slot]);
    for (size_t i = 0; i < streams_; ++i)
        if (jump.found & (1u << i))
            least = std::min(least, std::llabs(ran[i] - jump.ran[i]));
    return least;
}

bool CProgramTimeline::Settled(size_t jump, size_t slot) const
{
    const Jump& j = jumps_[jump];
    for (size_t i = 0; i < streams_; ++i) {
        const bool gonePast = last_[i] != NoTimestamp && last_[i] > j.due + SettlingTime;
        if (i != slot && !(j.found & (1u << i)) && !ended_[i] && last_[i] != NoTimestamp && !gonePast)
            return false;
    }
    return true;
}

bool CProgramTimeline::Shared(size_t jump, size_t slot) const
{
    return (jumps_[jump].found & ~(1u << slot)) != 0;
}

int64_t CProgramTimeline::Take(size_t jump)
{
    Jump& j = jumps_[jump];
    if (j.taken)
        return j.closed;
    j.taken = true;
    j.closed = j.Amount();
    if (j.videoStep != NoTimestamp && j.frameNum > 0 && j.videoStep >= j.closed) {
        // What the video keeps, in 1/frameDen ticks, and how far it is past a whole frame. Within
        // the rounding of given times it is whole; else the amount goes down to the next whole
        // frame (down, so that no stream is left a step back).
        const int64_t past = (j.videoStep - j.closed) * j.frameDen % j.frameNum;
        if (past > ContainerRounding * j.frameDen && j.frameNum - past > ContainerRounding * j.frameDen)
            j.closed -= (j.frameNum - past) / j.frameDen;
    }
    return j.closed;
}

void CProgramTimeline::Decline(size_t jump)
{
    jumps_[jump].declined = true;
}

} // namespace mpeg
