// The real Halvern.exe converting good and damaged recordings with its own filters and the shipped
// graph description, worked from outside as a user would; each output checked by ffprobe and ffmpeg.

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tests/blackbox/HalvernDriver.h"
#include "tests/media/RecordingWriter.h"
#include "tray/SystemTray.h"

using namespace testing_support;
using namespace blackbox;

namespace endtoend {
namespace {

constexpr char kShippedGraph[] = "Built-in DVR-MS to MPEG.xgr";
constexpr DWORD kConversionMs = 120000;
constexpr double kVideoFrame = 0.040; // the vectors run at 25 frames a second

// What ffprobe and ffmpeg say of a stream.
struct StreamFacts {
    std::string codec;          // empty when the file has no such stream
    double first = 1e9;         // earliest presentation time (seconds)
    double end = 0;             // latest presentation time + that packet's duration
    size_t packets = 0;
    std::string digest;         // MD5 of the elementary stream, copied out by ffmpeg
};

struct MediaFacts {
    std::string format;
    StreamFacts video, audio;
};

// Runs the command; false when it wrote nothing. What it complains of is added to `error`.
bool Run(const std::string& command, std::string& out, std::string& error)
{
    ToolOutput output;
    if (!RunLinuxTool(command, output))
        error += "could not run: " + command;
    out = output.out;
    error += output.err;
    return !out.empty();
}

// Single quotes for the shell RunLinuxTool runs the command in; paths hold no quote.
std::string Quoted(const std::string& windowsPath) { return "'" + UnixPath(windowsPath) + "'"; }

// MD5 of what the command writes, as md5sum prints it.
std::string Digest(const std::string& command, std::string& error)
{
    std::string out;
    Run(command + " | /usr/bin/md5sum", out, error);
    return out.substr(0, out.find(' '));
}

// ffprobe's stream and packet lines (codec; times, durations) of the first stream of the kind (v or a), and ffmpeg's copy.
void ReadStream(const std::string& file, const char* kind, StreamFacts& stream, std::string& error)
{
    std::string out;
    Run(std::string("/usr/bin/ffprobe -v error -select_streams ") + kind + ":0 -show_entries "
        "stream=codec_name:packet=pts_time,duration_time -of csv " + file, out, error);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ',');)
            fields.push_back(field);
        if (fields.size() > 1 && fields[0] == "stream")
            stream.codec = fields[1];
        if (fields.size() < 3 || fields[0] != "packet" || !++stream.packets || fields[1] == "N/A")
            continue;
        const double start = std::atof(fields[1].c_str());
        stream.first = std::min(stream.first, start);
        stream.end = std::max(stream.end, start + (fields[2] == "N/A" ? 0.0 : std::atof(fields[2].c_str())));
    }
    const std::string format = kind[0] == 'v' ? "mpeg2video" : stream.codec == "ac3" ? "ac3" : "mp2";
    if (!stream.codec.empty())
        stream.digest = Digest("/usr/bin/ffmpeg -v error -i " + file + " -map 0:" + kind + ":0 -c copy -f " + format + " -", error);
}

// What ffprobe and ffmpeg say of a media file; false (with a reason) when they read nothing.
bool ReadMediaFacts(const std::string& windowsPath, MediaFacts& facts, std::string& error)
{
    const std::string file = Quoted(windowsPath);
    std::string format;
    if (!Run("/usr/bin/ffprobe -v error -show_entries format=format_name -of csv=p=0 " + file, format, error))
        return false;
    facts.format = format.substr(0, format.find_first_of("\r\n"));
    ReadStream(file, "v", facts.video, error);
    ReadStream(file, "a", facts.audio, error);
    return true;
}

// ASF vectors, and two written as Media Centre writes them (none named): captions, B-frames (times
// out of decode order) and AC-3 that starts 200 ms after the video, in one or two audio streams (the
// output keeps the first).
const struct { const char* name; const char* vector; unsigned audioStreams; } kGoodRecordings[] = {
    {"Plain MP2", "plain-mp2.asf", 1}, {"Plain AC3", "plain-ac3.asf", 1}, {"Media Centre", nullptr, 1},
    {"Two Languages", nullptr, 2}};
constexpr int64_t kMediaCentreAudioDelay = 2000000;

