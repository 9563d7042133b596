#include "media/mpeg/ElementaryStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

namespace {

// Consumed bytes are dropped from the front once they are this many and CompactRatio times the
// bytes still queued, which move to the front: each byte is moved a 1/CompactRatio time on average
// (the queue holds up to about a second of the stream, and moving it each time as much had gone
// out cost as much as one more copy of every byte), for a buffer up to 1 + CompactRatio times it.
constexpr size_t CompactThreshold = 64 * 1024;
constexpr size_t CompactRatio = 4;
// Times of samples in which no unit started are dropped beyond this many.
constexpr size_t MaxSampleTimes = 64;
// Units held for the next given time: beyond these a bad time is taken for an outlier, and a
// stream with no times at all starts at 0.
constexpr size_t MaxHeldUnits = 24;
constexpr size_t MaxHeldBytes = 2 << 20;
// Plain ASF keeps times in whole milliseconds.
constexpr int64_t ContainerRounding = 90;

constexpr int FieldPicture(int structure)
{
    return structure == static_cast<int>(PictureStructure::TopField) || structure == static_cast<int>(PictureStructure::BottomField);
}

} // namespace

CElementaryStream::CElementaryStream(StreamKind kind, CProgramTimeline& timeline)
    : kind_(kind), timeline_(timeline), slot_(timeline.Join())
{
}

void CElementaryStream::Reset()
{
    buffer_.clear();
    head_ = 0;
    base_ = 0;
    scan_ = 0;
    ended_ = false;
    units_.clear();
    pending_.clear();
    times_.clear();
    groupStarts_.clear();
    groupOpen_ = false;
    lastFrame_ = AudioFrame();
    damaged_ = 0;
    outliers_ = 0;
    jumps_ = 0;
    cadence_.Reset();
    shift_ = 0;
    closed_.clear();
    lastDts_ = NoTimestamp;
    anyTimed_ = false;
    proposedJump_ = NoJump;
    video_ = VideoFacts();
    sequence_ = SequenceHeader();
    framePeriod27_ = 1080000;
    codedFramePeriod27_ = 0;
    progressiveSequence_ = false;
    openPicture_ = OpenPicture();
    firstField_ = 0;
    firstFieldReference_ = -1;
    lastReferenceCounts_ = 2;
    gopIndex_ = 0;
    pictures_ = 0;
    lowDelay_ = false;
    reorderKnown_ = false;
    reorder_ = false;
    synced_ = true;
    sampleRate_ = 0;
    nalPrefix_ = nalPosition_ = NoNal;
    nalSearch_ = 0;
    nalDone_ = false;
    avc_.Reset();
    order_.Reset(0);
    popped_ = 0;
    framingKnown_ = false;
    aacFraming_ = AacFraming::Raw;
}

bool CElementaryStream::SetAacConfig(const uint8_t* config, size_t size)
{
    AacConfig parsed;
    if (!ParseAudioSpecificConfig(config, size, parsed))
        return false;
    aac_ = parsed;
    return true;
}

void CElementaryStream::Push(const ByteRange* pieces, size_t count, int64_t time)
{
    size_t size = 0;
    for (size_t i = 0; i < count; ++i)
        size += pieces[i].size;
    if (ended_ || size == 0)
        return;
    if (head_ >= CompactThreshold && head_ >= CompactRatio * Queued()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
        base_ += head_;
        head_ = 0;
    }
    const uint64_t at = WritePosition();
    times_.push_back({at, time});
    if (times_.size() > MaxSampleTimes)
        times_.pop_front();
    for (size_t i = 0; i < count; ++i)
        buffer_.insert(buffer_.end(), pieces[i].data, pieces[i].data + pieces[i].size);
    if (kind_ == StreamKind::AacAudio && !framingKnown_) {
        framingKnown_ = true;
        aacFraming_ = AacFramingOf(buffer_.data() + (at - base_), size);
    }
    if (kind_ == StreamKind::Mpeg2Video)
        ScanVideo();
    else if (kind_ == StreamKind::H264Video)
        ScanH264();
    else if (kind_ == StreamKind::AacAudio && aacFraming_ == AacFraming::Raw)
        AddRawAacFrame(at, size);
    else
        ScanAudio();
    TimeUnits();
}

