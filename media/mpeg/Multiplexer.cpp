#include "media/mpeg/Multiplexer.h"

#include <algorithm>
#include <cstring>

#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

namespace {

// Of each pack about this much is payload; the rest is pack and PES headers.
constexpr uint64_t PayloadPerPack = 1990;
// DVD limits: pictures up to 720x576 at main level or below, and these decoder buffers.
constexpr int DvdWidth = 720;
constexpr int DvdHeight = 576;
constexpr uint16_t DvdVideoBufferKiB = 232;
// Above the video's own buffer, for packs that arrive before the decoder takes a picture out.
constexpr uint32_t VideoBufferMarginKiB = 8;
constexpr uint32_t LargestBufferKiB = 8191;
constexpr uint32_t LargestRate = LargestMuxRate;
constexpr int64_t MaxWait = MuxMaxWait;
// Clock references come at most 0.7 s apart (MPEG-2 systems); a pack of padding carries the clock
// on where nothing is sent for longer.
constexpr uint64_t LongestClockStep = ToSystemClock(54000);
// DVD-Video: the video's peak rate, the audio's sample rate, and private stream 2's buffer.
constexpr uint32_t DvdVideoBitRate = 9800000;
constexpr uint32_t DvdSampleRate = 48000;
constexpr uint16_t NavigationBufferKiB = 2;
// Audio decoder buffers: MPEG audio's 4 KiB (in 128-byte units), private stream 1's as DVD
// players have it.
constexpr uint16_t MpegAudioBufferUnits = 32;
constexpr uint16_t PrivateStream1BufferKiB = 58;

// 27 MHz ticks one pack lasts at `rate`, rounded up so packs never overlap.
uint64_t PackTicks(uint32_t rate)
{
    const uint64_t bytesPerSecond = static_cast<uint64_t>(rate) * 50;
    return (PackSize * SystemClock + bytesPerSecond - 1) / bytesPerSecond;
}

SystemStreamEntry AudioEntry(StreamKind kind)
{
    return kind == StreamKind::MpegAudio ? SystemStreamEntry{MpegAudioStreamId, false, MpegAudioBufferUnits}
                                         : SystemStreamEntry{PrivateStream1Id, true, PrivateStream1BufferKiB};
}

size_t BufferBytes(const SystemStreamEntry& entry)
{
    return static_cast<size_t>(entry.bufferSize) * (entry.scale1024 ? 1024 : 128);
}

} // namespace

// A DVD title holds one picture size, shape and rate, and each audio stream one coding and layout.
bool CProgramStreamMultiplexer::Format::SameTitle(const Format& other) const
{
    return video.width == other.video.width && video.height == other.video.height &&
           video.aspectCode == other.video.aspectCode && frameRateCode == other.frameRateCode &&
           audio.channels == other.audio.channels && audio.sampleRate == other.audio.sampleRate &&
           audio.layer == other.audio.layer && audio.version == other.audio.version;
}

bool CProgramStreamMultiplexer::Format::SameNeeds(const Format& other) const
{
    return SameTitle(other) && video.level == other.video.level && video.bitRate == other.video.bitRate &&
           video.vbvBytes == other.video.vbvBytes && audio.bitRate == other.audio.bitRate;
}

CProgramStreamMultiplexer::CProgramStreamMultiplexer(IPackSink& sink) : sink_(sink) {}

void CProgramStreamMultiplexer::Reset()
{
    streams_.clear();
    buffers_.clear();
    queues_.clear();
    order_.clear();
    nextUnit_.clear();
    timeline_.Reset();
    packs_ = 0;
    nextScr_ = lastScr_ = 0;
    rate_ = baseRate_ = rateBound_ = DvdMuxRate;
    late_ = 0;
    needRecount_ = true;
    rateFromNeed_ = false;
    offset_ = 0;
    offsetFixed_ = false;
    dvd_ = false;
    navigation_ = false;
    programStart_ = true;
    vobuHasVideo_ = false;
    finished_ = false;
    failed_ = false;
}

