// Line-21 captions of a recording (DVR-MS or WTV) converted through the engine and the shipped graph,
// into the output's video (A/53, or the DVD layout) and beside it as SubRip.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert/ConversionEngine.h"
#include "tests/convert/ReportObserver.h"
#include "tests/convert/OutputCheck.h"
#include "tests/convert/ReceptionCorpus.h"
#include "tests/media/CaptionWriter.h"
#include "tests/media/WtvEdits.h"
#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TransportStreamCheck.h"

using namespace testing_support;
using test_captions::Caption;
using test_captions::Style;

namespace {

struct Cue {
    std::string text;
    long start, end; // ms
};

// A SubRip file's cues, their text without ffmpeg's styling, each row trimmed.
std::vector<Cue> ReadSubRip(const std::string& text)
{
    std::vector<Cue> cues;
    std::istringstream lines(text);
    std::string line;
    const auto trim = [](std::string s) {
        for (const char* tag : {"<font face=\"Monospace\">", "</font>", "{\\an7}", "\r"})
            for (size_t at = s.find(tag); at != std::string::npos; at = s.find(tag))
                s.erase(at, std::string(tag).size());
        const size_t first = s.find_first_not_of(' '), last = s.find_last_not_of(' ');
        return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
    };
    while (std::getline(lines, line)) {
        int h1, m1, s1, f1, h2, m2, s2, f2;
        if (std::sscanf(line.c_str(), "%d:%d:%d,%d --> %d:%d:%d,%d", &h1, &m1, &s1, &f1, &h2, &m2, &s2, &f2) != 8)
            continue;
        Cue cue{"", ((h1 * 60L + m1) * 60 + s1) * 1000 + f1, ((h2 * 60L + m2) * 60 + s2) * 1000 + f2};
        while (std::getline(lines, line) && !trim(line).empty())
            cue.text += (cue.text.empty() ? "" : "\n") + trim(line);
        cues.push_back(cue);
    }
    return cues;
}

std::string Show(const std::vector<Cue>& cues)
{
    std::string text;
    for (const Cue& cue : cues)
        text += "\n  " + std::to_string(cue.start) + "-" + std::to_string(cue.end) + " [" + cue.text + "]";
    return text;
}

// The recordings' captions: pop-on with the standard, special and extended characters, then two
// roll-up lines and an erase; each change a group of pictures or more after the last, as the DVD
// layout times a group's pairs together.
const std::vector<Caption> ScriptedCaptions = {{Style::PopOn, "Caption one \xC3\xA9\xC3\xB1 \xE2\x99\xAA \xC2\xA1Si!", 30, 60},
                                        {Style::RollUp, "ROLL ONE", 76, 100},
                                        {Style::RollUp, "ROLL TWO", 116, 140}};
constexpr int ErasedAt = 160;

class CaptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(VectorPath("es\\video.m2v").empty()) << "run under CTest, whose fixture makes the vectors";
        directory_ = MakeScratchDirectory("captions");
        graphs_.ProgramDirectory = Wide(ModuleDirectory());
        engine_ = std::make_unique<CConversionEngine>(graphs_, observer_);
    }

    // The recording of `video` (and the corpus's sound for it) with `samples` as its caption stream
    // (none without samples), moved by `shift` (100 ns) against the pictures.
    ::testing::AssertionResult Write(reception_corpus::Video video, const std::vector<std::string>& samples,
                                     const std::vector<test_recordings::ReceptionEvent>& events = {}, int64_t shift = 0)
    {
        std::string error;
        const reception_corpus::Combination c{"", video, {reception_corpus::Audio::Mp2}, 0, events};
        if (!reception_corpus::MakeRecording(c, directory_, input_, options_, written_, error))
            return ::testing::AssertionFailure() << error;
        options_.captions = !samples.empty();
        options_.captionPairs = samples;
        options_.captionShift = shift;
        if (!test_recordings::WriteRecording(input_, options_, written_, error))
            return ::testing::AssertionFailure() << error;
        dvd_ = reception_corpus::FitsDvd(c);
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Convert(const std::string& output, const std::wstring& graph = L"Built-in DVR-MS to MPEG.xgr")
    {
        ::DeleteFileW(Wide(output).c_str());
        ::DeleteFileW(Wide(Srt(output)).c_str());
        const ConversionResult result =
            engine_->ConvertFile(ConversionRequest{Wide(input_), Wide(output), graph, Wide(directory_), Wide(Srt(output))});
        if (result != ConversionResult::Converted)
            return ::testing::AssertionFailure() << "the conversion failed: " << observer_.report;
        return ::testing::AssertionSuccess();
    }

    // The same recording's video and sound as ffmpeg writes them to WTV (25 pictures a second; the
    // video coded by `videoCoding`'s ffmpeg options), with `samples` as a digital caption stream;
    // `shown` gets its pictures' times in display order. ffmpeg's made-up times show the first
    // picture a frame in: the sound starts with it, as it does in the DVR-MS recording the output
    // is checked against.
    ::testing::AssertionResult WriteWtv(const std::vector<std::string>& samples, std::vector<int64_t>& shown,
                                        const std::string& videoCoding = "-c:v copy")
    {
        const std::string wtv = directory_ + "Show.wtv";
        ToolOutput run;
        ::DeleteFileW(Wide(wtv).c_str());
        if (!RunLinuxTool("/usr/bin/ffmpeg -nostdin -v error -y -fflags +genpts -r 25 -i " + UnixPath(options_.videoPath) +
                              " -itsoffset 0.04 -i " + UnixPath(options_.audioPath) + " -map 0:v -map 1:a -c:a copy " +
                              videoCoding + " -f wtv " + UnixPath(wtv),
                          run))
            return ::testing::AssertionFailure() << "ffmpeg did not run";
        std::string file = ReadFileBytes(wtv), error;
        if (!test_wtv::AddCaptions(file, samples, shown, error))
            return ::testing::AssertionFailure() << error << run.err;
        WriteFileBytes(wtv, file);
        input_ = wtv;
        return ::testing::AssertionSuccess();
    }

    static std::string Srt(const std::string& output) { return output.substr(0, output.rfind('.')) + ".srt"; }

    // ffmpeg's decode of the output's captions.
    std::vector<Cue> FfmpegCues(const std::string& output)
    {
        const std::string srt = directory_ + "ffmpeg.srt";
        ToolOutput run;
        ::DeleteFileW(Wide(srt).c_str());
        // In a script: the filter's brackets do not survive Wine's command line to the shell. The
        // drive's colon in the path is escaped for the filter graph and for the filter's options.
        std::string movie = UnixPath(output);
        for (size_t at = movie.find(':'); at != std::string::npos; at = movie.find(':', at + 3))
            movie.replace(at, 1, "\\\\:");
        const std::string script = directory_ + "subcc.sh";
        WriteFileBytes(script, "/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i 'movie=" + movie + "[out0+subcc]' -map 0:1 '" +
                                   UnixPath(srt) + "'\n");
        EXPECT_TRUE(RunLinuxTool("/bin/sh " + UnixPath(script), run));
        EXPECT_TRUE(FileExists(srt)) << run.out << run.err;
        return ReadSubRip(ReadFileBytes(srt));
    }

    std::string directory_;
    std::string input_ = MakeScratchDirectory("captions-input") + "Show.dvr-ms";
    ScopedComInit com_;
    GraphSource graphs_;
    ReportObserver observer_;
    std::unique_ptr<CConversionEngine> engine_;
    test_recordings::RecordingOptions options_;
    test_recordings::WrittenRecording written_;
    bool dvd_ = false;
};

