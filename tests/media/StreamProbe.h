#pragma once
// An elementary stream file as ffprobe sees it: its frames in file order, where each begins and when
// it is shown, and the stream's format. The test-side recording writer and the tests that compare
// with it take frames from here, not from Halvern's own parsers, so a parser fault cannot skew both.

#include <cstdint>
#include <string>
#include <vector>

namespace test_recordings {

struct ProbedFrame {
    std::string bytes;  // video: a coded frame with the sequence and GOP headers before it
    int64_t time;       // display time from the first frame shown, 100 ns
    unsigned type;      // video: 1 I, 2 P, 3 B; audio: 0
};

struct ProbedStream {
    std::string codec;  // ffprobe's codec name: mpeg2video, mp2, ac3
    std::vector<ProbedFrame> frames;
    int64_t framePeriod = 0; // video: a frame of two fields; audio: one frame; 100 ns
    unsigned channels = 0, sampleRate = 0, bitRate = 0;
};

// Runs /usr/bin/ffprobe on the file (a Windows path) through RunLinuxTool; the answer for a file is
// kept for the life of the process, as test programs write recordings of the same streams often.
// Paths joined by '|' are parts of one stream, one after the other (a change of format): their
// frames in turn, each part's times after the end of the one before, the format of the first.
// (The decoder cannot be asked for the joined file: it drops the picture it holds back at a switch.)
bool ProbeStream(const std::string& path, ProbedStream& stream, std::string& error);

// The frames of an elementary stream file, in file order, and their display times.
bool SplitFrames(const std::string& path, std::vector<std::string>& frames, std::vector<int64_t>* times = nullptr);

} // namespace test_recordings
