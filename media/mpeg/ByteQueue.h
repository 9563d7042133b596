#pragma once
// A stream's bytes from the first not yet taken out, in one block, scanned in place. Room after
// the last byte can be lent: whoever has the next bytes (an upstream filter filling a sample) puts
// them straight there, and appending them then copies nothing. A lent block is shared with the
// borrower, and nothing is written into it while it is: bytes that must move or be added then go
// to a new block, and the borrower's bytes are copied in as any others.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "media/mpeg/ByteRange.h"

namespace mpeg {

class CByteQueue {
public:
    // The block from its start (bytes taken out included) and the stream offset of that start.
    const uint8_t* Block() const { return block_.get(); }
    size_t Filled() const { return filled_; }
    uint64_t Base() const { return base_; }

    uint64_t ReadPosition() const { return base_ + head_; }
    uint64_t WritePosition() const { return base_ + filled_; }
    const uint8_t* Data() const { return block_.get() + head_; }
    size_t Queued() const { return filled_ - head_; }

    // The pieces' bytes after the others; nothing is copied when they are the one room lent last,
    // filled from its start.
    void Append(const ByteRange* pieces, size_t count);
    // Takes out the first `size` bytes (all there are, at most).
    void Consume(size_t size) { head_ += size < Queued() ? size : Queued(); }
    // Forgets every byte; the next one is at stream offset 0.
    void Clear();
    // Room for `size` bytes after the last one, where the next Append of them finds them; `keep`
    // holds the block alive for the borrower. False while an earlier room is still borrowed.
    bool Lend(size_t size, std::shared_ptr<void>& keep, uint8_t*& room);

private:
    bool Borrowed() const { return block_.use_count() > 1; }
    // Room for `size` more bytes after the last one, in a block no borrower holds.
    void MakeRoom(size_t size);

    std::shared_ptr<uint8_t[]> block_;
    size_t capacity_ = 0;
    size_t head_ = 0;
    size_t filled_ = 0;
    uint64_t base_ = 0; // stream offset of the block's first byte
    const uint8_t* lent_ = nullptr; // the room lent last, while no byte was written after it
    size_t lentSize_ = 0;
};

} // namespace mpeg