// The caption stream of ScriptedCaptions for a recording of `frames` frames.
std::vector<std::string> CaptionSamples(int frames)
{
    std::vector<std::string> samples;
    std::string error;
    EXPECT_TRUE(test_captions::EncodeCaptions(ScriptedCaptions, frames, samples, error)) << error;
    samples[ErasedAt] = samples[ErasedAt + 1] = test_captions::ErasePair();
    return samples;
}

// Each cue's text exactly, its times within `slack` ms: a pop-on cue's start and end, a roll-up
// window's end (decoders start a window at different moments).
::testing::AssertionResult SameCues(const std::vector<Cue>& expected, const std::vector<Cue>& actual, const std::vector<bool>& popOn,
                                    long slack)
{
    bool same = expected.size() == actual.size();
    for (size_t i = 0; same && i < expected.size(); ++i)
        same = expected[i].text == actual[i].text && std::labs(expected[i].end - actual[i].end) <= slack &&
               (!popOn[i] || std::labs(expected[i].start - actual[i].start) <= slack);
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected" << Show(expected) << "\nfound" << Show(actual);
}

} // namespace

// ffmpeg decodes the text written, each cue within a frame (a group of pictures in the DVD layout)
// of its time on the output's time line, where a jump is closed; Halvern's SubRip file says the same.
TEST_F(CaptionTest, CaptionsGoIntoTheVideoAndBesideItForEveryKindOfPicture)
{
    struct Row {
        reception_corpus::Video video;
        int frames;
        long slack; // ms
        bool wtv;   // the same video and sound in WTV, its captions the digital caption type
        int64_t jump; // 100 ns: every stream's clock jumps by this much 2 s in, within the first caption
    };
    constexpr int64_t second = reception_corpus::Second;
    const Row rows[] = {{reception_corpus::Video::SdBFrames, 250, 12 * 40 + 1, false, 0},
                        {reception_corpus::Video::Pulldown, 200, 35, false, 0},
                        {reception_corpus::Video::FieldPictures, 300, 35, false, 0},
                        {reception_corpus::Video::SdBFrames, 250, 12 * 40 + 1, true, 0},
                        {reception_corpus::Video::SdBFrames, 250, 12 * 40 + 1, false, 20 * second},
                        {reception_corpus::Video::FieldPictures, 300, 35, false, -20 * second}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(row.video)) + (row.wtv ? " (WTV)" : "") + " jump " + std::to_string(row.jump));
        std::vector<test_recordings::ReceptionEvent> events;
        if (row.jump != 0)
            events.push_back({test_recordings::EventKind::Jump, test_recordings::EveryStream, 2 * second, 0, row.jump});
        ASSERT_TRUE(Write(row.video, CaptionSamples(row.frames), events));
        std::vector<int64_t> shown;
        if (row.wtv) {
            ASSERT_TRUE(WriteWtv(CaptionSamples(row.frames), shown));
        }
        const std::string output = directory_ + "Show.MPG";
        ASSERT_TRUE(Convert(output));
        EXPECT_TRUE(output_check::Holds(output, {&options_, &written_, dvd_, true}));

        // Each pair is sent with a picture's time, in display order; times count from the first,
        // and run on over a jump.
        std::vector<long> ms;
        for (const test_recordings::WrittenObject& object : written_.objects)
            if (object.kind == test_recordings::Kind::Captions && !row.wtv)
                ms.push_back(static_cast<long>((object.time - options_.firstTime) / 10000));
        for (const int64_t time : shown)
            ms.push_back(static_cast<long>((time - shown.front()) / 10000));
        ASSERT_GT(ms.size(), static_cast<size_t>(ErasedAt + 1));
        std::vector<Cue> expected;
        std::vector<bool> popOn;
        for (const test_captions::Cue& cue : test_captions::ExpectedCues(ScriptedCaptions, ErasedAt)) {
            expected.push_back({cue.text, ms[static_cast<size_t>(cue.start)], ms[static_cast<size_t>(cue.end)]});
            popOn.push_back(cue.popOn);
        }
        const std::vector<Cue> decoded = FfmpegCues(output), halvern = ReadSubRip(ReadFileBytes(Srt(output)));
        EXPECT_TRUE(SameCues(expected, decoded, popOn, row.slack)) << "ffmpeg";
        EXPECT_TRUE(SameCues(decoded, halvern, popOn, row.slack)) << "Halvern's SubRip against ffmpeg's";
        EXPECT_EQ(std::string::npos, observer_.report.find("could not be carried")) << observer_.report;
        ToolOutput probe;
        ASSERT_TRUE(RunLinuxTool("/usr/bin/ffprobe -hide_banner " + UnixPath(output) + " 2>&1", probe));
        EXPECT_NE(std::string::npos, probe.out.find("Closed Captions")) << probe.out;
        EXPECT_TRUE(VlcPlaysWithoutTimingWarnings(output));
    }
}