int CProgramStreamMultiplexer::AddStream(StreamKind kind)
{
    size_t same = 0, audio = 0;
    for (const auto& stream : streams_) {
        same += stream->queue.Kind() == kind ? 1 : 0;
        audio += stream->queue.Kind() != StreamKind::Mpeg2Video ? 1 : 0;
    }
    const bool video = kind == StreamKind::Mpeg2Video;
    if (video ? same >= 1 : audio >= MaxAudioStreams)
        return -1;
    auto stream = std::make_unique<Stream>(kind, timeline_);
    SystemStreamEntry entry = video ? SystemStreamEntry{VideoStreamId, true, DvdVideoBufferKiB} : AudioEntry(kind);
    if (kind == StreamKind::MpegAudio)
        entry.streamId = static_cast<uint8_t>(MpegAudioStreamId + same);
    if (kind == StreamKind::Ac3Audio)
        stream->substream = static_cast<uint8_t>(Ac3SubstreamId + same);
    stream->buffer = &BufferFor(entry);
    queues_.push_back(&stream->queue);
    streams_.push_back(std::move(stream));
    order_.reserve(streams_.size());
    nextUnit_.resize(streams_.size());
    return static_cast<int>(streams_.size()) - 1;
}

int CProgramStreamMultiplexer::AddStream(Coding coding)
{
    StreamKind kind;
    return ScannerKind(coding, kind) ? AddStream(kind) : -1;
}

CProgramStreamMultiplexer::DecoderBuffer& CProgramStreamMultiplexer::BufferFor(const SystemStreamEntry& entry)
{
    for (const auto& buffer : buffers_) {
        if (buffer->entry.streamId == entry.streamId)
            return *buffer;
    }
    buffers_.push_back(std::make_unique<DecoderBuffer>());
    DecoderBuffer& buffer = *buffers_.back();
    buffer.entry = entry;
    buffer.bound = entry.bufferSize;
    buffer.bytes = BufferBytes(entry);
    return buffer;
}

void CProgramStreamMultiplexer::FixOffset()
{
    offset_ = OutputOffset(streams_);
    offsetFixed_ = true;
}

// The formats of the first group of pictures and the first audio frames; the elementary streams'
// own facts where those are not whole.
void CProgramStreamMultiplexer::TakeFirstFormats()
{
    for (const auto& stream : streams_) {
        Stream& s = *stream;
        const CElementaryStream& queue = s.queue;
        const bool video = queue.Kind() == StreamKind::Mpeg2Video;
        if (video)
            s.format.video = queue.Video();
        else
            s.format.audio = queue.LastAudioFrame();
        uint64_t first = video ? queue.NextGroupStart() : UINT64_MAX;
        for (size_t i = 0; !video && i < queue.UnitCount() && first == UINT64_MAX; ++i) {
            if (queue.Unit(i).position >= queue.ReadPosition())
                first = queue.Unit(i).position;
        }
        Format format;
        if (first != UINT64_MAX && ReadFormat(queue, first, format.video, format.frameRateCode, format.audio) == HeaderRead::Whole) {
            s.format = format;
            s.checked = first + 1;
        }
    }
}

// A program stream starts with these rates and buffers, and its system header bounds them.
void CProgramStreamMultiplexer::ApplyChoice(const Choice& choice)
{
    baseRate_ = rate_ = choice.baseRate;
    rateBound_ = choice.rateBound;
    for (const auto& buffer : buffers_) {
        if (buffer->entry.streamId != VideoStreamId)
            continue;
        buffer->entry.bufferSize = buffer->bound = choice.videoBufferKiB;
        buffer->bytes = BufferBytes(buffer->entry);
        buffer->shrinkTo = 0;
    }
}

