#include "media/mpeg/TransportStreamMultiplexer.h"

#include <algorithm>
#include <cstring>

#include "media/mpeg/AvcSyntax.h"
#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

namespace {

constexpr size_t TransportBuffer = 512;
constexpr size_t PacketRoom = TsPacketSize - TsHeaderSize;
// Of each packet about this much is elementary stream; the rest is packet, PES and adaptation
// field headers, PSI and PCR packets.
constexpr uint64_t PayloadPerPacket = 170;
// The rate is worked out again after this many packets (about the program stream's 8 packs).
constexpr uint64_t NeedRecountPackets = 64;
// PAT and PMT every PsiInterval, a PCR every PcrInterval: 2 packets each 90 ms and 1 each 30 ms.
constexpr uint64_t TablesAndClockBits = (2 * 1000 / 90 + 1000 / 30) * TsPacketSize * 8;
// Without a level: main level's. H.264 of a level H.264 does not list: Main profile at level 3's.
constexpr uint32_t MainLevelBitRate = 15000000;
constexpr uint32_t MainLevelVbvBytes = 1835008 / 8;
constexpr uint32_t H264FallbackBitRate = 12000000;
constexpr uint32_t H264FallbackCpbBytes = 12000000 / 8;
constexpr uint64_t AudioLeak = 2000000 / 8;
// A rate that must rise takes a PCR of its own, but not sooner than this after the last one.
constexpr uint64_t MinPcrInterval = SystemClock * 2 / 1000;

uint64_t RateBytes(uint32_t rate50) { return static_cast<uint64_t>(rate50) * 50; }

bool IsVideo(Coding coding) { return coding == Coding::Mpeg2Video || coding == Coding::H264Video; }

// Of the `count` header bytes from `sent` on, those of the ADTS header at [pesHeader, total).
size_t AdtsBytes(size_t sent, size_t count, size_t pesHeader, size_t total)
{
    const size_t begin = std::max(sent, pesHeader), end = std::min(sent + count, total);
    return end > begin ? end - begin : 0;
}

} // namespace

CTransportStreamMultiplexer::CTransportStreamMultiplexer(IPacketSink& sink) : sink_(sink) {}

void CTransportStreamMultiplexer::Reset()
{
    streams_.clear();
    queues_.clear();
    order_.clear();
    nextUnit_.clear();
    timeline_.Reset();
    pcrStream_ = nullptr;
    packets_ = nulls_ = 0;
    anchorByte_ = anchorTime_ = 0;
    rate_ = baseRate_ = rateBound_ = wanted_ = needed_ = 0;
    ratesVideo_ = VideoFacts();
    neededAt_ = 0;
    needRecount_ = true;
    lastPcr_ = lastPsi_ = 0;
    anyPcr_ = anyPsi_ = pmtNext_ = false;
    patCc_ = pmtCc_ = 0;
    late_ = 0;
    offset_ = 0;
    started_ = finished_ = failed_ = false;
}

int CTransportStreamMultiplexer::AddStream(Coding coding)
{
    StreamKind kind;
    if (!ScannerKind(coding, kind) || streams_.size() >= 1 + MaxAudioStreams)
        return -1;
    size_t videos = 0, mpegIds = 0;
    for (const auto& stream : streams_) {
        videos += IsVideo(stream->entry.coding) ? 1 : 0;
        mpegIds += stream->streamId >= MpegAudioStreamId && stream->streamId < VideoStreamId ? 1 : 0;
    }
    if (IsVideo(coding) ? videos > 0 : streams_.size() - videos >= MaxAudioStreams)
        return -1;
    auto stream = std::make_unique<Stream>(kind, timeline_);
    stream->entry.coding = coding;
    stream->entry.pid = static_cast<uint16_t>(FirstStreamPid + streams_.size());
    stream->streamId = PesStreamId(coding, mpegIds);
    queues_.push_back(&stream->queue);
    streams_.push_back(std::move(stream));
    order_.reserve(streams_.size());
    nextUnit_.resize(streams_.size());
    return static_cast<int>(streams_.size()) - 1;
}

void CTransportStreamMultiplexer::SetLanguage(int stream, const char code[3])
{
    std::memcpy(streams_[static_cast<size_t>(stream)]->entry.language, code, 3);
}

