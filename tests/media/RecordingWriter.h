#pragma once
// Test-side writer of media-centre (DVR-MS) recordings made from ffmpeg's elementary streams, split
// into frames by ffprobe (StreamProbe.h; a path may join parts of one stream with '|'): video as an
// ordinary stream, audio and captions as binary streams in Extended Stream Properties, the
// media-centre payload extensions, every packet field width in turn; options make damaged and
// unusual files. Every object written comes back, so a reader's output can be checked against it;
// objects the recording lost (a dropout) are not written and do not come back.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/media/ReceptionEvents.h"

namespace test_recordings {

enum class Protection { None, EncryptionObject, EncryptedStream };

// An attribute of the Extended Content Description object beside "DVR File Version": text when
// `text` is set (or `qword` is 0), a QWORD otherwise.
struct HeaderAttribute {
    std::string name;
    std::wstring text;
    uint64_t qword = 0;
};

struct RecordingOptions {
    std::string videoPath;            // MPEG-2 or H.264 video elementary stream
    std::string audioPath;            // MPEG audio, AC-3, E-AC-3 or ADTS AAC; empty for none
    unsigned audioStreams = 1;        // with audio: this many streams, each carrying it (1 to 4)
    std::vector<std::string> moreAudio; // further audio streams after those, each of its own stream
    // Each audio stream's RFC 1766 tag in a Language List ("" for one the list names as empty);
    // without any, the recording has no list.
    std::vector<std::string> audioLanguages;
    std::vector<ReceptionEvent> events; // what reception and the schedule did to the recording
    bool captions = false;            // a line-21 caption stream (one 2-byte object per frame)
    // With captions: the sample of each frame in display order (a pair, or anything: none when
    // empty, none past the end), timed as that frame is shown plus captionShift; when there are
    // none at all, an erase-display pair with each frame's own time.
    std::vector<std::string> captionPairs;
    int64_t captionShift = 0;
    uint32_t packetSize = 8192;
    int64_t firstTime = 0;            // rtStart (100 ns) of the first video frame shown
    int64_t audioDelay = 0;           // audio's first rtStart relative to video's
    bool unfinishedHeader = false;    // broadcast flag set, packet count, file and data sizes 0
    uint64_t cutAt = 0;               // > 0: the file ends at this byte offset
    Protection protection = Protection::None;
    unsigned garbageEvery = 0;        // > 0: every Nth packet (from the Nth) is overwritten with noise
    unsigned noTimeEvery = 0;         // > 0: rtStart -1 on every Nth audio/video object; 1 for all
    unsigned leadingTailBytes = 0;    // > 0: video starts with a cut-off picture tail of this size
    unsigned zeroObjects = 0;         // all-zero 8 KiB video objects written after the first frame
    // Header claims of fewer packets than the file holds (0: the true number), as a recorder that
    // stopped updating its header leaves them, and indexes after the packets.
    unsigned claimedPackets = 0;      // the File Properties packet count
    unsigned claimedDataPackets = 0;  // the Data Object's size and packet count
    bool indexAfterData = false;      // a Simple Index and an Index object, each longer than a packet
    std::vector<HeaderAttribute> attributes; // the recording's metadata
};

enum class Kind { Video, Audio, Captions };

struct WrittenObject {
    Kind kind;
    unsigned stream;          // ASF stream number
    std::string bytes;
    int64_t rtStart;          // as written (-1 when the object had no time)
    int64_t time;             // the time it stands for, whether written or not
    bool frameStart;          // false for the cut-off tail and zero objects (not frames of the source)
    unsigned firstPacket;     // packets holding its first and last byte
    unsigned lastPacket;
    unsigned frameType;       // video: 1 I, 2 P, 3 B as ffprobe saw the picture; otherwise 0
    int64_t sendTime;         // where in the file it was sent, as a time (100 ns): reception events count in it
};

struct WrittenRecording {
    std::vector<WrittenObject> objects;
    uint64_t dataOffset = 0;  // first packet
    uint32_t packetSize = 0;
    unsigned packetCount = 0; // written, before any cut
    uint64_t fileSize = 0;    // after any cut
    std::vector<unsigned> audioStreams;    // ASF stream numbers of the audio streams, in the recording's order
    std::vector<std::string> audioCodecs;  // and ffprobe's name of each one's codec
};

bool WriteRecording(const std::string& path, const RecordingOptions& options, WrittenRecording& written,
                    std::string& error);

} // namespace test_recordings
