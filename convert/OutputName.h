#pragma once
// The name a recording's output gets, shared by the single-file command and the Auto Converter.

#include <windows.h>

#include <string>

// outputDirectory (a backslash appended when missing) + inputFileName cut right after its last "."
// + outputExt, the name as Windows names it. A name without a dot gives outputExt alone as the file
// name in that directory.
std::string OutputPathFor(const std::string& outputDirectory, const std::string& inputFileName,
                          const std::string& outputExt, UINT codePage = CP_ACP);

// The name as Windows names a file or matches it: without the blanks and dots that end it, which
// Windows drops from the last part of every path.
std::string AsWindowsNamesIt(const std::string& name);

// The part of a path after its last separator ("\\" or "/") that is a character of its own, not
// the trail byte of a double-byte character; the whole path when it has none.
std::string FileNameOf(const std::string& path, UINT codePage = CP_ACP);

// True when the text's last character is a backslash of its own, not the trail byte of a
// double-byte character (0x5C is a trail byte in Shift-JIS and its kin).
bool EndsWithBackslash(const std::string& text, UINT codePage = CP_ACP);

// The name a run writes under until its output is complete: beside the output, so that the final
// rename stays on one volume, and never the output's own name, so that an unfinished file is never
// taken for a converted recording.
std::string PartialOutputPath(const std::string& outputPath);

// True for a name that PartialOutputPath made; such a file is never a recording.
bool IsPartialOutputName(const std::string& fileName);

// True when the text holds one of the characters as a character of its own (a trail byte of a
// double-byte character never counts).
bool ContainsCharacter(const std::string& text, const char* characters, UINT codePage = CP_ACP);

// Whether an extension setting can be used: not empty, and without a path separator, a colon or a
// wildcard, so that a name made with it stays a plain file name.
bool IsUsableExtension(const std::string& extension, UINT codePage = CP_ACP);

// True when the path names a file directly inside the directory (after both are made full paths),
// and its name is a plain file name.
bool LiesDirectlyIn(const std::string& path, const std::string& directory, UINT codePage = CP_ACP);

// True when the name ends with "." + extension, letter case aside.
bool HasExtension(const std::string& fileName, const std::string& extension);

// True when both paths name one file: equal full paths regardless of letter case, or, when both
// exist, one file reached by two names.
bool NamesSameFile(const std::string& first, const std::string& second);
