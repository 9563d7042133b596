#pragma once
// The input extension setting: one extension, or several separated by ";" ("dvr-ms;wtv") for a
// directory where recordings of both kinds lie side by side.

#include <string>
#include <vector>

// Each extension listed, blanks around it dropped, as Windows names it (no trailing dots or
// blanks), once whatever its letter case; empty entries are skipped.
std::vector<std::wstring> InputExtensions(const std::wstring& setting);

// At least one extension, and each a plain one (see IsUsableExtension); an empty entry between
// two ";" is no fault.
bool IsUsableExtensionList(const std::wstring& setting);
