#pragma once
// What the recording source needs of a recording, whatever holds it (a DVR-MS/ASF file or a WTV
// file): the streams it can deliver, then whole media objects in file order with their times. No COM.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

inline constexpr uint32_t MaxObjectSize = 16u << 20;
inline constexpr int64_t NoTime = -1;

// What a stream carries, decided from its payload: recorders fill their containers' tags unreliably.
enum class Codec { Unknown, Mpeg2Video, MpegAudio, Ac3, Captions, H264Video, Aac, Eac3 };

// A known codec of pictures or sound: what makes a file worth converting, and what the read-ahead
// counts frames of (captions ride along with the video).
inline bool IsAudioOrVideo(Codec codec) { return codec != Codec::Unknown && codec != Codec::Captions; }

// AAC's framing, decided by its bytes: ffmpeg labels ADTS it copies as raw.
enum class AacPayload { Raw, Adts, Loas };

struct VideoFormat {
    unsigned width = 0;
    unsigned height = 0;
    unsigned aspectCode = 0;      // 1 square, 2 4:3, 3 16:9, 4 2.21:1
    unsigned frameRateNum = 25;
    unsigned frameRateDen = 1;
    uint32_t bitRate = 0;         // bits per second
    unsigned profile = 0;         // from the sequence extension; 0 without one (MPEG-1); H.264's profile_idc
    unsigned level = 0;           // H.264's level_idc
    unsigned sarWidth = 0;        // H.264: the sample aspect ratio, 0 when not given
    unsigned sarHeight = 0;
    // The sequence header and its extensions, as in the stream; H.264: its SPS and PPS with start codes.
    std::vector<uint8_t> sequenceHeader;
};

struct AudioFormat {
    unsigned sampleRate = 0;
    unsigned channels = 0;
    uint32_t bitRate = 0;         // bits per second
    unsigned layer = 0;           // MPEG audio only
    unsigned mpegVersion = 0;     // 1, or 2 for the half rates
    unsigned samplesPerFrame = 0;
    unsigned frameBytes = 0;
    AacPayload aacPayload = AacPayload::Raw;
    bool aacDeclared = false; // the container's type says AAC
    // AAC: the AudioSpecificConfig the container declares (raw frames cannot be read without it).
    std::vector<uint8_t> aacConfig;
};

struct StreamFormat {
    Codec codec = Codec::Unknown;
    VideoFormat video;
    AudioFormat audio;
    // The DirectShow type the container declares, which captions are offered as.
    GUID majorType = GUID_NULL;
    GUID subtype = GUID_NULL;
    // The ISO 639-2 code of the language the container names for the stream; all zero for none.
    char language[3] = {};
};

struct MediaObject {
    size_t streamIndex = 0; // into Formats()
    unsigned stream = 0;    // the container's stream number
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool keyFrame = false;  // the container's key flag
    bool discontinuity = false; // first object of the stream, or data was lost before it
    // Raw times: the packet's presentation time (ms, preroll included) and, when the stream has
    // the media-centre timing extension, rtStart/rtEnd in 100 ns (NoTime when not given).
    uint32_t presentationMs = 0;
    bool hasTiming = false;
    int64_t rtStart = NoTime;
    int64_t rtEnd = NoTime;
    // The media-centre frame extension: bit 3 a frame starts here, bits 0-2 its type (1 = I).
    // An object that carries no time of its own says so by leaving bit 3 clear.
    bool hasFrameFlags = false;
    uint8_t frameFlags = 0;
    // 100 ns: rtStart when valid, else the presentation time less the preroll (moved onto the
    // stream's rtStart clock once one was seen).
    int64_t time = 0;

    bool StartsFrame() const { return !hasFrameFlags || (frameFlags & 0x08) != 0; }
};

class IObjectSink {
public:
    // False stops reading (Read then returns S_FALSE).
    virtual bool OnObject(const MediaObject& object) = 0;
    // Where an object of the stream that comes in pieces is put together, `size` bytes: the
    // sink's own (a media sample's), which OnObject then finds the object in, so it need not copy
    // it. Null: the reader puts it together in a buffer of its own. Asking again gives up the last.
    virtual uint8_t* ObjectRoom(size_t /*streamIndex*/, size_t /*size*/) { return nullptr; }

protected:
    ~IObjectSink() = default;
};

// A reader holds its file and its buffers: it is neither copied nor moved.
class IRecordingReader {
public:
    IRecordingReader() = default;
    IRecordingReader(const IRecordingReader&) = delete;
    IRecordingReader& operator=(const IRecordingReader&) = delete;
    virtual ~IRecordingReader() = default;

    // Opens the file (shared with a recorder that still writes it) and reads ahead to identify
    // each stream's codec and the earliest time. HRESULT_FROM_WIN32 when the file cannot be
    // opened; else HALVERN_E_NOT_RECORDING, _BAD_HEADER, _PROTECTED or _NO_STREAMS.
    virtual HRESULT Open(const wchar_t* path) = 0;
    // Reads from the first object (again) to the end of the data: S_OK at the end, S_FALSE when
    // the sink stopped, HALVERN_E_DAMAGED, HALVERN_E_SHRANK, or a read error. A file cut short
    // ends the read cleanly; the object the cut went through is not handed on.
    virtual HRESULT Read(IObjectSink& sink) = 0;

    // One per stream of the file; Codec::Unknown for those without a pin.
    virtual const std::vector<StreamFormat>& Formats() const = 0;
    // The earliest time among the first objects of the streams with a known codec.
    virtual int64_t EarliestTime() const = 0;
    // 100 ns, as well as the file tells it.
    virtual int64_t Duration() const = 0;
    // How far the read in progress has come, in bytes of the file, and the file's length as the
    // read knows it. They are equal once a read has reached the end of the data.
    virtual uint64_t BytesDone() const = 0;
    virtual uint64_t BytesTotal() const = 0;
    // The last read ended where the file ends in the middle of a packet or an object: the recorder
    // stopped there (it crashed), or is still writing where Halvern cannot see it.
    virtual bool EndedCut() const = 0;
};

} // namespace media
