#include "media/mpeg/UnitScanner.h"

#include <algorithm>

namespace mpeg {

namespace {

// Times of samples in which no unit started are dropped beyond this many.
constexpr size_t MaxSampleTimes = 64;

} // namespace

void CFoundUnits::Reset()
{
    units_.clear();
    times_.clear();
    groupStarts_.clear();
    timed_ = 0;
    lastReferenceCounts_ = 2;
    damaged_ = 0;
    runAtArrival_ = false;
    ran_ = 0;
}

void CFoundUnits::RunAtArrival(int64_t ticks)
{
    runAtArrival_ = true;
    timeline_.Run(slot_, ticks);
}

void CFoundUnits::Given(uint64_t position, int64_t time)
{
    times_.push_back({position, time});
    if (times_.size() > MaxSampleTimes)
        times_.pop_front();
}

int64_t CFoundUnits::TakeTime(uint64_t position)
{
    while (times_.size() >= 2 && times_[1].position <= position)
        times_.pop_front();
    if (times_.empty() || times_.front().position > position)
        return NoTimestamp;
    const int64_t time = times_.front().time;
    times_.pop_front();
    return time;
}

void CFoundUnits::Add(const FoundUnit& unit, int64_t ticks)
{
    const int64_t time = TakeTime(unit.position);
    units_.push_back(unit);
    FoundUnit& added = units_.back();
    added.time = time;
    added.start = std::min(added.start, added.position);
    timeline_.Mark(added.ran);
    for (size_t i = 0; arrival_ && i < CProgramTimeline::MaxStreams; ++i) {
        if (i != slot_)
            added.ran[i] = (*arrival_)[i];
    }
    added.ran[slot_] = ran_;
    ran_ += ticks;
    if (!runAtArrival_)
        timeline_.Run(slot_, ticks);
}

void CFoundUnits::SetLead(uint64_t serial, int64_t lead)
{
    if (serial >= timed_ && serial - timed_ < units_.size())
        units_[static_cast<size_t>(serial - timed_)].lead = lead < 0 ? 0 : lead;
}

void CFoundUnits::PopTimed()
{
    if (units_.front().reference)
        lastReferenceCounts_ = units_.front().counts;
    units_.pop_front();
    ++timed_;
}

void CFoundUnits::ForgetGroupsBefore(uint64_t position)
{
    while (!groupStarts_.empty() && groupStarts_.front() < position)
        groupStarts_.pop_front();
}

} // namespace mpeg
