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
// The longest loss of every stream taken to hide a jump of the clock inside it.
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

int64_t CCadence::PastWholeCounts(int64_t ticks) const
{
    int64_t past = ticks * den_ % num_;
    if (past < 0)
        past += num_;
    if (2 * past > num_)
        past -= num_;
    return past / den_;
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
        return std::llabs(evidence.off - evidence.othersRan) >= SmallestHiddenJump ? TimeVerdict::PartGap : TimeVerdict::Gap;
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
    std::fill(std::begin(shiftCount_), std::end(shiftCount_), 0);
    std::fill(std::begin(wrote_), std::end(wrote_), false);
    std::fill(std::begin(follow_), std::end(follow_), 0);
    for (auto& found : lastFound_)
        found[0] = found[1] = NoJump;
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

size_t CProgramTimeline::Propose(size_t slot, int64_t due, int64_t off, bool estimated, int64_t step, const Marks& ran, bool alone)
{
    if (alone)
        return Add(slot, due, off, estimated, step, ran, NoJump, true);
    // A step that undoes the stream's own last jump, which no other stream made, ends a run of
    // false times: that jump opens again, and the others' jump nearby is not this one.
    const size_t own = lastFound_[slot][0];
    if (own != NoJump && jumps_[own].found == (1u << slot) && !jumps_[own].declined) {
        const int64_t ownStep = jumps_[own].Measured();
        const int64_t undone = off + ownStep;
        if (std::llabs(undone) <= ContainerRounding)
            return Add(slot, due, off, estimated, step, ran, NoJump, true);
        // Past a loss of its own the step is only reckoned from what the others ran, which their
        // interleaving blurs: the run ends there all the same, by exactly its own jump, where the
        // step undoes most of one well beyond that blur.
        if (estimated && (off < 0) != (ownStep < 0) && std::llabs(undone) < SmallestHiddenJump &&
            2 * std::llabs(undone) < std::llabs(ownStep))
            return Add(slot, due, -ownStep, false, step, ran, NoJump, true);
    }
    const size_t known = JumpsHeld();
    // A jump closed before one this stream closed is behind it: it found that one, or its own
    // record of the same, already. Not before a run of its own false times, which other streams'
    // jumps found meanwhile may well follow.
    size_t behind = 0;
    for (const size_t last : lastFound_[slot]) {
        if (last != NoJump && !jumps_[last].alone) {
            behind = jumps_[last].taken ? jumps_[last].serial : 0;
            break;
        }
    }
    for (size_t i = 0; i < known; ++i) {
        // One stream finds a jump once; a step back after a step forward is another.
        Jump& j = jumps_[i];
        if (j.taken && j.serial < behind)
            continue;
        const int64_t amount = j.Amount();
        if (j.declined || j.alone || (j.found & (1u << slot)) || (amount < 0) != (off < 0) || std::llabs(amount - off) >= SameJump ||
            !Near(j.due, j.ran, due, ran, j.found | (1u << slot)))
            continue;
        // A single step of another stream that this stream's last step and this one make together
        // better than this one alone: the two are its pair.
        if (MakesWithLast(slot, off, j))
            continue;
        // A forward step noticeably apart from one the others measured exactly holds it: longer, with
        // a loss of its own after it; shorter, with the clock jumping back after it; or it is one
        // step of what they make as two. Where they only reckoned the jump from what they ran, this
        // stream's step measures it better; where this stream only reckoned it, the file's
        // interleaving blurs its step by as much, and it is their jump.
        const bool holds = off > 0 && !estimated && j.exact != NoTimestamp && std::llabs(off - amount) >= SmallestHiddenJump;
        if (!j.taken) {
            int64_t& least = estimated ? j.estimated : j.exact;
            least = least == NoTimestamp ? off : std::min(least, off);
            j.leastStep = std::min(j.leastStep, step);
        }
        if (holds)
            return Add(slot, due, off, estimated, step, ran, i);
        j.found |= 1u << slot;
        j.place[slot] = ran[slot];
        j.placed |= 1u << slot;
        MatchPairs(slot, i);
        return i;
    }
    return Add(slot, due, off, estimated, step, ran, NoJump);
}

size_t CProgramTimeline::Add(size_t slot, int64_t due, int64_t off, bool estimated, int64_t step, const Marks& ran, size_t holds,
                             bool alone)
{
    const size_t index = count_++ % Kept;
    Jump& j = jumps_[index];
    j = {due, {}, estimated ? NoTimestamp : off, estimated ? off : NoTimestamp, step, NoTimestamp, 0, 1, 1u << slot, false, false,
         0, NoJump, NoJump, NoJump, count_, holds, alone, {}, 0};
    std::copy(std::begin(ran), std::end(ran), j.ran);
    j.place[slot] = ran[slot];
    j.placed = 1u << slot;
    // The place is reused: what pointed to the jump it held points nowhere.
    for (auto& found : lastFound_)
        for (size_t& last : found)
            last = last == index ? NoJump : last;
    for (Jump& other : jumps_)
        for (size_t* link : {&other.pairFirst, &other.pairSecond, &other.single, &other.holds})
            *link = *link == index ? NoJump : *link;
    MatchPairs(slot, index);
    return index;
}

bool CProgramTimeline::Near(int64_t dueA, const Marks& ranA, int64_t dueB, const Marks& ranB, uint32_t streams) const
{
    if (std::llabs(dueA - dueB) > SamePlace)
        return false;
    int64_t least = INT64_MAX;
    for (size_t i = 0; i < streams_; ++i)
        if (streams & (1u << i))
            least = std::min(least, std::llabs(ranA[i] - ranB[i]));
    return least <= SameFilePlace;
}

bool CProgramTimeline::AtSamePlace(const Jump& a, const Jump& b) const
{
    return Near(a.due, a.ran, b.due, b.ran, a.found | b.found);
}

void CProgramTimeline::MatchPairs(size_t slot, size_t index)
{
    size_t* last = lastFound_[slot];
    if (last[0] != index) {
        last[1] = last[0];
        last[0] = index;
    }
    const size_t known = JumpsHeld();
    if (last[1] != NoJump) {
        for (size_t i = 0; i < known; ++i) {
            if (PairMakes(last[1], index, i)) {
                JoinPair(i, slot, last[1], index);
                return;
            }
        }
    }
    for (size_t other = 0; other < streams_; ++other) {
        const size_t* pair = lastFound_[other];
        if (other != slot && pair[1] != NoJump && PairMakes(pair[1], pair[0], index)) {
            JoinPair(index, other, pair[1], pair[0]);
            return;
        }
    }
}

// The streams that found the single step found neither of the pair, which sums to it at its place.
bool CProgramTimeline::MakesWithLast(size_t slot, int64_t off, const Jump& single) const
{
    const size_t last = lastFound_[slot][0];
    if (last == NoJump)
        return false;
    // Paired already: with this stream's last step, another stream made this one too, and this
    // stream joins that.
    if (single.pairFirst != NoJump)
        return single.pairFirst == last;
    const Jump& a = jumps_[last];
    if (a.alone || a.declined || (a.found & single.found) != 0 || !AtSamePlace(a, single))
        return false;
    const int64_t sum = a.Measured() + off;
    return (sum < 0) == (single.Amount() < 0) && std::llabs(single.Amount() - sum) < std::llabs(single.Amount() - off);
}

bool CProgramTimeline::PairMakes(size_t first, size_t second, size_t single) const
{
    if (single == first || single == second)
        return false;
    const Jump& a = jumps_[first];
    const Jump& b = jumps_[second];
    const Jump& s = jumps_[single];
    // A run of one stream's false times, or its end, is no part of another's step.
    if (a.alone || b.alone || s.alone)
        return false;
    // Another stream that made the same two steps joins the single step as well.
    if (s.pairFirst == first && s.pairSecond == second)
        return true;
    if (a.declined || b.declined || s.declined || s.pairFirst != NoJump || (s.found & (a.found | b.found)) != 0)
        return false;
    const int64_t sum = a.Measured() + b.Measured();
    return (sum < 0) == (s.Amount() < 0) && std::llabs(s.Amount() - sum) < SameJump && AtSamePlace(a, s) && AtSamePlace(b, s);
}

void CProgramTimeline::JoinPair(size_t single, size_t slot, size_t first, size_t second)
{
    Jump& s = jumps_[single];
    s.found |= 1u << slot;
    s.pairFirst = first;
    s.pairSecond = second;
    jumps_[second].single = single;
    if (!s.taken) {
        int64_t& least = s.exact != NoTimestamp ? s.exact : s.estimated;
        least = std::min(least, jumps_[first].Measured() + jumps_[second].Measured());
    }
}

CProgramTimeline::StepPlace CProgramTimeline::WhereStep(size_t slot, int64_t due, int64_t step, const Marks& ran) const
{
    uint32_t foundAfter = 0;
    const size_t known = JumpsHeld();
    for (size_t i = 0; i < known; ++i) {
        const Jump& j = jumps_[i];
        if (!OthersFound(j, slot, due, step, ran, SameJump))
            continue;
        // Each stream that found it where its own unit past it lies.
        const uint32_t others = j.found & ~(1u << slot);
        for (size_t k = 0; k < streams_; ++k) {
            if ((others & j.placed & (1u << k)) && ran[k] > j.place[k])
                return StepPlace::Before;
        }
        foundAfter |= others;
    }
    for (size_t k = 0; k < streams_; ++k) {
        if (k != slot && !(foundAfter & (1u << k)) && !ended_[k] && last_[k] != NoTimestamp && !GonePast(k, due + step))
            return StepPlace::Unknown;
    }
    return StepPlace::After;
}

bool CProgramTimeline::OthersShown(size_t slot, int64_t due, const Marks& ran) const
{
    for (size_t k = 0; k < streams_; ++k) {
        if (k == slot || ended_[k] || last_[k] == NoTimestamp || GonePast(k, due))
            continue;
        bool found = false;
        const size_t known = JumpsHeld();
        for (size_t i = 0; i < known && !found; ++i) {
            const Jump& j = jumps_[i];
            found = (j.found & (1u << k)) && !j.alone && Near(j.due, j.ran, due, ran, j.found | (1u << slot));
        }
        if (!found)
            return false;
    }
    return true;
}

bool CProgramTimeline::FoundNear(size_t slot, int64_t due, int64_t step, const Marks& ran) const
{
    return FoundNear(slot, due, step, ran, SameJump);
}

bool CProgramTimeline::FoundNear(size_t slot, int64_t due, int64_t step, const Marks& ran, int64_t within) const
{
    const size_t known = JumpsHeld();
    for (size_t i = 0; i < known; ++i)
        if (OthersFound(jumps_[i], slot, due, step, ran, within))
            return true;
    return false;
}

bool CProgramTimeline::OthersFound(const Jump& j, size_t slot, int64_t due, int64_t step, const Marks& ran, int64_t within) const
{
    const int64_t amount = j.Amount();
    return (j.found & ~(1u << slot)) != 0 && !j.alone && !j.declined && (amount < 0) == (step < 0) &&
           std::llabs(amount - step) < within && Near(j.due, j.ran, due, ran, j.found | (1u << slot));
}

bool CProgramTimeline::Settled(size_t jump, size_t slot) const
{
    const Jump& j = jumps_[jump];
    for (size_t i = 0; i < streams_; ++i) {
        const bool gonePast = GonePast(i, j.due);
        // A stream whose step found there since is this jump and a loss after it finds no more.
        const bool foundOther = lastFound_[i][0] != NoJump && AccountsFor(jumps_[lastFound_[i][0]], jump);
        if (i != slot && !(j.found & (1u << i)) && !ended_[i] && last_[i] != NoTimestamp && !gonePast && !foundOther &&
            !PastResume(j, i))
            return false;
    }
    return true;
}

bool CProgramTimeline::GonePast(size_t stream, int64_t due) const
{
    return last_[stream] != NoTimestamp && last_[stream] > due + SettlingTime;
}

bool CProgramTimeline::Hides(const Jump& step, const Jump& jump) const
{
    // A stream that found both saw them apart: the clock's jump, then a loss of every stream.
    if ((step.found & jump.found) != 0)
        return false;
    const int64_t loss = step.Measured() - jump.Measured();
    return loss >= SameJump && loss <= LongestLossAfterJump && AtSamePlace(step, jump);
}

bool CProgramTimeline::AccountsFor(const Jump& step, size_t jump) const
{
    // A run of the stream's own false times, or its end, is no part of the others' jump.
    if (step.alone)
        return false;
    return step.holds == jump || step.pairFirst == jump || step.pairSecond == jump || Hides(step, jumps_[jump]);
}

// Where the others' jump and the rest of a loss of its own put the stream that found `step`. A
// shorter step waits until the others have gone well past it: the jump back that it may hold comes
// later in their times than where it resumes.
bool CProgramTimeline::PastResume(const Jump& step, size_t stream) const
{
    if (step.holds == NoJump || step.pairFirst != NoJump || last_[stream] == NoTimestamp)
        return false;
    const int64_t rest = step.Amount() - jumps_[step.holds].Measured();
    return rest > 0 && last_[stream] > step.due + rest;
}

bool CProgramTimeline::SharedExactly(size_t jump, size_t slot) const
{
    return (jumps_[jump].found & ~(1u << slot)) != 0 && jumps_[jump].exact != NoTimestamp;
}

int64_t CProgramTimeline::Take(size_t jump)
{
    Jump& j = jumps_[jump];
    if (j.taken)
        return j.closed;
    if (j.single != NoJump && jumps_[jumps_[j.single].pairFirst].taken) {
        // The second of a pair closes what is left of the single step once the first is closed.
        j.taken = true;
        j.closed = Take(j.single) - jumps_[jumps_[j.single].pairFirst].closed;
        KeepFramesWhole(j);
        return j.closed;
    }
    if (j.holds != NoJump && j.pairFirst == NoJump) {
        // The others' jump, and a loss of this stream's own after it, kept as a gap.
        j.taken = true;
        j.closed = jumps_[j.holds].declined ? 0 : Take(j.holds);
        KeepFramesWhole(j);
        return j.closed;
    }
    j.taken = true;
    j.closed = j.Amount() > 0 ? std::min(j.Amount(), j.leastStep) : j.Amount();
    // The video found it in a step of its own that holds it: its frames stay whole after that too.
    const size_t known = JumpsHeld();
    for (size_t i = 0; i < known && j.videoStep == NoTimestamp; ++i) {
        const Jump& step = jumps_[i];
        if (step.holds == jump && step.videoStep != NoTimestamp) {
            j.videoStep = step.videoStep;
            j.frameNum = step.frameNum;
            j.frameDen = step.frameDen;
        }
    }
    if (j.videoStep == NoTimestamp && j.pairSecond != NoJump && jumps_[j.pairSecond].videoStep != NoTimestamp) {
        // The video made it as two steps: its whole step is the first's amount and its second step.
        const Jump& second = jumps_[j.pairSecond];
        j.videoStep = jumps_[j.pairFirst].Measured() + second.videoStep;
        j.frameNum = second.frameNum;
        j.frameDen = second.frameDen;
    }
    // The amount goes down to the next whole frame of what the video keeps (down, so that no
    // stream is left a step back).
    const int64_t past = j.PastWholeFrames();
    if (past != 0)
        j.closed -= (j.frameNum - past) / j.frameDen;
    return j.closed;
}

void CProgramTimeline::KeepFramesWhole(Jump& j)
{
    const int64_t past = j.closed != 0 ? j.PastWholeFrames() : 0;
    if (past == 0)
        return;
    const int64_t more = past / j.frameDen;
    j.closed = 2 * past <= j.frameNum && j.closed + more <= j.leastStep ? j.closed + more
                                                                        : j.closed - (j.frameNum - past) / j.frameDen;
}

void CProgramTimeline::Decline(size_t jump)
{
    jumps_[jump].declined = true;
}

void CProgramTimeline::Shifted(size_t slot, int64_t ran, int64_t shift)
{
    ShiftChange* changes = shifts_[slot];
    size_t& count = shiftCount_[slot];
    if (count == Kept) {
        std::copy(changes + 1, changes + Kept, changes);
        --count;
    }
    changes[count++] = {ran, shift};
}

int64_t CProgramTimeline::Begin(size_t slot, const Marks& place)
{
    std::copy(std::begin(place), std::end(place), began_[slot]);
    for (size_t i = 0; i < streams_; ++i) {
        if (i == slot || last_[i] == NoTimestamp)
            continue;
        // Found before the place: its own run there was less than where the place found it.
        int64_t shift = 0;
        for (size_t k = 0; k < shiftCount_[i] && shifts_[i][k].ran < place[i]; ++k)
            shift = shifts_[i][k].shift;
        return shift;
    }
    return 0;
}

bool CProgramTimeline::BeganInside(size_t i, size_t jump, size_t slot, const Marks& from, const Marks& to) const
{
    return i != slot && last_[i] != NoTimestamp && !(jumps_[jump].found & (1u << i)) && began_[i][slot] > from[slot] &&
           began_[i][slot] <= to[slot];
}

bool CProgramTimeline::MayFollow(size_t jump, size_t slot, const Marks& from, const Marks& to) const
{
    for (size_t i = 0; i < streams_; ++i)
        if (BeganInside(i, jump, slot, from, to) && wrote_[i])
            return false;
    return true;
}

void CProgramTimeline::Follow(size_t jump, size_t slot, const Marks& from, const Marks& to)
{
    Jump& j = jumps_[jump];
    for (size_t i = 0; i < streams_; ++i) {
        if (!BeganInside(i, jump, slot, from, to) || wrote_[i])
            continue;
        follow_[i] += j.closed;
        j.found |= 1u << i;
    }
}

} // namespace mpeg
