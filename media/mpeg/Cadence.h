#pragma once
// A stream's own rhythm and the jumps its times make. A unit is due at the last trusted time plus
// the exact durations of the units since (fields of video, samples of audio), so the rounding of
// 90 kHz ticks never adds up; the jumps found are shared by the streams of one program, so each
// stream closes a jump they share by the same amount and they stay in step, and each stream's
// running time is shared so that data lost from one stream can be told from a time that lies.

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
    void Shift(int64_t ticks) { anchor_ += ticks; }
    // How far `ticks` is past the nearest whole number of counts (negative: short of it), in ticks.
    int64_t PastWholeCounts(int64_t ticks) const;
    // How long one count lasts: num / den ticks of 90 kHz.
    int64_t UnitNum() const { return num_; }
    int64_t UnitDen() const { return den_; }

private:
    int64_t anchor_ = NoTimestamp;
    int64_t counts_ = 0;
    int64_t num_ = 1;
    int64_t den_ = 1;
};

// What a given time that disagrees with the cadence turns out to be, once the next given time of
// the same stream is known. PartGap: data the stream lost, the others running on beside it, yet
// they ran through noticeably less than the step (the clock jumped forward at its end) or more
// (it jumped back inside the loss): the rest is a jump if another stream shares it.
enum class TimeVerdict { Outlier, Gap, PartGap, Jump };

// Plain ASF keeps times in whole milliseconds.
constexpr int64_t ContainerRounding = 90;
// Forward discontinuities up to this long are kept as gaps where nothing tells lost data from a
// jump (a stream alone); longer ones and every backward one are closed.
constexpr int64_t LongestKeptGap = 90000;
// What a stream's loss may hide of a jump the others make at its end: less than this is taken for
// how the file interleaves the streams (a few units).
constexpr int64_t SmallestHiddenJump = 9000;

// What is known of a given time that disagrees with its stream's cadence by `off` (90 kHz).
struct TimeEvidence {
    int64_t off;
    // The next given time of the stream agrees with the old cadence.
    bool nextOnOldCadence;
    // How much longer the program's other streams ran, in the file, than this stream itself since
    // its last trusted time (the longest of them; 0 when none ran longer); -1 when no other
    // stream tells.
    int64_t othersRan;
};

// Data lost from one stream leaves the others running through the hole: its next unit lies beside
// their units of its own new time, so the gap is kept, however long. A time the stream's next one
// contradicts is an outlier. A step the others' data did not run through is a jump, closed: this
// stream's times alone (false ones), or all streams' (a clock reset, or a loss in every stream),
// each closed by the same amount. Where no other stream tells, a short forward step is a gap.
// Where the others ran through most of the step but not all, or more than all of it, the rest may
// be a jump they made at the end of this stream's loss, or back inside it (PartGap).
TimeVerdict JudgeTime(const TimeEvidence& evidence);

// What the streams of one program share while they are timed: the jumps found, and how far each
// stream's units have run (the sum of their durations), so one stream's gap can be measured
// against the others' data beside it in the file.
class CProgramTimeline {
public:
    static constexpr size_t MaxStreams = 9;
    static constexpr size_t NoJump = SIZE_MAX;
    CProgramTimeline() { Reset(); }
    using Marks = int64_t[MaxStreams];

    void Reset();
    // A slot for a stream's running time; streams beyond MaxStreams share the last.
    size_t Join();
    void Run(size_t slot, int64_t ticks) { ran_[slot] += ticks; }
    void Mark(Marks& marks) const;
    // The longest run of another stream than `slot` between two marks; -1 when none ran at all.
    int64_t OthersRan(size_t slot, const Marks& before, const Marks& after) const;

    // The last decode time a stream gave out (output time line), and its end: a stream that has
    // ended, or not begun, is not waited for.
    void Timed(size_t slot, int64_t dts) { last_[slot] = dts; }
    void Ended(size_t slot) { ended_[slot] = true; }