bool CTransportStreamMultiplexer::SetAacConfig(int stream, const uint8_t* config, size_t size)
{
    Stream& s = *streams_[static_cast<size_t>(stream)];
    s.adts = s.entry.coding == Coding::AacRaw && ReadAacConfig(config, size, s.aac);
    if (s.adts)
        s.queue.SetAacConfig(config, size); // raw frames say nothing of their rate
    return s.adts;
}

uint64_t CTransportStreamMultiplexer::TimeOf(uint64_t position) const
{
    return anchorTime_ + (position - anchorByte_) * SystemClock / RateBytes(rate_);
}

// Offset, buffers and rates from the first units; the PCR goes on the video's PID.
void CTransportStreamMultiplexer::Start()
{
    offset_ = OutputOffset(streams_);
    for (const auto& stream : streams_) {
        if (!pcrStream_ || (IsVideo(stream->entry.coding) && !IsVideo(pcrStream_->entry.coding)))
            pcrStream_ = stream.get();
        SizeBuffers(*stream);
    }
    ChooseRates();
    rate_ = wanted_ = std::max(baseRate_, std::min(Needed(0) + Needed(0) / 8, rateBound_));
    started_ = true;
}

// The decoder buffers of ISO/IEC 13818-1's transport system target decoder for the stream's coding.
// MPEG-2 video may use the whole buffer its level guarantees, which encoders that miss their own
// VBV model at times need.
void CTransportStreamMultiplexer::SizeBuffers(Stream& stream)
{
    const CElementaryStream& queue = stream.queue;
    switch (stream.entry.coding) {
    case Coding::Mpeg2Video: {
        const VideoFacts& video = queue.Video();
        const uint32_t levelRate = LevelMaxBitRate(video.level);
        stream.bufferBytes = std::max(video.vbvBytes, LevelVbvBytes(video.level));
        if (stream.bufferBytes == 0)
            stream.bufferBytes = MainLevelVbvBytes;
        // A stream above its level's rate (it happens) is carried at the rate it declares.
        stream.leak = static_cast<uint64_t>(std::max(levelRate ? levelRate : MainLevelBitRate, video.bitRate)) * 12 / 10 / 8;
        return;
    }
    case Coding::H264Video: {
        // ISO/IEC 13818-1's T-STD for H.264: the transport buffer leaks at 1.2 times the NAL HRD's
        // bit rate, else 1.2 times the level's (MaxBR times the profile's cpbBrNalFactor); the
        // elementary buffer is the HRD's CPB, else the level's. The multiplexer fills that buffer
        // alone; the multiplex buffer's room (which the standard adds) stays a margin.
        const VideoFacts& video = queue.Video();
        const uint32_t levelRate = AvcLevelNalBitRate(video.avcProfile, video.avcLevel);
        const uint32_t levelCpb = AvcLevelNalCpbBytes(video.avcProfile, video.avcLevel);
        const bool hrd = video.bitRate > 0 && video.vbvBytes > 0;
        const uint32_t rate = hrd ? video.bitRate : levelRate ? levelRate : H264FallbackBitRate;
        stream.bufferBytes = hrd ? video.vbvBytes : levelCpb ? levelCpb : H264FallbackCpbBytes;
        stream.leak = static_cast<uint64_t>(rate) * 12 / 10 / 8;
        return;
    }
    case Coding::Ac3: stream.bufferBytes = 2592; break;
    case Coding::Eac3: stream.bufferBytes = 5696; break;
    case Coding::AacAdts:
    case Coding::AacLatm:
    case Coding::AacRaw:
        stream.bufferBytes = queue.LastAudioFrame().channels > 2 ? 8976 : 3584;
        break;
    default: stream.bufferBytes = 3584; break;
    }
    stream.leak = AudioLeak;
    // Half the buffer per PES: the next one can arrive while the decoder still holds this one.
    stream.pesBudget = stream.bufferBytes / 2;
}

// As the program stream's: what the streams declare (or measure) with headers and a margin, raised
// by the packet headers and the tables and clock references a transport stream adds; room to rise
// up to what the video's level allows, or four times that. Chosen again at a change of format, the
// bound stays the highest chosen: bytes of the old format may still be on their way.
void CTransportStreamMultiplexer::ChooseRates()
{
    VideoFacts video;
    uint64_t audioBits = 0;
    for (const auto& stream : streams_) {
        if (IsVideo(stream->entry.coding))
            video = stream->queue.Video();
        else
            audioBits += stream->queue.LastAudioFrame().bitRate;
    }
    ratesVideo_ = video;
    const CarriedRates carried = MeasureRates(video, audioBits, queues_.data(), queues_.size());
    const uint64_t rate = RateFor(carried.declared ? carried.declared : carried.measured);
    baseRate_ = static_cast<uint32_t>(std::min<uint64_t>(rate * TsPacketSize / PacketRoom + TablesAndClockBits / 400 + 1, LargestMuxRate));
    const uint32_t levelRate = video.avcLevel ? AvcLevelNalBitRate(video.avcProfile, video.avcLevel) : LevelMaxBitRate(video.level);
    rateBound_ = std::max({rateBound_, levelRate ? RateFor(levelRate + audioBits) * 2 : 0, std::min(baseRate_ * 4, LargestMuxRate)});
}

