#pragma once
// Paths as the ANSI file functions see them: their parts, found without splitting a double-byte
// character, and whether two paths lead to the same place.

#include <windows.h>

#include <string>

// Characters that make a name more than a plain file name.
inline constexpr char kNotInFileNames[] = "\\/:*?\"<>|";

// The name as Windows names a file or matches it: without the blanks and dots that end it, which
// Windows drops from the last part of every path.
std::string AsWindowsNamesIt(const std::string& name);

// The part of a path after its last separator ("\\" or "/") that is a character of its own, not
// the trail byte of a double-byte character; the whole path when it has none.
std::string FileNameOf(const std::string& path, UINT codePage = CP_ACP);

// True when the text's last character is a backslash of its own, not the trail byte of a
// double-byte character (0x5C is a trail byte in Shift-JIS and its kin).
bool EndsWithBackslash(const std::string& text, UINT codePage = CP_ACP);

// The directory with a backslash at its end.
std::string WithTrailingBackslash(std::string directory, UINT codePage = CP_ACP);

// True when the text holds one of the characters as a character of its own (a trail byte of a
// double-byte character never counts).
bool ContainsCharacter(const std::string& text, const char* characters, UINT codePage = CP_ACP);

// True when the name ends with "." + extension, letter case aside.
bool HasExtension(const std::string& fileName, const std::string& extension);

// True when the path names a file directly inside the directory (after both are made full paths),
// and its name is a plain file name.
bool LiesDirectlyIn(const std::string& path, const std::string& directory, UINT codePage = CP_ACP);

// True when both paths name one file: equal full paths regardless of letter case, or, when both
// exist, one file reached by two names.
bool NamesSameFile(const std::string& first, const std::string& second);
