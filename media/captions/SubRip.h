#pragma once
// SubRip (.srt) text: numbered cues with their times in milliseconds, CR LF line ends.

#include <cstddef>
#include <cstdint>

namespace captions {

// Room for one cue of the decoder's screen (15 rows of 32 characters in UTF-8) and its head.
constexpr size_t MaxSubRipCue = 2200;

// The cue's text, or 0 when it does not fit `capacity`. Negative times count as 0.
size_t FormatSubRipCue(unsigned index, int64_t startMs, int64_t endMs, const char* text, size_t size, char* out, size_t capacity);

} // namespace captions