// The video's queue parses ahead of what is sent, so a new format's rates are known before its
// first packet: the rate can rise ahead of its first burst (an HD channel's first I-picture after
// SD). Audio that changes (AC-3 from 2.0 to 5.1) adds too little to matter beside the margin.
void CTransportStreamMultiplexer::FollowFormat()
{
    if (!pcrStream_ || !IsVideo(pcrStream_->entry.coding))
        return;
    const VideoFacts& video = pcrStream_->queue.Video();
    if (video.level == ratesVideo_.level && video.bitRate == ratesVideo_.bitRate && video.avcProfile == ratesVideo_.avcProfile &&
        video.avcLevel == ratesVideo_.avcLevel)
        return;
    ChooseRates();
    needRecount_ = true;
}

uint32_t CTransportStreamMultiplexer::Needed(uint64_t now)
{
    if (needRecount_ || packets_ >= neededAt_ + NeedRecountPackets) {
        // The streams' packets, and the tables and clock references between them: at the low rate
        // of sound alone they are a tenth of the packets.
        needed_ = NeededRate(queues_.data(), queues_.size(), nextUnit_.data(), offset_, now, TsPacketSize, PayloadPerPacket) +
                  static_cast<uint32_t>(TablesAndClockBits / 400);
        neededAt_ = packets_;
        needRecount_ = false;
    }
    return needed_;
}

// What the sound still to come carries at its frames' rates, with the tables and clock references:
// the least rate to settle back to. The rate needed for what is queued says too little at the end,
// where the last frames are all that is queued, though each may enter its small buffer only as the
// one before leaves (5.1 AC-3's frames fill two thirds of it).
uint32_t CTransportStreamMultiplexer::SoundRate() const
{
    uint64_t bits = 0;
    for (const auto& stream : streams_) {
        if (!IsVideo(stream->entry.coding) && !(stream->queue.Ended() && stream->queue.Queued() == 0))
            bits += stream->queue.LastAudioFrame().bitRate;
    }
    return static_cast<uint32_t>((bits * TsPacketSize / PayloadPerPacket + TablesAndClockBits) / 400);
}

size_t CTransportStreamMultiplexer::PesPayload(const Stream& stream, int64_t& pts, int64_t& dts) const
{
    const CElementaryStream& queue = stream.queue;
    pts = dts = NoTimestamp;
    const uint64_t read = queue.ReadPosition();
    const bool final = queue.Ended() || queue.Overflowing() || !stream.waitedFor;
    size_t next = 0;
    while (next < queue.UnitCount() && queue.Unit(next).position < read)
        ++next;
    if (next == queue.UnitCount())
        return final ? queue.Ready() : 0; // bytes no unit starts in: out with them
    const AccessUnit& unit = queue.Unit(next);
    // MPEG-2 video's units start at their pictures: a group's sequence and GOP headers before one
    // start its PES, so that a decoder can start there and the buffers of the group's format apply
    // from its first packet. Other bytes before a unit go alone.
    const bool groupHeaders = IsVideo(stream.entry.coding) && queue.NextGroupStart() == read;
    if (unit.position > read && !groupHeaders)
        return static_cast<size_t>(std::min<uint64_t>(unit.position - read, queue.Ready()));
    // A unit's end is known once the next one is found, or the stream delivers no more.
    const auto known = [&](size_t index) { return index + 1 < queue.UnitCount() || final; };
    if (!known(next))
        return 0;
    pts = unit.pts + offset_;
    dts = unit.dts + offset_;
    if (IsVideo(stream.entry.coding)) // up to the next group's headers, which start a PES of their own
        return static_cast<size_t>(std::min(queue.UnitEnd(next), queue.GroupStartAfterRead()) - read);
    size_t end = next;
    // Audio frames share a PES within its budget, where the times a decoder infers are theirs.
    while (!stream.adts && end + 1 < queue.UnitCount() && known(end + 1)) {
        const AccessUnit& later = queue.Unit(end + 1);
        if (later.dts != queue.Unit(end).nextDts || later.pts != later.dts || queue.UnitEnd(end + 1) - read > stream.pesBudget)
            break;
        ++end;
    }
    return static_cast<size_t>(queue.UnitEnd(end) - read);
}

