#include "convert/WideText.h"

std::wstring ToWide(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], length);
    return wide;
}

std::string ToAnsi(const wchar_t* text, UINT codePage)
{
    if (!text || !*text)
        return std::string();
    const int length = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string ansi(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, text, -1, &ansi[0], length, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(length - 1)); // the terminator
    return ansi;
}