// Where the stream's format changes next, among the headers parsed: at a group of pictures whose
// sequence header says other facts, or at an audio frame of another rate or layout.
void CProgramStreamMultiplexer::LookForChange(Stream& stream)
{
    if (stream.changeAt != NoChange && stream.nextKnown)
        return;
    const CElementaryStream& queue = stream.queue;
    const uint64_t read = queue.ReadPosition();
    Format format;
    if (queue.Kind() == StreamKind::Mpeg2Video) {
        // Groups lie further apart than a packet: the next one is all a packet can reach.
        const uint64_t group = queue.NextGroupStart();
        if (group == UINT64_MAX || group < stream.checked)
            return;
        const HeaderRead header = ReadFormat(queue, group, format.video, format.frameRateCode, format.audio);
        const bool whole = header == HeaderRead::Whole;
        stream.changeAt = header == HeaderRead::Partial || (whole && !format.SameNeeds(stream.format)) ? group : NoChange;
        stream.nextKnown = whole;
        stream.next = format;
        stream.checked = header == HeaderRead::Partial ? group : group + 1;
        return;
    }
    // The first frame not compared yet: units lie in stream order.
    const uint64_t from = std::max(read, stream.checked);
    size_t low = 0, high = queue.UnitCount();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (queue.Unit(middle).position < from)
            low = middle + 1;
        else
            high = middle;
    }
    for (size_t i = low; i < queue.UnitCount(); ++i) {
        const uint64_t position = queue.Unit(i).position;
        stream.checked = position + 1;
        if (ReadFormat(queue, position, format.video, format.frameRateCode, format.audio) == HeaderRead::Whole &&
            !format.SameNeeds(stream.format)) {
            stream.changeAt = position;
            stream.nextKnown = true;
            stream.next = format;
            return;
        }
    }
}

// The stream's bytes from here on are of another format, and rates and buffers follow it. The
// program stream's system header bounds them, and a DVD title holds one format: past either, the
// program stream ends and another begins, with its own system header and P-STD extensions.
bool CProgramStreamMultiplexer::SwitchFormat(Stream& stream)
{
    const bool sameTitle = stream.format.SameTitle(stream.next);
    stream.format = stream.next;
    stream.changeAt = NoChange;
    const Choice choice = Choose(0);
    DecoderBuffer* video = nullptr;
    for (const auto& buffer : buffers_) {
        if (buffer->entry.streamId == VideoStreamId)
            video = buffer.get();
    }
    const bool past = choice.baseRate > rateBound_ || (video && choice.videoBufferKiB > video->bound);
    if (navigation_ ? !(choice.dvd && sameTitle) : past) {
        if (!EndProgram())
            return false;
        navigation_ = false;
        ApplyChoice(choice);
    } else if (!navigation_) {
        baseRate_ = choice.baseRate;
        if (video && choice.videoBufferKiB > video->entry.bufferSize) {
            video->entry.bufferSize = choice.videoBufferKiB;
            video->bytes = BufferBytes(video->entry);
            for (const auto& s : streams_)
                s->announce = s->announce || s->buffer == video;
        }
        if (video)
            video->shrinkTo = choice.videoBufferKiB < video->entry.bufferSize ? choice.videoBufferKiB : 0;
    }
    rateFromNeed_ = true;
    needRecount_ = true;
    return true;
}

// A smaller buffer is said once it holds little enough that no packet waits for it.
void CProgramStreamMultiplexer::ShrinkWhenHeldFits()
{
    for (const auto& buffer : buffers_) {
        if (!buffer->shrinkTo)
            continue;
        SystemStreamEntry smaller = buffer->entry;
        smaller.bufferSize = buffer->shrinkTo;
        if (buffer->units.HeldAt(nextScr_) + PackSize > BufferBytes(smaller))
            continue;
        buffer->entry = smaller;
        buffer->bytes = BufferBytes(smaller);
        buffer->shrinkTo = 0;
        for (const auto& s : streams_)
            s->announce = s->announce || s->buffer == buffer.get();
    }
}

