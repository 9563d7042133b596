#include "media/Attributes.h"

#include <cstring>

namespace media {

bool AttributeView::NameIs(const char* text) const
{
    const size_t length = std::strlen(text);
    if (nameUnits != length)
        return false;
    const auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    for (size_t i = 0; i < length; ++i) {
        const unsigned unit = name[2 * i] | name[2 * i + 1] << 8;
        if (lower(unit) != lower(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

} // namespace media