void CTransportStreamMultiplexer::OpenPes(Stream& stream, size_t payload, int64_t pts, int64_t dts)
{
    CElementaryStream& queue = stream.queue;
    const size_t adts = stream.adts && pts != NoTimestamp ? AdtsHeaderSize : 0;
    stream.headerSize = WriteTsPesHeader(stream.header, stream.streamId, pts, dts, payload + adts);
    stream.pesHeaderSize = stream.headerSize;
    if (adts) {
        WriteAdtsHeader(stream.header + stream.headerSize, stream.aac, payload);
        stream.headerSize += adts;
    }
    stream.headerSent = 0;
    stream.payloadLeft = payload;
    stream.randomAccess = false;
    if (IsVideo(stream.entry.coding) && queue.NextGroupStart() == queue.ReadPosition()) {
        // A sequence header or an IDR picture: a place to start decoding, and the buffers its
        // level (or HRD) gives from here.
        stream.randomAccess = true;
        SizeBuffers(stream);
    }
}

uint64_t CTransportStreamMultiplexer::EarliestStart(const Stream& stream, size_t payload, size_t* leaving) const
{
    uint64_t time = Now();
    const CElementaryStream& queue = stream.queue;
    if (queue.UnitCount() > 0) {
        // No byte waits in the decoder a second or more.
        const int64_t earliest = ToSystemClock(queue.Unit(0).dts + offset_ - MuxMaxWait);
        time = std::max<uint64_t>(time, earliest > 0 ? static_cast<uint64_t>(earliest) : 0);
    }
    // The transport buffer takes the packet once it holds no more than the rest of its 512 bytes.
    const uint64_t drain = (TransportBuffer - TsPacketSize) * SystemClock / stream.leak;
    if (stream.tbEmpty > time + drain)
        time = stream.tbEmpty - drain;
    return stream.buffer.EarliestRoom(time, payload, stream.bufferBytes, leaving);
}

CTransportStreamMultiplexer::PacketPlan CTransportStreamMultiplexer::Plan(Stream& stream) const
{
    PacketPlan plan;
    size_t sent = stream.headerSent, pesHeader = stream.pesHeaderSize, total = stream.headerSize;
    size_t payload = stream.payloadLeft;
    if (total == sent && payload == 0) {
        int64_t pts, dts;
        payload = PesPayload(stream, pts, dts);
        if (payload == 0)
            return plan;
        plan.startsPes = true;
        sent = 0;
        pesHeader = TsPesHeaderSize(pts, dts);
        total = pesHeader + (stream.adts && pts != NoTimestamp ? AdtsHeaderSize : 0);
    }
    const size_t header = total - sent;
    // Room for a PCR's adaptation field, whether or not it is due.
    const size_t room = PacketRoom - (&stream == pcrStream_ ? 8 : 2);
    plan.payload = header >= room ? 0 : std::min(payload, room - header);
    plan.adts = AdtsBytes(sent, std::min(header, room), pesHeader, total);
    plan.earliest = EarliestStart(stream, plan.payload + plan.adts, nullptr);
    plan.ready = true;
    return plan;
}

