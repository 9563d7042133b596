// The real Halvern.exe converting good and damaged recordings with its own filters and the shipped
// graph description, worked from outside as a user would; each output checked by ffprobe and ffmpeg.

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tests/blackbox/HalvernDriver.h"
#include "tests/endtoend/OutsideTools.h"
#include "tests/media/FieldPictureWriter.h"
#include "tests/media/RecordingWriter.h"
#include "tests/media/StreamProbe.h"
#include "tests/media/WtvEdits.h"
#include "tests/support/ProgramStreamCheck.h"

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

// ASF vectors, and one as Media Centre writes it: captions, B-frames, AC-3 200 ms after the video.
// (Several audio streams: the shipped graph's and the multiplexer's tests.)
const struct { const char* name; const char* vector; } kGoodRecordings[] = {
    {"Plain MP2", "plain-mp2.asf"}, {"Plain AC3", "plain-ac3.asf"}, {"Media Centre", nullptr}};
constexpr int64_t kMediaCentreAudioDelay = 2000000;

// Makes the recording and tells what its conversion must hold: codecs, digests, frames, first times.
::testing::AssertionResult MakeRecording(const char* vectorName, const std::string& path, MediaFacts& expected)
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
    options.audioDelay = kMediaCentreAudioDelay;
    test_recordings::WrittenRecording written;
    if (!test_recordings::WriteRecording(path, options, written, error))
        return ::testing::AssertionFailure() << "writing the recording: " << error;
    std::vector<std::string> frames;
    test_recordings::SplitFrames(options.videoPath, frames);
    expected.video = {"mpeg2video", 0.0, 0.0, frames.size(), Digest("/bin/cat " + Quoted(options.videoPath), error)};
    expected.audio = {"ac3", kMediaCentreAudioDelay / 1e7, 0.0, 0, Digest("/bin/cat " + Quoted(options.audioPath), error)};
    return ::testing::AssertionSuccess();
}

// dvdauthor makes a title of the output and a DVD of the title without a warning, as it does of
// ffmpeg's DVD output and not of a plain program stream.
::testing::AssertionResult DvdAuthorAccepts(const std::string& output)
{
    const std::string dvd = MakeScratchDirectory("endtoend-dvd");
    for (const std::string& step : {" -t " + Quoted(output), std::string(" -T")}) {
        ToolOutput out;
        const std::string command = "VIDEO_FORMAT=PAL /usr/bin/dvdauthor -o " + Quoted(dvd) + step + " 2>&1";
        if (!RunLinuxTool(command, out))
            return ::testing::AssertionFailure() << "could not run " << command;
        std::istringstream lines(out.out + out.err);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("Skipping sector") != std::string::npos || line.find("no VOBUs") != std::string::npos ||
                line.find("WARN") != std::string::npos || line.find("ERR") != std::string::npos)
                return ::testing::AssertionFailure() << command << ":\n" << out.out << out.err;
        }
        if (out.out.find(step == " -T" ? "table of contents" : "VTS") == std::string::npos)
            return ::testing::AssertionFailure() << command << " did not finish:\n" << out.out << out.err;
    }
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
        ASSERT_TRUE(MakeRecording(recording.vector, made + recording.name, expected));
        DropRecording(path, made + recording.name);
        ASSERT_TRUE(WaitForOutput(output + recording.name + ".MPG", kConversionMs, path));
        EXPECT_TRUE(IsConversionOf(output + recording.name + ".MPG", expected));
        // Media Centre's are DVD-sized, with AC-3 at 48 kHz.
        if (!recording.vector) {
            EXPECT_TRUE(DvdAuthorAccepts(output + recording.name + ".MPG"));
        }
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(path); }, kPromptMs)) << "DeleteSourceFile removes it";
        // Each line is out while Halvern still runs, not only when it ends.
        ++done;
        EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == done && CountOf(halvern.Output(), kWaiting) == done + 1; },
                              kPromptMs))
            << halvern.Output();
    }
    EXPECT_TRUE(ContainsInOrder(halvern.Output(),
                                {kBanner, kWaiting, kDone, kWaiting, kDone, kWaiting, kDone, kWaiting}));
    EXPECT_FALSE(halvern.Process().WaitForExit(0)) << "Halvern still runs";
    EXPECT_EQ(1u, CountOf(halvern.Output(), kBanner)) << "one worker all along";
    EXPECT_FALSE(::IsWindowVisible(window)) << "in the tray all along"; // its icon and the lock: the ui, app and black-box tests'
    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_TRUE(FileExists(output + "Plain MP2.MPG")) << "outputs are never deleted";
}

