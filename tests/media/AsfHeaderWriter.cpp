#include "tests/media/AsfHeaderWriter.h"

#include <utility>
#include <vector>

#include "tests/media/AsfBytes.h"

namespace test_recordings {
namespace {

constexpr GUID HeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID DataObject = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID FileProperties = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID StreamProperties = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID HeaderExtension = {0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID HeaderExtensionReserved = {0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID ExtendedStreamProperties = {0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
constexpr GUID LanguageList = {0x7C4346A9, 0xEFE0, 0x4BFC, {0xB2, 0x29, 0x39, 0x3E, 0xDE, 0x41, 0x5C, 0x85}};
constexpr GUID ExtendedContentDescription = {0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50}};
constexpr GUID ContentEncryption = {0x2211B3FB, 0xBD23, 0x11D2, {0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E}};
constexpr GUID VideoStreamType = {0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr GUID BinaryStreamType = {0x3AFB65E2, 0x47EF, 0x40F2, {0xAC, 0x2C, 0x70, 0xA9, 0x0D, 0x71, 0xD3, 0x43}};
constexpr GUID NoErrorCorrection = {0x20FB5700, 0x5B55, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr GUID TimingExtension = {0xFD3CC02A, 0x06DB, 0x4CFA, {0x80, 0x1C, 0x72, 0x12, 0xD3, 0x87, 0x45, 0xE4}};
constexpr GUID FrameExtension = {0xDD6432CC, 0xE229, 0x40DB, {0x80, 0xF6, 0xD2, 0x63, 0x28, 0xD2, 0x76, 0x1F}};
constexpr GUID SampleDurationExtension = {0xC6BD9450, 0x867F, 0x4907, {0x83, 0xA3, 0xC7, 0x79, 0x21, 0xB7, 0x33, 0xAD}};
constexpr GUID ContentTypeExtension = {0xD590DC20, 0x07BC, 0x436C, {0x9C, 0xF7, 0xF3, 0xBB, 0xFB, 0xF1, 0xA4, 0xDC}};
constexpr GUID MediaCentreAudio = {0x31178C9D, 0x03E1, 0x4528, {0xB5, 0x82, 0x3D, 0xF9, 0xDB, 0x22, 0xF5, 0x03}};
constexpr GUID MpegAudioSubtype = {0xE06D802B, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Ac3Subtype = {0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Eac3Subtype = {0xA7FB87AF, 0x2D02, 0x42FB, {0xA4, 0xD4, 0x05, 0xCD, 0x93, 0x84, 0x3B, 0xDD}};
constexpr GUID AdtsAacSubtype = {0x00001600, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID WaveFormatExType = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID Line21Captions = {0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};
constexpr GUID SimpleIndex = {0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
constexpr GUID Index = {0xD6E229D3, 0x35DA, 0x11D1, {0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE}};

std::string ExtendedStreamPropertiesBody(unsigned stream, int64_t timePerFrame, const std::vector<std::pair<GUID, uint16_t>>& extensions,
                                         const std::string& nestedStreamProperties, unsigned languageIndex = 0)
{
    Bytes b;
    b.U64(0).U64(0).U32(6000000).U32(1000).U32(1000).U32(0).U32(0).U32(0).U32(1 << 20).U32(0);
    b.U16(stream).U16(languageIndex).U64(static_cast<uint64_t>(timePerFrame)).U16(0).U16(static_cast<uint32_t>(extensions.size()));
    for (const auto& extension : extensions)
        b.Guid(extension.first).U16(extension.second).U32(0);
    b.Raw(nestedStreamProperties);
    return b.s;
}

std::string StreamPropertiesObject(const GUID& type, unsigned stream, bool encrypted, const std::string& typeData)
{
    Bytes b;
    b.Guid(type).Guid(NoErrorCorrection).U64(0).U32(static_cast<uint32_t>(typeData.size())).U32(0);
    b.U16(stream | (encrypted ? 0x8000 : 0)).U32(0).Raw(typeData);
    return Object(StreamProperties, b.s);
}

// A DirectShow media type laid flat, as media-centre binary streams declare theirs.
std::string FlatMediaType(const GUID& major, const GUID& subtype, const GUID& formatType, const std::string& format)
{
    Bytes b;
    b.Guid(major).Guid(subtype).U32(1).U32(0).U32(1).Guid(formatType).U32(static_cast<uint32_t>(format.size())).Raw(format);
    return b.s;
}

} // namespace

std::string IndexObjects(const RecordingOptions& options, const RecordingLayout& layout)
{
    const uint32_t entries = static_cast<uint32_t>(layout.duration / 10000) + 1;
    Bytes simple;
    simple.Zeros(16).U64(10000).U32(1).U32(entries);
    Bytes index;
    index.U32(1).U16(1).U32(1).U16(layout.numbers.video).U16(1).U32(entries).U64(0);
    for (uint32_t entry = 0; entry < entries; ++entry) {
        const uint32_t packet = static_cast<uint32_t>(uint64_t(entry) * layout.packetCount / entries);
        simple.U32(packet).U16(1);
        index.U32(packet * options.packetSize);
    }
    return Object(SimpleIndex, simple.s) + Object(Index, index.s);
}

std::string HeaderAndDataHead(const RecordingOptions& options, const RecordingLayout& layout,
                              const std::vector<ProbedStream>& audios)
{
    const unsigned audioStream = layout.numbers.audio, captionStream = layout.numbers.captions, videoStream = layout.numbers.video;
    const int64_t period = layout.videoPeriod;
    std::string headerExtensionChildren;
    for (size_t nth = 0; nth < audios.size(); ++nth) {
        const ProbedStream& audio = audios[nth];
        const bool ac3 = audio.codec == "ac3", eac3 = audio.codec == "eac3", aac = audio.codec == "aac";
        Bytes wave; // the tag is unreliable in real recordings: 0 for AC-3 and E-AC-3
        wave.U16(ac3 || eac3 ? 0 : aac ? 0x1600 : 0x50).U16(audio.channels).U32(audio.sampleRate).U32(audio.bitRate / 8);
        wave.U16(1).U16(0).U16(0);
        const GUID& subtype = ac3 ? Ac3Subtype : eac3 ? Eac3Subtype : aac ? AdtsAacSubtype : MpegAudioSubtype;
        const std::string typeData = FlatMediaType(MediaCentreAudio, subtype, WaveFormatExType, wave.s);
        const unsigned stream = nth == 0 ? audioStream : videoStream + static_cast<unsigned>(nth);
        headerExtensionChildren += Object(ExtendedStreamProperties,
            ExtendedStreamPropertiesBody(stream, audio.framePeriod,
                                         {{SampleDurationExtension, 2}, {TimingExtension, 48}},
                                         StreamPropertiesObject(BinaryStreamType, stream,
                                                                options.protection == Protection::EncryptedStream, typeData),
                                         static_cast<unsigned>(nth)));
    }
    if (!options.audioLanguages.empty()) { // a record per audio stream, the nth stream's at index n
        Bytes list;
        list.U16(static_cast<uint32_t>(options.audioLanguages.size()));
        for (const std::string& tag : options.audioLanguages) {
            list.U8(static_cast<uint32_t>(2 * tag.size()));
            for (char c : tag)
                list.U16(static_cast<uint8_t>(c));
        }
        headerExtensionChildren += Object(LanguageList, list.s);
    }
    if (options.captions) {
        headerExtensionChildren += Object(ExtendedStreamProperties,
            ExtendedStreamPropertiesBody(captionStream, period, {},
                                         StreamPropertiesObject(BinaryStreamType, captionStream, false,
                                                                FlatMediaType(Line21Captions, GUID_NULL, GUID_NULL, std::string()))));
    }
    headerExtensionChildren += Object(ExtendedStreamProperties,
        ExtendedStreamPropertiesBody(videoStream, period,
                                     {{TimingExtension, 48}, {ContentTypeExtension, 0xFFFF}, {FrameExtension, 4}},
                                     std::string()));

    Bytes videoType; // the header's size is unreliable in real recordings; ours is made up
    const uint32_t dvr = 'D' | ('V' << 8) | ('R' << 16) | (' ' << 24);
    videoType.U32(352).U32(288).U8(2).U16(40).U32(40).U32(352).U32(288).U16(1).U16(24).U32(dvr).Zeros(20);

    Bytes description;
    description.U16(static_cast<uint32_t>(1 + options.attributes.size()));
    description.Utf16(std::string("DVR File Version")).U16(0).Utf16(std::string("3.0"));
    for (const HeaderAttribute& attribute : options.attributes) {
        description.Utf16(attribute.name);
        if (!attribute.text.empty() || attribute.qword == 0)
            description.U16(0).Utf16(attribute.text);
        else
            description.U16(4).U16(8).U64(attribute.qword);
    }
    Bytes extensionBody;
    extensionBody.Guid(HeaderExtensionReserved).U16(6).U32(static_cast<uint32_t>(headerExtensionChildren.size())).Raw(headerExtensionChildren);
    const bool encryptionObject = options.protection == Protection::EncryptionObject;
    const std::string others = StreamPropertiesObject(VideoStreamType, videoStream, false, videoType.s) +
                               Object(HeaderExtension, extensionBody.s) + Object(ExtendedContentDescription, description.s) +
                               (encryptionObject ? Object(ContentEncryption, std::string(16, '\0')) : std::string());

    const unsigned dataPackets = options.claimedDataPackets ? options.claimedDataPackets : layout.packetCount;
    const uint64_t dataSize = 50 + uint64_t(dataPackets) * options.packetSize;
    const uint64_t fileSize = 30 + 104 + others.size() + 50 + layout.packetBytes + layout.indexBytes; // 104: File Properties
    const unsigned filePackets = options.claimedPackets ? options.claimedPackets : layout.packetCount;
    Bytes fileProperties;
    fileProperties.Zeros(16).U64(options.unfinishedHeader ? 0 : fileSize).U64(0).U64(options.unfinishedHeader ? 0 : filePackets)
        .U64(static_cast<uint64_t>(layout.duration) + PrerollMs * 10000ull)
        .U64(static_cast<uint64_t>(layout.duration)).U64(PrerollMs)
        .U32(options.unfinishedHeader ? 1 : 2).U32(options.packetSize).U32(options.packetSize).U32(6000000);
    const std::string children = Object(FileProperties, fileProperties.s) + others;
    Bytes header;
    header.Guid(HeaderObject).U64(30 + children.size()).U32(encryptionObject ? 5 : 4).U8(1).U8(2).Raw(children);
    Bytes data;
    data.Guid(DataObject).U64(options.unfinishedHeader ? 0 : dataSize).Zeros(16)
        .U64(options.unfinishedHeader ? 0 : dataPackets).U8(1).U8(1);
    return header.s + data.s;
}

} // namespace test_recordings
