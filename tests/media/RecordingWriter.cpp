#include "tests/media/RecordingWriter.h"

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/VideoHeaders.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace test_recordings {
namespace {

constexpr GUID HeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID DataObject = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID FileProperties = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID StreamProperties = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID HeaderExtension = {0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID HeaderExtensionReserved = {0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr GUID ExtendedStreamProperties = {0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
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
constexpr GUID WaveFormatExType = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID Line21Captions = {0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};
constexpr GUID SimpleIndex = {0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
constexpr GUID Index = {0xD6E229D3, 0x35DA, 0x11D1, {0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE}};

constexpr int64_t Second = 10000000;

// Little-endian byte building.
struct Bytes {
    Bytes& U8(uint32_t v) { return Put(v, 1); }
    Bytes& U16(uint32_t v) { return Put(v, 2); }
    Bytes& U32(uint32_t v) { return Put(v, 4); }
    Bytes& U64(uint64_t v) { return Put(v, 8); }
    Bytes& Field(unsigned type, uint32_t v) { return Put(v, Width(type)); }
    static size_t Width(unsigned type) { return type == 3 ? 4 : type; }
    Bytes& Guid(const GUID& g) { return Raw(std::string(reinterpret_cast<const char*>(&g), sizeof(g))); }
    Bytes& Raw(const std::string& data) { return s += data, *this; }
    Bytes& Zeros(size_t count) { return s.append(count, '\0'), *this; }
    Bytes& Utf16(const std::string& text) // with its size in bytes before it, as attributes have
    {
        U16(static_cast<uint32_t>(2 * text.size() + 2));
        for (char c : text)
            U16(static_cast<uint8_t>(c));
        return U16(0);
    }
    Bytes& Put(uint64_t v, size_t width)
    {
        for (size_t i = 0; i < width; ++i)
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return *this;
    }
    std::string s;
};

std::string Object(const GUID& id, const std::string& body)
{
    Bytes b;
    b.Guid(id).U64(body.size() + 24).Raw(body);
    return b.s;
}

const uint8_t* Data(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

// picture_structure, and the display duration in fields, of the picture whose header is at `at`,
// from the picture coding extension after it (none: an MPEG-1 frame).
void PictureCoding(const std::string& es, size_t at, bool progressiveSequence, unsigned& structure, unsigned& fields)
{
    structure = 3;
    fields = 2;
    const size_t next = mpeg::FindStartCode(Data(es), es.size(), at + 4);
    if (next + 9 > es.size() || Data(es)[next + 3] != mpeg::ExtensionStartCode || (Data(es)[next + 4] >> 4) != 8)
        return;
    const uint8_t* extension = Data(es) + next;
    structure = extension[6] & 3;
    const bool topFirst = extension[7] >> 7, repeatFirst = (extension[7] >> 1) & 1;
    if (structure == 3 && repeatFirst)
        fields = progressiveSequence ? (topFirst ? 6 : 4) : 3;
}

// Frames with the sequence and GOP headers before them (two field pictures make one frame); the
// stream must start with a sequence header. Display times follow each frame's display duration
// (repeat_first_field) in the order of temporal_reference within its GOP.
bool SplitVideoFrames(const std::string& es, std::vector<std::string>& frames, std::vector<int64_t>* times,
                      std::vector<unsigned>* types, int64_t* period, std::vector<size_t>* secondFields = nullptr)
{
    frames.clear();
    mpeg::SequenceHeader sequence;
    if (!mpeg::ParseSequenceHeader(Data(es), es.size(), sequence) || es.compare(0, 4, "\0\0\1\xB3", 4) != 0)
        return false;
    const int64_t framePeriod = mpeg::FramePeriod27MHz(sequence.frameRateCode) * 10 / 27;
    if (period)
        *period = framePeriod;
    struct Shown {
        size_t gop;
        int temporalReference;
        unsigned fields;
    };
    std::vector<Shown> shown;
    bool hasPicture = false, awaitingSecond = false, progressiveSequence = false;
    size_t begin = 0, gop = 0, second = 0;
    for (size_t i = 0; (i = mpeg::FindStartCode(Data(es), es.size(), i)) + 3 < es.size(); i += 3) {
        const uint8_t code = Data(es)[i + 3];
        if (code == mpeg::ExtensionStartCode && i + 5 < es.size() && (Data(es)[i + 4] >> 4) == 1)
            progressiveSequence = (Data(es)[i + 5] >> 3) & 1;
        const bool joins = code == mpeg::PictureStartCode && awaitingSecond;
        if ((code == mpeg::SequenceHeaderCode || code == mpeg::GroupStartCode || code == mpeg::PictureStartCode) && hasPicture &&
            !joins) {
            frames.push_back(es.substr(begin, i - begin));
            if (secondFields)
                secondFields->push_back(second);
            hasPicture = false;
            begin = i;
            second = 0;
        }
        gop += code == mpeg::GroupStartCode ? 1 : 0;
        mpeg::PictureHeader picture;
        if (code == mpeg::PictureStartCode && mpeg::ParsePictureHeader(Data(es) + i, es.size() - i, picture)) {
            unsigned structure = 3, fields = 2;
            PictureCoding(es, i, progressiveSequence, structure, fields);
            if (joins) {
                awaitingSecond = false;
                second = i - begin;
                continue;
            }
            awaitingSecond = structure != 3;
            hasPicture = true;
            shown.push_back({gop, picture.temporalReference, fields});
            if (types)
                types->push_back(static_cast<unsigned>(picture.type));
        }
    }
    frames.push_back(es.substr(begin));
    if (secondFields)
        secondFields->push_back(second);
    // Within a GOP a frame is shown after those of lower temporal reference; GOPs follow one another.
    if (times) {
        int64_t gopStart = 0; // in fields
        for (size_t first = 0, next = 0; first < shown.size(); first = next) {
            next = first;
            while (next < shown.size() && shown[next].gop == shown[first].gop)
                ++next;
            int64_t gopFields = 0;
            for (size_t k = first; k < next; ++k) {
                int64_t before = 0;
                for (size_t j = first; j < next; ++j)
                    before += shown[j].temporalReference < shown[k].temporalReference ? shown[j].fields : 0;
                times->push_back((gopStart + before) * mpeg::FramePeriod27MHz(sequence.frameRateCode) * 10 / 54);
                gopFields += shown[k].fields;
            }
            gopStart += gopFields;
        }
    }
    return hasPicture;
}

// The frames of an MPEG or AC-3 audio elementary stream, and the header of the first.
bool SplitAudioFrames(const std::string& es, std::vector<std::string>& frames, mpeg::AudioFrame& first)
{
    frames.clear();
    const bool ac3 = es.compare(0, 2, "\x0B\x77") == 0;
    mpeg::AudioFrame frame;
    for (size_t i = 0; i < es.size(); i += frame.size) {
        if (!(ac3 ? mpeg::ParseAc3Frame(Data(es) + i, es.size() - i, frame)
                  : mpeg::ParseMpegAudioFrame(Data(es) + i, es.size() - i, frame)) ||
            i + frame.size > es.size())
            return false;
        if (i == 0)
            first = frame;
        frames.push_back(es.substr(i, frame.size));
    }
    return !frames.empty();
}

// A media object to write (every one a key frame, as recorders mark them).
struct Pending {
    Kind kind;
    unsigned stream;
    std::string bytes;
    int64_t time, duration, sendKey;
    bool frameStart;
    unsigned frameType;
    int64_t jump = 0;     // added to the time, written and stood for
    int64_t outlier = 0;  // added to the written time only
    bool untimed = false; // written without a time
};

struct Fragment {
    unsigned stream;
    uint32_t objectNumber, offset, objectSize, presentationMs;
    std::string extensions, data;
    bool compressed;
};

// Field widths by their ASF type codes (0 none, 1 byte, 2 word, 3 dword).
struct Style {
    bool multiple;
    unsigned packetLengthType; // 0, or the width of a field that says P - padding
    unsigned sequenceType;
    unsigned paddingType;      // 0: padding only through a shorter packet length
    unsigned replicatedType, offsetType, objectNumberType, payloadLengthType;
};

// Every packet-level encoding in turn; widths too small for a value are widened when written.
// Always with error-correction data, as recorders write it: ffmpeg finds packets by it.
constexpr Style Styles[] = {
    {true, 3, 0, 2, 1, 3, 1, 2},
    {true, 2, 1, 1, 2, 2, 2, 1},
    {false, 2, 0, 0, 1, 3, 3, 0},
    {true, 0, 2, 3, 3, 3, 1, 3},
};
constexpr size_t WorstPacketHead = 3 + 2 + 4 + 4 + 4 + 6 + 1;

unsigned Widen(unsigned type, uint64_t value)
{
    if (value > 0xFFFF)
        return 3;
    if (value > 0xFF)
        return std::max(type, 2u);
    return std::max(type, 1u);
}

class Packetizer {
public:
    explicit Packetizer(const RecordingOptions& options) : options_(options) {}

    void Add(Fragment fragment, size_t overhead)
    {
        fragments_.push_back(std::move(fragment));
        used_ += overhead + fragments_.back().data.size();
    }

    // Room for data in the current packet after a fragment head of the given size; 0 when none.
    size_t Room(size_t overhead)
    {
        const Style& style = CurrentStyle();
        if ((!style.multiple && !fragments_.empty()) || fragments_.size() == 63)
            return 0;
        const size_t free = options_.packetSize - WorstPacketHead - used_;
        return free > overhead ? free - overhead : 0;
    }

    unsigned Index() const { return static_cast<unsigned>(packets_.size() / options_.packetSize); }

    void Close()
    {
        if (fragments_.empty())
            return;
        const unsigned index = Index();
        Style style = CurrentStyle();
        uint64_t maxOffset = 0, maxReplicated = 0, maxSize = 0;
        for (const Fragment& f : fragments_) {
            maxOffset = std::max<uint64_t>(maxOffset, f.compressed ? f.presentationMs : f.offset);
            maxReplicated = std::max<uint64_t>(maxReplicated, f.compressed ? 1 : 8 + f.extensions.size());
            maxSize = std::max<uint64_t>(maxSize, f.data.size() + (f.compressed ? 1 : 0));
        }
        style.offsetType = Widen(style.offsetType, maxOffset);
        style.replicatedType = Widen(style.replicatedType, maxReplicated);
        if (style.multiple)
            style.payloadLengthType = Widen(style.payloadLengthType, maxSize);
        if (style.packetLengthType)
            style.packetLengthType = Widen(style.packetLengthType, options_.packetSize);

        Bytes payloads;
        for (size_t i = 0; i < fragments_.size(); ++i) {
            const Fragment& f = fragments_[i];
            const bool unknown = options_.damage == Damage::UnknownStream && index == options_.damagePacket && i == 0;
            payloads.U8((unknown ? 99 : f.stream) | 0x80);
            payloads.Field(style.objectNumberType, f.objectNumber & 0xFF);
            payloads.Field(style.offsetType, f.compressed ? f.presentationMs : f.offset);
            if (f.compressed) {
                payloads.Field(style.replicatedType, 1).U8(0);
            } else {
                payloads.Field(style.replicatedType, static_cast<uint32_t>(8 + f.extensions.size()))
                    .U32(f.objectSize).U32(f.presentationMs).Raw(f.extensions);
            }
            if (style.multiple)
                payloads.Field(style.payloadLengthType, static_cast<uint32_t>(f.data.size() + (f.compressed ? 1 : 0)));
            if (f.compressed)
                payloads.U8(static_cast<uint32_t>(f.data.size()));
            payloads.Raw(f.data);
        }

        // The padding field's width depends on the padding, which depends on the head's size.
        size_t padding = 0;
        for (unsigned width = 4; width != style.paddingType;) {
            width = style.paddingType;
            padding = options_.packetSize - payloads.s.size() - (11 + (style.multiple ? 1 : 0)) -
                      Bytes::Width(style.packetLengthType) - Bytes::Width(style.sequenceType) - Bytes::Width(width);
            style.paddingType = width ? Widen(width, padding) : 0;
        }
        Bytes head;
        head.U8(0x82).U8(0).U8(0)
            .U8((style.multiple ? 1 : 0) | (style.sequenceType << 1) | (style.paddingType << 3) | (style.packetLengthType << 5))
            .U8(style.replicatedType | (style.offsetType << 2) | (style.objectNumberType << 4) | (1 << 6))
            .Field(style.packetLengthType, static_cast<uint32_t>(options_.packetSize - (style.paddingType ? 0 : padding)))
            .Field(style.sequenceType, 0).Field(style.paddingType, static_cast<uint32_t>(padding))
            .U32(static_cast<uint32_t>(sendMs_)).U16(0);
        if (style.multiple)
            head.U8(static_cast<uint32_t>(fragments_.size()) | (style.payloadLengthType << 6));
        std::string packet = head.s + payloads.s;
        packet.resize(options_.packetSize, '\0');
        if (options_.garbageEvery > 0 && (index + 1) % options_.garbageEvery == 0) {
            for (char& c : packet) {
                noise_ = noise_ * 1103515245u + 12345u;
                c = static_cast<char>(noise_ >> 16);
            }
        }
        packets_ += packet;
        fragments_.clear();
        used_ = 0;
    }

    void SetSendTime(int64_t ms) { sendMs_ = std::max<int64_t>(0, ms); }
    std::string& Packets() { return packets_; }

private:
    const Style& CurrentStyle() const { return Styles[Index() % (sizeof(Styles) / sizeof(Styles[0]))]; }

    const RecordingOptions& options_;
    std::vector<Fragment> fragments_;
    size_t used_ = 0;
    std::string packets_;
    int64_t sendMs_ = 0;
    uint32_t noise_ = 12345;
};

std::string ExtendedStreamPropertiesBody(unsigned stream, int64_t timePerFrame, const std::vector<std::pair<GUID, uint16_t>>& extensions,
                                         const std::string& nestedStreamProperties)
{
    Bytes b;
    b.U64(0).U64(0).U32(6000000).U32(1000).U32(1000).U32(0).U32(0).U32(0).U32(1 << 20).U32(0);
    b.U16(stream).U16(0).U64(static_cast<uint64_t>(timePerFrame)).U16(0).U16(static_cast<uint32_t>(extensions.size()));
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

// A Simple Index and an Index object of the video stream with an entry every millisecond, so that
// each spans more than one packet: taken for packets, they would be skipped as damaged ones.
std::string IndexObjects(unsigned videoStream, int64_t duration, unsigned packetCount, uint32_t packetSize)
{
    const uint32_t entries = static_cast<uint32_t>(duration / 10000) + 1;
    Bytes simple;
    simple.Zeros(16).U64(10000).U32(1).U32(entries);
    Bytes index;
    index.U32(1).U16(1).U32(1).U16(videoStream).U16(1).U32(entries).U64(0);
    for (uint32_t entry = 0; entry < entries; ++entry) {
        const uint32_t packet = static_cast<uint32_t>(uint64_t(entry) * packetCount / entries);
        simple.U32(packet).U16(1);
        index.U32(packet * packetSize);
    }
    return Object(SimpleIndex, simple.s) + Object(Index, index.s);
}

bool ReadWhole(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !!in || !bytes.empty();
}

} // namespace

bool SplitAudio(const std::string& bytes, std::vector<std::string>& frames, std::vector<int64_t>& times)
{
    mpeg::AudioFrame first;
    if (!SplitAudioFrames(bytes, frames, first))
        return false;
    for (size_t n = 0; n < frames.size(); ++n)
        times.push_back(static_cast<int64_t>(n) * first.samples * Second / first.sampleRate);
    return true;
}

bool SplitVideo(const std::string& bytes, std::vector<std::string>& frames, std::vector<int64_t>* times,
                std::vector<size_t>* secondFields)
{
    return SplitVideoFrames(bytes, frames, times, nullptr, nullptr, secondFields);
}

bool WriteRecording(const std::string& path, const RecordingOptions& options, WrittenRecording& written,
                    std::string& error)
{
    written = WrittenRecording();
    std::string videoEs, audioEs;
    std::vector<std::string> video;
    std::vector<int64_t> videoTimes;
    std::vector<unsigned> videoTypes;
    std::vector<size_t> secondFields;
    int64_t period = 0;
    if (!ReadWhole(options.videoPath, videoEs) ||
        !SplitVideoFrames(videoEs, video, &videoTimes, &videoTypes, &period, &secondFields)) {
        error = "cannot read MPEG-2 video from " + options.videoPath;
        return false;
    }
    std::vector<std::string> audio;
    mpeg::AudioFrame first{};
    if (!options.audioPath.empty() && (!ReadWhole(options.audioPath, audioEs) || !SplitAudioFrames(audioEs, audio, first))) {
        error = "cannot read MPEG or AC-3 audio from " + options.audioPath;
        return false;
    }
    const bool hasAudio = !audio.empty();
    const int64_t audioPeriod = hasAudio ? static_cast<int64_t>(first.samples) * Second / first.sampleRate : 0;
    unsigned next = 1;
    const unsigned audioStream = hasAudio ? next++ : 0;
    const unsigned captionStream = options.captions ? next++ : 0;
    const unsigned videoStream = next;

    // Objects in send order: by decode time, audio and captions beside the video.
    std::vector<Pending> pending;
    if (options.leadingTailBytes > 0) {
        std::string tail("\x00\x00\x01\x05", 4);
        tail.resize(options.leadingTailBytes, '\x55');
        pending.push_back({Kind::Video, videoStream, tail, options.firstTime - period, period, options.firstTime - 2 * period, false, 3});
    }
    // A shared jump moves everything sent from the jump frame on, audio by its send time.
    const int64_t jumpSendKey = options.firstTime + (static_cast<int64_t>(options.jumpFrame) - 1) * period;
    for (size_t decoded = 0; decoded < video.size(); ++decoded) {
        const int64_t time = options.firstTime + videoTimes[decoded];
        const int64_t sendKey = options.firstTime + (static_cast<int64_t>(decoded) - 1) * period;
        const int64_t jump = decoded >= options.jumpFrame ? options.jump : 0;
        const int64_t outlier = decoded == options.outlierFrame ? options.outlier : 0;
        const size_t second = options.fieldObjects == FieldObjects::Together ? 0 : secondFields[decoded];
        pending.push_back({Kind::Video, videoStream, video[decoded].substr(0, second ? second : std::string::npos), time, period,
                           sendKey, true, videoTypes[decoded], jump, outlier});
        if (second) {
            const bool timed = options.fieldObjects == FieldObjects::SecondTimed;
            pending.push_back({Kind::Video, videoStream, video[decoded].substr(second), time + (timed ? period / 2 : 0), period,
                               sendKey, false, videoTypes[decoded], jump, 0, !timed});
        }
        if (options.captions)
            pending.push_back({Kind::Captions, captionStream, std::string("\x94\x2c", 2), time, period, sendKey, true, 0, jump});
        for (unsigned i = 0; decoded == 0 && i < options.zeroObjects; ++i)
            pending.push_back({Kind::Video, videoStream, std::string(8192, '\0'), time, period, sendKey, false, 0});
    }
    for (size_t n = 0; n < audio.size(); ++n) {
        const int64_t time = options.firstTime + options.audioDelay + static_cast<int64_t>(n) * first.samples * Second / first.sampleRate;
        const int64_t jumped = options.jump && time >= jumpSendKey ? options.jump : 0;
        pending.push_back({Kind::Audio, audioStream, audio[n], time, audioPeriod, time, true, 0, jumped});
        // Further audio streams carry the same frames, numbered after the video.
        for (unsigned extra = 1; extra < options.audioStreams; ++extra)
            pending.push_back({Kind::Audio, videoStream + extra, audio[n], time, audioPeriod, time, true, 0, jumped});
    }
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) { return a.sendKey < b.sendKey; });

    Packetizer packetizer(options);
    uint32_t objectNumbers[128] = {};
    int64_t lastTime = 0;
    unsigned timed = 0;
    for (const Pending& p : pending) {
        const int64_t time = p.time + p.jump;
        lastTime = std::max(lastTime, time + p.duration);
        WrittenObject object{p.kind, p.stream, p.bytes, time + p.outlier, time, p.frameStart, 0, 0};
        const bool timedKind = p.kind != Kind::Captions;
        if ((timedKind && options.noTimeEvery > 0 && timed++ % options.noTimeEvery == 0) || p.untimed)
            object.rtStart = -1;
        const uint32_t presentationMs = static_cast<uint32_t>(std::max<int64_t>(0, time / 10000 + options.prerollMs));

        Bytes extensions;
        if (p.kind == Kind::Audio)
            extensions.U16(static_cast<uint32_t>(p.duration / 10000));
        if (timedKind) {
            extensions.U32(1).U32(0);
            if (options.damage != Damage::TimingExtensionCut)
                extensions.U64(static_cast<uint64_t>(object.rtStart))
                    .U64(static_cast<uint64_t>(object.rtStart == -1 ? -1 : object.rtStart + p.duration)).Zeros(24);
        }
        if (p.kind == Kind::Video) {
            extensions.U16(1).U8(p.frameType); // content type, variable size
            extensions.U8((p.frameStart ? 0x08 : 0) | (p.frameType & 7) | (3 << 4)).U8(0).U16(0);
        }

        const uint32_t number = objectNumbers[p.stream]++;
        packetizer.SetSendTime(p.sendKey / 10000 + options.prerollMs);
        // Captions are tiny objects without extensions: compressed payloads, never split.
        const bool compressed = p.kind == Kind::Captions;
        const size_t overhead = compressed ? 19 : 25 + extensions.s.size();
        for (size_t offset = 0; offset < p.bytes.size();) {
            size_t room = packetizer.Room(overhead);
            if (room == 0 || (compressed && room < p.bytes.size())) {
                packetizer.Close();
                room = packetizer.Room(overhead);
            }
            const size_t size = std::min(room, p.bytes.size() - offset);
            if (offset == 0)
                object.firstPacket = packetizer.Index();
            object.lastPacket = packetizer.Index();
            packetizer.Add(Fragment{p.stream, number, static_cast<uint32_t>(offset), static_cast<uint32_t>(p.bytes.size()),
                                    presentationMs, extensions.s, p.bytes.substr(offset, size), compressed},
                           overhead);
            offset += size;
        }
        written.objects.push_back(object);
    }
    packetizer.Close();
    const std::string& packets = packetizer.Packets();
    written.packetSize = options.packetSize;
    written.packetCount = static_cast<unsigned>(packets.size() / options.packetSize);

    // The header.
    std::string headerExtensionChildren;
    if (hasAudio) {
        const bool ac3 = audioEs.compare(0, 2, "\x0B\x77") == 0;
        Bytes wave; // the tag is unreliable in real recordings: 0 for AC-3
        wave.U16(ac3 ? 0 : 0x50).U16(first.channels).U32(first.sampleRate).U32(first.bitRate / 8).U16(1).U16(0).U16(0);
        const std::string typeData = FlatMediaType(MediaCentreAudio, ac3 ? Ac3Subtype : MpegAudioSubtype, WaveFormatExType, wave.s);
        for (unsigned extra = 0; extra < std::max(options.audioStreams, 1u); ++extra) {
            const unsigned stream = extra == 0 ? audioStream : videoStream + extra;
            headerExtensionChildren += Object(ExtendedStreamProperties,
                ExtendedStreamPropertiesBody(stream, audioPeriod,
                                             {{SampleDurationExtension, 2}, {TimingExtension, 48}},
                                             StreamPropertiesObject(BinaryStreamType, stream,
                                                                    options.protection == Protection::EncryptedStream, typeData)));
        }
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
    description.U16(1).Utf16("DVR File Version").U16(0).Utf16("3.0");
    Bytes extensionBody;
    extensionBody.Guid(HeaderExtensionReserved).U16(6).U32(static_cast<uint32_t>(headerExtensionChildren.size())).Raw(headerExtensionChildren);
    const bool encryptionObject = options.protection == Protection::EncryptionObject;
    const std::string others = StreamPropertiesObject(VideoStreamType, videoStream, false, videoType.s) +
                               Object(HeaderExtension, extensionBody.s) + Object(ExtendedContentDescription, description.s) +
                               (encryptionObject ? Object(ContentEncryption, std::string(16, '\0')) : std::string());

    const std::string indexes = options.indexAfterData
                                    ? IndexObjects(videoStream, lastTime - options.firstTime, written.packetCount, options.packetSize)
                                    : std::string();
    const unsigned dataPackets = options.claimedDataPackets ? options.claimedDataPackets : written.packetCount;
    const uint64_t dataSize = 50 + uint64_t(dataPackets) * options.packetSize;
    const uint64_t fileSize = 30 + 104 + others.size() + 50 + packets.size() + indexes.size(); // 104: File Properties
    const unsigned filePackets = options.claimedPackets ? options.claimedPackets : written.packetCount;
    Bytes fileProperties;
    fileProperties.Zeros(16).U64(options.unfinishedHeader ? 0 : fileSize).U64(0).U64(options.unfinishedHeader ? 0 : filePackets)
        .U64(static_cast<uint64_t>(lastTime - options.firstTime) + options.prerollMs * 10000ull)
        .U64(static_cast<uint64_t>(lastTime - options.firstTime)).U64(options.prerollMs)
        .U32(options.unfinishedHeader ? 1 : 2).U32(options.packetSize).U32(options.packetSize).U32(6000000);
    const std::string children = Object(FileProperties, fileProperties.s) + others;
    Bytes header;
    header.Guid(HeaderObject).U64(30 + children.size()).U32(encryptionObject ? 5 : 4).U8(1).U8(2).Raw(children);
    Bytes data;
    data.Guid(DataObject).U64(options.unfinishedHeader ? 0 : dataSize).Zeros(16)
        .U64(options.unfinishedHeader ? 0 : dataPackets).U8(1).U8(1);
    written.dataOffset = header.s.size() + 50;

    std::string file = header.s + data.s + packets + indexes;
    if (options.cutAt > 0 && options.cutAt < file.size())
        file.resize(static_cast<size_t>(options.cutAt));
    written.fileSize = file.size();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace test_recordings
