#pragma once
// The reception corpus: recordings with what weak reception and real schedules put into them,
// each a combination of a kind of video, one to several audio streams, how far the audio is from
// the video, and reception events; made by the test-side recording writer from the test vectors.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/media/RecordingWriter.h"

namespace reception_corpus {

enum class Video {
    Sd,            // 720x576 at 25, DVD-compliant, no B-frames (10 s)
    SdBFrames,     // the same with B-frames
    FieldPictures, // 1080i at 29.97, each frame two field pictures (10 s)
    Pulldown,      // 1080 film at 29.97 with 3:2 pulldown flags (soft telecine)
    Film720p,      // progressive 720p at 59.94, film pictures repeated 3 then 2 frames
    Film1080p,     // progressive 1080p at 29.97, film pictures repeated 2, 1, 1, 1 frames
    SdThenHd,      // the SD with B-frames for 10 s, then 1080i at 15 Mb/s for 5 s, in one stream
    H264Sd,        // H.264 720x576 at 25 with B-frames (x264), into a transport stream (10 s)
    H264Interlaced, // H.264 1080i at 29.97 (x264's interlaced coding), into a transport stream
    SdThenWide,    // the SD with B-frames for 10 s, then SD at 16:9 for 5 s: a DVD title's shape changes
    Count
};

enum class Audio {
    Mp2,       // MPEG-1 layer II, 48 kHz stereo 192k, as long as the video
    Ac3,       // AC-3 48 kHz stereo 192k, as long as the video
    Ac3Switch, // AC-3 2.0 192k for 5 s, then 5.1 448k for 5 s, in one stream
    Count
};

struct Combination {
    std::string name; // the fixed table's; a sampled one is named by Describe
    Video video;
    std::vector<Audio> audio;
    int64_t audioDelay = 0; // 100 ns, the audio's first time after the video's: negative when it leads
    std::vector<test_recordings::ReceptionEvent> events = {};
    bool captions = false; // a line-21 caption stream beside the video, which only clock jumps touch
};

constexpr int64_t Second = 10000000; // 100 ns
// Where recordings' times start: a broadcast's clock is not at 0, and a jump back must not pass it.
constexpr int64_t FirstTime = 60 * Second;

// H.264 video goes into a transport stream, which a program stream cannot carry.
inline bool IsH264(Video video) { return video == Video::H264Sd || video == Video::H264Interlaced; }

// What the combination is, in words: its kinds of stream, then each event.
std::string Describe(const Combination& combination);
// Within DVD-Video's limits as one title, so dvdauthor must take the output.
bool FitsDvd(const Combination& combination);
// Within them at the start only (SD then HD, AC-3 2.0 then 5.1): its DVD-ready part is a title.
bool StartsDvd(const Combination& combination);
// A combination drawn at random from every kind and event.
Combination Draw(std::mt19937& random);

// Writes the combination's recording to `path`; generated video streams are kept in `directory`.
bool MakeRecording(const Combination& combination, const std::string& directory, const std::string& path,
                   test_recordings::RecordingOptions& options, test_recordings::WrittenRecording& written, std::string& error);

} // namespace reception_corpus