void CElementaryStream::End()
{
    if (ended_)
        return;
    ended_ = true;
    if (kind_ == StreamKind::Mpeg2Video) {
        ScanVideo();
        ClosePicture(static_cast<int>(PictureStructure::Frame), 2);
        if (!reorderKnown_)
            DecideReorder(false);
    } else if (kind_ == StreamKind::H264Video) {
        ScanH264();
        if (!reorderKnown_)
            DecideAvcReorder(ObservedAvcReorder());
        order_.Flush();
        TakeAvcLeads();
    } else if (kind_ == StreamKind::AacAudio && aacFraming_ == AacFraming::Raw) {
    } else {
        ScanAudio();
    }
    scan_ = WritePosition();
    TimeUnits();
    timeline_.Ended(slot_);
}

uint64_t CElementaryStream::TimedEnd() const
{
    if (units_.empty())
        return ReadPosition(); // bytes before the first unit belong to it, and its time is not known yet
    uint64_t limit = std::min(scan_, WritePosition());
    if (!pending_.empty())
        limit = std::min(limit, pending_.front().position);
    if (openPicture_.open)
        limit = std::min(limit, openPicture_.position);
    // H.264: a delimiter or parameter set read since the last slice opens the next unit.
    limit = std::min(limit, avc_.OpenUnitStart());
    return limit;
}