bool CTransportStreamMultiplexer::Drain()
{
    while (!failed_) {
        if (!OrderByDecodeTime(streams_, order_))
            return true;
        if (order_.empty())
            break;
        for (const auto& stream : streams_) {
            if (!LookedFarEnough(*stream, order_[0].first))
                return true;
        }
        if (!started_)
            Start();
        const uint64_t now = Now();
        // The rate rises ahead of a burst, so that nothing queued arrives late, and settles back.
        FollowFormat();
        const uint32_t needed = Needed(now);
        if (needed > rate_ || needed * 2 < rate_)
            wanted_ = std::clamp(std::max(needed + needed / 8, SoundRate()), baseRate_, rateBound_);
        // A PCR every PcrInterval, and one at once where the rate must rise; it goes once the video's
        // transport buffer has room for its packet too.
        const bool pcrDue = (!anyPcr_ || now >= lastPcr_ + PcrInterval || (wanted_ > rate_ && now >= lastPcr_ + MinPcrInterval)) &&
                            TransportRoom(*pcrStream_, now);
        // The tables first at the start, the PMT right after its PAT; else a PCR due goes before
        // them. At the low rate of sound alone (before a late first picture) a packet lasts 5 ms:
        // the tables fall due a packet early, so that the PCR's packet and their own still keep
        // them within their interval, and the PCR within its.
        const bool psiDue = now + TsPacketSize * SystemClock / RateBytes(rate_) >= lastPsi_ + PsiInterval;
        if (!anyPsi_ || pmtNext_ || (psiDue && !pcrDue)) {
            if (!WritePsi())
                return false;
            continue;
        }
        // The earliest decode time first, unless its buffers are full and another's packet can go
        // sooner.
        Stream* chosen = nullptr;
        PacketPlan plan;
        for (const auto& entry : order_) {
            Stream& candidate = *entry.second;
            const PacketPlan candidatePlan = Plan(candidate);
            if (!candidatePlan.ready) {
                if (candidate.waitedFor && !chosen && !pcrDue)
                    return true; // the earliest stream needs more bytes before its packet can go
                continue;
            }
            if (!chosen || candidatePlan.earliest < plan.earliest) {
                chosen = &candidate;
                plan = candidatePlan;
            }
        }
        const bool due = chosen && plan.earliest <= now;
        if (pcrDue) {
            const bool ok = due && chosen == pcrStream_ ? WriteStreamPacket(*chosen, plan, true) : WritePcrPacket();
            if (!ok)
                return false;
            continue;
        }
        if (!chosen)
            break;
        if (!(due ? WriteStreamPacket(*chosen, plan, false) : WriteNull()))
            return false;
    }
    if (!failed_ && !finished_) {
        finished_ = std::all_of(streams_.begin(), streams_.end(), [](const auto& s) {
            return s->queue.Ended() && s->queue.Queued() == 0 && s->payloadLeft == 0 && s->headerSent == s->headerSize;
        });
        // A last PCR after the last bytes: a rate taken at the PCR before is known only from the
        // next one, and a decoder would take the bytes after it at the rate before.
        if (finished_ && started_)
            WritePcrPacket();
    }
    return !failed_;
}

uint64_t CTransportStreamMultiplexer::TakePcr()
{
    const uint64_t position = packets_ * TsPacketSize + 10;
    const uint64_t pcr = TimeOf(position);
    // The rate changes here: the bytes after this PCR follow at the new one.
    if (wanted_ != rate_) {
        anchorByte_ = position;
        anchorTime_ = pcr;
        rate_ = wanted_;
    }
    lastPcr_ = pcr;
    anyPcr_ = true;
    return pcr;
}

