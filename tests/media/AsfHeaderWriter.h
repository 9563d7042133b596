#pragma once
// The ASF header of a test recording (file and stream properties, the media-centre stream
// declarations, the options' protection and unfinished or false claims), the start of the Data
// object, and the indexes that may follow the packets.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/media/RecordingWriter.h"
#include "tests/media/StreamProbe.h"

namespace test_recordings {

constexpr uint32_t PrerollMs = 3000;

// ASF stream numbers (0: none): audio first, then captions, then video; further audio streams after the video.
struct StreamNumbers {
    unsigned audio = 0, captions = 0, video = 0;
};

struct RecordingLayout {
    StreamNumbers numbers;
    int64_t videoPeriod = 0;
    int64_t duration = 0;    // from the first time to the end of the last object, 100 ns
    unsigned packetCount = 0;
    uint64_t packetBytes = 0;
    uint64_t indexBytes = 0;
};

// The Header object and the Data object's head, which the packets follow; the audio streams in the
// recording's order.
std::string HeaderAndDataHead(const RecordingOptions& options, const RecordingLayout& layout,
                              const std::vector<ProbedStream>& audios);
// A Simple Index and an Index object of the video stream with an entry every millisecond, so that
// each spans more than one packet: taken for packets, they would be skipped as damaged ones.
std::string IndexObjects(const RecordingOptions& options, const RecordingLayout& layout);

} // namespace test_recordings