size_t CElementaryStream::Ready() const
{
    if (ended_ || Overflowing())
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

void CElementaryStream::Consume(size_t size)
{
    head_ += std::min(size, Queued());
    while (!groupStarts_.empty() && groupStarts_.front() < ReadPosition())
        groupStarts_.pop_front();
    while (units_.size() >= 2 && units_[1].position <= ReadPosition())
        units_.pop_front();
}

uint64_t CElementaryStream::GroupStartAfterRead() const
{
    for (const uint64_t start : groupStarts_)
        if (start > ReadPosition())
            return start;
    return UINT64_MAX;
}

// The time of the sample the byte at `position` came in, if no earlier unit took it.
int64_t CElementaryStream::TakeTime(uint64_t position)
{
    while (times_.size() >= 2 && times_[1].position <= position)
        times_.pop_front();
    if (times_.empty() || times_.front().position > position)
        return NoTimestamp;
    const int64_t time = times_.front().time;
    times_.pop_front();
    return time;
}

void CElementaryStream::ScanVideo()
{
    const uint8_t* data = buffer_.data();
    const size_t size = buffer_.size();
    for (;;) {
        const size_t from = static_cast<size_t>(std::max(scan_, base_ + head_) - base_);
        const size_t at = FindStartCode(data, size, from);
        if (at >= size) {
            // The last two bytes may begin a start code whose rest is still to come.
            const uint64_t end = WritePosition();
            scan_ = std::max(scan_, ended_ || end < 2 ? end : end - 2);
            return;
        }
        if (at + 4 > size) {
            scan_ = base_ + at;
            return;
        }
        const uint8_t code = data[at + 3];
        const size_t needed = code == PictureStartCode ? 6 : code == SequenceHeaderCode ? 12 : code == ExtensionStartCode ? 10 : 4;
        if (at + needed > size && !ended_) {
            scan_ = base_ + at;
            return;
        }
        const size_t available = size - at;
        if (code == PictureStartCode) {
            ClosePicture(static_cast<int>(PictureStructure::Frame), 2);
            PictureHeader picture;
            groupOpen_ = false;
            if (ParsePictureHeader(data + at, available, picture))
                openPicture_ = {true, base_ + at, picture.temporalReference, picture.type != PictureType::B};
            else
                ++damaged_;
        } else if (code == ExtensionStartCode) {
            OnExtension(data + at, available);
        } else if (code >= 0x01 && code <= 0xAF) {
            // A slice: an MPEG-1 picture has no coding extension, so it is a frame.
            ClosePicture(static_cast<int>(PictureStructure::Frame), 2);
        } else if (code == SequenceHeaderCode) {
            ClosePicture(static_cast<int>(PictureStructure::Frame), 2);
            OpenGroup(base_ + at);
            OnSequenceHeader(data + at, available);
        } else if (code == GroupStartCode) {
            ClosePicture(static_cast<int>(PictureStructure::Frame), 2);
            OpenGroup(base_ + at);
            gopIndex_ = 0;
        }
        scan_ = base_ + at + 4;
    }
}

// A sequence header and the GOP header after it start one group.
void CElementaryStream::OpenGroup(uint64_t position)
{
    if (groupOpen_)
        return;
    groupOpen_ = true;
    groupStarts_.push_back(position);
}

VideoFacts FactsOf(const SequenceHeader& sequence)
{
    VideoFacts facts;
    facts.width = sequence.width;
    facts.height = sequence.height;
    facts.aspectCode = sequence.aspectCode;
    // 0x3FFFF is a variable-rate stream saying it does not know its rate.
    facts.bitRate = sequence.bitRateValue == 0x3FFFF ? 0 : sequence.bitRateValue * 400u;
    facts.vbvBytes = sequence.vbvBufferValue * 2048u;
    return facts;
}

void AddFacts(const SequenceHeader& sequence, const SequenceExtension& extension, VideoFacts& facts)
{
    facts.level = extension.level;
    facts.width = (facts.width & 0xFFF) | extension.widthHigh;
    facts.height = (facts.height & 0xFFF) | extension.heightHigh;
    const uint32_t rate = (extension.bitRateHigh << 18) | sequence.bitRateValue;
    facts.bitRate = rate == 0x3FFFF || rate == 0x3FFFFFFF ? 0 : rate * 400u;
    facts.vbvBytes = ((extension.vbvHigh << 10) | sequence.vbvBufferValue) * 2048u;
}

void CElementaryStream::OnSequenceHeader(const uint8_t* data, size_t size)
{
    SequenceHeader sequence;
    if (!ParseSequenceHeader(data, size, sequence))
        return;
    framePeriod27_ = codedFramePeriod27_ = FramePeriod27MHz(sequence.frameRateCode);
    const int level = video_.level; // until an extension says otherwise
    video_ = FactsOf(sequence);
    video_.level = level;
    sequence_ = sequence;
}

void CElementaryStream::OnExtension(const uint8_t* data, size_t size)
{
    SequenceExtension sequence;
    PictureCodingExtension picture;
    if (ParseSequenceExtension(data, size, sequence)) {
        lowDelay_ = lowDelay_ || sequence.lowDelay;
        if (codedFramePeriod27_)
            framePeriod27_ = codedFramePeriod27_ * (sequence.frameRateD + 1) / (sequence.frameRateN + 1);
        progressiveSequence_ = sequence.progressiveSequence;
        AddFacts(sequence_, sequence, video_);
    } else if (openPicture_.open && ParsePictureCodingExtension(data, size, picture)) {
        // Fields shown: a frame two, three with its first repeated; a progressive sequence counts
        // frames, so one, two or three of them.
        int fields = picture.repeatFirstField ? 3 : 2;
        if (progressiveSequence_)
            fields = picture.repeatFirstField ? (picture.topFieldFirst ? 6 : 4) : 2;
        ClosePicture(static_cast<int>(picture.structure), fields);
    }
}

// The picture found last is now known to be a frame, or a field: the second field of a frame
// belongs to the unit its first field began.
void CElementaryStream::ClosePicture(int structure, int fields)
{
    if (!openPicture_.open)
        return;
    openPicture_.open = false;
    const uint64_t position = openPicture_.position;
    const int reference = openPicture_.temporalReference;
    const bool referencePicture = openPicture_.reference;
    if (FieldPicture(structure) && firstField_ != 0 && firstField_ != structure && firstFieldReference_ == reference) {
        firstField_ = 0;
        TakeTime(position); // a time given to the second field is the first field's plus one field
        return;
    }
    firstField_ = FieldPicture(structure) ? structure : 0;
    firstFieldReference_ = reference;
    AddPicture(position, reference, referencePicture, FieldPicture(structure) ? 2 : fields);
}

// A unit found: the program's streams learn how long it runs, and it keeps how far they had run.
void CElementaryStream::AddPending(const PendingUnit& unit)
{
    pending_.push_back(unit);
    PendingUnit& added = pending_.back();
    timeline_.Mark(added.ran);
    timeline_.Run(slot_, IsVideoKind(kind_) ? unit.counts * framePeriod27_ / 600 : unit.counts * 90000 / unit.sampleRate);
}

void CElementaryStream::AddPicture(uint64_t position, int temporalReference, bool reference, int fields)
{
    AddPending({position, TakeTime(position), fields, 0, temporalReference, gopIndex_, reference, {}});
    const int decodeIndex = gopIndex_;
    gopIndex_ = (gopIndex_ + 1) & 1023;
    ++pictures_;
    // Pictures shown in another order than they are decoded mean B pictures: each decode time
    // is then one frame or more before its presentation. The first two pictures tell.
    if (!reorderKnown_) {
        if (lowDelay_)
            DecideReorder(false);
        else if (temporalReference != decodeIndex)
            DecideReorder(true);
        else if (pictures_ >= 2)
            DecideReorder(false);
    }
}

void CElementaryStream::DecideReorder(bool reorder)
{
    reorderKnown_ = true;
    reorder_ = reorder;
}

bool CElementaryStream::ParseAudioAt(uint64_t position, AudioFrame& frame, bool& dependent, AacConfig& config) const
{
    const size_t at = static_cast<size_t>(position - base_);
    dependent = false;
    config = aac_;
    if (at >= buffer_.size())
        return false;
    const uint8_t* data = buffer_.data() + at;
    const size_t size = buffer_.size() - at;
    switch (kind_) {
    case StreamKind::Ac3Audio:
        return ParseAc3Frame(data, size, frame);
    case StreamKind::Eac3Audio:
        return ParseEac3Frame(data, size, frame, dependent);
    case StreamKind::AacAudio:
        return aacFraming_ == AacFraming::Adts ? ParseAdtsFrame(data, size, frame) : ParseLoasFrame(data, size, aac_, frame, config);
    default:
        return ParseMpegAudioFrame(data, size, frame);
    }
}

// Bytes a frame header at `position` needs before it is parsed: a LOAS frame's configuration
// lies anywhere in it, so the whole frame.
size_t CElementaryStream::AudioBytesNeeded(uint64_t position) const
{
    switch (kind_) {
    case StreamKind::Ac3Audio:
    case StreamKind::Eac3Audio:
        return 6;
    case StreamKind::AacAudio: {
        if (aacFraming_ == AacFraming::Adts)
            return 7;
        const size_t at = static_cast<size_t>(position - base_);
        if (at + 3 > buffer_.size() || buffer_[at] != 0x56 || (buffer_[at + 1] & 0xE0) != 0xE0)
            return 3;
        return 3 + (((buffer_[at + 1] & 0x1Fu) << 8) | buffer_[at + 2]);
    }
    default:
        return 4;
    }
}

// One raw AAC frame a push: nothing in its bytes marks where a frame starts.
void CElementaryStream::AddRawAacFrame(uint64_t position, size_t size)
{
    // Without a configuration the rate is taken for broadcasting's 48 kHz.
    const uint32_t rate = aac_.sampleRate ? aac_.sampleRate : 48000;
    const uint32_t samples = aac_.frameSamples;
    lastFrame_ = {static_cast<uint32_t>(size), samples, rate, static_cast<uint32_t>(uint64_t(size) * 8 * rate / samples),
                  aac_.channels, 0, 0};
    sampleRate_ = rate;
    AddPending({position, TakeTime(position), samples, rate, 0, 0, false, {}});
    scan_ = WritePosition();
}

void CElementaryStream::ScanAudio()
{
    for (;;) {
        const uint64_t end = WritePosition();
        if (scan_ < ReadPosition())
            scan_ = ReadPosition();
        const size_t headerSize = AudioBytesNeeded(scan_);
        if (scan_ + headerSize > end && !(ended_ && kind_ == StreamKind::AacAudio && scan_ + 3 <= end))
            return;
        AudioFrame frame;
        bool dependent = false;
        AacConfig config;
        // While in sync a header that changes the sample rate is taken for damage too.
        bool found = ParseAudioAt(scan_, frame, dependent, config) && frame.size >= std::min<size_t>(headerSize, 7) &&
                     (!synced_ || sampleRate_ == 0 || frame.sampleRate == sampleRate_);
        if (found && !synced_) {
            // After garbage a sync word is believed only when the next frame follows it.
            const uint64_t next = scan_ + frame.size;
            AudioFrame following;
            bool nextDependent = false;
            AacConfig nextConfig;
            if (next + AudioBytesNeeded(next) > end && !(ended_ && next >= end))
                return;
            found = (ended_ && next >= end) || ParseAudioAt(next, following, nextDependent, nextConfig);
        }
        if (!found) {
            if (synced_)
                ++damaged_;
            synced_ = false;
            // On to the next byte that could start a header.
            const bool loas = kind_ == StreamKind::AacAudio && aacFraming_ == AacFraming::Loas;
            const uint8_t first = kind_ == StreamKind::Ac3Audio || kind_ == StreamKind::Eac3Audio ? 0x0B : loas ? 0x56 : 0xFF;
            const size_t from = static_cast<size_t>(scan_ - base_) + 1;
            const void* hit = std::memchr(buffer_.data() + from, first, buffer_.size() - from);
            scan_ = hit ? base_ + static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer_.data()) : end;
            continue;
        }
        synced_ = true;
        aac_ = config;
        // A dependent substream adds channels to the frame before it: the same samples, one unit.
        if (dependent) {
            scan_ += frame.size;
            continue;
        }
        sampleRate_ = frame.sampleRate;
        lastFrame_ = frame;
        AddPending({scan_, TakeTime(scan_), frame.samples, frame.sampleRate, 0, 0, false, {}});
        scan_ += frame.size;
    }
}

