#include "media/asf/AsfHeader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "base/MediaErrors.h"
#include "media/ByteCursor.h"
#include "media/LanguageCode.h"
#include "media/asf/AsfGuids.h"

namespace asf {
namespace {

using media::CByteCursor;

constexpr size_t ObjectHeadSize = 24;
constexpr uint32_t MaxPacketSize = 1u << 20;
constexpr uint32_t MinPacketSize = 32;

struct ObjectSpan {
    const uint8_t* body;
    size_t bodySize;
    GUID id;
};

// Walks a run of child objects; false when one of them does not fit.
template <typename Visit>
bool ForEachObject(const uint8_t* data, size_t size, Visit visit)
{
    size_t position = 0;
    while (size - position >= ObjectHeadSize) {
        CByteCursor head(data + position + 16, 8);
        const uint64_t objectSize = head.U64();
        if (objectSize < ObjectHeadSize || objectSize > size - position)
            return false;
        if (!visit(ObjectSpan{data + position + ObjectHeadSize, static_cast<size_t>(objectSize - ObjectHeadSize),
                              ReadGuid(data + position)}))
            return false;
        position += static_cast<size_t>(objectSize);
    }
    return position == size;
}

StreamInfo& StreamEntry(HeaderInfo& header, unsigned number)
{
    for (StreamInfo& stream : header.streams)
        if (stream.number == number)
            return stream;
    header.streams.emplace_back();
    header.streams.back().number = number;
    return header.streams.back();
}

// Offsets below are from the start of the object's body (the object offsets of the notes less 24).
bool ParseStreamProperties(const uint8_t* body, size_t size, HeaderInfo& header)
{
    CByteCursor cursor(body, size);
    const GUID type = ReadGuid(body);
    cursor.Skip(32 + 8);
    const uint32_t typeLength = cursor.U32();
    const uint32_t correctionLength = cursor.U32();
    const uint16_t flags = cursor.U16();
    cursor.Skip(4);
    if (!cursor.Ok() || static_cast<uint64_t>(typeLength) + correctionLength > cursor.Remaining())
        return false;
    const unsigned number = flags & 0x7F;
    if (number == 0)
        return false;
    const uint8_t* typeData = cursor.Here();
    StreamInfo& stream = StreamEntry(header, number);
    stream.encrypted = (flags & 0x8000) != 0;
    if (type == VideoStream) {
        stream.kind = StreamKind::Video;
        // width, height, flag, format size, then the BITMAPINFOHEADER (compression at 16).
        CByteCursor video(typeData, typeLength);
        video.Skip(11 + 16);
        stream.fourcc = video.U32();
    } else if (type == AudioStream) {
        stream.kind = StreamKind::Audio;
        stream.format.assign(typeData, typeData + typeLength);
    } else if (type == BinaryStream) {
        stream.kind = StreamKind::Binary;
        CByteCursor flat(typeData, typeLength);
        if (typeLength >= 64) {
            stream.majorType = ReadGuid(typeData);
            stream.subtype = ReadGuid(typeData + 16);
            stream.formatType = ReadGuid(typeData + 44);
            flat.Skip(60);
            const uint32_t formatSize = flat.U32();
            if (formatSize > flat.Remaining())
                return false;
            stream.format.assign(flat.Here(), flat.Here() + formatSize);
        }
    } else {
        stream.kind = StreamKind::Other;
    }
    return true;
}

bool ParseExtendedStreamProperties(const uint8_t* body, size_t size, HeaderInfo& header)
{
    CByteCursor cursor(body, size);
    cursor.Skip(8 + 8 + 4 * 7 + 4);
    const unsigned number = cursor.U16() & 0x7F;
    const uint16_t languageIndex = cursor.U16();
    cursor.Skip(8);
    const unsigned nameCount = cursor.U16();
    const unsigned extensionCount = cursor.U16();
    for (unsigned i = 0; i < nameCount && cursor.Ok(); ++i) {
        cursor.Skip(2);
        cursor.Skip(cursor.U16());
    }
    std::vector<PayloadExtension> extensions;
    for (unsigned i = 0; i < extensionCount && cursor.Ok(); ++i) {
        if (cursor.Remaining() < 16)
            return false;
        const GUID id = ReadGuid(cursor.Here());
        cursor.Skip(16);
        const uint16_t dataSize = cursor.U16();
        cursor.Skip(cursor.U32());
        extensions.push_back({id, dataSize});
    }
    if (!cursor.Ok() || number == 0)
        return false;
    StreamEntry(header, number).extensions = std::move(extensions);
    StreamEntry(header, number).languageIndex = languageIndex;
    // What remains may hold the stream's own Stream Properties object.
    if (cursor.Remaining() == 0)
        return true;
    return ForEachObject(cursor.Here(), cursor.Remaining(), [&](const ObjectSpan& child) {
        return child.id != StreamPropertiesObject || ParseStreamProperties(child.body, child.bodySize, header);
    });
}

bool HasDvrVersionAttribute(const uint8_t* body, size_t size)
{
    static const wchar_t name[] = L"DVR File Version";
    CByteCursor cursor(body, size);
    const unsigned count = cursor.U16();
    for (unsigned i = 0; i < count && cursor.Ok(); ++i) {
        const unsigned nameLength = cursor.U16();
        const uint8_t* text = cursor.Here();
        cursor.Skip(nameLength);
        bool same = cursor.Ok() && nameLength >= 32;
        for (size_t c = 0; same && c < 16; ++c)
            same = text[2 * c] == name[c] && text[2 * c + 1] == 0;
        if (same)
            return true;
        cursor.Skip(2);
        cursor.Skip(cursor.U16());
    }
    return false;
}

// Each record: a byte count, then the tag in UTF-16. A tag that names no language the
// transport stream can give stays all zero; so do those of a list cut short, which costs the
// recording nothing else.
void ParseLanguageList(const uint8_t* body, size_t size, std::vector<std::array<char, 3>>& languages)
{
    CByteCursor cursor(body, size);
    const unsigned count = cursor.U16();
    for (unsigned i = 0; i < count; ++i) {
        const unsigned bytes = cursor.U8();
        std::wstring tag;
        for (unsigned c = 0; c < bytes / 2; ++c)
            tag += static_cast<wchar_t>(cursor.U16());
        cursor.Skip(bytes % 2);
        if (!cursor.Ok())
            return;
        std::array<char, 3> code = {};
        media::LanguageFromTag(tag.c_str(), tag.size(), code.data());
        languages.push_back(code);
    }
}

bool ParseHeaderExtension(const uint8_t* body, size_t size, HeaderInfo& header,
                          std::vector<std::array<char, 3>>& languages)
{
    CByteCursor cursor(body, size);
    cursor.Skip(16 + 2);
    const uint32_t dataSize = cursor.U32();
    if (!cursor.Ok() || dataSize != cursor.Remaining())
        return false;
    return ForEachObject(cursor.Here(), dataSize, [&](const ObjectSpan& child) {
        if (child.id == ExtendedStreamPropertiesObject)
            return ParseExtendedStreamProperties(child.body, child.bodySize, header);
        if (child.id == LanguageListObject)
            ParseLanguageList(child.body, child.bodySize, languages);
        if (child.id == ContentEncryptionObject || child.id == ExtendedContentEncryptionObject)
            header.contentEncryption = true;
        return true;
    });
}

bool ParseFileProperties(const uint8_t* body, size_t size, HeaderInfo& header)
{
    CByteCursor cursor(body, size);
    cursor.Skip(16);
    header.fileSize = cursor.U64();
    cursor.Skip(8);
    header.packetCount = cursor.U64();
    header.playDuration = cursor.U64();
    cursor.Skip(8);
    header.prerollMs = cursor.U64();
    header.broadcast = (cursor.U32() & 1) != 0;
    const uint32_t minimum = cursor.U32();
    const uint32_t maximum = cursor.U32();
    header.packetSize = minimum;
    // Only fixed-size packets can be skipped at a known boundary when one is damaged.
    return cursor.Ok() && minimum == maximum && minimum >= MinPacketSize && minimum <= MaxPacketSize &&
           header.prerollMs < 3600u * 1000u;
}

media::AttributeType ExtendedContentType(unsigned code)
{
    using media::AttributeType;
    static const AttributeType types[] = {AttributeType::String, AttributeType::Binary, AttributeType::Bool,
                                          AttributeType::Dword,  AttributeType::Qword,  AttributeType::Word};
    return code < sizeof(types) / sizeof(types[0]) ? types[code] : AttributeType::Other;
}

void VisitExtendedContent(const uint8_t* body, size_t size, const std::function<void(const media::AttributeView&)>& visit)
{
    CByteCursor cursor(body, size);
    const unsigned count = cursor.U16();
    for (unsigned i = 0; i < count && cursor.Ok(); ++i) {
        const unsigned nameLength = cursor.U16();
        const uint8_t* name = cursor.Here();
        cursor.Skip(nameLength);
        const unsigned type = cursor.U16();
        const unsigned valueLength = cursor.U16();
        const uint8_t* value = cursor.Here();
        if (!cursor.Skip(valueLength))
            return;
        // The stored name ends with its NUL.
        size_t units = nameLength / 2;
        while (units > 0 && name[2 * units - 2] == 0 && name[2 * units - 1] == 0)
            --units;
        visit(media::AttributeView{name, units, ExtendedContentType(type), value, valueLength});
    }
}

void VisitContentTitle(const uint8_t* body, size_t size, const std::function<void(const media::AttributeView&)>& visit)
{
    static const uint8_t titleName[] = {'T', 0, 'i', 0, 't', 0, 'l', 0, 'e', 0};
    CByteCursor cursor(body, size);
    const unsigned titleLength = cursor.U16();
    cursor.Skip(4 * 2); // author, copyright, description, rating
    if (cursor.Ok() && titleLength > 0 && titleLength <= cursor.Remaining())
        visit(media::AttributeView{titleName, 5, media::AttributeType::String, cursor.Here(), titleLength});
}

} // namespace

void ForEachAttribute(const uint8_t* data, size_t size, const std::function<void(const media::AttributeView&)>& visit)
{
    if (size < 30 || !SameGuid(data, HeaderObject))
        return;
    const size_t headerSize = static_cast<size_t>(std::min<uint64_t>(AnnouncedHeaderSize(data, size), size));
    if (headerSize < 30)
        return;
    // Whatever objects follow one that does not fit are out of reach, but those before it count.
    ForEachObject(data + 30, headerSize - 30, [&](const ObjectSpan& child) {
        if (child.id == ContentDescriptionObject)
            VisitContentTitle(child.body, child.bodySize, visit);
        else if (child.id == ExtendedContentDescriptionObject)
            VisitExtendedContent(child.body, child.bodySize, visit);
        return true;
    });
}

const StreamInfo* HeaderInfo::Stream(unsigned number) const
{
    for (const StreamInfo& stream : streams)
        if (stream.number == number)
            return &stream;
    return nullptr;
}

bool HeaderInfo::IsProtected() const
{
    return contentEncryption ||
           std::any_of(streams.begin(), streams.end(), [](const StreamInfo& stream) { return stream.encrypted; });
}

uint64_t AnnouncedHeaderSize(const uint8_t* data, size_t size)
{
    if (size < 30 || !SameGuid(data, HeaderObject))
        return 0;
    CByteCursor cursor(data + 16, 8);
    return cursor.U64();
}

HRESULT ParseHeader(const uint8_t* data, size_t size, HeaderInfo& header)
{
    header = HeaderInfo();
    if (size < ObjectHeadSize || !SameGuid(data, HeaderObject))
        return HALVERN_E_NOT_RECORDING;
    const uint64_t headerSize = AnnouncedHeaderSize(data, size);
    if (headerSize < 30 || headerSize > MaxHeaderSize || headerSize + DataObjectHeadSize > size)
        return HALVERN_E_BAD_HEADER;
    header.headerSize = headerSize;

    bool fileProperties = false;
    std::vector<std::array<char, 3>> languages;
    bool childrenFit = ForEachObject(data + 30, static_cast<size_t>(headerSize - 30), [&](const ObjectSpan& child) {
        if (child.id == FilePropertiesObject)
            return fileProperties = ParseFileProperties(child.body, child.bodySize, header);
        if (child.id == StreamPropertiesObject)
            return ParseStreamProperties(child.body, child.bodySize, header);
        if (child.id == HeaderExtensionObject)
            return ParseHeaderExtension(child.body, child.bodySize, header, languages);
        if (child.id == ContentEncryptionObject || child.id == ExtendedContentEncryptionObject)
            header.contentEncryption = true;
        if (child.id == ExtendedContentDescriptionObject)
            header.mediaCentre = header.mediaCentre || HasDvrVersionAttribute(child.body, child.bodySize);
        return true;
    });
    if (!childrenFit || !fileProperties)
        return HALVERN_E_BAD_HEADER;
    // Extended Stream Properties for a stream that was never declared leave an entry of no kind.
    header.streams.erase(std::remove_if(header.streams.begin(), header.streams.end(),
                                        [](const StreamInfo& stream) { return stream.kind == StreamKind::Other; }),
                         header.streams.end());
    // The list may follow the streams that name it.
    for (StreamInfo& stream : header.streams)
        if (stream.languageIndex < languages.size())
            std::memcpy(stream.language, languages[stream.languageIndex].data(), 3);

    const uint8_t* dataHead = data + headerSize;
    if (!SameGuid(dataHead, DataObject))
        return HALVERN_E_BAD_HEADER;
    CByteCursor cursor(dataHead + 16, 8);
    header.dataSize = cursor.U64();
    header.dataOffset = headerSize + DataObjectHeadSize;
    return S_OK;
}

} // namespace asf
