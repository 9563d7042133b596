#pragma once
// Picks the reader for a recording by what its first bytes are (a WTV file's magic or anything
// else, which the ASF reader judges), not by its name, and opens it.

#include <memory>

#include "media/RecordingReader.h"

namespace media {

// The reader's Open result; `reader` is set only when it succeeded.
HRESULT OpenRecording(const wchar_t* path, std::unique_ptr<IRecordingReader>& reader);

} // namespace media