// With B pictures a reference picture is decoded when the one before it is shown, and shown after
// the B pictures that follow it in decode order; so its lead is that one's duration and theirs.
// Known once the next reference picture is found, or the stream ends.
bool CElementaryStream::LeadKnown(size_t index) const
{
    if (kind_ == StreamKind::H264Video)
        return ended_ || pending_[index].lead >= 0;
    if (kind_ != StreamKind::Mpeg2Video || !reorder_ || !pending_[index].reference || ended_)
        return true;
    for (size_t i = index + 1; i < pending_.size(); ++i) {
        if (pending_[i].reference)
            return true;
    }
    // An open reference picture ends them too, unless it is the second field of the frame before.
    const bool secondField = firstField_ != 0 && openPicture_.temporalReference == firstFieldReference_;
    return openPicture_.open && openPicture_.reference && !secondField;
}

int64_t CElementaryStream::PreviousReferenceCounts(size_t index) const
{
    for (size_t i = index; i-- > 0;) {
        if (pending_[i].reference)
            return pending_[i].counts;
    }
    return lastReferenceCounts_;
}

// In 90 kHz ticks.
int64_t CElementaryStream::LeadOf(size_t index) const
{
    if (kind_ == StreamKind::H264Video)
        return std::max<int64_t>(pending_[index].lead, 0) * framePeriod27_ / 600;
    if (kind_ != StreamKind::Mpeg2Video || !reorder_ || !pending_[index].reference)
        return 0;
    int64_t counts = PreviousReferenceCounts(index);
    for (size_t i = index + 1; i < pending_.size() && !pending_[i].reference; ++i)
        counts += pending_[i].counts;
    return counts * framePeriod27_ / 600;
}

