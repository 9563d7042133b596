#pragma once
// What the program and transport stream multiplexers plan alike: which stream goes next (the
// earliest decode time), how far ahead the streams must be known, the time offset of the output,
// the rate the streams carry (declared or measured) and the rate that brings every queued unit in
// before its decode time, and a decoder buffer that units leave at their decode times.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/ElementaryStream.h"
#include "media/mpeg/RingQueue.h"

namespace mpeg {

// Timestamps begin this long after the first clock reference (0), as DVD muxers leave a preload.
constexpr int64_t MuxPreload = 45000;
// Output goes once every stream's units are known this far (90 kHz) past the next one, so the rate
// can be raised before a burst rather than after it; or once this much is queued.
constexpr int64_t MuxLookahead = 63000;
constexpr size_t MuxVideoLookaheadBytes = 3 << 20;
constexpr size_t MuxAudioLookaheadBytes = 192 << 10;
// Bytes wait in a decoder buffer less than a second: after a gap the clock moves on.
constexpr int64_t MuxMaxWait = 81000;
constexpr uint32_t LargestMuxRate = 0x3FFFFF;

// How an input's stream is coded, as its media type says; the multiplexers keep the bytes as they
// are. The elementary stream scanner finds the units of some of them (ScannerKind).
enum class Coding { Mpeg2Video, H264Video, Mpeg1Audio, Mpeg2Audio, Ac3, Eac3, AacAdts, AacLatm, AacRaw };
// The scanner's kind for the coding; false where the scanner does not cut it into units yet.
bool ScannerKind(Coding coding, StreamKind& kind);

// What the filters drive, whichever stream they write.
class IMultiplexer {
public:
    // Forgets streams and state; streams are then added again.
    virtual void Reset() = 0;
    // The stream's index, or -1 when no more streams of the kind fit or the coding is not carried.
    virtual int AddStream(Coding coding) = 0;
    // Bytes of a stream and the 90 kHz time of the first unit starting in them (or NoTimestamp).
    // Writes whatever output can be written; false once the sink failed.
    bool Push(int stream, const uint8_t* data, size_t size, int64_t time)
    {
        const ByteRange bytes{data, size};
        return Push(stream, &bytes, 1, time);
    }
    // The same for bytes in pieces, taken one after another.
    virtual bool Push(int stream, const ByteRange* pieces, size_t count, int64_t time) = 0;
    // The stream's next push arrived in the file now, and comes later: held back on the way (video
    // waiting for its captions). Its timing is judged by where it lay in the file, and the others'
    // by how far it had run there: `ticks` (90 kHz) more than before it.
    virtual void Arrived(int stream, int64_t ticks) = 0;
    // Room where the stream's next `size` bytes can be put before they are pushed, so that the
    // push copies nothing; `keep` holds it alive. False when there is none to lend now.
    virtual bool Lend(int stream, size_t size, std::shared_ptr<void>& keep, uint8_t*& room) = 0;
    // The stream has ended; when all have, the rest is written.
    virtual bool End(int stream) = 0;
    // Output goes on without the stream until it delivers again, as if it had none queued: for an
    // input that has stopped delivering while another still has data. The units it held back for
    // what its next data would tell are timed first, so they go out in their place.
    virtual bool StopWaitingFor(int stream) = 0;
    virtual size_t Queued(int stream) const = 0;
    virtual bool WaitsFor(int stream) const = 0;
    virtual bool Finished() const = 0;
    // Places in the input that could not be parsed; their bytes went out as data all the same.
    virtual uint32_t Damaged() const = 0;
    // The stream's index-th jump of its input times that was closed (CElementaryStream::Closed).
    virtual bool Closed(int stream, size_t index, ClosedJump& jump) const = 0;

protected:
    ~IMultiplexer() = default;
};

// One input: its bytes and units, and whether output waits for it.
struct MuxInput {
    MuxInput(StreamKind kind, CProgramTimeline& timeline) : queue(kind, timeline) {}
    CElementaryStream queue;
    bool waitedFor = true;
};

// What both multiplexers do alike with their inputs: bytes and ends queued, then as much output
// written as they allow (Drain, the multiplexer's own).
class CMuxInputs : public IMultiplexer {
public:
    using IMultiplexer::Push;
    bool Push(int stream, const ByteRange* pieces, size_t count, int64_t time) override
    {
        MuxInput& input = Input(stream);
        input.waitedFor = true;
        input.queue.Push(pieces, count, time);
        return Changed();
    }
    void Arrived(int stream, int64_t ticks) override { Input(stream).queue.Arrived(ticks); }
    bool Lend(int stream, size_t size, std::shared_ptr<void>& keep, uint8_t*& room) override
    {
        return Input(stream).queue.Lend(size, keep, room);
    }
    bool End(int stream) override
    {
        Input(stream).queue.End();
        return Changed();
    }
    bool StopWaitingFor(int stream) override
    {
        MuxInput& input = Input(stream);
        input.queue.TimeHeld();
        input.waitedFor = false;
        return Changed();
    }
    size_t Queued(int stream) const override { return Input(stream).queue.Queued(); }
    bool WaitsFor(int stream) const override { return Input(stream).waitedFor; }
    uint32_t Damaged() const override
    {
        uint32_t damaged = 0;
        for (int i = 0; i < InputCount(); ++i)
            damaged += Input(i).queue.Damaged();
        return damaged;
    }
    bool Closed(int stream, size_t index, ClosedJump& jump) const override
    {
        return Input(stream).queue.Closed(index, jump);
    }

protected:
    ~CMuxInputs() = default;

