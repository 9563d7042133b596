#pragma once
// Which media objects a recording holds and in what order a recorder sends them: by decode time,
// audio and captions beside the video, with the options' outliers, jumps and untimed objects.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/media/RecordingWriter.h"
#include "tests/media/StreamProbe.h"

namespace test_recordings {

// A media object to write (every one a key frame, as recorders mark them).
struct ScheduledObject {
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

// ASF stream numbers: audio first, then captions, then video; further audio streams after the video.
struct StreamNumbers {
    unsigned audio = 0, captions = 0, video = 0;
};

StreamNumbers NumberStreams(const RecordingOptions& options, bool hasAudio);
// Objects in send order; audio may be an empty stream.
std::vector<ScheduledObject> Schedule(const RecordingOptions& options, const StreamNumbers& numbers, const ProbedStream& video,
                                      const ProbedStream& audio);

} // namespace test_recordings