// Makes the recording and tells what its conversion must hold: codecs, digests, frames, first times.
::testing::AssertionResult MakeRecording(const char* vectorName, unsigned audioStreams, const std::string& path,
                                         MediaFacts& expected)
{
    std::string error;
    if (vectorName) {
        if (!::CopyFileA(VectorPath(vectorName).c_str(), path.c_str(), FALSE))
            return ::testing::AssertionFailure() << "copying " << vectorName;
        return ReadMediaFacts(path, expected, error) ? ::testing::AssertionSuccess()
                                                     : ::testing::AssertionFailure() << "ffprobe of the recording: " << error;
    }
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video-bframes.m2v");
    options.audioPath = VectorPath("es\\audio.ac3");
    options.captions = true;
    options.audioStreams = audioStreams;
    options.audioDelay = kMediaCentreAudioDelay;
    test_recordings::WrittenRecording written;
    if (!test_recordings::WriteRecording(path, options, written, error))
        return ::testing::AssertionFailure() << "writing the recording: " << error;
    std::vector<std::string> frames;
    test_recordings::SplitVideo(ReadFileBytes(options.videoPath), frames);
    expected.video = {"mpeg2video", 0.0, 0.0, frames.size(), Digest("/bin/cat " + Quoted(options.videoPath), error)};
    expected.audio = {"ac3", kMediaCentreAudioDelay / 1e7, 0.0, 0, Digest("/bin/cat " + Quoted(options.audioPath), error)};
    return ::testing::AssertionSuccess();
}

// ffprobe reads the output as an MPEG program stream with both streams, byte for byte the
// recording's, as long as the recording and with the same distance between audio and video.
::testing::AssertionResult IsConversionOf(const std::string& output, const MediaFacts& expected)
{
    MediaFacts facts;
    std::string error;
    if (!ReadMediaFacts(output, facts, error))
        return ::testing::AssertionFailure() << output << ": " << error;
    if (facts.format != "mpeg" || facts.video.codec != "mpeg2video" || facts.audio.codec != expected.audio.codec)
        return ::testing::AssertionFailure() << output << " is " << facts.format << " with '" << facts.video.codec
                                             << "' and '" << facts.audio.codec << "'";
    if (facts.video.digest != expected.video.digest || facts.audio.digest != expected.audio.digest)
        return ::testing::AssertionFailure() << output << ": the elementary streams differ from the recording's";
    if (!error.empty())
        return ::testing::AssertionFailure() << "ffmpeg complained about " << output << ": " << error;
    const double videoSpan = facts.video.end - facts.video.first;
    const double recorded = static_cast<double>(expected.video.packets) * kVideoFrame;
    if (std::fabs(videoSpan - recorded) > kVideoFrame)
        return ::testing::AssertionFailure() << output << " lasts " << videoSpan << " s, the recording " << recorded;
    const double lead = facts.audio.first - facts.video.first, recordedLead = expected.audio.first - expected.video.first;
    if (std::fabs(lead - recordedLead) > 0.0015)
        return ::testing::AssertionFailure() << output << ": audio leads by " << lead << " s, in the recording by " << recordedLead;
    return ::testing::AssertionSuccess();
}