// A recorder stopped mid-packet leaves a header that promises more than the file holds: everything
// before the cut converts. (Refused and damaged recordings: the source's, run's and worker's tests.)
TEST_F(BuiltInConversion, ARecordingCutShortConvertsWhatItHolds)
{
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    test_recordings::WrittenRecording written, whole;
    std::string error;
    ASSERT_TRUE(test_recordings::WriteRecording(MakeScratchDirectory("endtoend-whole") + "whole", options, whole, error));
    const unsigned cutPacket = whole.packetCount * 2 / 3;
    options.cutAt = whole.dataOffset + whole.packetSize * cutPacket + whole.packetSize / 2;
    ASSERT_TRUE(test_recordings::WriteRecording(input + "Cut.dvr-ms", options, written, error)) << error;

    StoredSettings settings = Defaults();
    settings.DeleteSourceFile = 1;
    ASSERT_NO_FATAL_FAILURE(StartAutoConverter(settings));
    ASSERT_TRUE(WaitForOutput(output + "Cut.MPG", kConversionMs));
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

// The later media centre's WTV recordings (ffmpeg's, B-frames included), with the input extension
// set to theirs: MPEG-2 with MP2 or AC-3 converts byte for byte. H.264 video, and a recording marked
// protected, fail with their own reasons, stay, and are not tried again while they do not change.
TEST_F(BuiltInConversion, WtvRecordingsConvertByteForByteAndThoseRefusedStay)
{
    const std::string made = MakeScratchDirectory("endtoend-wtv");
    std::string file = ReadFileBytes(VectorPath("wtv\\mpeg2-mp2.wtv")), error;
    test_wtv::Layout layout;
    ASSERT_TRUE(test_wtv::ReadLayout(file, layout, error)) << error;
    test_wtv::MarkProtected(file, layout, 2);
    WriteFileBytes(made + "Protected", file);
    ASSERT_TRUE(::CopyFileA(VectorPath("wtv\\h264-ac3.wtv").c_str(), (made + "Sport HD").c_str(), FALSE));

    StoredSettings settings = Defaults();
    settings.DeleteSourceFile = 1;
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    SetRegistryString(kSettingsKey, "UseFilterGraph", kShippedGraph);
    SetRegistryString(kSettingsKey, "InputExt", "wtv");
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    for (const char* name : {"Sport HD", "Protected"})
        DropRecording(input + name + ".wtv", made + name);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kFailed) == 2; }, kConversionMs)) << halvern.Output();

    size_t done = 0;
    for (const char* name : {"MPEG-2 and MP2", "MPEG-2 and AC-3"}) {
        SCOPED_TRACE(name);
        const std::string vector = std::string("wtv\\") + (done == 0 ? "mpeg2-mp2.wtv" : "mpeg2-ac3.wtv");
        MediaFacts expected;
        ASSERT_TRUE(MakeRecording(vector.c_str(), made + name, expected));
        const std::string path = input + name + ".wtv";
        DropRecording(path, made + name);
        ASSERT_TRUE(WaitForOutput(output + name + ".MPG", kConversionMs, path));
        EXPECT_TRUE(IsConversionOf(output + name + ".MPG", expected));
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(path); }, kPromptMs)) << "DeleteSourceFile removes it";
        ++done;
        EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == done; }, kPromptMs)) << halvern.Output();
    }
    // Two passes over the directory later, the refused ones were not tried again.
    EXPECT_EQ(2u, CountOf(halvern.Output(), kFailed)) << halvern.Output();
    for (const char* name : {"Sport HD", "Protected"}) {
        EXPECT_TRUE(FileExists(input + name + ".wtv")) << name << " must stay";
        EXPECT_FALSE(FileExists(output + name + ".MPG")) << name;
    }
    EXPECT_TRUE(halvern.CloseAndWait());
}

