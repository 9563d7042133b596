#include "media/wtv/WtvAttributes.h"

#include <cstring>

#include "media/ByteCursor.h"

namespace wtv {
namespace {

// The record GUID 6DD7FE5A-1DC8-4A8F-9922-FAB11C381453 as stored.
constexpr uint8_t RecordGuid[16] = {0x5A, 0xFE, 0xD7, 0x6D, 0xC8, 0x1D, 0x8F, 0x4A,
                                    0x99, 0x22, 0xFA, 0xB1, 0x1C, 0x38, 0x14, 0x53};
constexpr uint32_t DwordType = 0;
constexpr uint32_t BoolType = 3;

// The NUL-terminated UTF-16 name equals the ASCII `name`, letters in either case.
bool NameIs(const uint8_t* utf16, size_t units, const char* name)
{
    const size_t length = std::strlen(name);
    if (units != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned a = utf16[2 * i] | utf16[2 * i + 1] << 8, b = static_cast<unsigned char>(name[i]);
        const auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(a) != lower(b))
            return false;
    }
    return true;
}

} // namespace

bool MarkedProtected(const uint8_t* records, size_t size)
{
    for (size_t at = 0; at + 24 <= size && std::memcmp(records + at, RecordGuid, sizeof(RecordGuid)) == 0;) {
        media::ByteCursor head(records + at + 16, 8);
        const uint32_t type = head.U32();
        const uint32_t length = head.U32();
        size_t units = 0;
        const uint8_t* name = records + at + 24;
        const size_t room = (size - at - 24) / 2;
        while (units < room && (name[2 * units] != 0 || name[2 * units + 1] != 0))
            ++units;
        if (units == room)
            return false;
        const size_t valueAt = at + 24 + 2 * (units + 1);
        if (length > size - valueAt)
            return false;
        if ((type == BoolType || type == DwordType) && length >= 4 && NameIs(name, units, "WM/WMRVContentProtected")) {
            media::ByteCursor value(records + valueAt, 4);
            return value.U32() != 0;
        }
        at = valueAt + length;
    }
    return false;
}

} // namespace wtv