// From what the streams declare, or else what their queued units measure: the DVD rate and
// buffers when they fit, else a rate that carries them, the bound the video's level allows, and
// the video's own buffer. The video's declared rate is the most its buffer is filled at, so the
// declared rates carry every unit in time; a measured one may not, and the rate rises as needed.
CProgramStreamMultiplexer::Choice CProgramStreamMultiplexer::Choose(uint32_t needed) const
{
    VideoFacts video;
    uint64_t audioBits = 0;
    for (const auto& stream : streams_) {
        if (stream->queue.Kind() == StreamKind::Mpeg2Video)
            video = stream->format.video;
        else
            audioBits += stream->format.audio.bitRate;
    }
    const CarriedRates carried = MeasureRates(video, audioBits, queues_.data(), queues_.size());
    const uint64_t declared = carried.declared, measured = carried.measured, measuredVideo = carried.measuredVideo;
    const uint32_t levelRate = LevelMaxBitRate(video.level);
    Choice choice;
    choice.baseRate = std::max(RateFor(declared ? declared : measured), needed);

    const bool dvdPictures = video.width <= DvdWidth && video.height <= DvdHeight && (video.level == 0 || video.level >= MainLevel);
    if (dvdPictures && choice.baseRate <= DvdMuxRate) {
        choice.baseRate = choice.rateBound = DvdMuxRate;
        choice.videoBufferKiB = DvdVideoBufferKiB;
        choice.dvd = FitsDvd(video, measuredVideo);
        return choice;
    }
    // Room to rise: what the level allows, and at least four times the usual rate for streams that
    // measure more than their level allows or do not say it.
    choice.rateBound = std::max(levelRate ? RateFor(levelRate + audioBits) : 0, std::min(choice.baseRate * 4, LargestRate));
    // At least what a decoder of the level has: streams from encoders that miss their own VBV
    // model at times still fit.
    const uint32_t vbv = std::max(video.vbvBytes, LevelVbvBytes(video.level));
    const uint32_t kib = std::min((vbv + 1023) / 1024 + VideoBufferMarginKiB, LargestBufferKiB);
    choice.videoBufferKiB = static_cast<uint16_t>(std::max<uint32_t>(kib, DvdVideoBufferKiB));
    return choice;
}

// Within the DVD rate: MPEG-2 video of a DVD picture size and shape (4:3 or 16:9) at main or low
// level within DVD's peak rate (declared, or else measured), and every audio stream MPEG-1 layer II
// or AC-3 at 48 kHz.
bool CProgramStreamMultiplexer::FitsDvd(const VideoFacts& video, uint64_t measuredVideoBits, bool soFar) const
{
    const bool fullHeight = video.height == 480 || video.height == 576;
    const bool size = ((video.width == 720 || video.width == 704) && fullHeight) ||
                      (video.width == 352 && (fullHeight || video.height == 240 || video.height == 288));
    const uint64_t rate = video.bitRate ? video.bitRate : measuredVideoBits;
    const bool shape = video.aspectCode == 2 || video.aspectCode == 3;
    if (!size || !shape || (video.level != MainLevel && video.level != LowLevel) || rate > DvdVideoBitRate)
        return false;
    bool hasVideo = false;
    for (const auto& stream : streams_) {
        const CElementaryStream& queue = stream->queue;
        if (queue.Kind() == StreamKind::Mpeg2Video) {
            hasVideo = true;
            continue;
        }
        const AudioFrame& frame = soFar ? queue.LastAudioFrame() : stream->format.audio;
        if (soFar && frame.sampleRate == 0)
            continue;
        const bool mp2 = queue.Kind() == StreamKind::MpegAudio && frame.layer == 2 && frame.version == 1;
        if (frame.sampleRate != DvdSampleRate || !(mp2 || queue.Kind() == StreamKind::Ac3Audio))
            return false;
    }
    return hasVideo;
}

bool CProgramStreamMultiplexer::WouldFitDvd(const VideoFacts& video) const
{
    uint64_t audioBits = 0;
    for (const auto& stream : streams_)
        audioBits += stream->queue.Kind() == StreamKind::Mpeg2Video ? 0 : stream->queue.LastAudioFrame().bitRate;
    // As Choose: a declared rate that needs more than the DVD rate leaves DVD-Video.
    const uint32_t levelRate = LevelMaxBitRate(video.level);
    const bool declared = video.bitRate && (levelRate == 0 || video.bitRate <= levelRate);
    if (declared && RateFor(video.bitRate + audioBits) > DvdMuxRate)
        return false;
    return FitsDvd(video, 0, true);
}

