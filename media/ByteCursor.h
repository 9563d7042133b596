#pragma once
// Little-endian reads from a bounded byte range. A read past the end leaves the cursor failed and
// yields zero, so a parser checks Ok() once after a run of fields instead of before each one.

#include <cstddef>
#include <cstdint>

namespace media {

class CByteCursor {
public:
    CByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Ok() const { return ok_; }
    size_t Position() const { return position_; }
    size_t Remaining() const { return ok_ ? size_ - position_ : 0; }
    const uint8_t* Here() const { return data_ + position_; }

    bool Skip(uint64_t count)
    {
        if (!ok_ || count > size_ - position_)
            return ok_ = false;
        position_ += static_cast<size_t>(count);
        return true;
    }
    uint8_t U8() { return static_cast<uint8_t>(Read(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Read(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Read(4)); }
    uint64_t U64() { return Read(8); }
    // An ASF variable-width field: type 0 absent, 1 byte, 2 word, 3 dword.
    uint32_t Field(unsigned type) { return type == 0 ? 0 : static_cast<uint32_t>(Read(type == 3 ? 4 : type)); }

private:
    uint64_t Read(size_t width)
    {
        if (!ok_ || width > size_ - position_) {
            ok_ = false;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i)
            value |= static_cast<uint64_t>(data_[position_ + i]) << (8 * i);
        position_ += width;
        return value;
    }

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool ok_ = true;
};

} // namespace media
