#pragma once
// What a stream carries, decided from its payload rather than from the container's tags, which
// recorders fill unreliably. The headers themselves are read by media/mpeg's parsers; the WTV
// reader uses these too.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/RecordingReader.h"

namespace asf {

using media::AudioFormat;
using media::Codec;
using media::VideoFormat;

// Parses the first sequence header in the data (with the extensions after it).
bool ParseVideoFormat(const uint8_t* data, size_t size, VideoFormat& format);
// The picture coding type of the first picture header (1 I, 2 P, 3 B, 4 D), 0 when there is none.
unsigned PictureCodingType(const uint8_t* data, size_t size);
// Frame headers at the very start of the data.
bool ParseMpegAudioHeader(const uint8_t* data, size_t size, AudioFormat& format);
bool ParseAc3Header(const uint8_t* data, size_t size, AudioFormat& format);

} // namespace asf