// The rate (50 bytes/s) from `scr` on that brings every queued unit's last byte, and those of
// all units of any stream due before it, in by its decode time.
uint32_t CProgramStreamMultiplexer::NeededRate(uint64_t scr) const
{
    return mpeg::NeededRate(queues_.data(), queues_.size(), nextUnit_.data(), offset_, scr, PackSize, PayloadPerPack);
}

bool CProgramStreamMultiplexer::Drain()
{
    while (!failed_) {
        // The streams that hold or may still get data, earliest decode time first.
        if (!OrderByDecodeTime(streams_, order_))
            return true;
        if (order_.empty())
            break;
        for (const auto& stream : streams_) {
            if (!LookedFarEnough(*stream, order_[0].first))
                return true;
        }
        if (!offsetFixed_) {
            FixOffset();
            TakeFirstFormats();
            const Choice choice = Choose(NeededRate(0));
            dvd_ = navigation_ = choice.dvd;
            ApplyChoice(choice);
        }
        for (const auto& stream : streams_)
            LookForChange(*stream);
        ShrinkWhenHeldFits();
        Stream* chosen = nullptr;
        PacketPlan plan;
        const NextPacket next = ChoosePacket(chosen, plan);
        if (next == NextPacket::Wait)
            return true;
        if (next == NextPacket::None)
            break;
        if (chosen->changeAt == chosen->queue.ReadPosition()) {
            // Planned again under the new format, maybe in a new program stream.
            if (!SwitchFormat(*chosen))
                return false;
            continue;
        }
        if (!WritePacket(*chosen, plan))
            return false;
    }
    if (!failed_ && !finished_) {
        finished_ = std::all_of(streams_.begin(), streams_.end(),
                                [](const auto& s) { return s->queue.Ended() && s->queue.Queued() == 0; });
        if (finished_)
            return Finish();
    }
    return !failed_;
}

// Of the streams in decode time order: the earliest, unless its buffer is full and another's
// packet can go sooner, so the SCR is not held for one stream while another could be delivered.
CProgramStreamMultiplexer::NextPacket CProgramStreamMultiplexer::ChoosePacket(Stream*& chosen, PacketPlan& plan) const
{
    chosen = nullptr;
    uint64_t chosenStart = 0;
    for (const auto& entry : order_) {
        Stream& candidateStream = *entry.second;
        const PacketPlan candidate = Plan(candidateStream, programStart_ && !navigation_);
        if (!candidate.complete) {
            if (candidateStream.waitedFor && !chosen)
                return NextPacket::Wait; // the earliest stream needs more bytes before its packet can go
            continue;
        }
        const uint64_t start = EarliestStart(candidateStream, candidate.payload);
        if (!chosen || start < chosenStart) {
            chosen = &candidateStream;
            plan = candidate;
            chosenStart = start;
        }
    }
    return chosen ? NextPacket::Chosen : NextPacket::None;
}

bool CProgramStreamMultiplexer::Finish()
{
    if (!navigation_)
        return true;
    WriteEndPack();
    return Emit();
}

// The program stream ends where a format change passes its bounds; the next pack starts another.
bool CProgramStreamMultiplexer::EndProgram()
{
    WriteEndPack();
    if (!Emit())
        return false;
    nextScr_ += PackTicks(rate_);
    programStart_ = true;
    for (const auto& stream : streams_)
        stream->announce = true;
    return true;
}

// DVD authoring tools read to the program end code, and whole sectors: it ends a pack of padding.
void CProgramStreamMultiplexer::WriteEndPack()
{
    BeginPack(nextScr_);
    WritePackHeader(pack_, nextScr_, rate_);
    WritePaddingPacket(pack_ + PackHeaderSize, PackSize - PackHeaderSize - sizeof(ProgramEndCode));
    std::memcpy(pack_ + PackSize - sizeof(ProgramEndCode), ProgramEndCode, sizeof(ProgramEndCode));
}