    virtual int InputCount() const = 0;
    virtual const MuxInput& Input(int stream) const = 0;
    MuxInput& Input(int stream) { return const_cast<MuxInput&>(static_cast<const CMuxInputs*>(this)->Input(stream)); }
    virtual bool Drain() = 0;
    // A stream's units were timed: the others follow what it closed, before output goes on.
    bool Changed()
    {
        for (int i = 0; i < InputCount(); ++i)
            Input(i).queue.FollowOthers();
        needRecount_ = true;
        return Drain();
    }

    // The streams' data changed since the output rate's needs were last counted.
    bool needRecount_ = true;
};

// The streams that hold or may still get data, earliest decode time first (streams of equal times
// in the order they were added). False while a stream that is waited for has no unit timed yet, so
// that the order is unknown.
template <class Stream>
bool OrderByDecodeTime(const std::vector<std::unique_ptr<Stream>>& streams, std::vector<std::pair<int64_t, Stream*>>& order)
{
    order.clear();
    for (const auto& stream : streams) {
        Stream& s = *stream;
        if (s.queue.Ended() && s.queue.Queued() == 0)
            continue;
        int64_t dts = INT64_MIN;
        // Bytes before the first unit belong to it; Consume keeps the unit holding the read position first.
        if (s.queue.UnitCount() > 0) {
            dts = s.queue.Unit(0).dts;
        } else if (s.queue.Ended() || s.queue.Overflowing()) {
            dts = INT64_MIN; // bytes with no unit at all: out with them
        } else if (s.waitedFor) {
            return false;    // its next time is unknown, so the order is
        } else {
            continue;
        }
        // Inserted in place (no allocation).
        order.emplace_back(dts, &s);
        for (size_t at = order.size() - 1; at > 0 && order[at - 1].first > dts; --at)
            std::swap(order[at - 1], order[at]);
    }
    return true;
}

// Whether the stream's units are known far enough past `next` (90 kHz) for output to go on.
bool LookedFarEnough(const MuxInput& input, int64_t next);

// The constant added to input times to make output times: the first decode time becomes MuxPreload.
template <class Stream>
int64_t OutputOffset(const std::vector<std::unique_ptr<Stream>>& streams)
{
    bool any = false;
    int64_t first = 0;
    for (const auto& stream : streams) {
        if (stream->queue.UnitCount() == 0)
            continue;
        const int64_t dts = stream->queue.Unit(0).dts;
        first = any ? std::min(first, dts) : dts;
        any = true;
    }
    return MuxPreload - first;
}

// The rate in 50 bytes/s that carries `bitsPerSecond` of streams with headers and a margin, as
// general-purpose program stream muxers reckon it.
uint32_t RateFor(uint64_t bitsPerSecond);

// What the streams carry, in bits per second: what they declare (the video's peak rate when its
// level allows it, plus the audio's), 0 when the video does not say; and what their queued units
// measure, all and the video alone.
struct CarriedRates {
    uint64_t declared = 0;
    uint64_t measured = 0;
    uint64_t measuredVideo = 0;
};
CarriedRates MeasureRates(const VideoFacts& video, uint64_t audioBits, const CElementaryStream* const* queues, size_t count);

// The rate (50 bytes/s) from `now` (27 MHz) on that brings every queued unit's last byte, and those
// of all units of any stream due before it, in by its decode time, when each `packetSize` bytes of
// output carry `payloadPerPacket` bytes of the streams. `next` is working space of `count` entries.
uint32_t NeededRate(const CElementaryStream* const* queues, size_t count, size_t* next, int64_t offset, uint64_t now,
                    uint64_t packetSize, uint64_t payloadPerPacket);

// A decoder buffer that units leave whole at their decode times (the elementary stream buffer of
// the system target decoder). Bytes of a unit are counted in as they arrive.
class CUnitBuffer {
public:
    void Clear()
    {
        units_.clear();
        occupancy_ = 0;
    }
    size_t Occupancy() const { return occupancy_; }
    // What it holds at `time` (27 MHz), the units due by then gone.
    size_t HeldAt(uint64_t time) const;
    // The earliest time from `time` at which `bytes` more fit in `capacity`; `leaving` counts the
    // units gone by then.
    uint64_t EarliestRoom(uint64_t time, size_t bytes, size_t capacity, size_t* leaving) const;
    // Takes out the first `count` units (those gone by a time EarliestRoom gave).
    void Leave(size_t count);
    // Bytes of the unit removed at `removal` (90 kHz); units lie in the order they leave.
    void Add(int64_t removal, size_t bytes);

private:
    struct Unit {
        int64_t removal; // 90 kHz
        size_t bytes;
    };
    CRingQueue<Unit> units_;
    size_t occupancy_ = 0;
};

// The bytes of the stream from its read position up to `payload` further enter `buffer` by
// `arrival` (27 MHz), counted to the units they belong to, removed at their decode times plus
// `offset`. Gives the units whose last byte arrived after their decode time.
uint64_t CountIntoBuffer(const CElementaryStream& queue, size_t payload, uint64_t arrival, int64_t offset, CUnitBuffer& buffer);

// Formats the multiplexers follow: the sequence header at a group of pictures, an audio frame.
enum class HeaderRead { Whole, Partial, None };
HeaderRead ReadFormat(const CElementaryStream& queue, uint64_t position, VideoFacts& video, int& frameRateCode, AudioFrame& audio);

} // namespace mpeg
