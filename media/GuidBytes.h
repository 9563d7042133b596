#pragma once
// GUIDs as ASF and WTV store them: the GUID structure's own little-endian layout, so 16 bytes on
// disk compare and copy directly.

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace media {

inline bool SameGuid(const uint8_t* bytes, const GUID& guid)
{
    return std::memcmp(bytes, &guid, sizeof(GUID)) == 0;
}

inline GUID ReadGuid(const uint8_t* bytes)
{
    GUID guid;
    std::memcpy(&guid, bytes, sizeof(GUID));
    return guid;
}

} // namespace media
