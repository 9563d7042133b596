#pragma once
// The name a recording's output gets, and the name it is written under until it is whole.

#include <string>

// outputDirectory (a backslash appended when missing) + inputFileName cut right after its last "."
// + outputExt, the name as Windows names it. A name without a dot gives outputExt alone as the file
// name in that directory.
std::wstring OutputPathFor(const std::wstring& outputDirectory, const std::wstring& inputFileName,
                           const std::wstring& outputExt);

// The name a run writes under until its output is complete: beside the output, so that the final
// rename stays on one volume, and never the output's own name, so that an unfinished file is never
// taken for a converted recording.
std::wstring PartialOutputPath(const std::wstring& outputPath);

// True for a name that PartialOutputPath made; such a file is never a recording.
bool IsPartialOutputName(const std::wstring& fileName);

// Whether an extension setting can be used: not empty, and without a path separator, a colon or a
// wildcard, so that a name made with it stays a plain file name.
bool IsUsableExtension(const std::wstring& extension);