CProgramStreamMultiplexer::PacketPlan CProgramStreamMultiplexer::Plan(Stream& stream, bool firstPack) const
{
    const CElementaryStream& queue = stream.queue;
    const bool ac3 = queue.Kind() == StreamKind::Ac3Audio;
    const size_t room = PackSize - PackHeaderSize - (firstPack ? SystemHeaderSize(buffers_.size()) : 0) -
                        PesFixedHeaderSize - (stream.announce ? PstdExtensionSize : 0) -
                        (ac3 ? Ac3SubstreamHeaderSize : 0);
    const uint64_t read = queue.ReadPosition();
    const size_t available = queue.Ready();

    size_t next = 0;
    while (next < queue.UnitCount() && queue.Unit(next).position < read)
        ++next;
    PacketPlan plan;
    // A group of pictures starts a packet of its own, which a navigation pack goes before.
    size_t space = room;
    if (navigation_ && queue.Kind() == StreamKind::Mpeg2Video) {
        const uint64_t group = queue.NextGroupStart();
        if (group > read && group - read < space)
            space = static_cast<size_t>(group - read);
    }
    // So does a change of format, in the program stream it belongs to.
    if (stream.nextKnown && stream.changeAt > read && stream.changeAt - read < space)
        space = static_cast<size_t>(stream.changeAt - read);
    size_t limit = space;
    if (next < queue.UnitCount()) {
        const AccessUnit& unit = queue.Unit(next);
        const size_t at = static_cast<size_t>(unit.position - read);
        const size_t stampSize = unit.dts != unit.pts ? 2 * TimestampSize : TimestampSize;
        if (at + stampSize < space) {
            // A timestamp for the first unit that starts here.
            limit = space - stampSize;
            plan.header.pts = unit.pts + offset_;
            if (unit.dts != unit.pts)
                plan.header.dts = unit.dts + offset_;
            // Later units go without timestamps only where the times a decoder infers are theirs:
            // the decode time follows from the one before, and it is shown when decoded (readers
            // cannot tell when a reordered picture is shown). Any other starts the next packet,
            // which carries its times.
            for (size_t i = next + 1; i < queue.UnitCount() && queue.Unit(i).position < read + limit; ++i) {
                const AccessUnit& later = queue.Unit(i);
                if (later.dts != queue.Unit(i - 1).nextDts || later.pts != later.dts) {
                    limit = static_cast<size_t>(later.position - read);
                    break;
                }
            }
        } else {
            // Stop before the unit, so that the next packet starts with it and carries its times.
            limit = std::min(limit, at);
        }
    }
    plan.payload = std::min(limit, available);
    // A header not whole yet may change the format inside the packet.
    const bool headerAwaited = !stream.nextKnown && stream.changeAt < read + plan.payload;
    // A stream that has stopped delivering (its audio may end long before the video) does not
    // hold back its last bytes until the end to fill a packet.
    plan.complete = plan.payload > 0 && !headerAwaited &&
                    (plan.payload == limit || queue.Ended() || queue.Overflowing() || !stream.waitedFor);
    for (size_t i = next; i < queue.UnitCount() && queue.Unit(i).position < read + plan.payload; ++i) {
        if (plan.units++ == 0)
            plan.firstUnit = static_cast<size_t>(queue.Unit(i).position - read);
    }
    plan.header.streamId = stream.buffer->entry.streamId;
    return plan;
}

// The earliest SCR for a packet of `payload` bytes of the stream: not before the next pack may
// start, nor more than MaxWait before its data is decoded, nor before the decoder has taken
// enough out of the stream's buffer. `leaving` counts the buffered units gone by then.
uint64_t CProgramStreamMultiplexer::EarliestStart(const Stream& stream, size_t payload, size_t* leaving) const
{
    uint64_t scr = nextScr_;
    const CElementaryStream& queue = stream.queue;
    if (queue.UnitCount() > 0) {
        const int64_t earliest = ToSystemClock(queue.Unit(0).dts + offset_ - MaxWait);
        scr = std::max<uint64_t>(scr, earliest > 0 ? static_cast<uint64_t>(earliest) : 0);
    }
    const DecoderBuffer& buffer = *stream.buffer;
    return buffer.units.EarliestRoom(scr, payload, buffer.bytes, leaving);
}

