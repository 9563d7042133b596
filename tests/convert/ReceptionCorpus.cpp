#include "tests/convert/ReceptionCorpus.h"

#include <algorithm>
#include <cstdio>

#include "tests/media/FieldPictureWriter.h"
#include "tests/support/TestSupport.h"

namespace reception_corpus {
namespace {

using test_recordings::EventKind;
using test_recordings::FieldCoding;
using test_recordings::ReceptionEvent;

const char* const VideoNames[] = {"SD", "SD B-frames", "1080i field pictures", "1080 soft telecine 29.97",
                                  "720p film 59.94", "1080p film 29.97", "SD then 1080i 15 Mb/s",
                                  "H.264 SD B-frames", "H.264 1080i", "SD 4:3 then 16:9"};
const char* const AudioNames[] = {"MP2", "AC-3", "AC-3 2.0 then 5.1"};
static_assert(sizeof(VideoNames) / sizeof(VideoNames[0]) == static_cast<size_t>(Video::Count), "a name for each kind");
static_assert(sizeof(AudioNames) / sizeof(AudioNames[0]) == static_cast<size_t>(Audio::Count), "a name for each kind");

std::string Seconds(int64_t time)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f s", static_cast<double>(time) / Second);
    return text;
}

std::string StreamName(int stream)
{
    return stream == test_recordings::EveryStream ? "every stream"
           : stream == test_recordings::VideoStream ? "video"
                                                   : "audio " + std::to_string(stream);
}

// The generated codings: about ten seconds at a broadcaster's rate.
const struct {
    Video video;
    FieldCoding coding;
    unsigned frames;
} Generated[] = {{Video::FieldPictures, FieldCoding::FieldPictures, 300},
                 {Video::Pulldown, FieldCoding::Pulldown, 240},
                 {Video::Film720p, FieldCoding::Film720p, 240},
                 {Video::Film1080p, FieldCoding::Film1080p, 240}};

std::string VideoPath(Video video, const std::string& directory)
{
    for (const auto& generated : Generated) {
        if (generated.video != video)
            continue;
        const std::string path = directory + "generated-" + std::to_string(static_cast<int>(video)) + ".m2v";
        if (!testing_support::FileExists(path)) {
            test_recordings::FieldPictureOptions options;
            options.coding = generated.coding;
            options.frames = generated.frames;
            options.frameBytes = 40000;
            testing_support::WriteFileBytes(path, test_recordings::MakeFieldPictureStream(options));
        }
        return path;
    }
    using testing_support::VectorPath;
    return video == Video::Sd               ? VectorPath("corpus\\sd.m2v")
           : video == Video::SdThenHd       ? VectorPath("corpus\\sd-bframes.m2v") + "|" + VectorPath("corpus\\switch-hd.m2v")
           : video == Video::SdThenWide     ? VectorPath("corpus\\sd-bframes.m2v") + "|" + VectorPath("corpus\\switch-wide.m2v")
           : video == Video::H264Sd         ? VectorPath("corpus\\sd.h264")
           : video == Video::H264Interlaced ? VectorPath("corpus\\hd-1080i.h264")
                                            : VectorPath("corpus\\sd-bframes.m2v");
}

std::string AudioPath(Audio audio, Video video)
{
    using testing_support::VectorPath;
    const std::string seconds = video == Video::SdThenHd || video == Video::SdThenWide ? "15" : "10";
    return audio == Audio::Mp2   ? VectorPath("corpus\\audio-" + seconds + ".mp2")
           : audio == Audio::Ac3 ? VectorPath("corpus\\audio-" + seconds + ".ac3")
                                 : VectorPath("corpus\\switch-2.0.ac3") + "|" + VectorPath("corpus\\switch-5.1.ac3");
}

template <typename T>
T Pick(std::mt19937& random, std::initializer_list<T> choices)
{
    return *(choices.begin() + std::uniform_int_distribution<size_t>(0, choices.size() - 1)(random));
}

// 100 ns, in whole milliseconds between the bounds.
int64_t Between(std::mt19937& random, int64_t low, int64_t high)
{
    return std::uniform_int_distribution<int64_t>(low / 10000, high / 10000)(random) * 10000;
}

} // namespace

