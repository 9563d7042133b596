#include "media/wtv/WtvAttributes.h"

#include <cstring>

#include "media/ByteCursor.h"

namespace wtv {
namespace {

// The record GUID 6DD7FE5A-1DC8-4A8F-9922-FAB11C381453 as stored.
constexpr uint8_t RecordGuid[16] = {0x5A, 0xFE, 0xD7, 0x6D, 0xC8, 0x1D, 0x8F, 0x4A,
                                    0x99, 0x22, 0xFA, 0xB1, 0x1C, 0x38, 0x14, 0x53};

media::AttributeType TypeOf(uint32_t code)
{
    using media::AttributeType;
    static const AttributeType types[] = {AttributeType::Dword, AttributeType::String, AttributeType::Binary,
                                          AttributeType::Bool,  AttributeType::Qword,  AttributeType::Word};
    return code < sizeof(types) / sizeof(types[0]) ? types[code] : AttributeType::Other;
}

} // namespace

void ForEachAttribute(const uint8_t* records, size_t size, const std::function<void(const media::AttributeView&)>& visit)
{
    for (size_t at = 0; at + 24 <= size && std::memcmp(records + at, RecordGuid, sizeof(RecordGuid)) == 0;) {
        media::CByteCursor head(records + at + 16, 8);
        const uint32_t type = head.U32();
        const uint32_t length = head.U32();
        size_t units = 0;
        const uint8_t* name = records + at + 24;
        const size_t room = (size - at - 24) / 2;
        while (units < room && (name[2 * units] != 0 || name[2 * units + 1] != 0))
            ++units;
        if (units == room)
            return;
        const size_t valueAt = at + 24 + 2 * (units + 1);
        if (length > size - valueAt)
            return;
        visit(media::AttributeView{name, units, TypeOf(type), records + valueAt, length});
        at = valueAt + length;
    }
}

bool MarkedProtected(const uint8_t* records, size_t size)
{
    bool marked = false;
    bool seen = false;
    ForEachAttribute(records, size, [&](const media::AttributeView& attribute) {
        const bool flag = attribute.type == media::AttributeType::Bool || attribute.type == media::AttributeType::Dword;
        if (seen || !flag || attribute.valueSize < 4 || !attribute.NameIs("WM/WMRVContentProtected"))
            return;
        media::CByteCursor value(attribute.value, 4);
        marked = value.U32() != 0;
        seen = true;
    });
    return marked;
}

} // namespace wtv