// What this packet puts into the decoder buffer, by the decode time of the unit it belongs to;
// a unit whose last byte arrives after that time is late.
void CProgramStreamMultiplexer::CountIntoBuffer(Stream& stream, size_t payload, uint64_t arrival)
{
    late_ += mpeg::CountIntoBuffer(stream.queue, payload, arrival, offset_, stream.buffer->units);
}

// The packet goes out in a pack of its own: when the decoder has room for it, at the rate that
// brings all queued units in time.
bool CProgramStreamMultiplexer::WritePacket(Stream& stream, const PacketPlan& plan)
{
    uint64_t scr = StartPacket(stream, plan.payload);
    if (!BridgeTo(scr))
        return false;
    if (NeedsNavigation(stream)) {
        if (!WriteNavigationPack(scr))
            return false;
        scr = nextScr_;
    }
    BeginPack(scr);
    const size_t headers = WriteHeaders(pack_, scr);
    WritePes(pack_ + headers, stream, plan);
    if (!Emit())
        return false;
    nextScr_ = scr + PackTicks(rate_);
    CountIntoBuffer(stream, plan.payload, nextScr_);
    vobuHasVideo_ = vobuHasVideo_ || stream.queue.Kind() == StreamKind::Mpeg2Video;
    stream.queue.Consume(plan.payload);
    stream.announce = false;
    programStart_ = false;
    return true;
}

// Where the streams' losses overlap and are kept as gaps, nothing may be due for seconds.
bool CProgramStreamMultiplexer::BridgeTo(uint64_t scr)
{
    while (!programStart_ && scr > lastScr_ + LongestClockStep + PackTicks(rate_)) {
        const uint64_t padded = lastScr_ + LongestClockStep;
        BeginPack(padded);
        WritePackHeader(pack_, padded, rate_);
        WritePaddingPacket(pack_ + PackHeaderSize, PackSize - PackHeaderSize);
        if (!Emit())
            return false;
        nextScr_ = padded + PackTicks(rate_);
    }
    return true;
}

void CProgramStreamMultiplexer::BeginPack(uint64_t scr)
{
    uint8_t* room = sink_.NextPackBuffer();
    pack_ = room ? room : ownPack_;
    lastScr_ = scr;
}

bool CProgramStreamMultiplexer::Emit()
{
    if (!sink_.WritePack(pack_)) {
        failed_ = true;
        return false;
    }
    ++packs_;
    return true;
}

// The system header's audio and video bounds.
void CProgramStreamMultiplexer::CountKinds(int& audio, int& video) const
{
    audio = video = 0;
    for (const auto& stream : streams_)
        ++(stream->queue.Kind() == StreamKind::Mpeg2Video ? video : audio);
}

// The stream starts with a VOBU, and so does each group of pictures after the VOBU's first: audio
// that comes before the first picture shares the first VOBU with the first group, as authoring
// tools refuse a first VOBU without video.
bool CProgramStreamMultiplexer::NeedsNavigation(const Stream& stream) const
{
    if (!navigation_)
        return false;
    const CElementaryStream& queue = stream.queue;
    return programStart_ || (vobuHasVideo_ && queue.Kind() == StreamKind::Mpeg2Video && queue.NextGroupStart() == queue.ReadPosition());
}

