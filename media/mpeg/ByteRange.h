#pragma once
// Bytes that are not all in one place: a sample put together from pieces, passed on without first
// being copied together.

#include <cstddef>
#include <cstdint>

namespace mpeg {

struct ByteRange {
    const uint8_t* data;
    size_t size;
};

} // namespace mpeg
