#pragma once
// One input of the multiplexer: the bytes of an elementary stream as they arrive, cut into
// access units (video frames, audio frames) with a decode and a presentation time each.
// Bytes are kept exactly as given; units are found by parsing (by the scanner of the stream's
// kind), not from how the bytes arrived.
// Given times are checked against the stream's own cadence: a one-off bad time is replaced by
// the one the cadence gives, and a jump is closed by the amount the program's streams share.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/ByteQueue.h"
#include "media/mpeg/ByteRange.h"
#include "media/mpeg/Cadence.h"
#include "media/mpeg/ProgramStreamLayout.h"
#include "media/mpeg/RingQueue.h"
#include "media/mpeg/UnitScanner.h"

namespace mpeg {

class CAudioUnitScanner;

// A jump of a stream's given times that was closed: from the unit given the time `at` (input time
// line) on, output times are input times less `shift`.
struct ClosedJump {
    int64_t at;
    int64_t shift;
};

struct AccessUnit {
    uint64_t position; // stream offset of its first byte (picture start code, audio sync word)
    uint64_t start;    // of the headers before it, which a decoder's buffer lets go with it
    int64_t pts;       // 90 kHz, on the output's time line before the multiplexer's offset
    int64_t dts;
    int64_t nextDts;   // the decode time a following unit without timestamps is taken to have
};

class CElementaryStream {
public:
    CElementaryStream(StreamKind kind, CProgramTimeline& timeline);
    CElementaryStream(const CElementaryStream&) = delete;
    CElementaryStream& operator=(const CElementaryStream&) = delete;

    StreamKind Kind() const { return kind_; }
    void Reset();
    // Raw AAC: the AudioSpecificConfig its media type carries, which its frames do not repeat.
    // False when it does not parse; kept across Reset.
    bool SetAacConfig(const uint8_t* config, size_t size);
    // AAC: the framing its first bytes showed (raw until bytes came).
    AacFraming Framing() const;
    // `time` (90 kHz, or NoTimestamp) is that of the first unit that starts in these bytes;
    // units without one get theirs from the cadence (fields shown, audio samples).
    void Push(const uint8_t* data, size_t size, int64_t time)
    {
        const ByteRange bytes{data, size};
        Push(&bytes, 1, time);
    }
    // The pieces' bytes one after another, as one push.
    void Push(const ByteRange* pieces, size_t count, int64_t time);
    // A push arrived in the file now that comes later (IMultiplexer::Arrived): what is found in it
    // keeps how far the others had run then, as it would had it come at once; and the others see
    // this stream run `ticks` further from now on, not when its units are found.
    void Arrived(int64_t ticks);
    // No more bytes: the rest is final as it is, but for units held for the others to find a jump
    // this stream found (FollowOthers).
    void End();
    // The units held back for the stream's next given time, or for the others to find its jump,
    // are timed now, with what is known: output is to go on without the stream, which has stopped
    // delivering, and must not pass them.
    void TimeHeld();
    // No more bytes come, and the units are timed: the rest is final as it is.
    bool Ended() const { return ended_ && !holding_; }
    // After the other streams' units were timed. Where the stream began inside another stream's
    // step whose jump was closed since, the units timed so far move with it: they are on the clock
    // after the step. A stream whose bytes ended while it held units for the others to find its
    // jump times them once they have (or have run on, or ended), and one whose units wait for what
    // the others find tries them again.
    void FollowOthers();

    uint64_t ReadPosition() const { return bytes_.ReadPosition(); }
    uint64_t WritePosition() const { return bytes_.WritePosition(); }
    const uint8_t* Data() const { return bytes_.Data(); }
    size_t Queued() const { return bytes_.Queued(); }
    // Room for the next `size` bytes, which a Push of them then takes without a copy
    // (CByteQueue::Lend).
    bool Lend(size_t size, std::shared_ptr<void>& keep, uint8_t*& room) { return !ended_ && bytes_.Lend(size, keep, room); }
    // Bytes from the read position whose units are parsed and timed; all of them once the
    // stream has ended, or once this much has piled up without a unit to time it (garbage).
    static constexpr size_t MaxUntimedBacklog = 4 << 20;
    size_t Ready() const;
    bool Overflowing() const { return WritePosition() - std::max(TimedEnd(), ReadPosition()) > MaxUntimedBacklog; }
    void Consume(size_t size);

    // Timed units still holding queued bytes, in stream order; the first may start before the
    // read position.
    size_t UnitCount() const { return units_.size(); }
    const AccessUnit& Unit(size_t index) const { return units_[index]; }
    // Where the unit's bytes end, as far as known: the next unit's start, else what is ready.
    uint64_t UnitEnd(size_t index) const;