std::string Describe(const Combination& c)
{
    std::string text = VideoNames[static_cast<int>(c.video)];
    for (size_t nth = 0; nth < c.audio.size(); ++nth)
        text += std::string(nth ? " + " : ", ") + AudioNames[static_cast<int>(c.audio[nth])];
    if (c.captions)
        text += ", captions";
    if (c.audioDelay)
        text += ", audio " + std::string(c.audioDelay < 0 ? "leads " : "trails ") + Seconds(std::llabs(c.audioDelay));
    for (const ReceptionEvent& e : c.events) {
        text += "; at " + Seconds(e.at) + " ";
        switch (e.kind) {
        case EventKind::Dropout:
            text += StreamName(e.stream) + " drops out for " + Seconds(e.length);
            break;
        case EventKind::FalseTime:
            text += StreamName(e.stream) + ": " + std::to_string(e.count) + (e.count == 1 ? " time " : " times ") +
                    (e.shift < 0 ? "-" : "+") + Seconds(std::llabs(e.shift)) + " false";
            break;
        case EventKind::Jump:
            text += "every stream's clock jumps " + std::string(e.shift < 0 ? "back " : "forward ") +
                    Seconds(std::llabs(e.shift));
            break;
        }
    }
    return text;
}

bool FitsDvd(const Combination& c)
{
    // A DVD title keeps its audio's channels from start to end.
    return (c.video == Video::Sd || c.video == Video::SdBFrames) &&
           std::find(c.audio.begin(), c.audio.end(), Audio::Ac3Switch) == c.audio.end();
}

bool StartsDvd(const Combination& c)
{
    return !FitsDvd(c) && (c.video == Video::Sd || c.video == Video::SdBFrames || c.video == Video::SdThenHd ||
                           c.video == Video::SdThenWide);
}

Combination Draw(std::mt19937& random)
{
    Combination c;
    c.video = static_cast<Video>(std::uniform_int_distribution<int>(0, static_cast<int>(Video::Count) - 1)(random));
    const int audioStreams = std::uniform_int_distribution<int>(1, 4)(random);
    for (int nth = 0; nth < audioStreams; ++nth)
        c.audio.push_back(static_cast<Audio>(std::uniform_int_distribution<int>(0, static_cast<int>(Audio::Count) - 1)(random)));
    if (random() % 2)
        c.audioDelay = Between(random, -2 * Second, 2 * Second);
    const int events = std::uniform_int_distribution<int>(0, 2)(random);
    for (int n = 0; n < events; ++n) {
        ReceptionEvent e{Pick(random, {EventKind::Dropout, EventKind::FalseTime, EventKind::Jump}), test_recordings::EveryStream,
                         Between(random, 2 * Second, 7 * Second)};
        // Any stream: every one, the video, or one of the audio streams.
        e.stream = std::uniform_int_distribution<int>(test_recordings::EveryStream, audioStreams)(random);
        if (e.kind == EventKind::Dropout)
            e.length = random() % 2 ? Pick(random, {8 * Second / 10, 12 * Second / 10, 2 * Second, 3 * Second})
                                    : Between(random, Second / 5, 3 * Second);
        // The sign drawn before the size, in a fixed order, so that a seed gives the same draw again.
        if (e.kind == EventKind::FalseTime) {
            e.stream = std::max(e.stream, test_recordings::VideoStream);
            e.count = random() % 2 ? 1 : std::uniform_int_distribution<unsigned>(2, 8)(random);
            const int64_t sign = random() % 2 ? 1 : -1;
            e.shift = sign * Between(random, Second / 5, 5 * Second);
        }
        if (e.kind == EventKind::Jump) {
            const int64_t sign = random() % 2 ? 1 : -1;
            e.shift = sign * Between(random, Second / 2, 30 * Second);
        }
        c.events.push_back(e);
    }
    c.captions = random() % 2;
    c.name = Describe(c);
    return c;
}

bool MakeRecording(const Combination& c, const std::string& directory, const std::string& path,
                   test_recordings::RecordingOptions& options, test_recordings::WrittenRecording& written, std::string& error)
{
    options = test_recordings::RecordingOptions();
    options.videoPath = VideoPath(c.video, directory);
    options.audioPath = AudioPath(c.audio.at(0), c.video);
    for (size_t nth = 1; nth < c.audio.size(); ++nth)
        options.moreAudio.push_back(AudioPath(c.audio[nth], c.video));
    options.firstTime = FirstTime;
    options.audioDelay = c.audioDelay;
    options.events = c.events;
    options.captions = c.captions;
    return test_recordings::WriteRecording(path, options, written, error);
}

} // namespace reception_corpus
