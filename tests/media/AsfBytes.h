#pragma once
// Little-endian byte building for the test-side ASF writer, and ASF objects (GUID, size, body).

#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

namespace test_recordings {

struct Bytes {
    Bytes& U8(uint32_t v) { return Put(v, 1); }
    Bytes& U16(uint32_t v) { return Put(v, 2); }
    Bytes& U32(uint32_t v) { return Put(v, 4); }
    Bytes& U64(uint64_t v) { return Put(v, 8); }
    // A field of ASF type code 0 (none), 1 (byte), 2 (word) or 3 (dword).
    Bytes& Field(unsigned type, uint32_t v) { return Put(v, Width(type)); }
    static size_t Width(unsigned type) { return type == 3 ? 4 : type; }
    Bytes& Guid(const GUID& g) { return Raw(std::string(reinterpret_cast<const char*>(&g), sizeof(g))); }
    Bytes& Raw(const std::string& data) { return s += data, *this; }
    Bytes& Zeros(size_t count) { return s.append(count, '\0'), *this; }
    // With its size in bytes before it, as attributes have; narrow text is ASCII.
    template <class Char>
    Bytes& Utf16(const std::basic_string<Char>& text)
    {
        U16(static_cast<uint32_t>(2 * text.size() + 2));
        for (Char c : text)
            U16(static_cast<std::make_unsigned_t<Char>>(c));
        return U16(0);
    }
    Bytes& Put(uint64_t v, size_t width)
    {
        for (size_t i = 0; i < width; ++i)
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return *this;
    }
    std::string s;
};

inline std::string Object(const GUID& id, const std::string& body)
{
    Bytes b;
    b.Guid(id).U64(body.size() + 24).Raw(body);
    return b.s;
}

} // namespace test_recordings