// A pack of its own at `scr`, before the VOBU's first packet, with the system header DVD players
// look for in it: video, all MPEG audio, private streams 1 and 2.
bool CProgramStreamMultiplexer::WriteNavigationPack(uint64_t scr)
{
    BeginPack(scr);
    WritePackHeader(pack_, scr, rate_);
    SystemStreamEntry entries[] = {{AllVideoStreamsId, true, DvdVideoBufferKiB}, AudioEntry(StreamKind::MpegAudio),
                                   AudioEntry(StreamKind::Ac3Audio), {PrivateStream2Id, true, NavigationBufferKiB}};
    entries[1].streamId = AllAudioStreamsId;
    int audio = 0, video = 0;
    CountKinds(audio, video);
    WriteSystemHeader(pack_ + PackHeaderSize, rateBound_, audio, video, entries, 4);
    WriteNavigationPackets(pack_ + PackHeaderSize + DvdSystemHeaderSize, static_cast<uint32_t>(packs_), scr);
    if (!Emit())
        return false;
    vobuHasVideo_ = false;
    programStart_ = false;
    nextScr_ = scr + PackTicks(rate_);
    return true;
}

// The SCR of the stream's next packet, with what has left the decoder buffer by then taken out of
// it, and the mux rate from there.
uint64_t CProgramStreamMultiplexer::StartPacket(Stream& stream, size_t payload)
{
    size_t leaving = 0;
    const uint64_t scr = EarliestStart(stream, payload, &leaving);
    stream.buffer->units.Leave(leaving);
    // The rate rises ahead of a burst, so that nothing queued arrives late, and settles back.
    // Working the need out walks every queued unit, a quarter of the processor time when done
    // for every pack; it changes as units arrive and, slowly, as the SCR moves on.
    if (needRecount_ || packs_ >= neededAt_ + NeedRecountPacks) {
        needed_ = NeededRate(scr);
        neededAt_ = packs_;
        needRecount_ = false;
    }
    const uint32_t needed = needed_;
    if (rateFromNeed_ || needed > rate_ || needed * 2 < rate_) {
        rate_ = std::clamp(needed + needed / 8, baseRate_, rateBound_);
        rateFromNeed_ = false;
    }
    return scr;
}

// The pack header, and in a program stream's first pack the system header with every stream's
// buffer bound.
size_t CProgramStreamMultiplexer::WriteHeaders(uint8_t* out, uint64_t scr)
{
    WritePackHeader(out, scr, rate_);
    if (!programStart_ || navigation_)
        return PackHeaderSize;
    SystemStreamEntry entries[1 + MaxAudioStreams];
    const size_t count = std::min(buffers_.size(), sizeof(entries) / sizeof(entries[0]));
    for (size_t i = 0; i < count; ++i) {
        entries[i] = buffers_[i]->entry;
        entries[i].bufferSize = buffers_[i]->bound;
    }
    int audio = 0, video = 0;
    CountKinds(audio, video);
    return PackHeaderSize + WriteSystemHeader(out + PackHeaderSize, rateBound_, audio, video, entries, count);
}

// The PES packet from `out` to the end of the pack, with padding after it where it falls short.
void CProgramStreamMultiplexer::WritePes(uint8_t* out, Stream& stream, const PacketPlan& plan)
{
    const bool ac3 = stream.queue.Kind() == StreamKind::Ac3Audio;
    const size_t extra = ac3 ? Ac3SubstreamHeaderSize : 0;
    PesHeader header = plan.header;
    header.pstd = stream.announce ? &stream.buffer->entry : nullptr;
    const size_t used = static_cast<size_t>(out - pack_) + PesHeaderSize(header) + extra + plan.payload;
    size_t left = PackSize - used;
    // A padding packet needs six bytes and more; a few bytes go into the PES header instead.
    if (left <= 7) {
        header.stuffing = left;
        left = 0;
    }
    uint8_t* p = out + WritePesHeader(out, header, extra + plan.payload);
    if (ac3) {
        p[0] = stream.substream;
        p[1] = static_cast<uint8_t>(plan.units);
        const size_t pointer = plan.units ? plan.firstUnit + 1 : 0;
        p[2] = static_cast<uint8_t>(pointer >> 8);
        p[3] = static_cast<uint8_t>(pointer);
        p += Ac3SubstreamHeaderSize;
    }
    std::memcpy(p, stream.queue.Data(), plan.payload);
    p += plan.payload;
    if (left > 0)
        WritePaddingPacket(p, left);
}

} // namespace mpeg
