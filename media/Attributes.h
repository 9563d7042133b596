#pragma once
// Named attributes as ASF headers and WTV attribute tables store them, for the readers to hand to
// whoever wants a recording's metadata.

#include <cstddef>
#include <cstdint>

namespace media {

// Attribute value types, whatever code the container gives them.
enum class AttributeType { String, Binary, Bool, Dword, Qword, Word, Other };

// One named attribute as stored: the name in UTF-16LE without its NUL, the value's bytes.
struct AttributeView {
    const uint8_t* name;
    size_t nameUnits;
    AttributeType type;
    const uint8_t* value;
    size_t valueSize;

    // The name equals the ASCII `text`, letters in either case.
    bool NameIs(const char* text) const;
};

} // namespace media
