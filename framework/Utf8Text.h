#pragma once
// UTF-8 beside the program's UTF-16: for bytes that leave or enter the program as UTF-8 (a redirected
// standard output, the text of a graph description file).

#include <string>

// Half a UTF-16 pair becomes U+FFFD.
std::string Utf8Of(const std::wstring& text);
// False, and utf8 empty, where the text holds half a UTF-16 pair, which UTF-8 cannot carry.
bool Utf8OfExactly(const std::wstring& text, std::string& utf8);

// Text that is not UTF-8 gives false and leaves wide empty.
bool WideOfUtf8(const std::string& text, std::wstring& wide);
