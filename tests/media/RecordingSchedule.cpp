#include "tests/media/RecordingSchedule.h"

#include <algorithm>

namespace test_recordings {

StreamNumbers NumberStreams(const RecordingOptions& options, bool hasAudio)
{
    StreamNumbers numbers;
    unsigned next = 1;
    numbers.audio = hasAudio ? next++ : 0;
    numbers.captions = options.captions ? next++ : 0;
    numbers.video = next;
    return numbers;
}

std::vector<ScheduledObject> Schedule(const RecordingOptions& options, const StreamNumbers& numbers, const ProbedStream& video,
                                      const ProbedStream& audio)
{
    const int64_t period = video.framePeriod;
    std::vector<ScheduledObject> objects;
    if (options.leadingTailBytes > 0) {
        std::string tail("\x00\x00\x01\x05", 4);
        tail.resize(options.leadingTailBytes, '\x55');
        objects.push_back({Kind::Video, numbers.video, tail, options.firstTime - period, period, options.firstTime - 2 * period, false, 3});
    }
    // A shared jump moves everything sent from the jump frame on, audio by its send time.
    const int64_t jumpSendKey = options.firstTime + (static_cast<int64_t>(options.jumpFrame) - 1) * period;
    for (size_t decoded = 0; decoded < video.frames.size(); ++decoded) {
        const ProbedFrame& frame = video.frames[decoded];
        const int64_t time = options.firstTime + frame.time;
        // A recorder sends a frame about one frame before the decoder needs it.
        const int64_t sendKey = options.firstTime + (static_cast<int64_t>(decoded) - 1) * period;
        const int64_t jump = decoded >= options.jumpFrame ? options.jump : 0;
        const int64_t outlier = decoded == options.outlierFrame ? options.outlier : 0;
        const size_t second = options.fieldObjects == FieldObjects::Together ? 0 : frame.secondField;
        objects.push_back({Kind::Video, numbers.video, frame.bytes.substr(0, second ? second : std::string::npos), time, period,
                           sendKey, true, frame.type, jump, outlier});
        if (second) {
            const bool timed = options.fieldObjects == FieldObjects::SecondTimed;
            objects.push_back({Kind::Video, numbers.video, frame.bytes.substr(second), time + (timed ? period / 2 : 0), period,
                               sendKey, false, frame.type, jump, 0, !timed});
        }
        if (options.captions)
            objects.push_back({Kind::Captions, numbers.captions, std::string("\x94\x2c", 2), time, period, sendKey, true, 0, jump});
        for (unsigned i = 0; decoded == 0 && i < options.zeroObjects; ++i)
            objects.push_back({Kind::Video, numbers.video, std::string(8192, '\0'), time, period, sendKey, false, 0});
    }
    for (const ProbedFrame& frame : audio.frames) {
        const int64_t time = options.firstTime + options.audioDelay + frame.time;
        const int64_t jumped = options.jump && time >= jumpSendKey ? options.jump : 0;
        objects.push_back({Kind::Audio, numbers.audio, frame.bytes, time, audio.framePeriod, time, true, 0, jumped});
        // Further audio streams carry the same frames, numbered after the video.
        for (unsigned extra = 1; extra < options.audioStreams; ++extra)
            objects.push_back({Kind::Audio, numbers.video + extra, frame.bytes, time, audio.framePeriod, time, true, 0, jumped});
    }
    std::stable_sort(objects.begin(), objects.end(),
                     [](const ScheduledObject& a, const ScheduledObject& b) { return a.sendKey < b.sendKey; });
    return objects;
}

} // namespace test_recordings
