#include "framework/Utf8Text.h"

#include <windows.h>

std::string Utf8Of(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &utf8[0], length, nullptr, nullptr);
    return utf8;
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