    // A stream found its times jump by `off` at `due` (output time line: where its cadence put the
    // unit, past the stream's own loss where `estimated`), at the unit found when the streams had
    // run as far as `ran`: the same jump as one another stream found there, at about the same
    // place in the file, of about the same size; or a new one. `estimated`: the step less what the
    // stream is reckoned to have lost, which the interleaving of the file blurs. Gives the jump's
    // index.
    // One stream's single step may be two of another's at that place: the clock jumped inside a
    // loss of every stream, and the other stream's data went on past the jump before its loss (or
    // the clock jumped twice within one unit of the first stream). The single step then counts as
    // found by the other stream too, which measured the sum of its two.
    // A forward step noticeably apart from the jump the others measured there holds it: longer, with
    // a loss of the stream's own after it; shorter, with the clock jumping back after it; or it is a
    // single step that the others make as two. It stays a jump of its own until they show which, by
    // a second step or by running past it.
    // A step that undoes the stream's own last jump, which it alone made, is a jump of its own too:
    // the end of a run of false times, whatever the others found nearby.
    // `step`: the stream's whole step there, its own loss in it: no stream closes more than its own.
    // `alone`: a run of the stream's own false times, which its later times undo: a jump no other
    // stream's joins, however near and alike, as its end is; neither is one of a pair.
    size_t Propose(size_t slot, int64_t due, int64_t off, bool estimated, int64_t step, const Marks& ran, bool alone);
    // Where a step of about `step` that a stream found past a unit lies, the unit found at `ran` and
    // due at `due`: Before it where another stream found the step with its own unit past it lying
    // before that one in the file (a loss of every stream, or the clock's jump, came first); After
    // it once every other stream has found it after, or gone well past it; else not known yet.
    enum class StepPlace { Unknown, Before, After };
    StepPlace WhereStep(size_t slot, int64_t due, int64_t step, const Marks& ran) const;
    // Another stream found a step of about `step` near that unit; of `step` to within `within`.
    bool FoundNear(size_t slot, int64_t due, int64_t step, const Marks& ran) const;
    bool FoundNear(size_t slot, int64_t due, int64_t step, const Marks& ran, int64_t within) const;
    // Every other stream has found a step of its own near that unit, gone well past it, or ended:
    // a step that none of them found like it there is none of theirs.
    bool OthersShown(size_t slot, int64_t due, const Marks& ran) const;
    // Every other stream has found the jump as well, ended, or gone well past it without it.
    bool Settled(size_t jump, size_t slot) const;
    // Another stream than `slot` found the jump as well, and one measured it exactly: where each
    // only reckoned it from what the others ran, their losses overlap, with no jump between.
    bool SharedExactly(size_t jump, size_t slot) const;
    // The second of a pair of steps that another stream made as a single step.
    bool EndsPair(size_t jump) const { return jumps_[jump].single != NoJump; }
    // The end of a run of the stream's own false times (or such a run): no other stream shares it.
    bool Alone(size_t jump) const { return jumps_[jump].alone; }
    // The whole step the video's times made at the jump, its own loss in it, and how long its
    // frame lasts (frameNum / frameDen ticks of 90 kHz).
    void SetVideoStep(size_t jump, int64_t step, int64_t frameNum, int64_t frameDen)
    {
        jumps_[jump].videoStep = step;
        jumps_[jump].frameNum = frameNum;
        jumps_[jump].frameDen = frameDen;
    }
    // What each stream closes of the jump, the same for all: the least of the steps measured
    // exactly (of the estimated ones where none was), so that a stream that lost more than the
    // others around it keeps the rest as a gap; a forward one no more than any stream's whole
    // step, which would put its next unit before its last. Where the video found the jump, the rest it keeps
    // is a whole number of its frames, so that its pictures stay on their fields (DVD authoring
    // wants that): the amount goes down to that, each stream keeping less than a frame more as a
    // gap. Final once taken.
    int64_t Take(size_t jump);
    // The stream that found the jump keeps its step as a gap, and nobody closes the jump.
    void Decline(size_t jump);
    // The stream has closed `shift` in all from its unit found when it had run `ran` on.
    void Shifted(size_t slot, int64_t ran, int64_t shift);
    // A stream begins with its unit found at `place`. Gives what it closes from its start: what the
    // first other stream that has begun had closed there. Its times are on the clock the others'
    // jumps before it led to, and a loss of every stream before it began left them as they are.
    int64_t Begin(size_t slot, const Marks& place);
    // Streams that began inside the step of `slot` from `from` to `to` and did not find its jump are
    // on the clock after it, as the stream's next units are: they close the jump too, from their
    // start (Follow, then each FollowedBy). False where one of them has had units written already,
    // which cannot move any more (a jump back is closed all the same).
    bool MayFollow(size_t jump, size_t slot, const Marks& from, const Marks& to) const;
    void Follow(size_t jump, size_t slot, const Marks& from, const Marks& to);
    // What the stream has still to close from its start for jumps it began inside; 0 once told.
    int64_t FollowedBy(size_t slot)
    {
        const int64_t closed = follow_[slot];
        follow_[slot] = 0;
        return closed;
    }
    // Some of the stream's units have been written.
    void Wrote(size_t slot) { wrote_[slot] = true; }

private:
    struct Jump {
        int64_t due;
        Marks ran;         // how far the streams had run where it was first found
        int64_t exact;     // the least step measured exactly; NoTimestamp: none yet
        int64_t estimated; // the least estimated one
        int64_t leastStep; // the least whole step of a stream that found it
        int64_t videoStep; // NoTimestamp: the video has not found it
        int64_t frameNum;  // and the video's frame
        int64_t frameDen;
        uint32_t found;    // a bit for each stream that found it
        bool taken;
        bool declined;
        int64_t closed;    // once taken: the amount every stream closes
        // A single step that another stream made as two: those two jumps; the second of such a
        // pair: the single step. NoJump where not.
        size_t pairFirst;
        size_t pairSecond;
        size_t single;
        size_t serial; // jumps found before it
        size_t holds;  // the others' jump that this longer or shorter step holds
        bool alone;    // a run of one stream's false times, or its end
        Marks place;   // each stream that found it: its own run at the unit it found it at
        uint32_t placed; // a bit for each stream whose place is known
        int64_t Amount() const { return exact != NoTimestamp ? exact : estimated; }
        int64_t Measured() const { return taken ? closed : Amount(); }
        // How far what the video keeps of its step past `closed` is over a whole number of its
        // frames, in 1/frameDen ticks: 0 where it is whole within the rounding of given times, or
        // the video did not find the jump.
        int64_t PastWholeFrames() const
        {
            if (videoStep == NoTimestamp || frameNum <= 0 || videoStep < closed)
                return 0;
            const int64_t past = (videoStep - closed) * frameDen % frameNum;
            return past > ContainerRounding * frameDen && frameNum - past > ContainerRounding * frameDen ? past : 0;
        }
    };
    // A step of the video's whose amount the others' jumps fixed before it was found (the video
    // came late in the file, held for its captions), so that it may not leave the video's frames
    // whole: it closes the amount nearest to that which does (less than half a frame off the
    // others'; down to the next whole frame where more would pass its step), so that its pictures
    // stay on their fields.
    static void KeepFramesWhole(Jump& j);
    size_t Add(size_t slot, int64_t due, int64_t off, bool estimated, int64_t step, const Marks& ran, size_t holds,
               bool alone = false);
    // Two places are one where they are close in time, and in the file: the least that any of
    // `streams` ran between them.
    bool Near(int64_t dueA, const Marks& ranA, int64_t dueB, const Marks& ranB, uint32_t streams) const;
    bool AtSamePlace(const Jump& a, const Jump& b) const;
    // Another stream than `slot` found the jump, a step of about `step` near the unit at `due`, `ran`.
    bool OthersFound(const Jump& j, size_t slot, int64_t due, int64_t step, const Marks& ran, int64_t within) const;
    // The stream's times have gone well past `due` (output time line): units lie in the file up to
    // a second or so from those of the same time, so it has nothing more to find there.
    bool GonePast(size_t stream, int64_t due) const;
    // A step at the jump's place that is the jump and a loss after it, found before the jump or
    // after: the stream that found the jump first need not wait for the other's loss to end.
    bool Hides(const Jump& step, const Jump& jump) const;
    // The stream whose last step is `step` has nothing more to find of jump `jump`.
    bool AccountsFor(const Jump& step, size_t jump) const;
    // A stream other than the one that found the step has timed past where that one resumes.
    bool PastResume(const Jump& step, size_t stream) const;
    // The stream found the jump at `index`: as the second of its last two, which another stream
    // made as a single step, or as a single step that another made as its last two.
    void MatchPairs(size_t slot, size_t index);
    bool PairMakes(size_t first, size_t second, size_t single) const;
    // The stream's last step and a step of `off` sum to another stream's single step more nearly
    // than `off` alone comes to it.
    bool MakesWithLast(size_t slot, int64_t off, const Jump& single) const;
    void JoinPair(size_t single, size_t slot, size_t first, size_t second);
    static constexpr size_t Kept = 16;
    // How many places of jumps_ hold a jump.
    size_t JumpsHeld() const { return count_ < Kept ? count_ : Kept; }
    Jump jumps_[Kept] = {};
    struct ShiftChange {
        int64_t ran; // the stream's own run at the unit it took effect from
        int64_t shift;
    };
    ShiftChange shifts_[MaxStreams][Kept] = {}; // each stream's last changes, oldest first
    size_t shiftCount_[MaxStreams] = {};
    Marks began_[MaxStreams] = {}; // where each stream began: its first unit is timed (last_)
    bool wrote_[MaxStreams] = {};
    int64_t follow_[MaxStreams] = {};
    bool BeganInside(size_t i, size_t jump, size_t slot, const Marks& from, const Marks& to) const;
    size_t lastFound_[MaxStreams][2] = {}; // each stream's last two jumps, the last first
    size_t count_ = 0;
    Marks ran_ = {};
    Marks last_ = {};
    bool ended_[MaxStreams] = {};
    size_t streams_ = 0;
};

} // namespace mpeg
