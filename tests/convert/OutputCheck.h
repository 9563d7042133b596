#pragma once
// What every output of Halvern must hold, judged against the recording the test-side writer made:
// each elementary stream byte for byte (what ffmpeg copies out of it, less what the recording
// lost); every stamped unit at its true time plus one constant per stream, the streams within an
// audio frame of each other (a break that every stream shares, a dropout or a jump of the clock,
// may move them all alike); the decoder model kept (the tests' checker), gaps aside that the
// recording itself has; a clean decode by ffmpeg; gstreamer's program stream demuxer reading every
// stream without a complaint; and dvdauthor taking it when the recording fits DVD-Video. A
// transport stream is held to the tests' checker of its own kind, the bytes, the times and the decode.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/media/RecordingWriter.h"

namespace output_check {

struct Expectation {
    const test_recordings::RecordingOptions* options;   // the events, and the first time they count from
    const test_recordings::WrittenRecording* written;
    bool dvd = false; // within DVD-Video's limits: dvdauthor must take it
    bool captions = false; // caption user data was put into the video: the rest of it is the recording's
    bool transportStream = false; // an MPEG-2 transport stream (H.264 video), not a program stream
    // Starts within DVD-Video's limits and leaves them on the way (SD then HD, AC-3 2.0 then 5.1):
    // dvdauthor must take its part up to the first program end code.
    bool dvdFirstPart = false;
};

// One line per fault found, each naming its check and what it measured; empty when the output holds.
std::vector<std::string> CheckOutput(const std::string& output, const Expectation& expected);
// CheckOutput as an assertion, each fault a line of its failure.
::testing::AssertionResult Holds(const std::string& output, const Expectation& expected);

} // namespace output_check
