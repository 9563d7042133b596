#pragma once
// A stream's language as a transport stream's PMT names it: ISO 639-2's three lower-case letters,
// from what each container holds.

#include <cstddef>
#include <cstdint>

namespace media {

// From three letters as a WTV language event carries them; false, the code untouched, unless all
// three are letters.
bool LanguageFromLetters(const uint8_t* letters, char code[3]);
// From an RFC 1766 tag as ASF's Language List holds it ("en-us", "fr"): a three-letter primary
// subtag as it is, a two-letter one made three by the system's locale data; false when it names
// no language the system knows.
bool LanguageFromTag(const wchar_t* tag, size_t length, char code[3]);

} // namespace media
