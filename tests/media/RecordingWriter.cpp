#include "tests/media/RecordingWriter.h"

#include <algorithm>
#include <fstream>

#include "tests/media/AsfBytes.h"
#include "tests/media/AsfHeaderWriter.h"
#include "tests/media/AsfPacketizer.h"
#include "tests/media/RecordingSchedule.h"
#include "tests/media/StreamProbe.h"

namespace test_recordings {
namespace {

// The payload extension data a media-centre recorder writes for the object.
std::string PayloadExtensions(const RecordingOptions& options, const ScheduledObject& object, int64_t rtStart)
{
    Bytes extensions;
    if (object.kind == Kind::Audio)
        extensions.U16(static_cast<uint32_t>(object.duration / 10000));
    if (object.kind != Kind::Captions) {
        extensions.U32(1).U32(0);
        if (options.damage != Damage::TimingExtensionCut)
            extensions.U64(static_cast<uint64_t>(rtStart)).U64(static_cast<uint64_t>(rtStart == -1 ? -1 : rtStart + object.duration)).Zeros(24);
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
    ProbedStream video, audio;
    if (!ProbeStream(options.videoPath, video, error) || video.codec != "mpeg2video") {
        error = "no MPEG-2 video in " + options.videoPath + ": " + error;
        return false;
    }
    if (!options.audioPath.empty() && (!ProbeStream(options.audioPath, audio, error) || (audio.codec != "mp2" && audio.codec != "ac3"))) {
        error = "no MPEG or AC-3 audio in " + options.audioPath + ": " + error;
        return false;
    }
    RecordingLayout layout;
    layout.numbers = NumberStreams(options, !audio.frames.empty());
    layout.videoPeriod = video.framePeriod;

    Packetizer packetizer(options);
    uint32_t objectNumbers[128] = {};
    int64_t lastTime = 0;
    unsigned timed = 0;
    for (const ScheduledObject& p : Schedule(options, layout.numbers, video, audio)) {
        const int64_t time = p.time + p.jump;
        lastTime = std::max(lastTime, time + p.duration);
        WrittenObject object{p.kind, p.stream, p.bytes, time + p.outlier, time, p.frameStart, 0, 0};
        if ((p.kind != Kind::Captions && options.noTimeEvery > 0 && timed++ % options.noTimeEvery == 0) || p.untimed)
            object.rtStart = -1;
        const uint32_t presentationMs = static_cast<uint32_t>(std::max<int64_t>(0, time / 10000 + options.prerollMs));
        // Captions are tiny objects without extensions: compressed payloads.
        packetizer.AddObject(p.stream, objectNumbers[p.stream]++, presentationMs, PayloadExtensions(options, p, object.rtStart),
                             p.bytes, p.kind == Kind::Captions, p.sendKey / 10000 + options.prerollMs, object.firstPacket,
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
    const std::string head = HeaderAndDataHead(options, layout, audio);
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