[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

class BuiltInConversion : public BlackBoxTest {
protected:
    // Halvern with the shipped graph, the Auto Converter started and its report redirected.
    void StartAutoConverter(StoredSettings settings)
    {
        settings.AutoStartConvert = 1;
        StoreSettings(settings);
        SetRegistryString(kSettingsKey, "UseFilterGraph", kShippedGraph);
        ASSERT_TRUE(halvern.Start(StdoutPath()));
    }
};

// Started hidden, the Auto Converter reports on standard output as it goes, converts each kind of
// recording dropped into its directory and deletes each only after its output.
TEST_F(BuiltInConversion, HiddenAutoConverterConvertsEachDroppedKindAndReportsIt)
{
    StoredSettings settings = Defaults();
    settings.HideOnStartup = 1;
    settings.DeleteSourceFile = 1;
    ASSERT_NO_FATAL_FAILURE(StartAutoConverter(settings));
    HWND window = halvern.Window();
    // The worker announces itself, looks at the empty directory and waits.
    ASSERT_TRUE(WaitUntil([&] { return ContainsInOrder(halvern.Output(), {kBanner, kWaiting}); }, kPromptMs))
        << "standard output so far:\n" << halvern.Output();
    EXPECT_EQ(std::string(kBanner) + kWaiting, halvern.Output().substr(halvern.Output().find(kBanner)))
        << "the banner and the first line run together";
    EXPECT_FALSE(::IsWindowVisible(window));

    const std::string made = MakeScratchDirectory("endtoend-made");
    size_t done = 0;
    for (const auto& recording : kGoodRecordings) {
        SCOPED_TRACE(recording.name);
        MediaFacts expected;
        const std::string path = input + recording.name + ".dvr-ms";
        ASSERT_TRUE(MakeRecording(recording.vector, recording.audioStreams, made + recording.name, expected));
        DropRecording(path, made + recording.name);
        ASSERT_TRUE(WaitForOutput(output + recording.name + ".MPG", kConversionMs, path));
        EXPECT_TRUE(IsConversionOf(output + recording.name + ".MPG", expected));
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(path); }, kPromptMs)) << "DeleteSourceFile removes it";
        // Each line is out while Halvern still runs, not only when it ends.
        ++done;
        EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == done && CountOf(halvern.Output(), kWaiting) == done + 1; },
                              kPromptMs))
            << halvern.Output();
    }
    EXPECT_TRUE(ContainsInOrder(halvern.Output(),
                                {kBanner, kWaiting, kDone, kWaiting, kDone, kWaiting, kDone, kWaiting, kDone, kWaiting}));
    EXPECT_FALSE(halvern.Process().WaitForExit(0)) << "Halvern still runs";
    EXPECT_EQ(1u, CountOf(halvern.Output(), kBanner)) << "one worker all along";

    // Through all of it the window stayed in the tray, the lock held; the icon's double-click brings it up.
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(FileExists(LockFilePath()));
    ::SendMessageTimeoutA(window, WM_TRAY_CALLBACK, 128, WM_LBUTTONDBLCLK, SMTO_NORMAL, kPromptMs, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(window) && !::IsIconic(window); }, kPromptMs));
    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
    EXPECT_TRUE(FileExists(output + "Plain MP2.MPG")) << "outputs are never deleted";
}

// Recordings refused at once or failing in the middle end as failures, stay, and leave nothing to
// take for a finished conversion. A recorder stopped mid-packet leaves a header that promises more
// than the file holds: everything before the cut converts. (The source's tests meet every damage.)
TEST_F(BuiltInConversion, BadRecordingsFailAndLeaveNoOutputWhileOneCutShortConvertsWhatItHolds)
{
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    test_recordings::WrittenRecording written, whole;
    std::string error;
    options.protection = test_recordings::Protection::EncryptionObject;
    ASSERT_TRUE(test_recordings::WriteRecording(input + "Protected.dvr-ms", options, written, error)) << error;
    options.protection = test_recordings::Protection::None;
    options.garbageEvery = 2;
    ASSERT_TRUE(test_recordings::WriteRecording(input + "Mostly Garbage.dvr-ms", options, written, error)) << error;
    options.garbageEvery = 0;
    ASSERT_TRUE(test_recordings::WriteRecording(MakeScratchDirectory("endtoend-whole") + "whole", options, whole, error));
    const unsigned cutPacket = whole.packetCount * 2 / 3;
    options.cutAt = whole.dataOffset + whole.packetSize * cutPacket + whole.packetSize / 2;
    ASSERT_TRUE(test_recordings::WriteRecording(input + "Cut.dvr-ms", options, written, error)) << error;

    StoredSettings settings = Defaults();
    settings.DeleteSourceFile = 1;
    ASSERT_NO_FATAL_FAILURE(StartAutoConverter(settings));
    ASSERT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) + CountOf(halvern.Output(), kFailed) == 3; },
                          kConversionMs)) << halvern.Output();
    EXPECT_EQ(2u, CountOf(halvern.Output(), kFailed)) << halvern.Output();
    for (const char* name : {"Protected", "Mostly Garbage"}) {
        EXPECT_TRUE(FileExists(input + name + ".dvr-ms")) << name << " must stay";
        EXPECT_FALSE(FileExists(output + name + ".MPG")) << "nothing to take for a finished conversion";
    }
    MediaFacts facts;
    ASSERT_TRUE(ReadMediaFacts(output + "Cut.MPG", facts, error)) << error;
    EXPECT_EQ("mpeg2video", facts.video.codec);
    EXPECT_EQ("mp2", facts.audio.codec);
    // Every frame that lies wholly before the cut, and none after it.
    size_t before = 0;
    for (const test_recordings::WrittenObject& object : whole.objects)
        before += object.kind == test_recordings::Kind::Video && object.frameStart && object.lastPacket < cutPacket;
    EXPECT_GE(facts.video.packets, before);
    EXPECT_LT(facts.video.packets, 75u);
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace endtoend