// Recordings of broadcast kinds, made by the recording writer from a vector or a generated stream.
struct BroadcastRecording {
    const char* name;
    const char* video;      // a vector, or null for a generated stream of the coding given
    test_recordings::FieldCoding coding;
    test_recordings::FieldObjects fieldObjects;
    const char* audio;
    bool captions;
    int64_t outlier;        // 100 ns, added to the rtStart of video frame 20 alone
    int64_t jump;           // 100 ns, added to every time from video frame 36 on
    const char* scan;       // what mediainfo's scan type and order must name
};
constexpr int64_t kSecond = 10000000;
using test_recordings::FieldCoding;
using test_recordings::FieldObjects;

class BroadcastConversion : public BuiltInConversion {
protected:
    // Converts each recording in turn with the Auto Converter and checks its output: the checker
    // finds no fault (WaitForOutput asks it), the streams are the recording's byte for byte, every
    // frame keeps its time and the streams their sync (within an audio frame on each side of a
    // jump), and VLC, mediainfo and ffprobe read it without a complaint.
    void ConvertAndCheck(std::initializer_list<BroadcastRecording> recordings)
    {
        ASSERT_NO_FATAL_FAILURE(StartAutoConverter(Defaults()));
        const std::string made = MakeScratchDirectory("endtoend-broadcast");
        for (const BroadcastRecording& r : recordings) {
            SCOPED_TRACE(r.name);
            test_recordings::RecordingOptions options;
            options.videoPath = r.video ? VectorPath(r.video) : made + r.name + ".m2v";
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
            options.fieldObjects = r.fieldObjects;
            options.firstTime = 7200 * kSecond; // room for times that go back
            options.outlier = r.outlier;
            options.outlierFrame = 20;
            options.jump = r.jump;
            options.jumpFrame = 36;
            test_recordings::WrittenRecording written;
            std::string error;
            ASSERT_TRUE(test_recordings::WriteRecording(made + r.name, options, written, error)) << error;
            const std::string path = input + r.name + ".dvr-ms", mpg = output + r.name + ".MPG";
            DropRecording(path, made + r.name);
            EXPECT_TRUE(WaitForOutput(mpg, kConversionMs, path));
            if (!FileExists(mpg))
                continue;

            const std::string videoEs = ReadFileBytes(options.videoPath), audioEs = ReadFileBytes(options.audioPath);
            const bool ac3 = audioEs.compare(0, 2, "\x0B\x77") == 0;
            const ps_check::Report report = ps_check::CheckProgramStream(ReadFileBytes(mpg));
            const ps_check::StreamReport* video = report.Stream(0xE0);
            const ps_check::StreamReport* audio = report.Stream(ac3 ? 0xBD : 0xC0);
            ASSERT_TRUE(video && audio) << report.Text();
            EXPECT_TRUE(video->elementary == videoEs) << "the video differs from the recording's";
            EXPECT_TRUE(audio->elementary == audioEs) << "the audio differs from the recording's";

            // The times the frames stand for, in decode order, and which side of a jump each is on.
            std::vector<std::string> frames;
            std::vector<int64_t> audioTimes;
            test_recordings::SplitFrames(options.audioPath, frames, &audioTimes);
            ps_check::ExpectedTimes expected[2] = {{video, {}, {}}, {audio, {}, {}}};
            int64_t first = INT64_MAX, last = INT64_MIN;
            size_t audioFrame = 0, videoFrame = 0;
            for (const test_recordings::WrittenObject& object : written.objects) {
                if (object.kind == test_recordings::Kind::Captions || !object.frameStart)
                    continue;
                const bool isVideo = object.kind == test_recordings::Kind::Video;
                ps_check::ExpectedTimes& e = expected[isVideo ? 0 : 1];
                e.truth.push_back(object.time * 9 / 1000);
                e.part.push_back(isVideo ? videoFrame++ >= 36 && r.jump
                                         : object.time != options.firstTime + audioTimes[audioFrame++]);
                first = std::min(first, object.time);
                last = std::max(last, object.time);
            }
            EXPECT_EQ("", ps_check::TimesKept({expected[0], expected[1]}, 2, r.jump ? (ac3 ? 2880 : 2160) : 135));

            EXPECT_TRUE(FfprobeReadsWithoutWarning(mpg));
            EXPECT_TRUE(VlcPlaysWithoutTimingWarnings(mpg));
            const double seconds = r.jump ? 0 : static_cast<double>(last - first) / kSecond + 0.04;
            EXPECT_TRUE(MediaInfoReads(mpg, ac3 ? "AC-3" : "MPEG Audio", r.scan, seconds));
        }
        EXPECT_TRUE(halvern.CloseAndWait());
    }
};

