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

// What an output name pattern (the OutputName setting) is filled with: each field as it goes into
// the name, empty when the recording does not say.
struct NameFields {
    std::wstring name;       // {Name}: the recording's file name without its extension
    std::wstring title;      // {Title}
    std::wstring subTitle;   // {SubTitle}: the episode
    std::wstring channel;    // {Channel}
    std::wstring airDate;    // {AirDate}: yyyy-mm-dd
    std::wstring recordDate; // {RecordDate}: yyyy-mm-dd
    std::wstring recordTime; // {RecordTime}: hhmm
};

// Longest name a pattern gives, before the extension; a longer one is cut.
inline constexpr size_t MaxPatternNameLength = 200;

// Whether a pattern can be filled: every "{" opens one of the fields above (in any letter case) and
// is closed, and no "}" stands alone. An empty pattern is usable: it names outputs as before.
bool IsUsableNamePattern(const std::wstring& pattern);

// The pattern filled in, as a file name without extension of at most `maxLength` characters. A
// field that is empty takes with it the brackets around it and the text that separates it from
// the field before (or, for the first, after) it. Characters no file name may hold become "_",
// blanks and dots that would end the name go, and a device name (CON, COM1...) gets a "_" before
// it. When no field gives anything, or nothing is left, the name is the recording's own.
std::wstring ExpandNamePattern(const std::wstring& pattern, const NameFields& fields, size_t maxLength = MaxPatternNameLength);

// The n-th name (from 2) for an output whose name another recording's output holds: "Name (n)".
std::wstring NumberedName(const std::wstring& name, unsigned n);