    const VideoFacts& Video() const { return scanner_->Video(); }
    // Audio: the header of the last frame parsed.
    const AudioFrame& LastAudioFrame() const { return scanner_->LastAudioFrame(); }
    // Video: where the first group of pictures (a sequence or GOP header) at or after the read
    // position starts, among the bytes parsed; UINT64_MAX when none.
    uint64_t NextGroupStart() const { return found_.GroupStarts().empty() ? UINT64_MAX : found_.GroupStarts().front(); }
    // The first group start after the read position; UINT64_MAX when none is parsed yet.
    uint64_t GroupStartAfterRead() const;

    // Units that could not be parsed (bad headers, lost audio sync); their bytes stay as data.
    uint32_t Damaged() const { return found_.Damaged(); }
    // Given times replaced by the cadence's, and jumps closed.
    uint32_t Outliers() const { return outliers_; }
    uint32_t Jumps() const { return jumps_; }
    // The index-th jump closed, oldest first; false when it has not been (or is past the ones kept).
    static constexpr size_t MaxClosedJumps = 1024;
    bool Closed(size_t index, ClosedJump& jump) const
    {
        if (index >= closed_.size())
            return false;
        jump = closed_[index];
        return true;
    }

private:
    StreamBytes Bytes() const { return {bytes_.Block(), bytes_.Filled(), bytes_.Base(), ReadPosition(), ended_}; }
    // Where the bytes whose units are timed end.
    uint64_t TimedEnd() const;
    void TimeUnits();
    // TimeUnits once the bytes have ended: what it leaves is held for the others' jump.
    void TimeEnded();
    bool KeepsStep(int64_t step) const;
    bool MayWait() const;
    bool MayWaitForOthers() const;
    // The first found unit after `from` that has a given time, or found_.Count().
    size_t NextTimed(size_t from) const;
    // Counts from the front found unit to the one at `index`.
    int64_t StepsTo(size_t index) const;
    int64_t DecodeTimeGiven(size_t index) const;
    // How far the given time of the found unit at `index` is off the cadence.
    int64_t OffCadence(size_t index) const;
    TimeVerdict Judge(int64_t off, int64_t& lost);
    int64_t OthersRanSinceTrusted() const;
    bool OffGrid(int64_t off) const;
    // Found: put back on the cadence at once. OwnJump: video's run back onto its cadence, closed
    // as a jump and opened again.
    enum class FalseRun { None, Wait, Found, OwnJump };
    FalseRun FindFalseRun(int64_t off, size_t& returnAt) const;
    FalseRun FindRunPastLoss(int64_t off, int64_t others, size_t& returnAt) const;
    // The first timed unit after `from`, its lead known, whose given time is off the cadence by
    // other than `off` (`step` receives by how much); found_.Count() where none is known yet.
    size_t NextOtherStep(size_t from, int64_t off, int64_t& step) const;

    const StreamKind kind_;
    CProgramTimeline& timeline_;
    const size_t slot_;
    CByteQueue bytes_;
    bool ended_ = false;   // no more bytes come
    bool holding_ = false; // ended, its last units held for the others to find its jump (or tell where a step lies)
    bool timingHeld_ = false; // within TimeHeld: nothing more is waited for
    CRingQueue<AccessUnit> units_;
    CFoundUnits found_;
    struct Arrival {
        CProgramTimeline::Marks ran;
    };
    static constexpr size_t MaxArrivals = 4096;
    CRingQueue<Arrival> arrivals_; // of pushes still to come, in order
    std::unique_ptr<IUnitScanner> scanner_;
    CAudioUnitScanner* audio_ = nullptr; // the scanner, where it reads audio: AAC's framing and configuration
    uint32_t outliers_ = 0;
    uint32_t jumps_ = 0;

    CCadence cadence_;
    int64_t shift_ = 0; // taken off given times: the jumps closed so far
    std::vector<ClosedJump> closed_;
    int64_t lastDts_ = NoTimestamp;
    int64_t firstGiven_ = NoTimestamp; // the first unit's given time, for the jumps it follows
    CProgramTimeline::Marks lastRan_ = {}; // of the unit timed last
    bool anyTimed_ = false;
    // The jump the front unit found, while it waits for the other streams to find it too.
    size_t proposedJump_ = CProgramTimeline::NoJump;
    // Found units, the front one first, whose given times are false (a run hidden by a loss).
    size_t falseTimes_ = 0;
    // Where the run's first unit goes, off its cadence, kept while it waits for the others.
    int64_t runOff_ = NoTimestamp;
    // The front unit's rest after a jump was judged again as a step of its own.
    bool rejudged_ = false;
    // The front unit waits for what the other streams find (where a run of false times lies):
    // it is timed again after their units are, not only after this stream's next bytes.
    bool awaitsOthers_ = false;
};

} // namespace mpeg
