// The real Halvern.exe converting each kind of recording with its own filters and the shipped graph
// description, worked from outside as a user would; each output judged by the tests' program stream
// checker and by the tools of Linux.

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tests/blackbox/HalvernDriver.h"
#include "tests/media/FieldPictureWriter.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/ProgramStreamCheck.h"

using namespace testing_support;
using namespace blackbox;

namespace endtoend {
namespace {

constexpr DWORD ConversionMs = 120000;

using test_recordings::FieldCoding;

// ffmpeg's ASF and WTV files are copied as they are, named as the input extension says: the source
// tells them by their content. The recording writer makes the others, with the codings of 1080i and
// film that ffmpeg cannot make generated.
const struct Recording {
    const char* name;
    const char* copied; // a recording copied, whose audio is of the format `audio`; else
    const char* video;  // the writer's video vector, or null for a generated stream of the coding given
    FieldCoding coding;
    const char* audio;  // the writer's audio vector
    bool captions;
    int64_t audioDelay; // 100 ns
    bool dvd;           // within DVD limits: dvdauthor takes the output
} DroppedRecordings[] = {
    {"Plain MP2", "plain-mp2.asf", nullptr, {}, "mp2", false, 0, true},
    {"WTV MP2", "wtv\\mpeg2-mp2.wtv", nullptr, {}, "mp2", false, 0, true},
    {"WTV AC3", "wtv\\mpeg2-ac3.wtv", nullptr, {}, "ac3", false, 0, true},
    {"Media Centre", nullptr, "es\\video-bframes.m2v", {}, "es\\audio.ac3", true, 2000000, true},
    {"HD 1080i", nullptr, "es\\hd-1080i.m2v", {}, "es\\audio-5.1.ac3", true, 0, false},
    {"Fields", nullptr, nullptr, FieldCoding::FieldPictures, "es\\audio.ac3", true, 0, false},
    {"Film", nullptr, nullptr, FieldCoding::Pulldown, "es\\audio.mp2", false, 0, false},
};

// What a conversion must keep of a recording: its elementary streams, and the times the writer gave
// its frames or, for a copied one, how long after the video its audio starts (seconds).
struct Expected {
    std::string video, audio;
    std::vector<test_recordings::WrittenObject> objects;
    double audioLead = 0;
};

// ffmpeg's copy of the recording's first stream of the kind (v or a), in the elementary format given.
std::string Copied(const std::string& path, const char* kind, const char* format)
{
    ToolOutput output;
    RunLinuxTool("/usr/bin/ffmpeg -v error -i " + Quoted(path) + " -map 0:" + kind + ":0 -c copy -f " + format + " -", output);
    return output.out;
}

// When ffprobe finds the recording's first stream of the kind starts (seconds).
double StartOf(const std::string& path, const char* kind)
{
    ToolOutput output;
    RunLinuxTool(std::string("/usr/bin/ffprobe -v error -select_streams ") + kind + ":0 -show_entries stream=start_time -of csv=p=0 " +
                     Quoted(path),
                 output);
    return std::atof(output.out.c_str());
}

// Makes the recording at `path` and tells what its conversion must keep.
::testing::AssertionResult MakeRecording(const Recording& r, const std::string& path, Expected& expected)
{
    if (r.copied) {
        if (!::CopyFileA(VectorPath(r.copied).c_str(), path.c_str(), FALSE))
            return ::testing::AssertionFailure() << "copying " << r.copied;
        expected = {Copied(path, "v", "mpeg2video"), Copied(path, "a", r.audio), {}, StartOf(path, "a") - StartOf(path, "v")};
        if (expected.video.empty() || expected.audio.empty())
            return ::testing::AssertionFailure() << "ffmpeg copied nothing of " << path;
        return ::testing::AssertionSuccess();
    }
    test_recordings::RecordingOptions options;
    options.videoPath = r.video ? VectorPath(r.video) : path + ".m2v";
    if (!r.video) {
        test_recordings::FieldPictureOptions generate;
        generate.coding = r.coding;
        // About as long as the audio (3 s), lest ffprobe miss a stream's last time at the end.
        generate.frames = r.coding == FieldCoding::Pulldown ? 70 : 90;
        generate.frameBytes = 75000; // 18 Mb/s
        WriteFileBytes(options.videoPath, test_recordings::MakeFieldPictureStream(generate));
    }
    options.audioPath = VectorPath(r.audio);
    options.captions = r.captions;
    options.audioDelay = r.audioDelay;
    test_recordings::WrittenRecording written;
    std::string error;
    if (!test_recordings::WriteRecording(path, options, written, error))
        return ::testing::AssertionFailure() << "writing the recording: " << error;
    expected = {ReadFileBytes(options.videoPath), ReadFileBytes(options.audioPath), written.objects};
    return ::testing::AssertionSuccess();
}

// ffprobe lists every packet of the file without a warning.
::testing::AssertionResult FfprobeReadsWithoutWarning(const std::string& windowsPath)
{
    const std::string command = "/usr/bin/ffprobe -v warning -show_entries packet=stream_index,pts,dts -of csv " + Quoted(windowsPath);
    ToolOutput output;
    if (!RunLinuxTool(command, output))
        return ::testing::AssertionFailure() << "ffprobe did not run: " << command;
    if (output.out.find("packet,") == std::string::npos || !output.err.empty())
        return ::testing::AssertionFailure() << "ffprobe on " << windowsPath << ": " << output.err.substr(0, 2000);
    return ::testing::AssertionSuccess();
}

// mediainfo, which other players' users trust, names the container and the video, with no complaint.
::testing::AssertionResult MediaInfoReadsAProgramStream(const std::string& windowsPath)
{
    const std::string command = "/usr/bin/mediainfo '--Inform=General;%Format%|' " + Quoted(windowsPath) +
                                " && /usr/bin/mediainfo '--Inform=Video;%Format% %Format_Version%|' " + Quoted(windowsPath);
    ToolOutput output;
    if (!RunLinuxTool(command, output))
        return ::testing::AssertionFailure() << "mediainfo did not run: " << command;
    if (output.out.find("MPEG-PS|") == std::string::npos || output.out.find("MPEG Video Version 2|") == std::string::npos ||
        !output.err.empty())
        return ::testing::AssertionFailure() << "mediainfo on " << windowsPath << ": " << output.out << output.err;
    return ::testing::AssertionSuccess();
}

// Both streams byte for byte; every frame of a written recording keeps its time and the streams their
// sync; a copied one's audio keeps its distance to the video; ffprobe reads it without a warning.
::testing::AssertionResult IsConversionOf(const std::string& output, const Expected& expected)
{
    const ps_check::Report report = ps_check::CheckProgramStream(ReadFileBytes(output));
    const ps_check::StreamReport* video = report.Stream(0xE0);
    const ps_check::StreamReport* audio = report.Stream(expected.audio.compare(0, 2, "\x0B\x77") == 0 ? 0xBD : 0xC0);
    if (!video || !audio)
        return ::testing::AssertionFailure() << output << " lacks a stream:\n" << report.Text();
    // The recordings' captions went into the video beside its own bytes.
    if (ps_check::WithoutCaptionUserData(video->elementary) != expected.video || audio->elementary != expected.audio)
        return ::testing::AssertionFailure() << output << ": the elementary streams differ from the recording's";
    if (!expected.objects.empty()) {
        ps_check::ExpectedTimes times[2] = {{video, {}}, {audio, {}}};
        for (const test_recordings::WrittenObject& object : expected.objects) {
            if (object.kind != test_recordings::Kind::Captions && object.frameStart)
                times[object.kind == test_recordings::Kind::Video ? 0 : 1].truth.push_back(object.time * 9 / 1000);
        }
        const std::string kept = ps_check::TimesKept({times[0], times[1]}, 2, 135);
        return kept.empty() ? FfprobeReadsWithoutWarning(output) : ::testing::AssertionFailure() << output << ": " << kept;
    }
    const double lead = static_cast<double>(audio->pts[0] - video->pts[0]) / 90000;
    if (std::fabs(lead - expected.audioLead) > 0.0015)
        return ::testing::AssertionFailure() << output << ": audio leads by " << lead << " s, not " << expected.audioLead;
    return FfprobeReadsWithoutWarning(output);
}

[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

// Started hidden with the shipped graph; each recording deleted only after its output, which keeps the
// decoder model (WaitForOutput asks the checker) and what IsConversionOf asks.
TEST_F(BlackBoxTest, TheHiddenAutoConverterConvertsEveryKindOfRecording)
{
    StoredSettings settings = Defaults();
    settings.HideOnStartup = 1;
    settings.DeleteSourceFile = 1;
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    SetRegistryString(SettingsKey, "UseFilterGraph", "Built-in DVR-MS to MPEG.xgr");
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    // The worker announces itself, looks at the empty directory and waits.
    ASSERT_TRUE(WaitUntil([&] { return ContainsInOrder(halvern.Output(), {Banner, Waiting}); }, PromptMs))
        << "standard output so far:\n" << halvern.Output();
    EXPECT_EQ(std::string(Banner) + Waiting, halvern.Output().substr(halvern.Output().find(Banner)))
        << "the banner and the first line run together";
    EXPECT_FALSE(::IsWindowVisible(halvern.Window()));

    const std::string made = MakeScratchDirectory("endtoend-made");
    size_t done = 0;
    for (const Recording& recording : DroppedRecordings) {
        SCOPED_TRACE(recording.name);
        Expected expected;
        const std::string path = input + recording.name + ".dvr-ms", mpg = output + recording.name + ".MPG";
        ASSERT_TRUE(MakeRecording(recording, made + recording.name, expected));
        DropRecording(path, made + recording.name);
        ASSERT_TRUE(WaitForOutput(mpg, ConversionMs, path));
        EXPECT_TRUE(IsConversionOf(mpg, expected));
        EXPECT_TRUE(VlcPlaysWithoutTimingWarnings(mpg));
        EXPECT_TRUE(MediaInfoReadsAProgramStream(mpg));
        if (recording.dvd) {
            EXPECT_TRUE(DvdAuthorAccepts(mpg));
        }
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(path); }, PromptMs)) << "DeleteSourceFile removes it";
        // Each line is out while Halvern still runs, not only when it ends, and the worker waits again.
        ++done;
        const std::string line = std::string(DoneText) + Waiting;
        EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), line) == done && CountOf(halvern.Output(), Waiting) == done + 1; },
                              PromptMs))
            << halvern.Output();
    }

    EXPECT_FALSE(halvern.Process().WaitForExit(0)) << "Halvern still runs";
    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_TRUE(FileExists(output + "Plain MP2.MPG")) << "outputs are never deleted";
}

} // namespace
} // namespace endtoend
