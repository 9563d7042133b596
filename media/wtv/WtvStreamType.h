#pragma once
// What a WTV stream description (or the "stream2" chunk) declares: the DirectShow media type laid
// flat, unwrapped from the content-protection filters' wrapper, reduced to what Halvern can do with it.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wtv {

// H264Video is Annex B (start codes); Avc1Video has length prefixes instead, which Halvern does
// not read yet.
enum class Declared { Other, Mpeg2Video, H264Video, Avc1Video, OtherVideo, Ac3, MpegAudio, Eac3, Aac, OtherAudio, Captions };

struct StreamType {
    GUID majorType = GUID_NULL;
    GUID subtype = GUID_NULL;
    Declared declared = Declared::Other;
    std::vector<uint8_t> aacConfig; // AAC: the AudioSpecificConfig the WAVEFORMATEX carries

    bool IsVideo() const
    {
        return declared == Declared::Mpeg2Video || declared == Declared::H264Video || declared == Declared::Avc1Video ||
               declared == Declared::OtherVideo;
    }
};

// Where the fields lie in the two chunks that declare a stream's type.
struct TypeLayout {
    size_t major, subtype, formatType, formatSize, format;
};
inline constexpr TypeLayout DescriptionLayout = {60, 76, 104, 120, 124};
inline constexpr TypeLayout Stream2Layout = {44, 60, 88, 104, 108};

// False when the chunk is too short for the type it declares.
bool ParseStreamType(const uint8_t* chunk, size_t size, const TypeLayout& layout, StreamType& type);

// Whether the data holds the sync word of the codec declared (a start code prefix, 0B 77, or an
// MPEG audio frame sync) anywhere: encrypted payload holds none. True for what has no sync word.
bool HasSyncWord(Declared declared, const uint8_t* data, size_t size);

} // namespace wtv
