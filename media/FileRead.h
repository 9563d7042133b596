#pragma once
// Plain reads at an offset of a file the readers hold open: large, sequential, and short only
// where the file ends.

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/ScopedWin.h"

namespace media {

// Opens a recording for reading, shared with a recorder that still writes it (and with whoever
// deletes it); HRESULT_FROM_WIN32 of the failure.
HRESULT OpenShared(const wchar_t* path, UniqueFileHandle& file);

// Reads up to `size` bytes at `offset`; `got` is less only at the end of the file.
HRESULT ReadAt(HANDLE file, uint64_t offset, uint8_t* buffer, size_t size, size_t& got);
// The file's length now.
HRESULT CurrentSize(HANDLE file, uint64_t& size);

// How far a reader has got through its file, in bytes, for the progress bar.
struct ReadProgress {
    uint64_t done = 0;
    uint64_t total = 0;
    // The read reached the end of the data, taking the file to be `length` bytes long:
    // HALVERN_E_SHRANK when it is shorter now, as what was read may then not be all it held.
    HRESULT Finish(HANDLE file, uint64_t length);
};

// Whether the bytes are all zero, as a recorder's pre-allocated space reads (true for none).
bool AllZero(const uint8_t* data, size_t size);

} // namespace media
