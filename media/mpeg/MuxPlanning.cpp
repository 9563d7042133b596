#include "media/mpeg/MuxPlanning.h"

#include "media/mpeg/VideoHeaders.h"
#include "media/mpeg/VideoUnitScanner.h"

namespace mpeg {

namespace {

// The facts of the sequence header at `data`, and of the sequence extension after it, as the
// elementary stream reads them. Partial while the bytes end before they are known.
HeaderRead ReadSequence(const uint8_t* data, size_t size, bool ended, VideoFacts& facts, int& frameRateCode)
{
    if (size < 12)
        return ended ? HeaderRead::None : HeaderRead::Partial;
    SequenceHeader sequence;
    if (data[3] != SequenceHeaderCode || !ParseSequenceHeader(data, size, sequence))
        return HeaderRead::None;
    facts = FactsOf(sequence);
    frameRateCode = sequence.frameRateCode;
    // The quantiser matrices hold no start code: the next one is the sequence extension, or in
    // MPEG-1 the group or the picture.
    const size_t at = FindStartCode(data, size, 12);
    if (at + 4 > size || (data[at + 3] == ExtensionStartCode && at + 10 > size))
        return ended ? HeaderRead::Whole : HeaderRead::Partial;
    SequenceExtension extension;
    if (data[at + 3] == ExtensionStartCode && ParseSequenceExtension(data + at, size - at, extension))
        AddFacts(sequence, extension, facts);
    return HeaderRead::Whole;
}

} // namespace

bool ScannerKind(Coding coding, StreamKind& kind)
{
    switch (coding) {
    case Coding::Mpeg2Video: kind = StreamKind::Mpeg2Video; return true;
    case Coding::Mpeg1Audio:
    case Coding::Mpeg2Audio: kind = StreamKind::MpegAudio; return true;
    case Coding::Ac3: kind = StreamKind::Ac3Audio; return true;
    case Coding::H264Video: kind = StreamKind::H264Video; return true;
    case Coding::AacAdts:
    case Coding::AacLatm:
    case Coding::AacRaw: kind = StreamKind::AacAudio; return true;
    case Coding::Eac3: kind = StreamKind::Eac3Audio; return true;
    default: return false;
    }
}

HeaderRead ReadFormat(const CElementaryStream& queue, uint64_t position, VideoFacts& video, int& frameRateCode, AudioFrame& audio)
{
    const size_t at = static_cast<size_t>(position - queue.ReadPosition());
    const uint8_t* data = queue.Data() + at;
    const size_t size = queue.Queued() - at;
    if (queue.Kind() == StreamKind::Mpeg2Video)
        return ReadSequence(data, size, queue.Ended() || queue.Overflowing(), video, frameRateCode);
    // The scanner reads these formats as it cuts the units: what it last found holds.
    if (queue.Kind() == StreamKind::H264Video) {
        video = queue.Video();
        return video.width > 0 ? HeaderRead::Whole : HeaderRead::None;
    }
    if (queue.Kind() == StreamKind::AacAudio || queue.Kind() == StreamKind::Eac3Audio) {
        audio = queue.LastAudioFrame();
        return audio.sampleRate > 0 ? HeaderRead::Whole : HeaderRead::None;
    }
    const bool read = queue.Kind() == StreamKind::Ac3Audio ? ParseAc3Frame(data, size, audio) : ParseMpegAudioFrame(data, size, audio);
    return read ? HeaderRead::Whole : HeaderRead::None;
}

bool LookedFarEnough(const MuxInput& input, int64_t next)
{
    const CElementaryStream& queue = input.queue;
    if (!input.waitedFor || queue.Ended() || queue.Overflowing())
        return true;
    const bool video = queue.Kind() == StreamKind::Mpeg2Video || queue.Kind() == StreamKind::H264Video;
    const size_t enough = video ? MuxVideoLookaheadBytes : MuxAudioLookaheadBytes;
    if (queue.Queued() >= enough)
        return true;
    return queue.UnitCount() > 0 && queue.Unit(queue.UnitCount() - 1).dts >= next + MuxLookahead;
}

uint32_t RateFor(uint64_t bitsPerSecond)
{
    const uint64_t withOverhead = bitsPerSecond * 105 / 100 + 10000;
    return static_cast<uint32_t>(std::min<uint64_t>((withOverhead + 399) / 400, LargestMuxRate));
}

CarriedRates MeasureRates(const VideoFacts& video, uint64_t audioBits, const CElementaryStream* const* queues, size_t count)
{
    uint64_t bytes = 0, videoBytes = 0;
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (size_t i = 0; i < count; ++i) {
        const CElementaryStream& queue = *queues[i];
        if (queue.UnitCount() == 0)
            continue;
        const uint64_t queued = queue.UnitEnd(queue.UnitCount() - 1) - queue.ReadPosition();
        bytes += queued;
        videoBytes += queue.Kind() == StreamKind::Mpeg2Video ? queued : 0;
        first = std::min(first, queue.Unit(0).dts);
        last = std::max(last, queue.Unit(queue.UnitCount() - 1).dts);
    }
    CarriedRates rates;
    rates.measured = last > first ? bytes * 8 * 90000 / static_cast<uint64_t>(last - first) : 0;
    rates.measuredVideo = last > first ? videoBytes * 8 * 90000 / static_cast<uint64_t>(last - first) : 0;
    // A declared peak is believed when the level allows it; a stream that does not know its own
    // rate says 0.
    const uint32_t levelRate = LevelMaxBitRate(video.level);
    rates.declared = video.bitRate && (levelRate == 0 || video.bitRate <= levelRate) ? video.bitRate + audioBits : 0;
    return rates;
}

uint32_t NeededRate(const CElementaryStream* const* queues, size_t count, size_t* next, int64_t offset, uint64_t now,
                    uint64_t packetSize, uint64_t payloadPerPacket)
{
    std::fill(next, next + count, 0);
    uint64_t bytes = 0;
    uint64_t needed = 0;
    for (;;) {
        const CElementaryStream* earliest = nullptr;
        size_t chosen = 0;
        for (size_t i = 0; i < count; ++i) {
            const CElementaryStream& queue = *queues[i];
            if (next[i] < queue.UnitCount() && (!earliest || queue.Unit(next[i]).dts < earliest->Unit(next[chosen]).dts)) {
                earliest = &queue;
                chosen = i;
            }
        }
        if (!earliest)
            break;
        const size_t index = next[chosen]++;
        const uint64_t start = std::max(earliest->Unit(index).position, earliest->ReadPosition());
        const uint64_t end = earliest->UnitEnd(index);
        bytes += end > start ? end - start : 0;
        const int64_t due = ToSystemClock(earliest->Unit(index).dts + offset);
        if (due <= static_cast<int64_t>(now))
            continue; // late already; nothing now can help it
        const uint64_t time = static_cast<uint64_t>(due) - now;
        needed = std::max(needed, (bytes * packetSize / payloadPerPacket * SystemClock / 50 + time - 1) / time);
    }
    return static_cast<uint32_t>(std::min<uint64_t>(needed, LargestMuxRate));
}

size_t CUnitBuffer::HeldAt(uint64_t time) const
{
    size_t held = occupancy_;
    for (size_t i = 0; i < units_.size() && ToSystemClock(units_[i].removal) <= static_cast<int64_t>(time); ++i)
        held -= units_[i].bytes;
    return held;
}

uint64_t CUnitBuffer::EarliestRoom(uint64_t time, size_t bytes, size_t capacity, size_t* leaving) const
{
    size_t gone = 0;
    size_t occupancy = occupancy_;
    for (; gone < units_.size(); ++gone) {
        const Unit& unit = units_[gone];
        const int64_t removal = ToSystemClock(unit.removal);
        if (removal > static_cast<int64_t>(time)) {
            if (occupancy + bytes <= capacity)
                break;
            time = static_cast<uint64_t>(removal);
        }
        occupancy -= unit.bytes;
    }
    if (leaving)
        *leaving = gone;
    return time;
}

void CUnitBuffer::Leave(size_t count)
{
    for (; count > 0; --count) {
        occupancy_ -= units_.front().bytes;
        units_.pop_front();
    }
}

void CUnitBuffer::Add(int64_t removal, size_t bytes)
{
    if (!units_.empty() && units_.back().removal == removal) {
        units_.back().bytes += bytes;
    } else {
        // In the order they leave: sub-streams sharing the buffer interleave, and one that lost
        // data has units there that leave long after the others'.
        units_.push_back({removal, bytes});
        for (size_t at = units_.size() - 1; at > 0 && units_[at - 1].removal > removal; --at)
            std::swap(units_[at - 1], units_[at]);
    }
    occupancy_ += bytes;
}

uint64_t CountIntoBuffer(const CElementaryStream& queue, size_t payload, uint64_t arrival, int64_t offset, CUnitBuffer& buffer)
{
    uint64_t late = 0;
    const uint64_t read = queue.ReadPosition();
    const uint64_t end = read + payload;
    size_t index = 0;
    for (uint64_t position = read; position < end && queue.UnitCount() > 0;) {
        while (index + 1 < queue.UnitCount() && queue.Unit(index + 1).start <= position)
            ++index;
        const bool last = index + 1 < queue.UnitCount() && queue.Unit(index + 1).start <= end;
        const uint64_t boundary = last ? queue.Unit(index + 1).start : end;
        const int64_t removal = queue.Unit(index).dts + offset;
        if ((last || (queue.Ended() && end == queue.WritePosition())) && ToSystemClock(removal) < static_cast<int64_t>(arrival))
            ++late;
        buffer.Add(removal, static_cast<size_t>(boundary - position));
        position = boundary;
    }
    return late;
}

} // namespace mpeg