// In counts: decoding a B picture takes as long as it is shown; a reference picture, as long as
// the reference before it, which is shown meanwhile. Without reordering, each is shown when decoded.
int64_t CElementaryStream::StepOf(size_t index) const
{
    const PendingUnit& unit = pending_[index];
    if (kind_ != StreamKind::Mpeg2Video || !reorder_ || !unit.reference)
        return unit.counts;
    return PreviousReferenceCounts(index);
}

void CElementaryStream::SetCadenceUnit(const PendingUnit& unit)
{
    if (IsVideoKind(kind_))
        cadence_.SetUnit(framePeriod27_, 600); // a field (H.264: a clock tick), in 90 kHz ticks
    else if (unit.sampleRate)
        cadence_.SetUnit(90000, unit.sampleRate);
}

size_t CElementaryStream::NextTimed(size_t from) const
{
    size_t index = from + 1;
    while (index < pending_.size() && pending_[index].time == NoTimestamp)
        ++index;
    return index;
}

int64_t CElementaryStream::StepsTo(size_t index) const
{
    int64_t steps = 0;
    for (size_t i = 0; i < index; ++i)
        steps += StepOf(i);
    return steps;
}

int64_t CElementaryStream::DecodeTimeGiven(size_t index) const
{
    return pending_[index].time - shift_ - LeadOf(index);
}

