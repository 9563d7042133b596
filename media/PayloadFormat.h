#pragma once
// What a stream carries, decided from its payload rather than from the container's tags, which
// recorders fill unreliably, for the ASF and the WTV reader alike. The headers themselves are read by
// media/mpeg's parsers.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/RecordingReader.h"

namespace media {

// Parses the first sequence header in the data (with the extensions after it).
bool ParseVideoFormat(const uint8_t* data, size_t size, VideoFormat& format);
// The picture coding type of the first picture header (1 I, 2 P, 3 B, 4 D), 0 when there is none.
unsigned PictureCodingType(const uint8_t* data, size_t size);
// Where H.264 video can begin: its first sequence parameter set (the zero byte before the prefix
// included), or `size` when there is none.
size_t FindSequenceParameterSet(const uint8_t* data, size_t size);
// Cuts off the tail of a picture a recording started in the middle of: video begins at a sequence
// header, or H.264's sequence parameter set. False, leaving the data as it was, when neither is in
// it. An MPEG-2 slice can look like a parameter set, so while the codec is still unknown (reading
// ahead) H.264 is looked for only where MPEG-2 has no sequence header.
bool TrimToVideoStart(const uint8_t*& data, size_t& size, Codec codec);
// Whether H.264 data holds a slice of an IDR picture, where decoding can begin.
bool HoldsIdrSlice(const uint8_t* data, size_t size);
// Whether the payload is of this codec, by the headers at its start (any of them, for video);
// the format's video or audio part is filled from them. Never true for Unknown or Captions.
bool ParsePayloadAs(Codec codec, const uint8_t* data, size_t size, StreamFormat& format);

// Frame headers at the very start of the data.
bool ParseMpegAudioHeader(const uint8_t* data, size_t size, AudioFormat& format);
bool ParseAc3Header(const uint8_t* data, size_t size, AudioFormat& format);
bool ParseEac3Header(const uint8_t* data, size_t size, AudioFormat& format);

// H.264 in Annex B form: the sequence and picture parameter sets in the data (both needed).
bool ParseH264Format(const uint8_t* data, size_t size, VideoFormat& format);
// AAC whose framing the bytes tell; raw frames take their rate from format.aacConfig, which
// the container declared.
bool ParseAacHeader(const uint8_t* data, size_t size, AudioFormat& format);
// Whether a WAVEFORMATEX declares AAC (raw, ADTS, LATM or HE-AAC's wave info), and its
// AudioSpecificConfig when it carries one.
bool DeclaredAac(const uint8_t* wave, size_t size, std::vector<uint8_t>& config);

} // namespace media
