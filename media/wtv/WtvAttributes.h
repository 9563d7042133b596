#pragma once
// The attribute table of a WTV file (the recording's title, channel, times and flags), read only
// for what Halvern acts on: whether the media centre marked the recording protected.

#include <cstddef>
#include <cstdint>

namespace wtv {

// Whether the records say WM/WMRVContentProtected is true: set once more than a few minutes or
// percent of the recording is protected.
bool MarkedProtected(const uint8_t* records, size_t size);

} // namespace wtv
