#pragma once
// The name a recording's output gets, shared by the single-file command and the Auto Converter.

#include <windows.h>

#include <string>

// outputDirectory (a backslash appended when missing) + inputFileName cut right after its last "."
// + outputExt. A name without a dot gives outputExt alone as the file name in that directory.
std::string OutputPathFor(const std::string& outputDirectory, const std::string& inputFileName,
                          const std::string& outputExt, UINT codePage = CP_ACP);

// True when the text's last character is a backslash of its own, not the trail byte of a
// double-byte character (0x5C is a trail byte in Shift-JIS and its kin).
bool EndsWithBackslash(const std::string& text, UINT codePage = CP_ACP);

// The name a run writes under until its output is complete: beside the output, so that the final
// rename stays on one volume, and never the output's own name, so that an unfinished file is never
// taken for a converted recording.
std::string PartialOutputPath(const std::string& outputPath);

// True for a name that PartialOutputPath made; such a file is never a recording.
bool IsPartialOutputName(const std::string& fileName);
