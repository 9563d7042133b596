#include "media/mpeg/ElementaryStream.h"

#include <algorithm>
#include <cstring>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

namespace {

// Consumed bytes are dropped from the front once they are this many and half the buffer.
constexpr size_t CompactThreshold = 64 * 1024;
// Times of samples in which no unit started are dropped beyond this many.
constexpr size_t MaxSampleTimes = 64;

} // namespace

CElementaryStream::CElementaryStream(StreamKind kind) : kind_(kind) {}

void CElementaryStream::Reset()
{
    buffer_.clear();
    head_ = 0;
    base_ = 0;
    scan_ = 0;
    ended_ = false;
    units_.clear();
    times_.clear();
    damaged_ = 0;
    pending_.clear();
    framePeriod_ = 3600;
    gopIndex_ = 0;
    pictures_ = 0;
    lowDelay_ = false;
    reorderKnown_ = false;
    reorder_ = false;
    lastDts_ = NoTimestamp;
    synced_ = true;
    audioBase_ = NoTimestamp;
    samplesSinceBase_ = 0;
    sampleRate_ = 0;
}

void CElementaryStream::Push(const uint8_t* data, size_t size, int64_t time)
{
    if (ended_ || size == 0)
        return;
    if (head_ >= CompactThreshold && head_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
        base_ += head_;
        head_ = 0;
    }
    times_.push_back({WritePosition(), time});
    if (times_.size() > MaxSampleTimes)
        times_.pop_front();
    buffer_.insert(buffer_.end(), data, data + size);
    if (kind_ == StreamKind::Mpeg2Video)
        ScanVideo();
    else
        ScanAudio();
}

void CElementaryStream::End()
{
    if (ended_)
        return;
    ended_ = true;
    if (kind_ == StreamKind::Mpeg2Video) {
        ScanVideo();
        if (!reorderKnown_)
            DecideReorder(false);
    } else {
        ScanAudio();
    }
    scan_ = WritePosition();
}

size_t CElementaryStream::Ready() const
{
    if (ended_ || Overflowing())
        return Queued();
    if (units_.empty())
        return 0; // bytes before the first unit belong to it, and its time is not known yet
    uint64_t limit = std::min(scan_, WritePosition());
    if (!pending_.empty())
        limit = std::min(limit, pending_.front().position);
    return limit > ReadPosition() ? static_cast<size_t>(limit - ReadPosition()) : 0;
}

void CElementaryStream::Consume(size_t size)
{
    head_ += std::min(size, Queued());
    while (units_.size() >= 2 && units_[1].position <= ReadPosition())
        units_.pop_front();
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
            PictureHeader picture;
            if (ParsePictureHeader(data + at, available, picture))
                AddPicture(base_ + at, picture.temporalReference);
            else
                ++damaged_;
        } else if (code == SequenceHeaderCode) {
            SequenceHeader sequence;
            if (ParseSequenceHeader(data + at, available, sequence))
                framePeriod_ = FramePeriod27MHz(sequence.frameRateCode) / 300;
        } else if (code == ExtensionStartCode) {
            SequenceExtension extension;
            if (ParseSequenceExtension(data + at, available, extension) && extension.lowDelay)
                lowDelay_ = true;
        } else if (code == GroupStartCode) {
            gopIndex_ = 0;
        }
        scan_ = base_ + at + 4;
    }
}

void CElementaryStream::AddPicture(uint64_t position, int temporalReference)
{
    pending_.push_back({position, temporalReference, gopIndex_, TakeTime(position)});
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
    if (reorderKnown_)
        TimePictures();
}

void CElementaryStream::DecideReorder(bool reorder)
{
    reorderKnown_ = true;
    reorder_ = reorder;
    TimePictures();
}

void CElementaryStream::TimePictures()
{
    for (const PendingPicture& picture : pending_) {
        // How many frames presentation follows decoding, from the display and decode order.
        int lead = (picture.temporalReference - picture.decodeIndex) & 1023;
        if (lead >= 512)
            lead -= 1024;
        lead += reorder_ ? 1 : 0;
        AccessUnit unit{picture.position, picture.time, NoTimestamp};
        if (unit.pts != NoTimestamp) {
            unit.dts = unit.pts - lead * framePeriod_;
        } else {
            unit.dts = lastDts_ != NoTimestamp ? lastDts_ + framePeriod_ : 0;
            unit.pts = unit.dts + lead * framePeriod_;
        }
        // Bad or missing times must not make decode times run backwards or after presentation.
        if (lastDts_ != NoTimestamp && unit.dts <= lastDts_)
            unit.dts = lastDts_ + 1;
        unit.dts = std::min(unit.dts, unit.pts);
        lastDts_ = unit.dts;
        units_.push_back(unit);
    }
    pending_.clear();
}

bool CElementaryStream::ParseAudioAt(uint64_t position, AudioFrame& frame) const
{
    const size_t at = static_cast<size_t>(position - base_);
    if (at >= buffer_.size())
        return false;
    const uint8_t* data = buffer_.data() + at;
    const size_t size = buffer_.size() - at;
    return kind_ == StreamKind::Ac3Audio ? ParseAc3Frame(data, size, frame) : ParseMpegAudioFrame(data, size, frame);
}

void CElementaryStream::ScanAudio()
{
    const size_t headerSize = kind_ == StreamKind::Ac3Audio ? 6 : 4;
    for (;;) {
        const uint64_t end = WritePosition();
        if (scan_ < ReadPosition())
            scan_ = ReadPosition();
        if (scan_ + headerSize > end)
            return;
        AudioFrame frame;
        // While in sync a header that changes the sample rate is taken for damage too.
        bool found = ParseAudioAt(scan_, frame) && frame.size >= headerSize &&
                     (!synced_ || sampleRate_ == 0 || frame.sampleRate == sampleRate_);
        if (found && !synced_) {
            // After garbage a sync word is believed only when the next frame follows it.
            const uint64_t next = scan_ + frame.size;
            AudioFrame following;
            if (next + headerSize > end && !(ended_ && next >= end))
                return;
            found = (ended_ && next >= end) || ParseAudioAt(next, following);
        }
        if (!found) {
            if (synced_)
                ++damaged_;
            synced_ = false;
            // On to the next byte that could start a header.
            const uint8_t first = kind_ == StreamKind::Ac3Audio ? 0x0B : 0xFF;
            const size_t from = static_cast<size_t>(scan_ - base_) + 1;
            const void* hit = std::memchr(buffer_.data() + from, first, buffer_.size() - from);
            scan_ = hit ? base_ + static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer_.data()) : end;
            continue;
        }
        synced_ = true;
        const int64_t given = TakeTime(scan_);
        if (given != NoTimestamp || audioBase_ == NoTimestamp || frame.sampleRate != sampleRate_) {
            const int64_t runOn = audioBase_ == NoTimestamp || sampleRate_ == 0
                                      ? 0
                                      : audioBase_ + static_cast<int64_t>(samplesSinceBase_ * 90000 / sampleRate_);
            audioBase_ = given != NoTimestamp ? given : runOn;
            samplesSinceBase_ = 0;
            sampleRate_ = frame.sampleRate;
        }
        const int64_t pts = audioBase_ + static_cast<int64_t>(samplesSinceBase_ * 90000 / sampleRate_);
        units_.push_back({scan_, pts, pts});
        samplesSinceBase_ += frame.samples;
        scan_ += frame.size;
    }
}

} // namespace mpeg
