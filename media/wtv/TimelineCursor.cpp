#include "media/wtv/TimelineCursor.h"

#include <algorithm>
#include <cstring>

#include "media/FileRead.h"

namespace wtv {

void CTimelineCursor::Reset(size_t bytes)
{
    if (block_.size() < bytes)
        block_.resize(bytes);
    blockOffset_ = 0;
    begin_ = end_ = 0;
    exhausted_ = cut_ = false;
    skipping_ = zeroSkipped_ = 0;
}

HRESULT CTimelineCursor::Refill(HANDLE file, const CVirtualFile& timeline, size_t need)
{
    if (begin_ > 0) {
        std::memmove(block_.data(), block_.data() + begin_, end_ - begin_);
        blockOffset_ += begin_;
        end_ -= begin_;
        begin_ = 0;
    }
    if (need > block_.size())
        block_.resize(need);
    size_t got = 0;
    const size_t room = block_.size() - end_;
    HRESULT hr = timeline.Read(file, blockOffset_ + end_, block_.data() + end_, room, got);
    if (FAILED(hr))
        return hr;
    end_ += got;
    if (got < room) {
        exhausted_ = true;
        cut_ = blockOffset_ + end_ < timeline.Extent();
    }
    return S_OK;
}

void CTimelineCursor::PassChunk(size_t bytes)
{
    begin_ += std::min(Available(), bytes);
    skipping_ = zeroSkipped_ = 0;
}

size_t CTimelineCursor::SkipToNextChunk(bool (*isChunk)(const uint8_t* data))
{
    size_t at = begin_ + 8;
    while (at + sizeof(GUID) <= end_ && !isChunk(block_.data() + at))
        at += 8;
    at = std::min(at, end_);
    const size_t skipped = at - begin_;
    skipping_ += skipped;
    if (media::AllZero(block_.data() + begin_, skipped))
        zeroSkipped_ += skipped;
    begin_ = at;
    return skipped;
}

} // namespace wtv