// Times off by less than this are taken as they are: three fields of video, two audio frames.
int64_t CElementaryStream::Tolerance() const
{
    if (IsVideoKind(kind_))
        return 3 * framePeriod27_ / 600;
    int64_t frame = kind_ == StreamKind::Ac3Audio ? 1536 : 1152;
    if (kind_ == StreamKind::AacAudio || kind_ == StreamKind::Eac3Audio)
        frame = lastFrame_.samples ? lastFrame_.samples : 1024;
    return sampleRate_ ? 2 * frame * 90000 / sampleRate_ : 5760;
}

// While the answer may still come: the stream goes on and not too much is held.
bool CElementaryStream::MayWait() const
{
    if (ended_ || pending_.size() >= MaxHeldUnits)
        return false;
    return WritePosition() - pending_.front().position < MaxHeldBytes;
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
    const bool onOld = next == pending_.size() ||
                       std::llabs(DecodeTimeGiven(next) - cadence_.Due(StepsTo(next))) <= Tolerance();
    int64_t othersRan = -1;
    if (anyTimed_) {
        const PendingUnit& unit = pending_.front();
        const int64_t others = timeline_.OthersRan(slot_, lastRan_, unit.ran);
        if (others >= 0)
            othersRan = std::max<int64_t>(0, others - (unit.ran[slot_] - lastRan_[slot_]));
    }
    const TimeVerdict verdict = JudgeTime({off, onOld, othersRan});
    if (othersRan >= LongestKeptGap / 2 || verdict == TimeVerdict::PartGap)
        lost = othersRan;
    return verdict;
}

