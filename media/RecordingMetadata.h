#pragma once
// What a recording says about itself in its header (DVR-MS: the ASF content descriptions; WTV: the
// attribute table): title, episode, channel and times, for naming its output. Only the header and
// the attributes are read, never the media.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/Attributes.h"

namespace media {

struct RecordingMetadata {
    std::wstring title;
    std::wstring subTitle;
    std::wstring channel;     // the station's name, else its call sign
    std::wstring airDate;     // original broadcast, yyyy-mm-dd; empty when unknown
    uint64_t recordStart = 0; // FILETIME (UTC) the recording started; 0 when it does not say

    // Takes what an attribute says, if it is one of those above.
    void Take(const AttributeView& attribute);
};

// Longest value kept of a text attribute, in UTF-16 units: a longer one is cut.
inline constexpr size_t MaxTextUnits = 1024;
// Most bytes of a WTV attribute table read; the thumbnail that may follow the names is skipped.
inline constexpr size_t MaxAttributeBytes = 1u << 20;

// Reads the metadata of the DVR-MS or WTV recording at `path`, told apart by content. Fails as the
// readers do (HALVERN_E_NOT_RECORDING, HALVERN_E_BAD_HEADER, a file error); a recording without
// these attributes succeeds with them empty.
HRESULT ReadRecordingMetadata(const wchar_t* path, RecordingMetadata& metadata);

} // namespace media
