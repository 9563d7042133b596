#pragma once
// The ASF header as Halvern needs it: file properties, every stream (media-centre binary streams
// declared inside Extended Stream Properties included) with its payload extensions, and whether
// the content is protected.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "media/Attributes.h"

namespace asf {

enum class StreamKind { Video, Audio, Binary, Other };

struct PayloadExtension {
    GUID id;
    uint16_t size; // VariableSize: each payload carries a 2-byte length first
};
inline constexpr uint16_t VariableSize = 0xFFFF;
inline constexpr uint16_t NoLanguage = 0xFFFF;

struct StreamInfo {
    unsigned number = 0;
    StreamKind kind = StreamKind::Other;
    bool encrypted = false;
    // Video: the BITMAPINFOHEADER's compression code. Binary streams: their flattened media type.
    uint32_t fourcc = 0;
    GUID majorType = GUID_NULL;
    GUID subtype = GUID_NULL;
    GUID formatType = GUID_NULL;
    // WAVEFORMATEX of an audio stream, or the format block of a binary stream's media type.
    std::vector<uint8_t> format;
    std::vector<PayloadExtension> extensions;
    // ISO 639-2 code of the language its Extended Stream Properties name; all zero for none.
    char language[3] = {};
    uint16_t languageIndex = NoLanguage; // into the Language List
};

struct HeaderInfo {
    uint64_t headerSize = 0;
    uint64_t fileSize = 0;          // as declared; 0 while the recording is being written
    uint64_t packetCount = 0;       // as declared; 0 while the recording is being written
    uint64_t playDuration = 0;      // 100 ns, includes the preroll
    uint64_t prerollMs = 0;
    bool broadcast = false;         // still being written: sizes and counts are not final
    uint32_t packetSize = 0;
    bool contentEncryption = false; // a (Extended) Content Encryption object
    bool mediaCentre = false;       // carries the "DVR File Version" attribute
    uint64_t dataOffset = 0;        // first packet
    uint64_t dataSize = 0;          // of the data object as declared, head included
    std::vector<StreamInfo> streams;

    const StreamInfo* Stream(unsigned number) const;
    bool IsProtected() const;
};

// The largest header Halvern accepts; real ones are a few tens of KiB.
inline constexpr uint64_t MaxHeaderSize = 16u << 20;
// Bytes of the file the header parse needs: the header object plus the data object's head.
inline constexpr size_t DataObjectHeadSize = 50;

// The size the first bytes of a file (at least 30) announce for the header; 0 when they are not
// an ASF header object.
uint64_t AnnouncedHeaderSize(const uint8_t* data, size_t size);

// Parses the header object and the data object's head from the start of the file. Fails with
// HALVERN_E_NOT_RECORDING when the file is not ASF, HALVERN_E_BAD_HEADER when it is cut short
// or contradicts itself.
HRESULT ParseHeader(const uint8_t* data, size_t size, HeaderInfo& header);

// Calls `visit` for the title of the Content Description object (as an attribute named "Title")
// and each attribute of the Extended Content Description object, from the `size` bytes of the
// header object at `data`; objects that do not fit are left out.
void ForEachAttribute(const uint8_t* data, size_t size, const std::function<void(const media::AttributeView&)>& visit);

} // namespace asf
