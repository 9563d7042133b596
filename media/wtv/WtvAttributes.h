#pragma once
// The attribute table of a WTV file (the recording's title, channel, times and flags): whether the
// media centre marked the recording protected, and each attribute for the recording's metadata.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "media/Attributes.h"

namespace wtv {

// Calls `visit` for each record, in order, up to the first that is not one or does not fit.
void ForEachAttribute(const uint8_t* records, size_t size, const std::function<void(const media::AttributeView&)>& visit);

// Whether the records say WM/WMRVContentProtected is true: set once more than a few minutes or
// percent of the recording is protected.
bool MarkedProtected(const uint8_t* records, size_t size);

} // namespace wtv