// Caption streams no recorder should send. The report tells of pairs that could not be carried, and only then.
TEST_F(CaptionTest, NoCaptionFaultCostsTheAudioOrTheVideo)
{
    const std::vector<std::string> good = CaptionSamples(250);
    std::vector<std::string> noise, early(good.begin(), good.begin() + 40), gaps = good, burst = good;
    uint32_t seed = 2026;
    for (int frame = 0; frame < 250; ++frame) {
        std::string bytes(1 + (seed >> 24) % 7, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>((seed = seed * 1664525 + 1013904223) >> 24);
        noise.push_back(bytes);
    }
    for (int frame = 20; frame < 250; frame += 25)
        std::fill(gaps.begin() + frame, gaps.begin() + std::min(frame + 12, 250), std::string());
    burst[10] = std::string(8000, '\x94');
    // Text, 120 pairs a frame in the last 20: more than the pictures left can carry.
    std::vector<std::string> crowded = good;
    for (int frame = 230; frame < 250; ++frame)
        for (int pair = 0; pair < 120; ++pair)
            crowded[static_cast<size_t>(frame)] += "\xC1\xC2";
    struct Row {
        const char* name;
        const std::vector<std::string>& samples;
        int64_t shift; // 100 ns
        int lost;      // the report tells of pairs that could not be carried: 1 must, 0 must not, -1 may
    };
    const Row rows[] = {{"noise", noise, 0, -1},
                        {"ends early", early, 0, 0},
                        {"gaps", gaps, 0, 0},
                        {"4000 pairs in one", burst, 0, -1},
                        {"2400 pairs in the last frames", crowded, 0, 1},
                        {"an hour late", good, 36000LL * 10000000, -1},
                        {"a minute early", good, -600000000LL, -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Write(reception_corpus::Video::SdBFrames, row.samples, {}, row.shift));
        const std::string output = directory_ + "Show.MPG";
        ASSERT_TRUE(Convert(output));
        EXPECT_TRUE(output_check::Holds(output, {&options_, &written_, dvd_, true}));
        if (row.lost >= 0) {
            EXPECT_EQ(row.lost == 1, observer_.report.find("caption pairs of the recording could not be carried") != std::string::npos)
                << observer_.report;
        }
    }
}

// Video with captions of its own (Halvern's output of the same recording) is kept as it is, and its
// captions still go to the SubRip file.
TEST_F(CaptionTest, UnconnectedCaptionsOrVideoWithItsOwnLeaveTheOutputAsItWas)
{
    // The shipped description, and one without its captions connection, in a directory of their own.
    const std::string programs = MakeScratchDirectory("captions-graphs");
    const std::string shipped = ReadFileBytes(ModuleDirectory() + "Built-in DVR-MS to MPEG.xgr");
    const size_t line = shipped.find("\t<connect direct=\"yes\" src=\"Halvern Recording Source\" srcpin=\"Captions\"");
    ASSERT_NE(std::string::npos, line);
    WriteFileBytes(programs + "Shipped.xgr", shipped);
    WriteFileBytes(programs + "No captions.xgr", shipped.substr(0, line) + shipped.substr(shipped.find('\n', line) + 1));
    graphs_.ProgramDirectory = Wide(programs);

    ASSERT_TRUE(Write(reception_corpus::Video::SdBFrames, {}));
    const std::string before = directory_ + "Before.MPG", unconnected = directory_ + "Unconnected.MPG";
    ASSERT_TRUE(Convert(before, L"Shipped.xgr"));
    EXPECT_FALSE(FileExists(Srt(before))) << "a recording without captions has no caption file";

    ASSERT_TRUE(Write(reception_corpus::Video::SdBFrames, CaptionSamples(250)));
    ASSERT_TRUE(Convert(unconnected, L"No captions.xgr"));
    EXPECT_TRUE(ReadFileBytes(before) == ReadFileBytes(unconnected));

    // The video with captions in it, as Halvern made it, recorded again beside the same captions.
    const std::string with = directory_ + "With.MPG", video = directory_ + "with-captions.m2v";
    ASSERT_TRUE(Convert(with, L"Shipped.xgr"));
    ToolOutput copy;
    ASSERT_TRUE(RunLinuxTool("/usr/bin/ffmpeg -nostdin -v error -y -i " + UnixPath(with) + " -map 0:v -c copy -f mpeg2video " +
                                 UnixPath(video),
                             copy));
    test_recordings::RecordingOptions own = options_;
    own.videoPath = video;
    std::string error;
    ASSERT_TRUE(test_recordings::WriteRecording(input_, own, written_, error)) << error;
    const std::string again = directory_ + "Again.MPG";
    ASSERT_TRUE(Convert(again, L"Shipped.xgr"));
    EXPECT_TRUE(output_check::Holds(again, {&own, &written_, dvd_, false}));
    EXPECT_EQ(ReadFileBytes(Srt(with)), ReadFileBytes(Srt(again)));
}

// H.264 (as HD channels send it, in WTV) takes the caption stream into SEI units of its own, each
// pair in the picture shown at its time, and is otherwise as it came. Recorded again with those
// captions in it, it passes unchanged, and its captions go to the SubRip file just the same.
TEST_F(CaptionTest, H264VideoTakesTheCaptionsIntoItsSeiAndGivesThemBack)
{
    struct Row {
        const char* name;
        const char* coding; // ffmpeg's options for the recording's video
    };
    const Row rows[] = {{"progressive", "-c:v libx264 -a53cc 0 -preset veryfast -g 12 -bf 2"},
                        {"interlaced", "-c:v libx264 -a53cc 0 -preset veryfast -g 15 -bf 3 -x264opts interlaced=1:tff=1"}};
    const std::wstring graph = L"Built-in recording to MPEG-TS.xgr";
    const std::string recording = input_;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        input_ = recording;
        ASSERT_TRUE(Write(reception_corpus::Video::SdBFrames, {}));
        std::vector<int64_t> shown;
        ASSERT_TRUE(WriteWtv(CaptionSamples(250), shown, row.coding));
        const std::string recorded = directory_ + "recorded.h264", output = directory_ + "Show.ts";
        ToolOutput run;
        ASSERT_TRUE(RunLinuxTool("/usr/bin/ffmpeg -nostdin -v error -y -i " + UnixPath(input_) + " -map 0:v -c copy -f h264 " +
                                     UnixPath(recorded),
                                 run));
        ASSERT_TRUE(Convert(output, graph));

        ASSERT_GT(shown.size(), static_cast<size_t>(ErasedAt + 1));
        std::vector<Cue> expected;
        std::vector<bool> popOn;
        for (const test_captions::Cue& cue : test_captions::ExpectedCues(ScriptedCaptions, ErasedAt)) {
            expected.push_back({cue.text, static_cast<long>((shown[static_cast<size_t>(cue.start)] - shown.front()) / 10000),
                                static_cast<long>((shown[static_cast<size_t>(cue.end)] - shown.front()) / 10000)});
            popOn.push_back(cue.popOn);
        }
        const std::vector<Cue> halvern = ReadSubRip(ReadFileBytes(Srt(output)));
        EXPECT_TRUE(SameCues(expected, FfmpegCues(output), popOn, 35)) << "ffmpeg";
        EXPECT_TRUE(SameCues(expected, halvern, popOn, 35)) << "Halvern's SubRip";
        const ts_check::Report report = ts_check::CheckTransportStream(ReadFileBytes(output));
        EXPECT_TRUE(report.Clean()) << report.Text();
        ASSERT_FALSE(report.streams.empty());
        const std::string video = report.streams[0].elementary;
        EXPECT_NE(video.size(), ps_check::WithoutCaptionUserData(video).size()) << "no captions went in";
        EXPECT_TRUE(ps_check::WithoutCaptionUserData(video) == ReadFileBytes(recorded)) << "the video changed besides its captions";

        // That output recorded again: its captions are in the video only.
        input_ = directory_ + "Again.wtv";
        ::DeleteFileW(Wide(input_).c_str());
        ASSERT_TRUE(RunLinuxTool("/usr/bin/ffmpeg -nostdin -v error -y -i " + UnixPath(output) + " -map 0 -c copy -f wtv " +
                                     UnixPath(input_),
                                 run));
        const std::string again = directory_ + "Again.ts";
        ASSERT_TRUE(Convert(again, graph));
        const ts_check::Report second = ts_check::CheckTransportStream(ReadFileBytes(again));
        ASSERT_FALSE(second.streams.empty());
        EXPECT_TRUE(second.streams[0].elementary == video) << "video with captions of its own changed";
        EXPECT_TRUE(SameCues(halvern, ReadSubRip(ReadFileBytes(Srt(again))), popOn, 1)) << "the SubRip of the captions in the video";
    }
}
