#include "media/LanguageCode.h"

#include <windows.h>

#include <string>

namespace media {
namespace {

bool IsLetter(unsigned c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(unsigned c)
{
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

template <class Char>
bool ThreeLetters(const Char* letters, char code[3])
{
    if (!IsLetter(letters[0]) || !IsLetter(letters[1]) || !IsLetter(letters[2]))
        return false;
    for (int i = 0; i < 3; ++i)
        code[i] = Lower(letters[i]);
    return true;
}

} // namespace

bool LanguageFromLetters(const uint8_t* letters, char code[3])
{
    return ThreeLetters(letters, code);
}

bool LanguageFromTag(const wchar_t* tag, size_t length, char code[3])
{
    size_t primary = 0;
    while (primary < length && IsLetter(tag[primary]))
        ++primary;
    if (primary < length && tag[primary] != L'-' && tag[primary] != L'\0')
        return false;
    if (primary == 3)
        return ThreeLetters(tag, code);
    if (primary != 2)
        return false;
    // Windows knows each two-letter language's three-letter one (the terminology code: "deu").
    const std::wstring name(tag, primary);
    wchar_t three[9] = {};
    if (::GetLocaleInfoEx(name.c_str(), LOCALE_SISO639LANGNAME2, three, 9) != 4)
        return false;
    return ThreeLetters(three, code);
}

} // namespace media
