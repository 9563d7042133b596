#include "media/mpeg/ByteQueue.h"

#include <algorithm>
#include <cstring>

namespace mpeg {

namespace {

// Bytes taken out are dropped from the front once they are this many and CompactRatio times the
// bytes still queued, which move to the front: each byte is moved a 1/CompactRatio time on average
// (the queue holds up to about a second of the stream, and moving it each time as much had gone
// out cost as much as one more copy of every byte), for a block up to 1 + CompactRatio times it.
constexpr size_t CompactThreshold = 64 * 1024;
constexpr size_t CompactRatio = 4;

} // namespace

void CByteQueue::Append(const ByteRange* pieces, size_t count)
{
    size_t size = 0;
    for (size_t i = 0; i < count; ++i)
        size += pieces[i].size;
    if (size == 0)
        return;
    // The room lent is still at the end: any write since would have forgotten it.
    const bool inPlace = count == 1 && lent_ && pieces[0].data == lent_ && size <= lentSize_;
    lent_ = nullptr;
    if (inPlace) {
        filled_ += size;
        return;
    }
    MakeRoom(size);
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(block_.get() + filled_, pieces[i].data, pieces[i].size);
        filled_ += pieces[i].size;
    }
}

void CByteQueue::Clear()
{
    // A borrower may still write into the block; it is left to it.
    if (Borrowed()) {
        block_.reset();
        capacity_ = 0;
    }
    head_ = filled_ = 0;
    base_ = 0;
    lent_ = nullptr;
}

bool CByteQueue::Lend(size_t size, std::shared_ptr<void>& keep, uint8_t*& room)
{
    if (Borrowed())
        return false;
    MakeRoom(size);
    room = block_.get() + filled_;
    lent_ = room;
    lentSize_ = size;
    keep = block_;
    return true;
}

void CByteQueue::MakeRoom(size_t size)
{
    const bool borrowed = Borrowed();
    const bool compact = head_ >= CompactThreshold && head_ >= CompactRatio * Queued();
    if (!borrowed && compact) {
        std::memmove(block_.get(), Data(), Queued());
        base_ += head_;
        filled_ -= head_;
        head_ = 0;
    }
    if (!borrowed && filled_ + size <= capacity_)
        return;
    // A new block, doubling as a vector would when the old one is full; with the queued bytes
    // only, the taken ones dropped.
    const size_t queued = Queued();
    const size_t capacity = std::max(queued + size, borrowed ? capacity_ : 2 * capacity_);
    std::shared_ptr<uint8_t[]> block(new uint8_t[capacity]);
    if (queued > 0)
        std::memcpy(block.get(), Data(), queued);
    block_ = std::move(block);
    capacity_ = capacity;
    base_ += head_;
    filled_ = queued;
    head_ = 0;
}

} // namespace mpeg
