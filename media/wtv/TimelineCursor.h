#pragma once
// The read block over a WTV timeline: the part yet to be parsed, read in large blocks, the block
// grown when a chunk needs more room, and the skip past damage to the next chunk. No COM.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/wtv/WtvFileSystem.h"

namespace wtv {

class CTimelineCursor {
public:
    // A block of `bytes` (or what a larger chunk needs), read from the timeline's start.
    void Reset(size_t bytes);
    // The whole block (at least the Reset size), for a one-off read of another kind (the
    // attributes, the timeline's end): what the cursor held is lost, so a Reset comes next.
    uint8_t* Scratch() { return block_.data(); }

    // The timeline offset of the next byte to parse, and how many bytes from it the block holds.
    uint64_t Position() const { return blockOffset_ + begin_; }
    size_t Available() const { return end_ - begin_; }
    const uint8_t* Here() const { return block_.data() + begin_; }
    // Nothing more to read: the listed sectors or the file ended ...
    bool Exhausted() const { return exhausted_; }
    // ... the file before the listed sectors did.
    bool Cut() const { return cut_; }

    // Moves what is left to the block's front and reads more after it, the block grown first to
    // `need` bytes when it is smaller.
    HRESULT Refill(HANDLE file, const CVirtualFile& timeline, size_t need);
    // Past a whole chunk (its padding included), which also ends a skip.
    void PassChunk(size_t bytes);
    // Past damage: on to the next offset, a multiple of 8 on, where `isChunk` holds, or to the last
    // bytes that cannot hold a GUID yet. Returns the bytes skipped.
    size_t SkipToNextChunk(bool (*isChunk)(const uint8_t* data));
    // The bytes skipped since the last whole chunk, and whether they are all zeros (the unused
    // tail of a sector rather than damage).
    uint64_t Skipping() const { return skipping_; }
    bool SkippingZeros() const { return zeroSkipped_ == skipping_; }

private:
    std::vector<uint8_t> block_;
    // The block holds the timeline from blockOffset_; [begin_, end_) is yet to be parsed.
    uint64_t blockOffset_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool exhausted_ = false;
    bool cut_ = false;
    uint64_t skipping_ = 0;
    uint64_t zeroSkipped_ = 0;
};

} // namespace wtv