// HD at broadcast rates (1080i with 5.1 and captions, 1440x1080i), and the codings of 1080i and
// film that ffmpeg cannot make: field pictures, written whole or a field per object (the second
// untimed, or timed a field after the first), and 3:2 pulldown.
TEST_F(BroadcastConversion, HdAndFieldCodedRecordingsConvertWithinTheDecoderModel)
{
    const FieldCoding fields = FieldCoding::FieldPictures;
    ConvertAndCheck({
        {"HD 1080i", "es\\hd-1080i.m2v", fields, FieldObjects::Together, "es\\audio-5.1.ac3", true, 0, 0, "Interlaced"},
        {"HD 1440", "es\\hd-1440.m2v", fields, FieldObjects::Together, "es\\audio.mp2", false, 0, 0, "Interlaced"},
        {"Fields", nullptr, fields, FieldObjects::Together, "es\\audio.ac3", true, 0, 0, "Interlaced"},
        {"Fields Apart", nullptr, fields, FieldObjects::SecondUntimed, "es\\audio.ac3", false, 0, 0, "Interlaced"},
        {"Fields Timed Apart", nullptr, fields, FieldObjects::SecondTimed, "es\\audio.mp2", false, 0, 0, "Interlaced"},
        {"Film", nullptr, FieldCoding::Pulldown, FieldObjects::Together, "es\\audio.mp2", false, 0, 0, "Pulldown"},
    });
}

// Times as recorders break them: one video object an hour off (its time must come from its
// neighbours), and a discontinuity that every stream shares, forward and back.
TEST_F(BroadcastConversion, BrokenTimesAreMendedInTheOutput)
{
    const FieldCoding fields = FieldCoding::FieldPictures;
    ConvertAndCheck({
        {"Outlier", "es\\video-bframes.m2v", fields, FieldObjects::Together, "es\\audio.ac3", true, 3600 * kSecond, 0, ""},
        {"HD Outlier", "es\\hd-1080i.m2v", fields, FieldObjects::Together, "es\\audio-5.1.ac3", false, -3600 * kSecond, 0, ""},
        {"Jump Forward", "es\\video.m2v", fields, FieldObjects::Together, "es\\audio.mp2", true, 0, 30 * kSecond, ""},
        {"Jump Back", "es\\video-bframes.m2v", fields, FieldObjects::Together, "es\\audio.ac3", false, 0, -30 * kSecond, ""},
    });
}

// A graph that takes no more of the recording part-way, without a word of error, still completes:
// that is no conversion. No " - Done.", no output, and the recording stays. (The internal graph, whose
// decrypt/tag stand-in refuses the samples after the first second.)
TEST_F(BlackBoxTest, ARunThatStopsShortOfTheRecordingsEndLeavesTheRecording)
{
    ScopedDecrypterFault refuse("refuse=1");
    ASSERT_TRUE(CopyRecording(input + "Refused.dvr-ms"));
    StoredSettings settings = Defaults();
    settings.DeleteSourceFile = 1;
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kFailed) + CountOf(halvern.Output(), kDone) == 1; },
                          kConversionMs)) << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kFailed)) << halvern.Output();
    EXPECT_TRUE(FileExists(input + "Refused.dvr-ms"));
    EXPECT_FALSE(FileExists(output + "Refused.MPG"));
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace endtoend
