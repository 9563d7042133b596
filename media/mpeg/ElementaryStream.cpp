#include "media/mpeg/ElementaryStream.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "media/mpeg/AudioUnitScanner.h"
#include "media/mpeg/AvcUnitScanner.h"
#include "media/mpeg/VideoUnitScanner.h"

namespace mpeg {

namespace {

// Bytes held for the next given time, beside MaxHeldUnits.
constexpr size_t MaxHeldBytes = 2 << 20;
// How much of its own time a stream holds for the others to find a jump it found.
constexpr int64_t JumpWait = 2 * 90000;

std::unique_ptr<IUnitScanner> ScannerFor(StreamKind kind)
{
    if (kind == StreamKind::Mpeg2Video)
        return std::make_unique<CVideoUnitScanner>();
    if (kind == StreamKind::H264Video)
        return std::make_unique<CAvcUnitScanner>();
    return std::make_unique<CAudioUnitScanner>(kind);
}

} // namespace

CElementaryStream::CElementaryStream(StreamKind kind, CProgramTimeline& timeline)
    : kind_(kind), timeline_(timeline), slot_(timeline.Join()), found_(timeline, slot_), scanner_(ScannerFor(kind))
{
    if (!IsVideoKind(kind))
        audio_ = static_cast<CAudioUnitScanner*>(scanner_.get());
}

void CElementaryStream::Reset()
{
    bytes_.Clear();
    ended_ = false;
    holding_ = false;
    units_.clear();
    found_.Reset();
    arrivals_.clear();
    scanner_->Reset();
    outliers_ = 0;
    jumps_ = 0;
    cadence_.Reset();
    shift_ = 0;
    closed_.clear();
    lastDts_ = NoTimestamp;
    firstGiven_ = NoTimestamp;
    anyTimed_ = false;
    proposedJump_ = CProgramTimeline::NoJump;
    falseTimes_ = 0;
    runOff_ = NoTimestamp;
    rejudged_ = false;
    awaitsOthers_ = false;
}

bool CElementaryStream::SetAacConfig(const uint8_t* config, size_t size)
{
    AacConfig parsed;
    if (!ParseAudioSpecificConfig(config, size, parsed))
        return false;
    if (audio_)
        audio_->SetAacConfig(parsed);
    return true;
}

AacFraming CElementaryStream::Framing() const
{
    return audio_ ? audio_->Framing() : AacFraming::Raw;
}

void CElementaryStream::Push(const ByteRange* pieces, size_t count, int64_t time)
{
    size_t size = 0;
    for (size_t i = 0; i < count; ++i)
        size += pieces[i].size;
    Arrival arrival;
    const bool held = !arrivals_.empty();
    if (held) {
        arrival = arrivals_.front();
        arrivals_.pop_front();
    }
    if (ended_ || size == 0)
        return;
    const uint64_t at = WritePosition();
    found_.Given(at, time);
    bytes_.Append(pieces, count);
    found_.SetArrival(held ? &arrival.ran : nullptr);
    scanner_->Scan(Bytes(), at, found_);
    TimeUnits();
    found_.SetArrival(nullptr);
}

void CElementaryStream::Arrived(int64_t ticks)
{
    // Whatever holds the pushes back holds a bounded number of them.
    if (arrivals_.size() >= MaxArrivals)
        arrivals_.pop_front();
    arrivals_.push_back({});
    timeline_.Mark(arrivals_.back().ran);
    found_.RunAtArrival(ticks);
}

void CElementaryStream::End()
{
    if (ended_)
        return;
    ended_ = true;
    scanner_->End(Bytes(), found_);
    TimeEnded();
    timeline_.Ended(slot_);
}

void CElementaryStream::TimeHeld()
{
    timingHeld_ = true;
    TimeUnits();
    timingHeld_ = false;
}

uint64_t CElementaryStream::TimedEnd() const
{
    if (units_.empty())
        return ReadPosition(); // bytes before the first unit belong to it, and its time is not known yet
    uint64_t limit = std::min(scanner_->FoundEnd(), WritePosition());
    if (!found_.Empty())
        limit = std::min(limit, found_[0].position);
    return limit;
}

size_t CElementaryStream::Ready() const
{
    if (Ended() || Overflowing())
        return Queued();
    const uint64_t limit = TimedEnd();
    return limit > ReadPosition() ? static_cast<size_t>(limit - ReadPosition()) : 0;
}

uint64_t CElementaryStream::UnitEnd(size_t index) const
{
    if (index + 1 < units_.size())
        return units_[index + 1].position;
    return ReadPosition() + Ready();
}

void CElementaryStream::FollowOthers()
{
    const int64_t closed = timeline_.FollowedBy(slot_);
    if (closed != 0) {
        shift_ += closed;
        for (size_t i = 0; i < units_.size(); ++i) {
            units_[i].pts -= closed;
            units_[i].dts -= closed;
            units_[i].nextDts -= closed;
        }
        lastDts_ -= closed;
        cadence_.Shift(-closed);
        timeline_.Timed(slot_, lastDts_);
        if (firstGiven_ != NoTimestamp && closed_.size() < MaxClosedJumps)
            closed_.push_back({firstGiven_, shift_});
    }
    if (holding_)
        TimeEnded();
    else if (awaitsOthers_)
        TimeUnits();
}

void CElementaryStream::TimeEnded()
{
    TimeUnits();
    holding_ = !found_.Empty() && (proposedJump_ != CProgramTimeline::NoJump || awaitsOthers_);
}

void CElementaryStream::Consume(size_t size)
{
    if (size > 0)
        timeline_.Wrote(slot_);
    bytes_.Consume(size);
    found_.ForgetGroupsBefore(ReadPosition());
    while (units_.size() >= 2 && units_[1].position <= ReadPosition())
        units_.pop_front();
}

uint64_t CElementaryStream::GroupStartAfterRead() const
{
    for (const uint64_t start : found_.GroupStarts())
        if (start > ReadPosition())
            return start;
    return UINT64_MAX;
}

size_t CElementaryStream::NextTimed(size_t from) const
{
    size_t index = from + 1;
    while (index < found_.Count() && found_[index].time == NoTimestamp)
        ++index;
    return index;
}

int64_t CElementaryStream::StepsTo(size_t index) const
{
    int64_t steps = 0;
    for (size_t i = 0; i < index; ++i)
        steps += scanner_->StepOf(found_, i);
    return steps;
}

int64_t CElementaryStream::DecodeTimeGiven(size_t index) const
{
    return found_[index].time - shift_ - scanner_->LeadOf(found_, index);
}

int64_t CElementaryStream::OffCadence(size_t index) const
{
    return DecodeTimeGiven(index) - cadence_.Due(StepsTo(index));
}

// How much longer the program's other streams ran in the file than this one between its last
// trusted time and the front unit; -1 when nothing tells.
int64_t CElementaryStream::OthersRanSinceTrusted() const
{
    if (!anyTimed_)
        return -1;
    const FoundUnit& unit = found_[0];
    const int64_t others = timeline_.OthersRan(slot_, lastRan_, unit.ran);
    return others >= 0 ? std::max<int64_t>(0, others - (unit.ran[slot_] - lastRan_[slot_])) : -1;
}

// Whether a step of `off` leaves the grid of the stream's units (audio frames, video fields) by more
// than the container's rounding: lost data takes whole units and keeps the grid; a false time, or a
// jump of the clock, almost never lands on it.
bool CElementaryStream::OffGrid(int64_t off) const
{
    const int64_t counts = IsVideoKind(kind_) ? 1 : scanner_->StepOf(found_, 0);
    const int64_t grid = counts * cadence_.UnitNum(); // in 1/UnitDen ticks
    if (grid <= 0)
        return false;
    int64_t past = off * cadence_.UnitDen() % grid;
    if (past < 0)
        past += grid;
    return std::min(past, grid - past) > ContainerRounding * cadence_.UnitDen();
}

// A step of `off` off the grid, where a later given time of the stream steps again, back onto the
// grid it had before, leaving a loss of whole units: the times between were false, and the loss hid
// where they began. `returnAt` receives the found unit that steps back.
// Audio's run that comes back to the cadence itself, on the grid or off it, is false times alone,
// put back at once: taken for a jump, another stream's jump of the clock about as large could join
// it. Video's stay jumps, closed and opened again, which the caption file follows: jumps of its
// own, which no other stream's joins (the clock's jump a second later, as large, is another).
CElementaryStream::FalseRun CElementaryStream::FindFalseRun(int64_t off, size_t& returnAt) const
{
    // On the grid, only audio's run alone, or video's back, can start here: where the others ran
    // through a step forward, it is data lost, and where they found a step like it there, a loss of
    // every stream or the clock's jump. A step back is never data lost.
    const bool audio = !IsVideoKind(kind_);
    const int64_t others = OthersRanSinceTrusted();
    if (!OffGrid(off)) {
        if (!audio && off > 0)
            return FindRunPastLoss(off, others, returnAt);
        if (audio && ((off > 0 && others >= 0 && 2 * others >= off) || timeline_.FoundNear(slot_, cadence_.Due(), off, found_[0].ran)))
            return FalseRun::None;
    }
    int64_t step = 0;
    for (size_t k = NextOtherStep(0, off, step); k < found_.Count(); k = NextOtherStep(k, off, step)) {
        if (!audio) {
            // The clock jumped inside video's run, as the others found there: the run goes on past
            // the jump, and may end on it.
            const int64_t due = cadence_.Due(StepsTo(k));
            if (timeline_.FoundNear(slot_, due, step - off, found_[k].ran, scanner_->Tolerance()))
                continue;
            if (timeline_.FoundNear(slot_, due, step, found_[k].ran, scanner_->Tolerance()))
                return FalseRun::OwnJump;
        }
        const bool back = std::llabs(step) <= scanner_->Tolerance();
        if (back && !audio)
            return FalseRun::OwnJump;
        // Only audio's run starts on the grid: forward, only its run back to the cadence itself; back,
        // one that a loss of its own may end, as off the grid.
        if (!back && (step < 0 || OffGrid(step) || (!OffGrid(off) && off > 0)))
            return FalseRun::None;
        // A step onto the grid that later times undo, back to `off`, is a run of its own: `off` is
        // the stream's time on both sides of it (the clock's jump, say), and the run starts at k.
        if (!back) {
            for (size_t later = NextTimed(k); later < found_.Count() && scanner_->LeadKnown(found_, later);
                 later = NextTimed(later)) {
                if (std::llabs(OffCadence(later) - off) <= scanner_->Tolerance())
                    return FalseRun::None;
            }
            if (MayWait())
                return FalseRun::Wait;
        }
        returnAt = k;
        return FalseRun::Found;
    }
    return MayWait() ? FalseRun::Wait : FalseRun::None;
}

// Video's step forward on its grid is its loss, where the others ran through about as much. Where
// they ran through most of it but noticeably less, and a later time steps back to about what they
// ran, the times between were false (a run that began where the loss ended), and the loss is what
// that time says. Where they ran through less than half, the loss is most likely every stream's.
CElementaryStream::FalseRun CElementaryStream::FindRunPastLoss(int64_t off, int64_t others, size_t& returnAt) const
{
    if (others < 0 || 2 * others < off || off - others < SmallestHiddenJump)
        return FalseRun::None;
    int64_t step = 0;
    const size_t k = NextOtherStep(0, off, step);
    if (k == found_.Count())
        return MayWait() ? FalseRun::Wait : FalseRun::None;
    if (step <= scanner_->Tolerance() || step >= off || std::llabs(step - others) >= off - others)
        return FalseRun::None;
    returnAt = k;
    return FalseRun::Found;
}

size_t CElementaryStream::NextOtherStep(size_t from, int64_t off, int64_t& step) const
{
    for (size_t k = NextTimed(from); k < found_.Count(); k = NextTimed(k)) {
        if (!scanner_->LeadKnown(found_, k))
            break;
        step = OffCadence(k);
        if (std::llabs(step - off) > scanner_->Tolerance())
            return k;
    }
    return found_.Count();
}

// The next given time is off the cadence by `step` as well.
bool CElementaryStream::KeepsStep(int64_t step) const
{
    const size_t next = NextTimed(0);
    return next < found_.Count() && scanner_->LeadKnown(found_, next) &&
           std::llabs(OffCadence(next) - step) <= scanner_->Tolerance();
}

// While the answer may still come: the stream goes on and not too much is held.
bool CElementaryStream::MayWait() const
{
    if (ended_ || timingHeld_ || found_.Count() >= MaxHeldUnits)
        return false;
    return WritePosition() - found_[0].position < MaxHeldBytes;
}

// While the other streams may still find a jump this one found: they lie in the file up to a
// second or so from this stream's units of the same time, so the held units may span that much of
// this stream, in fewer bytes than MaxHeldBytes.
bool CElementaryStream::MayWaitForOthers() const
{
    if (timingHeld_ || WritePosition() - found_[0].position >= MaxHeldBytes)
        return false;
    if (ended_) {
        // Its own data ended: they have as long to find it as they run on in the file.
        CProgramTimeline::Marks now;
        timeline_.Mark(now);
        return timeline_.OthersRan(slot_, found_[0].ran, now) < JumpWait;
    }
    return found_[found_.Count() - 1].ran[slot_] - found_[0].ran[slot_] < JumpWait;
}

// How a given time `off` the cadence is judged, once the stream's next given time is known: by it,
// and by how much longer the program's other streams ran in the file than this one since its last
// trusted time.
// `lost` receives how much of the step is data the stream lost, where the others ran through more
// of it than their interleaving accounts for: a jump right after a loss is the rest of the step.
TimeVerdict CElementaryStream::Judge(int64_t off, int64_t& lost)
{
    lost = 0;
    const size_t next = NextTimed(0);
    // A last given time alone is taken for bad, but where another stream found a step like it there:
    // it is their shared loss or jump (the stream ends just past a loss of every stream, say).
    const bool onOld = next == found_.Count() ? !timeline_.FoundNear(slot_, cadence_.Due(), off, found_[0].ran)
                                              : std::llabs(OffCadence(next)) <= scanner_->Tolerance();
    const int64_t othersRan = OthersRanSinceTrusted();
    const TimeVerdict verdict = JudgeTime({off, onOld, othersRan});
    if (othersRan >= LongestKeptGap / 2 || verdict == TimeVerdict::PartGap)
        lost = othersRan;
    return verdict;
}

void CElementaryStream::TimeUnits()
{
    awaitsOthers_ = false;
    if (!scanner_->OrderKnown())
        return;
    while (!found_.Empty()) {
        if (!scanner_->LeadKnown(found_, 0) && MayWait())
            return;
        const FoundUnit& unit = found_[0];
        scanner_->SetCadenceUnit(unit, cadence_);
        if (!cadence_.Known()) {
            // Count back from the first given time, so leading units without one keep the rhythm.
            const size_t timed = unit.time != NoTimestamp ? 0 : NextTimed(0);
            if (timed == found_.Count() && MayWait())
                return;
            if (timed < found_.Count() && !scanner_->LeadKnown(found_, timed) && MayWait())
                return;
            shift_ = timeline_.Begin(slot_, unit.ran);
            firstGiven_ = timed < found_.Count() ? found_[timed].time : NoTimestamp;
            if (shift_ != 0 && firstGiven_ != NoTimestamp && closed_.size() < MaxClosedJumps)
                closed_.push_back({firstGiven_, shift_});
            cadence_.Anchor(0);
            if (timed < found_.Count()) {
                cadence_.Anchor(DecodeTimeGiven(timed));
                cadence_.Advance(-StepsTo(timed));
            }
        }
        int64_t given = unit.time != NoTimestamp && falseTimes_ == 0 ? DecodeTimeGiven(0) : NoTimestamp;
        const int64_t due = cadence_.Due();
        if (runOff_ != NoTimestamp)
            given = due + runOff_;
        int64_t off = given != NoTimestamp ? given - due : 0;
        bool ownRun = false;
        if (std::llabs(off) > scanner_->Tolerance() && proposedJump_ == CProgramTimeline::NoJump) {
            size_t returnAt = 0;
            const FalseRun run = FindFalseRun(off, returnAt);
            if (run == FalseRun::Wait) {
                awaitsOthers_ = true;
                return;
            }
            ownRun = run == FalseRun::OwnJump;
            if (run == FalseRun::Found && off < 0 && !OffGrid(off) && OffCadence(returnAt) > scanner_->Tolerance() &&
                !timeline_.OthersShown(slot_, due, unit.ran) && MayWaitForOthers()) {
                // A step back onto the grid, then a loss, is the clock's step where the others find
                // it as well (then it is no run): wait until they have shown their steps here.
                awaitsOthers_ = true;
                return;
            }
            if (run == FalseRun::Found) {
                // The run lies after the loss where the others ran through it before the run
                // began, or where another stream's first unit past a loss of every stream lies
                // before the run in the file, so it ends where the return puts it; else it is on
                // the cadence, and the loss comes after it.
                const int64_t lost = OffCadence(returnAt);
                const int64_t others = OthersRanSinceTrusted();
                bool lostBefore = others >= 0 && 2 * others >= lost;
                if (!lostBefore && lost > 0) {
                    // The others' units past the step tell, once they are found.
                    const auto place = timeline_.WhereStep(slot_, due, lost, unit.ran);
                    if (place == CProgramTimeline::StepPlace::Unknown && MayWaitForOthers()) {
                        awaitsOthers_ = true;
                        return;
                    }
                    lostBefore = place == CProgramTimeline::StepPlace::Before;
                }
                given = lostBefore ? due + lost : due;
                off = given - due;
                runOff_ = off;
                falseTimes_ = returnAt;
                for (size_t i = 0; i < returnAt; i = NextTimed(i))
                    ++outliers_;
            }
        }
        if (std::llabs(off) > scanner_->Tolerance()) {
            // The next given time tells a bad one from a jump; a last one alone is taken for bad.
            const size_t next = NextTimed(0);
            if ((next == found_.Count() || !scanner_->LeadKnown(found_, next)) && MayWait())
                return;
            int64_t lost = 0;
            const TimeVerdict verdict = Judge(off, lost);
            switch (verdict) {
            case TimeVerdict::Outlier:
                given = NoTimestamp;
                ++outliers_;
                break;
            case TimeVerdict::Gap:
                break;
            case TimeVerdict::PartGap:
            case TimeVerdict::Jump: {
                // Closed by the same amount in every stream that shares it, so each waits until the
                // others have found it too (or ended, or gone past it), as long as it may. What a
                // loss may hide of a jump is closed only where another stream made it too.
                const bool partGap = verdict == TimeVerdict::PartGap;
                if (proposedJump_ == CProgramTimeline::NoJump) {
                    // The rest of a step past the stream's own loss lies where the loss ends: that
                    // is where the others found it, and where they go past it.
                    proposedJump_ = timeline_.Propose(slot_, due + lost, off - lost, lost != 0, off, unit.ran, ownRun);
                    if (IsVideoKind(kind_)) // a count of the cadence is a field
                        timeline_.SetVideoStep(proposedJump_, off, 2 * cadence_.UnitNum(), cadence_.UnitDen());
                }
                if (!timeline_.Settled(proposedJump_, slot_) && MayWaitForOthers())
                    return;
                // A forward step that a stream which began inside it cannot follow stays a gap, and
                // so does one that every stream only reckoned past a loss of its own: losses that
                // overlap in part. Not the end of a run of the stream's own false times that a loss
                // of its own hid.
                if (((partGap || (lost != 0 && off > 0)) && !timeline_.SharedExactly(proposedJump_, slot_) &&
                     !timeline_.Alone(proposedJump_)) ||
                    (off > 0 && !timeline_.MayFollow(proposedJump_, slot_, lastRan_, unit.ran))) {
                    timeline_.Decline(proposedJump_);
                    break;
                }
                int64_t taken = timeline_.Take(proposedJump_);
                if (IsVideoKind(kind_)) {
                    // Where the others fixed the amount before the video found the jump, what the
                    // video keeps of its step need not be whole fields: it closes up to half a field
                    // more or less, so that its pictures stay on them (DVD authoring wants that).
                    const int64_t past = cadence_.PastWholeCounts(given - taken - due);
                    if (std::llabs(past) > ContainerRounding)
                        taken += past;
                }
                shift_ += taken;
                timeline_.Shifted(slot_, unit.ran[slot_], shift_);
                timeline_.Follow(proposedJump_, slot_, lastRan_, unit.ran);
                if (closed_.size() < MaxClosedJumps)
                    closed_.push_back({unit.time, shift_});
                ++jumps_;
                // The step's time less what was closed: a false given time stays replaced.
                given -= taken;
                // Short of a jump back by more than the others ran meanwhile: the rest is no loss of
                // this stream's but a false time, put on the cadence; units after it that keep the
                // rest are judged on their own. Not where the jump ends a pair of steps that another
                // stream made as one: that stream measured the whole, and the rest is a gap within it.
                const int64_t rest = given - due;
                if (taken < 0 && rest > scanner_->Tolerance() && 2 * std::max<int64_t>(0, OthersRanSinceTrusted()) < rest &&
                    !timeline_.EndsPair(proposedJump_)) {
                    // Unless the next time keeps it: then it is a step of its own, the rest of a loss
                    // of every stream the clock jumped back inside, judged as any other.
                    if (!rejudged_ && runOff_ == NoTimestamp && falseTimes_ == 0 && KeepsStep(rest)) {
                        rejudged_ = true;
                        proposedJump_ = CProgramTimeline::NoJump;
                        continue;
                    }
                    given = NoTimestamp;
                    ++outliers_;
                }
                // What this stream lost beyond the amount stays a gap; a time short of the cadence
                // (a picture after lost data can lack the pictures its lead counts) takes its own.
                if (given < due)
                    given = NoTimestamp;
                break;
            }
            }
        }
        if (given != NoTimestamp) {
            std::copy(std::begin(unit.ran), std::end(unit.ran), lastRan_);
            anyTimed_ = true;
        }
        // Times a millisecond or less off the cadence are its own, rounded by the container.
        if (given != NoTimestamp && std::llabs(given - due) <= ContainerRounding)
            given = due;
        int64_t dts = given != NoTimestamp ? given : due;
        // Decode times must rise, whatever was given.
        if (lastDts_ != NoTimestamp && dts <= lastDts_)
            dts = lastDts_ + 1;
        if (dts != due)
            cadence_.Anchor(dts);
        cadence_.Advance(scanner_->StepOf(found_, 0));
        units_.push_back({unit.position, unit.start, dts + scanner_->LeadOf(found_, 0), dts, cadence_.Due()});
        lastDts_ = dts;
        timeline_.Timed(slot_, dts);
        proposedJump_ = CProgramTimeline::NoJump;
        runOff_ = NoTimestamp;
        rejudged_ = false;
        if (falseTimes_ > 0)
            --falseTimes_;
        found_.PopTimed();
    }
}

} // namespace mpeg
