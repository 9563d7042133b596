#include "media/mpeg/VideoRunCounter.h"

#include <algorithm>
#include <cstring>

#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

namespace {

bool IsSlice(uint8_t code) { return code >= 0x01 && code <= 0xAF; }

} // namespace

int64_t CVideoRunCounter::Count(const uint8_t* data, size_t size)
{
    int64_t ticks = 0;
    // The start codes that begin in the last push's tail, read with this push's first bytes; the
    // tail is no longer than a header, so any longer push completes them.
    uint8_t seam[2 * HeaderBytes];
    const size_t taken = std::min(size, sizeof(seam) - tailSize_);
    std::memcpy(seam, tail_, tailSize_);
    std::memcpy(seam + tailSize_, data, taken);
    const size_t seamSize = tailSize_ + taken;
    for (size_t at = FindStartCode(seam, seamSize, 0); at < tailSize_; at = FindStartCode(seam, seamSize, at + 1)) {
        if (!OnHeader(seam + at, seamSize - at, ticks)) {
            tailSize_ = seamSize - at; // a push shorter than the header: it waits for the next
            std::memmove(tail_, seam + at, tailSize_);
            return ticks;
        }
    }
    for (size_t at = FindStartCode(data, size, 0); at < size; at = FindStartCode(data, size, at + 1)) {
        if (!OnHeader(data + at, size - at, ticks)) {
            tailSize_ = size - at;
            std::memcpy(tail_, data + at, tailSize_);
            return ticks;
        }
    }
    // The first bytes of a start code may end the push (or the pushes that were too short).
    const uint8_t* end = size >= 3 ? data + size : seam + seamSize;
    tailSize_ = std::min<size_t>(3, size >= 3 ? size : seamSize);
    std::memmove(tail_, end - tailSize_, tailSize_);
    return ticks;
}

bool CVideoRunCounter::OnHeader(const uint8_t* data, size_t size, int64_t& ticks)
{
    if (size < 4)
        return false;
    const uint8_t code = data[3];
    if (code == SequenceHeaderCode) {
        if (size < 12)
            return false;
        SequenceHeader sequence;
        if (ParseSequenceHeader(data, size, sequence))
            framePeriod27_ = codedFramePeriod27_ = FramePeriod27MHz(sequence.frameRateCode);
    } else if (code == ExtensionStartCode) {
        if (size < 10)
            return false;
        SequenceExtension sequence;
        PictureCodingExtension picture;
        if (ParseSequenceExtension(data, size, sequence)) {
            if (codedFramePeriod27_)
                framePeriod27_ = codedFramePeriod27_ * (sequence.frameRateD + 1) / (sequence.frameRateN + 1);
            progressiveSequence_ = sequence.progressiveSequence;
        } else if (pictureOpen_ && ParsePictureCodingExtension(data, size, picture)) {
            // A field picture is half a frame: the first of a pair counts the frame, as the unit
            // scanner does, and the second nothing.
            if (picture.structure == PictureStructure::Frame) {
                firstField_ = 0;
                ClosePicture(FieldsShown(picture, progressiveSequence_), ticks);
            } else if (firstField_ != 0 && firstField_ != static_cast<int>(picture.structure)) {
                firstField_ = 0;
                ClosePicture(0, ticks);
            } else {
                firstField_ = static_cast<int>(picture.structure);
                ClosePicture(2, ticks);
            }
        }
    } else if (code == PictureStartCode || IsSlice(code)) {
        // A picture without a coding extension (MPEG-1) is a frame.
        if (pictureOpen_)
            ClosePicture(2, ticks);
        pictureOpen_ = code == PictureStartCode;
    }
    return true;
}

void CVideoRunCounter::ClosePicture(int fields, int64_t& ticks)
{
    pictureOpen_ = false;
    ticks += fields * framePeriod27_ / 600;
}

} // namespace mpeg