void CElementaryStream::TimeUnits()
{
    if (IsVideoKind(kind_) && !reorderKnown_)
        return;
    while (!pending_.empty()) {
        if (!LeadKnown(0) && MayWait())
            return;
        const PendingUnit& unit = pending_.front();
        SetCadenceUnit(unit);
        if (!cadence_.Known()) {
            // Count back from the first given time, so leading units without one keep the rhythm.
            const size_t timed = unit.time != NoTimestamp ? 0 : NextTimed(0);
            if (timed == pending_.size() && MayWait())
                return;
            if (timed < pending_.size() && !LeadKnown(timed) && MayWait())
                return;
            cadence_.Anchor(0);
            if (timed < pending_.size()) {
                cadence_.Anchor(DecodeTimeGiven(timed));
                cadence_.Advance(-StepsTo(timed));
            }
        }
        int64_t given = unit.time != NoTimestamp ? DecodeTimeGiven(0) : NoTimestamp;
        const int64_t due = cadence_.Due();
        const int64_t off = given != NoTimestamp ? given - due : 0;
        if (std::llabs(off) > Tolerance()) {
            // The next given time tells a bad one from a jump; a last one alone is taken for bad.
            const size_t next = NextTimed(0);
            if ((next == pending_.size() || !LeadKnown(next)) && MayWait())
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
                if (proposedJump_ == NoJump)
                    proposedJump_ = timeline_.Propose(slot_, due, off - lost, lost != 0);
                if (!timeline_.Settled(proposedJump_, slot_) && MayWait())
                    return;
                if (partGap && !timeline_.Shared(proposedJump_, slot_)) {
                    timeline_.Decline(proposedJump_);
                    break;
                }
                shift_ += timeline_.Take(proposedJump_);
                if (closed_.size() < MaxClosedJumps)
                    closed_.push_back({unit.time, shift_});
                given = DecodeTimeGiven(0);
                // What this stream lost beyond the amount stays a gap; a time short of the cadence
                // (a picture after lost data can lack the pictures its lead counts) takes its own.
                if (given < due)
                    given = NoTimestamp;
                ++jumps_;
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
        cadence_.Advance(StepOf(0));
        units_.push_back({unit.position, dts + LeadOf(0), dts, cadence_.Due()});
        lastDts_ = dts;
        timeline_.Timed(slot_, dts);
        if (unit.reference)
            lastReferenceCounts_ = unit.counts;
        proposedJump_ = NoJump;
        pending_.pop_front();
        ++popped_;
    }
}

// NAL units from start code to start code; each is parsed once its end is in the buffer.
void CElementaryStream::ScanH264()
{
    const uint8_t* data = buffer_.data();
    const size_t size = buffer_.size();
    const uint64_t read = ReadPosition();
    // Bytes given out unparsed (a backlog with no unit to time it) take the unit they held.
    if (nalPosition_ != NoNal && nalPosition_ < read)
        nalPrefix_ = nalPosition_ = NoNal;
    avc_.ForgetBefore(read);
    for (;;) {
        uint64_t from = std::max(nalSearch_, read);
        if (nalPrefix_ != NoNal)
            from = std::max(from, nalPrefix_ + 3);
        const size_t at = FindStartCode(data, size, static_cast<size_t>(from - base_));
        if (at + 3 >= size) {
            // The last bytes may begin a start code whose rest is still to come.
            const uint64_t end = WritePosition();
            nalSearch_ = std::max(from, end < 3 ? 0 : end - 3);
            if (ended_ && nalPrefix_ != NoNal) {
                if (!nalDone_)
                    OnNalUnit(nalPosition_, nalPrefix_, end, true);
                nalPrefix_ = nalPosition_ = NoNal;
            } else if (nalPrefix_ != NoNal && !nalDone_ && nalPrefix_ + 4 <= end) {
                // A slice's picture is found from its header, before the rest of it comes: the
                // other streams' data that arrives meanwhile is not taken for data beside it.
                const int type = NalType(buffer_[static_cast<size_t>(nalPrefix_ + 3 - base_)]);
                if (type == nal::Slice || type == nal::IdrSlice)
                    nalDone_ = OnNalUnit(nalPosition_, nalPrefix_, end, false);
            }
            scan_ = nalPosition_ != NoNal ? nalPosition_ : std::max(scan_, ended_ || end < 3 ? end : end - 3);
            return;
        }
        const uint64_t prefix = base_ + at;
        // A zero byte before the prefix makes it the four-byte start code an access unit begins with.
        const uint64_t position = at > 0 && data[at - 1] == 0 && prefix - 1 >= std::max(read, nalPrefix_ == NoNal ? 0 : nalPrefix_ + 4)
                                      ? prefix - 1
                                      : prefix;
        if (nalPrefix_ != NoNal && !nalDone_)
            OnNalUnit(nalPosition_, nalPrefix_, position, true);
        nalPrefix_ = prefix;
        nalPosition_ = position;
        nalDone_ = false;
        nalSearch_ = prefix + 3;
        scan_ = position;
    }
}

// False when a slice taken before its end needs more of its header.
bool CElementaryStream::OnNalUnit(uint64_t position, uint64_t prefix, uint64_t end, bool whole)
{
    const uint8_t* nal = buffer_.data() + (prefix + 3 - base_);
    size_t size = static_cast<size_t>(end - (prefix + 3));
    while (whole && size > 0 && nal[size - 1] == 0)
        --size; // trailing zero bytes belong to no unit
    AvcPicture picture;
    switch (avc_.OnNalUnit(position, nal, size, whole, picture)) {
    case CAvcPictureFinder::Found::Picture:
        AddAvcPicture(picture);
        return true;
    case CAvcPictureFinder::Found::SecondField:
        TakeTime(position); // a time given to the second field is the first field's plus one field
        return true;
    case CAvcPictureFinder::Found::NeedMore:
        return false;
    default:
        return true;
    }
}

void CElementaryStream::AddAvcPicture(const AvcPicture& picture)
{
    const AvcSps* sps = avc_.ActiveSps();
    if (sps) {
        if (const int64_t period = AvcFramePeriod27MHz(*sps))
            framePeriod27_ = period;
        video_.width = static_cast<int>(sps->width);
        video_.height = static_cast<int>(sps->height);
        video_.bitRate = sps->bitRate;
        video_.vbvBytes = sps->cpbBytes;
        video_.avcProfile = sps->profileIdc;
        video_.avcLevel = sps->levelIdc;
    }
    // An IDR picture is where decoding can begin: a group's start.
    if (picture.idr)
        groupStarts_.push_back(picture.position);
    PendingUnit unit{picture.position, TakeTime(picture.position), picture.ticks, 0, 0, 0, false, {}};
    unit.poc = picture.poc;
    unit.idr = picture.idr;
    AddPending(unit);
    ++pictures_;
    if (reorderKnown_) {
        order_.Add(popped_ + pending_.size() - 1, picture.poc, picture.ticks, picture.idr);
        TakeAvcLeads();
        return;
    }
    // How many pictures may be shown after a later one: the VUI says, type 2 order counts cannot
    // reorder, else the first pictures tell.
    if (sps && sps->maxNumReorderFrames >= 0)
        DecideAvcReorder(sps->maxNumReorderFrames);
    else if (sps && sps->pocType == 2)
        DecideAvcReorder(0);
    else if (pending_.size() >= MaxHeldUnits / 2 || (picture.idr && pictures_ > 1))
        DecideAvcReorder(ObservedAvcReorder());
}

int CElementaryStream::ObservedAvcReorder() const
{
    int depth = 0;
    size_t sequence = 0; // the first pending picture of the current sequence
    for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].idr)
            sequence = i;
        int later = 0;
        for (size_t j = sequence; j < i; ++j)
            later += pending_[j].poc > pending_[i].poc ? 1 : 0;
        depth = std::max(depth, later);
    }
    return depth;
}

void CElementaryStream::DecideAvcReorder(int depth)
{
    reorderKnown_ = true;
    reorder_ = depth > 0;
    order_.Reset(depth);
    for (size_t i = 0; i < pending_.size(); ++i) {
        order_.Add(popped_ + i, pending_[i].poc, static_cast<int>(pending_[i].counts), pending_[i].idr);
        TakeAvcLeads();
    }
}

void CElementaryStream::TakeAvcLeads()
{
    uint64_t serial = 0;
    int64_t lead = 0;
    while (order_.Next(serial, lead)) {
        if (serial >= popped_ && serial - popped_ < pending_.size())
            pending_[static_cast<size_t>(serial - popped_)].lead = std::max<int64_t>(lead, 0);
    }
}

} // namespace mpeg