bool CTransportStreamMultiplexer::WriteStreamPacket(Stream& stream, const PacketPlan& plan, bool pcr)
{
    CElementaryStream& queue = stream.queue;
    const uint64_t now = Now();
    size_t leaving = 0;
    stream.buffer.EarliestRoom(now, plan.payload + plan.adts, stream.bufferBytes, &leaving);
    stream.buffer.Leave(leaving);
    if (plan.startsPes) {
        int64_t pts, dts;
        const size_t payload = PesPayload(stream, pts, dts);
        OpenPes(stream, payload, pts, dts);
    }
    AdaptationField field;
    field.randomAccess = plan.startsPes && stream.randomAccess;
    if (pcr) {
        field.pcr = true;
        field.pcr27MHz = TakePcr();
    }
    const size_t header = stream.headerSize - stream.headerSent;
    size_t adaptation = AdaptationFieldSize(field);
    const size_t room = PacketRoom - adaptation;
    const size_t fromHeader = std::min(header, room);
    const size_t adts = AdtsBytes(stream.headerSent, fromHeader, stream.pesHeaderSize, stream.headerSize);
    // The plan left room for an adaptation field this packet may not need. Audio's main buffer is
    // all the decoder has: the payload that takes that room goes only as far as the buffer holds it
    // from when the transport buffer starts passing the packet on (what was planned always fits),
    // and stuffing fills the rest. Video's few bytes over go to its multiplex buffer, whose room
    // the model keeps as a margin.
    size_t fits = room;
    if (!IsVideo(stream.entry.coding)) {
        const size_t held = stream.buffer.HeldAt(std::max(stream.tbEmpty, now));
        const size_t spare = stream.bufferBytes - std::min(held, stream.bufferBytes);
        fits = std::max(plan.payload, spare > adts ? spare - adts : 0);
    }
    const size_t fromPayload = std::min({stream.payloadLeft, room - fromHeader, fits});
    // A PES's last packet, or one the buffer cut short, is filled out with adaptation field stuffing.
    if (fromHeader + fromPayload < room)
        adaptation = PacketRoom - fromHeader - fromPayload;
    BeginPacket();
    WriteTsHeader(packet_, stream.entry.pid, plan.startsPes, adaptation > 0, true, stream.cc);
    stream.cc = static_cast<uint8_t>((stream.cc + 1) & 0x0F);
    uint8_t* p = packet_ + TsHeaderSize;
    if (adaptation > 0) {
        WriteAdaptationField(p, field, adaptation);
        p += adaptation;
    }
    std::memcpy(p, stream.header + stream.headerSent, fromHeader);
    std::memcpy(p + fromHeader, queue.Data(), fromPayload);
    stream.headerSent += fromHeader;
    // The transport buffer passes the packet on at its leak rate; the payload reaches the decoder
    // buffer as it does, an ADTS header as part of the frame it heads.
    stream.tbEmpty = std::max(stream.tbEmpty, now) + TsPacketSize * SystemClock / stream.leak;
    if (adts > 0)
        stream.buffer.Add(HeadedUnitRemoval(queue), adts);
    late_ += CountIntoBuffer(queue, fromPayload, stream.tbEmpty, offset_, stream.buffer);
    queue.Consume(fromPayload);
    stream.payloadLeft -= fromPayload;
    return Emit();
}

int64_t CTransportStreamMultiplexer::HeadedUnitRemoval(const CElementaryStream& queue) const
{
    size_t index = 0;
    while (index + 1 < queue.UnitCount() && queue.Unit(index + 1).start <= queue.ReadPosition())
        ++index;
    return queue.Unit(index).dts + offset_;
}

// PAT, then PMT in the next packet: never more than two table packets in a row.
bool CTransportStreamMultiplexer::WritePsi()
{
    if (!pmtNext_) {
        lastPsi_ = Now();
        anyPsi_ = true;
        BeginPacket();
        WritePatPacket(packet_, patCc_, 0);
        patCc_ = static_cast<uint8_t>((patCc_ + 1) & 0x0F);
        pmtNext_ = true;
        return Emit();
    }
    TsStreamEntry entries[1 + MaxAudioStreams];
    const size_t count = std::min(streams_.size(), sizeof(entries) / sizeof(entries[0]));
    for (size_t i = 0; i < count; ++i)
        entries[i] = streams_[i]->entry;
    BeginPacket();
    WritePmtPacket(packet_, pmtCc_, 0, pcrStream_->entry.pid, entries, count);
    pmtCc_ = static_cast<uint8_t>((pmtCc_ + 1) & 0x0F);
    pmtNext_ = false;
    return Emit();
}

bool CTransportStreamMultiplexer::TransportRoom(const Stream& stream, uint64_t time) const
{
    return stream.tbEmpty <= time + (TransportBuffer - TsPacketSize) * SystemClock / stream.leak;
}

bool CTransportStreamMultiplexer::WritePcrPacket()
{
    // It fills the transport buffer of its PID as any packet does.
    pcrStream_->tbEmpty = std::max(pcrStream_->tbEmpty, Now()) + TsPacketSize * SystemClock / pcrStream_->leak;
    AdaptationField field;
    field.pcr = true;
    field.pcr27MHz = TakePcr();
    // Without payload the counter repeats the last packet's.
    BeginPacket();
    WriteAdaptationOnlyPacket(packet_, pcrStream_->entry.pid, static_cast<uint8_t>((pcrStream_->cc + 15) & 0x0F), field);
    return Emit();
}

bool CTransportStreamMultiplexer::WriteNull()
{
    BeginPacket();
    WriteNullPacket(packet_);
    ++nulls_;
    return Emit();
}

void CTransportStreamMultiplexer::BeginPacket()
{
    uint8_t* buffer = sink_.NextPacketBuffer();
    packet_ = buffer ? buffer : ownPacket_;
}

bool CTransportStreamMultiplexer::Emit()
{
    if (!sink_.WritePacket(packet_)) {
        failed_ = true;
        return false;
    }
    ++packets_;
    return true;
}

} // namespace mpeg
