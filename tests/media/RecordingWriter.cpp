#include "tests/media/RecordingWriter.h"

#include <algorithm>
#include <fstream>

#include "tests/media/AsfBytes.h"
#include "tests/media/AsfHeaderWriter.h"
#include "tests/media/AsfPacketizer.h"
#include "tests/media/StreamProbe.h"

namespace test_recordings {
namespace {

// A media object to write (every one a key frame, as recorders mark them).
struct ScheduledObject {
    Kind kind;
    unsigned stream;
    std::string bytes;
    int64_t time, duration, sendKey;
    bool frameStart;
    unsigned frameType;
    int source = VideoStream; // as reception events name streams; captions are none of them
};

constexpr int NoEventStream = -2;

// The ASF stream number of the nth audio stream: the first before the captions and the video, the
// others after the video.
unsigned AudioNumber(const StreamNumbers& numbers, size_t nth)
{
    return nth == 0 ? numbers.audio : numbers.video + static_cast<unsigned>(nth);
}

// The objects in the order a recorder sends them: by decode time, audio and captions beside the video.
std::vector<ScheduledObject> Schedule(const RecordingOptions& options, const StreamNumbers& numbers, const ProbedStream& video,
                                      const std::vector<ProbedStream>& audios)
{
    const int64_t period = video.framePeriod;
    std::vector<ScheduledObject> objects;
    if (options.leadingTailBytes > 0) {
        std::string tail("\x00\x00\x01\x05", 4);
        tail.resize(options.leadingTailBytes, '\x55');
        objects.push_back({Kind::Video, numbers.video, tail, options.firstTime - period, period, options.firstTime - 2 * period, false, 3});
    }
    // Frames' times in display order. The n-th frame decoded is needed about when the n-th frame is
    // shown: film's frames shown for two or three fields are sent at that pace, not at one a field
    // pair; a caption stream runs in display order.
    std::vector<int64_t> shown;
    for (const ProbedFrame& frame : video.frames)
        shown.push_back(frame.time);
    std::sort(shown.begin(), shown.end());
    for (size_t decoded = 0; decoded < video.frames.size(); ++decoded) {
        const ProbedFrame& frame = video.frames[decoded];
        const int64_t time = options.firstTime + frame.time;
        // A recorder sends a frame about one frame before the decoder needs it.
        const int64_t sendKey = options.firstTime + shown[decoded] - shown[0] - period;
        objects.push_back({Kind::Video, numbers.video, frame.bytes, time, period, sendKey, true, frame.type});
        if (options.captions && options.captionPairs.empty())
            objects.push_back({Kind::Captions, numbers.captions, std::string("\x94\x2c", 2), time, period, sendKey, true, 0,
                               NoEventStream});
        if (decoded < options.captionPairs.size() && !options.captionPairs[decoded].empty())
            objects.push_back({Kind::Captions, numbers.captions, options.captionPairs[decoded],
                               options.firstTime + shown[decoded] + options.captionShift, period, sendKey, true, 0, NoEventStream});
        for (unsigned i = 0; decoded == 0 && i < options.zeroObjects; ++i)
            objects.push_back({Kind::Video, numbers.video, std::string(8192, '\0'), time, period, sendKey, false, 0});
    }
    for (size_t nth = 0; nth < audios.size(); ++nth) {
        for (const ProbedFrame& frame : audios[nth].frames) {
            const int64_t time = options.firstTime + options.audioDelay + frame.time;
            objects.push_back({Kind::Audio, AudioNumber(numbers, nth), frame.bytes, time, audios[nth].framePeriod, time, true, 0,
                               static_cast<int>(nth) + 1});
        }
    }
    std::stable_sort(objects.begin(), objects.end(),
                     [](const ScheduledObject& a, const ScheduledObject& b) { return a.sendKey < b.sendKey; });
    return objects;
}

bool Touches(const ReceptionEvent& event, const ScheduledObject& object)
{
    return object.source != NoEventStream && (event.stream == EveryStream || event.stream == object.source);
}

// The time written for each object, in send order, and whether the recording lost it.
struct Fate {
    int64_t written;
    bool lost = false;
};

std::vector<Fate> ApplyEvents(const RecordingOptions& options, const std::vector<ScheduledObject>& objects)
{
    std::vector<Fate> fates;
    for (const ScheduledObject& object : objects)
        fates.push_back({object.time});
    for (const ReceptionEvent& event : options.events) {
        const int64_t from = options.firstTime + event.at, to = from + event.length;
        const auto groupStart = [&](size_t i, int64_t at) {
            const ScheduledObject& o = objects[i];
            return o.kind == Kind::Video && o.frameStart && o.frameType == 1 && o.sendKey >= at;
        };
        bool videoLost = false, videoEnded = false;
        std::vector<unsigned> falseTimes(16, 0); // given so far, by event stream
        for (size_t i = 0; i < objects.size(); ++i) {
            const ScheduledObject& object = objects[i];
            switch (event.kind) {
            case EventKind::Dropout:
                if (!Touches(event, object))
                    break;
                if (object.kind == Kind::Video) {
                    videoEnded = videoEnded || (videoLost && groupStart(i, to));
                    videoLost = (videoLost || groupStart(i, from)) && !videoEnded;
                    fates[i].lost = fates[i].lost || videoLost;
                } else if (object.sendKey >= from && object.sendKey < to) {
                    fates[i].lost = true;
                }
                break;
            case EventKind::FalseTime:
                if (Touches(event, object) && object.frameStart && object.sendKey >= from &&
                    falseTimes.at(static_cast<size_t>(object.source))++ < event.count)
                    fates[i].written += event.shift;
                break;
            case EventKind::Jump:
                if (object.sendKey >= from)
                    fates[i].written += event.shift;
                break;
            }
        }
    }
    return fates;
}

// The payload extension data a media-centre recorder writes for the object.
std::string PayloadExtensions(const ScheduledObject& object, int64_t rtStart)
{
    Bytes extensions;
    if (object.kind == Kind::Audio)
        extensions.U16(static_cast<uint32_t>(object.duration / 10000));
    if (object.kind != Kind::Captions) {
        extensions.U32(1).U32(0).U64(static_cast<uint64_t>(rtStart));
        extensions.U64(static_cast<uint64_t>(rtStart == -1 ? -1 : rtStart + object.duration)).Zeros(24);
    }
    if (object.kind == Kind::Video) {
        extensions.U16(1).U8(object.frameType); // content type, variable size
        extensions.U8((object.frameStart ? 0x08 : 0) | (object.frameType & 7) | (3 << 4)).U8(0).U16(0);
    }
    return extensions.s;
}

} // namespace

bool WriteRecording(const std::string& path, const RecordingOptions& options, WrittenRecording& written, std::string& error)
{
    written = WrittenRecording();
    ProbedStream video;
    if (!ProbeStream(options.videoPath, video, error) || (video.codec != "mpeg2video" && video.codec != "h264")) {
        error = "no MPEG-2 or H.264 video in " + options.videoPath + ": " + error;
        return false;
    }
    std::vector<std::string> audioPaths(options.audioPath.empty() ? 0 : options.audioStreams, options.audioPath);
    audioPaths.insert(audioPaths.end(), options.moreAudio.begin(), options.moreAudio.end());
    std::vector<ProbedStream> audios(audioPaths.size());
    for (size_t nth = 0; nth < audioPaths.size(); ++nth) {
        const std::string& codec = audios[nth].codec;
        if (!ProbeStream(audioPaths[nth], audios[nth], error) ||
            (codec != "mp2" && codec != "ac3" && codec != "eac3" && codec != "aac")) {
            error = "no MPEG, AC-3, E-AC-3 or ADTS AAC audio in " + audioPaths[nth] + ": " + error;
            return false;
        }
    }
    RecordingLayout layout;
    layout.numbers.audio = audios.empty() ? 0 : 1;
    layout.numbers.captions = options.captions ? layout.numbers.audio + 1 : 0;
    layout.numbers.video = std::max(layout.numbers.audio, layout.numbers.captions) + 1;
    layout.videoPeriod = video.framePeriod;

    Packetizer packetizer(options);
    uint32_t objectNumbers[128] = {};
    int64_t lastTime = 0;
    unsigned timed = 0;
    const std::vector<ScheduledObject> scheduled = Schedule(options, layout.numbers, video, audios);
    const std::vector<Fate> fates = ApplyEvents(options, scheduled);
    for (size_t i = 0; i < scheduled.size(); ++i) {
        const ScheduledObject& p = scheduled[i];
        if (fates[i].lost)
            continue;
        lastTime = std::max(lastTime, fates[i].written + p.duration);
        WrittenObject object{p.kind, p.stream, p.bytes, fates[i].written, p.time, p.frameStart, 0, 0, p.frameType, p.sendKey};
        if (p.kind != Kind::Captions && options.noTimeEvery > 0 && timed++ % options.noTimeEvery == 0)
            object.rtStart = -1;
        // ASF's own time says what the recorder's does.
        const uint32_t presentationMs = static_cast<uint32_t>(std::max<int64_t>(0, fates[i].written / 10000 + PrerollMs));
        // Captions are tiny objects without extensions: compressed payloads.
        packetizer.AddObject(p.stream, objectNumbers[p.stream]++, presentationMs, PayloadExtensions(p, object.rtStart),
                             p.bytes, p.kind == Kind::Captions, p.sendKey / 10000 + PrerollMs, object.firstPacket,
                             object.lastPacket);
        written.objects.push_back(object);
    }
    const std::string& packets = packetizer.Finish();
    written.packetSize = options.packetSize;
    written.packetCount = static_cast<unsigned>(packets.size() / options.packetSize);
    layout.duration = lastTime - options.firstTime;
    layout.packetCount = written.packetCount;
    layout.packetBytes = packets.size();
    const std::string indexes = options.indexAfterData ? IndexObjects(options, layout) : std::string();
    layout.indexBytes = indexes.size();
    const std::string head = HeaderAndDataHead(options, layout, audios);
    for (size_t nth = 0; nth < audios.size(); ++nth) {
        written.audioStreams.push_back(AudioNumber(layout.numbers, nth));
        written.audioCodecs.push_back(audios[nth].codec);
    }
    written.dataOffset = head.size();

    std::string file = head + packets + indexes;
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
