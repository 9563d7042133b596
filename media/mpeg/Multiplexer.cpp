#include "media/mpeg/Multiplexer.h"

#include <algorithm>
#include <cstring>

namespace mpeg {

namespace {

// DVD decoder buffers: video 232 KiB, MPEG audio 4 KiB, private stream 1 58 KiB.
SystemStreamEntry EntryFor(StreamKind kind)
{
    switch (kind) {
    case StreamKind::Mpeg2Video:
        return {VideoStreamId, true, 232};
    case StreamKind::MpegAudio:
        return {MpegAudioStreamId, false, 32};
    default:
        return {PrivateStream1Id, true, 58};
    }
}

size_t BufferBytes(const SystemStreamEntry& entry)
{
    return static_cast<size_t>(entry.bufferSize) * (entry.scale1024 ? 1024 : 128);
}

} // namespace

CProgramStreamMultiplexer::CProgramStreamMultiplexer(IPackSink& sink) : sink_(sink) {}

void CProgramStreamMultiplexer::Reset()
{
    streams_.clear();
    packs_ = 0;
    scrAnchor_ = 0;
    packsSinceAnchor_ = 0;
    offset_ = 0;
    offsetFixed_ = false;
    finished_ = false;
    failed_ = false;
}

int CProgramStreamMultiplexer::AddStream(StreamKind kind)
{
    auto stream = std::make_unique<Stream>(kind);
    stream->entry = EntryFor(kind);
    stream->bufferBytes = BufferBytes(stream->entry);
    streams_.push_back(std::move(stream));
    return static_cast<int>(streams_.size()) - 1;
}

uint32_t CProgramStreamMultiplexer::Damaged() const
{
    uint32_t damaged = 0;
    for (const auto& stream : streams_)
        damaged += stream->queue.Damaged();
    return damaged;
}

bool CProgramStreamMultiplexer::Push(int stream, const uint8_t* data, size_t size, int64_t time)
{
    Stream& s = *streams_[static_cast<size_t>(stream)];
    s.waitedFor = true;
    s.queue.Push(data, size, time);
    return Drain();
}

bool CProgramStreamMultiplexer::End(int stream)
{
    streams_[static_cast<size_t>(stream)]->queue.End();
    return Drain();
}

bool CProgramStreamMultiplexer::StopWaitingFor(int stream)
{
    streams_[static_cast<size_t>(stream)]->waitedFor = false;
    return Drain();
}

uint64_t CProgramStreamMultiplexer::NextScr() const
{
    return scrAnchor_ + packsSinceAnchor_ * PackSize * 27000000ull / (DvdMuxRate * 50ull);
}

bool CProgramStreamMultiplexer::NextDts(const Stream& stream, int64_t& dts) const
{
    // Bytes before the first unit belong to it; Consume keeps the unit holding the read position first.
    if (stream.queue.UnitCount() == 0)
        return false;
    dts = stream.queue.Unit(0).dts;
    return true;
}

void CProgramStreamMultiplexer::FixOffset()
{
    bool any = false;
    int64_t first = 0;
    for (const auto& stream : streams_) {
        if (stream->queue.UnitCount() == 0)
            continue;
        const int64_t dts = stream->queue.Unit(0).dts;
        first = any ? std::min(first, dts) : dts;
        any = true;
    }
    offset_ = Preload - first;
    offsetFixed_ = true;
}

bool CProgramStreamMultiplexer::Drain()
{
    while (!failed_) {
        // The streams that hold or may still get data, earliest decode time first.
        Stream* order[2] = {nullptr, nullptr};
        int64_t times[2] = {0, 0};
        size_t count = 0;
        for (const auto& stream : streams_) {
            Stream& s = *stream;
            if (s.queue.Ended() && s.queue.Queued() == 0)
                continue;
            int64_t dts = INT64_MIN;
            if (!NextDts(s, dts)) {
                if (s.queue.Ended() || s.queue.Overflowing())
                    dts = INT64_MIN; // bytes with no unit at all: out with them
                else if (s.waitedFor)
                    return true;     // its next time is unknown, so the order is
                else
                    continue;
            }
            if (count == 2)
                break;
            size_t at = count++;
            for (; at > 0 && times[at - 1] > dts; --at) {
                order[at] = order[at - 1];
                times[at] = times[at - 1];
            }
            order[at] = &s;
            times[at] = dts;
        }
        if (count == 0)
            break;
        if (!offsetFixed_)
            FixOffset();
        Stream* chosen = nullptr;
        PacketPlan plan;
        for (size_t i = 0; i < count && !chosen; ++i) {
            plan = Plan(*order[i], packs_ == 0);
            if (plan.complete)
                chosen = order[i];
            else if (order[i]->waitedFor)
                return true; // the earliest stream needs more bytes before its packet can go
        }
        if (!chosen)
            break;
        if (!WritePacket(*chosen, plan))
            return false;
    }
    if (!failed_ && !finished_) {
        finished_ = std::all_of(streams_.begin(), streams_.end(),
                                [](const auto& s) { return s->queue.Ended() && s->queue.Queued() == 0; });
    }
    return !failed_;
}

CProgramStreamMultiplexer::PacketPlan CProgramStreamMultiplexer::Plan(Stream& stream, bool firstPack) const
{
    const CElementaryStream& queue = stream.queue;
    const bool ac3 = queue.Kind() == StreamKind::Ac3Audio;
    const size_t room = PackSize - PackHeaderSize - (firstPack ? SystemHeaderSize(streams_.size()) : 0) - 9 -
                        (stream.started ? 0 : 3) - (ac3 ? Ac3SubstreamHeaderSize : 0);
    const uint64_t read = queue.ReadPosition();
    const size_t available = queue.Ready();

    size_t next = 0;
    while (next < queue.UnitCount() && queue.Unit(next).position < read)
        ++next;
    PacketPlan plan;
    size_t limit = room;
    if (next < queue.UnitCount()) {
        const AccessUnit& unit = queue.Unit(next);
        const size_t at = static_cast<size_t>(unit.position - read);
        const size_t stampSize = unit.dts != unit.pts ? 10 : 5;
        if (at < room - stampSize) {
            // A timestamp for the first unit that starts here.
            limit = room - stampSize;
            plan.header.pts = unit.pts + offset_;
            if (unit.dts != unit.pts)
                plan.header.dts = unit.dts + offset_;
            // One picture per video packet, so that every picture carries its own times.
            if (queue.Kind() == StreamKind::Mpeg2Video && next + 1 < queue.UnitCount())
                limit = std::min(limit, static_cast<size_t>(queue.Unit(next + 1).position - read));
        } else {
            // Stop before the unit, so that the next packet starts with it and carries its times.
            limit = std::min(limit, at);
        }
    }
    plan.payload = std::min(limit, available);
    plan.complete = plan.payload > 0 && (plan.payload == limit || queue.Ended() || queue.Overflowing());
    for (size_t i = next; i < queue.UnitCount() && queue.Unit(i).position < read + plan.payload; ++i) {
        if (plan.units++ == 0)
            plan.firstUnit = static_cast<size_t>(queue.Unit(i).position - read);
    }
    plan.header.streamId = stream.entry.streamId;
    return plan;
}

bool CProgramStreamMultiplexer::WritePacket(Stream& stream, const PacketPlan& plan)
{
    CElementaryStream& queue = stream.queue;
    const uint64_t scheduled = NextScr();
    // The SCR waits until the decoder has taken enough out of this stream's buffer.
    uint64_t scr = scheduled;
    while (!stream.buffered.empty() && stream.buffered.front().removal * 300 <= static_cast<int64_t>(scr)) {
        stream.occupancy -= stream.buffered.front().bytes;
        stream.buffered.pop_front();
    }
    while (!stream.buffered.empty() && stream.occupancy + plan.payload > stream.bufferBytes) {
        const int64_t removal = stream.buffered.front().removal * 300;
        scr = std::max<uint64_t>(scr, removal > 0 ? static_cast<uint64_t>(removal) : 0);
        stream.occupancy -= stream.buffered.front().bytes;
        stream.buffered.pop_front();
    }
    if (scr != scheduled) {
        scrAnchor_ = scr;
        packsSinceAnchor_ = 0;
    }

    uint8_t* p = pack_;
    WritePackHeader(p, scr, DvdMuxRate);
    p += PackHeaderSize;
    if (packs_ == 0) {
        SystemStreamEntry entries[2];
        int audio = 0, video = 0;
        const size_t count = std::min<size_t>(streams_.size(), 2);
        for (size_t i = 0; i < count; ++i) {
            entries[i] = streams_[i]->entry;
            ++(streams_[i]->queue.Kind() == StreamKind::Mpeg2Video ? video : audio);
        }
        p += WriteSystemHeader(p, DvdMuxRate, audio, video, entries, count);
    }
    const bool ac3 = queue.Kind() == StreamKind::Ac3Audio;
    const size_t extra = ac3 ? Ac3SubstreamHeaderSize : 0;
    PesHeader header = plan.header;
    header.pstd = stream.started ? nullptr : &stream.entry;
    const size_t used = static_cast<size_t>(p - pack_) + PesHeaderSize(header) + extra + plan.payload;
    size_t left = PackSize - used;
    // A padding packet needs six bytes and more; a few bytes go into the PES header instead.
    if (left <= 7) {
        header.stuffing = left;
        left = 0;
    }
    p += WritePesHeader(p, header, extra + plan.payload);
    if (ac3) {
        p[0] = Ac3SubstreamId;
        p[1] = static_cast<uint8_t>(plan.units);
        const size_t pointer = plan.units ? plan.firstUnit + 1 : 0;
        p[2] = static_cast<uint8_t>(pointer >> 8);
        p[3] = static_cast<uint8_t>(pointer);
        p += Ac3SubstreamHeaderSize;
    }
    std::memcpy(p, queue.Data(), plan.payload);
    p += plan.payload;
    if (left > 0)
        WritePaddingPacket(p, left);
    if (!sink_.WritePack(pack_)) {
        failed_ = true;
        return false;
    }

    // What this packet puts into the decoder buffer, by the decode time of the unit it belongs to.
    const uint64_t read = queue.ReadPosition();
    const uint64_t end = read + plan.payload;
    size_t index = 0;
    for (uint64_t position = read; position < end && queue.UnitCount() > 0;) {
        while (index + 1 < queue.UnitCount() && queue.Unit(index + 1).position <= position)
            ++index;
        const uint64_t boundary = index + 1 < queue.UnitCount() ? std::min(end, queue.Unit(index + 1).position) : end;
        const int64_t removal = queue.Unit(index).dts + offset_;
        const size_t bytes = static_cast<size_t>(boundary - position);
        if (!stream.buffered.empty() && stream.buffered.back().removal == removal)
            stream.buffered.back().bytes += bytes;
        else
            stream.buffered.push_back({removal, bytes});
        stream.occupancy += bytes;
        position = boundary;
    }
    queue.Consume(plan.payload);
    stream.started = true;
    ++packs_;
    ++packsSinceAnchor_;
    return true;
}

} // namespace mpeg
