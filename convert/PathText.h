#pragma once
// Paths in UTF-16, as the wide file functions take them: their parts, and whether two paths lead to
// the same place.

#include <windows.h>

#include <string>

// Characters that make a name more than a plain file name.
inline constexpr wchar_t NotInFileNames[] = L"\\/:*?\"<>|";

// The name as Windows names a file or matches it: without the blanks and dots that end it, which
// Windows drops from the last part of every path.
std::wstring AsWindowsNamesIt(const std::wstring& name);

// The part of a path after its last separator ("\\" or "/"); the whole path when it has none.
std::wstring FileNameOf(const std::wstring& path);

bool EndsWithBackslash(const std::wstring& text);

// The directory with a backslash at its end.
std::wstring WithTrailingBackslash(std::wstring directory);

// True when the text holds one of the characters.
bool ContainsCharacter(const std::wstring& text, const wchar_t* characters);

// True when the name ends with "." + extension, letter case aside.
bool HasExtension(const std::wstring& fileName, const std::wstring& extension);

// True when the path names a file directly inside the directory (after both are made full paths),
// and its name is a plain file name.
bool LiesDirectlyIn(const std::wstring& path, const std::wstring& directory);

// True when both paths name one file: equal full paths regardless of letter case, or, when both
// exist, one file reached by two names.
bool NamesSameFile(const std::wstring& first, const std::wstring& second);
