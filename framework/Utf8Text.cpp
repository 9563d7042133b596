#include "framework/Utf8Text.h"

#include <windows.h>

namespace {

bool Convert(const std::wstring& text, DWORD flags, std::string& utf8)
{
    utf8.clear();
    if (text.empty())
        return true;
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    utf8.resize(static_cast<size_t>(length));
    ::WideCharToMultiByte(CP_UTF8, flags, text.data(), size, &utf8[0], length, nullptr, nullptr);
    return true;
}

} // namespace

std::string Utf8Of(const std::wstring& text)
{
    std::string utf8;
    Convert(text, 0, utf8);
    return utf8;
}

bool Utf8OfExactly(const std::wstring& text, std::string& utf8)
{
    return Convert(text, WC_ERR_INVALID_CHARS, utf8);
}

bool WideOfUtf8(const std::string& text, std::wstring& wide)
{
    wide.clear();
    if (text.empty())
        return true;
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    wide.resize(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], length);
    return true;
}
