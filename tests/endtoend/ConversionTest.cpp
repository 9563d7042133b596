// The real Halvern.exe converting real recordings with its own filters and the shipped graph
// description, worked from outside as a user would: the Auto Converter and the single-file
// command, good recordings and damaged ones. Each output is checked by ffprobe and ffmpeg.

#include <windows.h>

#include <algorithm>
#include <cmath>

#include "res/resource.h"
#include "tests/blackbox/BlackBoxFixture.h"
#include "tests/endtoend/MediaFacts.h"
#include "tests/media/RecordingWriter.h"

using namespace testing_support;
using namespace blackbox;

namespace endtoend {
namespace {

constexpr char kShippedGraph[] = "Built-in DVR-MS to MPEG.xgr";
constexpr DWORD kConversionMs = 120000;
constexpr double kVideoFrame = 0.040; // the vectors run at 25 frames a second
constexpr char kDone[] = " - Done.\n";
constexpr char kFailed[] = " - Failed.\n";

enum class Source { PlainMp2, PlainAc3, MediaCentre };

struct Case {
    const char* name;
    Source source;
};

const Case kGoodRecordings[] = {
    {"Plain MP2", Source::PlainMp2},
    {"Plain AC3", Source::PlainAc3},
    // Captions, B-frames (times out of decode order), AC-3 that starts 200 ms after the video.
    {"Media Centre", Source::MediaCentre},
};
constexpr int64_t kMediaCentreAudioDelay = 2000000;

// What the recording holds, as the output must hold it too.
struct Expected {
    std::string videoDigest;
    std::string audioDigest;
    std::string audioCodec;
    size_t videoFrames = 0;
    double audioLead = 0; // first audio time less first video time
};

// Makes the recording at `path` and tells what its conversion must give.
::testing::AssertionResult MakeRecording(Source source, const std::string& path, Expected& expected)
{
    if (source == Source::MediaCentre) {
        test_recordings::RecordingOptions options;
        options.videoPath = VectorPath("es\\video-bframes.m2v");
        options.audioPath = VectorPath("es\\audio.ac3");
        options.captions = true;
        options.audioDelay = kMediaCentreAudioDelay;
        test_recordings::WrittenRecording written;
        std::string error;
        if (!test_recordings::WriteRecording(path, options, written, error))
            return ::testing::AssertionFailure() << "writing the recording: " << error;
        std::vector<std::string> frames;
        test_recordings::SplitVideo(ReadFileBytes(options.videoPath), frames);
        expected.videoDigest = FileDigest(options.videoPath);
        expected.audioDigest = FileDigest(options.audioPath);
        expected.audioCodec = "ac3";
        expected.videoFrames = frames.size();
        expected.audioLead = kMediaCentreAudioDelay / 1e7;
        return ::testing::AssertionSuccess();
    }
    const std::string vector = VectorPath(source == Source::PlainMp2 ? "plain-mp2.asf" : "plain-ac3.asf");
    if (!::CopyFileA(vector.c_str(), path.c_str(), FALSE))
        return ::testing::AssertionFailure() << "copying " << vector;
    MediaFacts facts;
    std::string error;
    if (!ReadMediaFacts(path, facts, error))
        return ::testing::AssertionFailure() << "ffprobe of the recording: " << error;
    expected.videoDigest = facts.video.digest;
    expected.audioDigest = facts.audio.digest;
    expected.audioCodec = facts.audio.codec;
    expected.videoFrames = facts.video.packets;
    expected.audioLead = facts.audio.First() - facts.video.First();
    return ::testing::AssertionSuccess();
}

// ffprobe reads the output as an MPEG program stream with both streams, byte for byte the
// recording's, as long as the recording and with the same distance between audio and video.
::testing::AssertionResult IsConversionOf(const std::string& output, const Expected& expected)
{
    MediaFacts facts;
    std::string error;
    if (!ReadMediaFacts(output, facts, error))
        return ::testing::AssertionFailure() << output << ": " << error;
    if (facts.format != "mpeg" || facts.video.codec != "mpeg2video" || facts.audio.codec != expected.audioCodec)
        return ::testing::AssertionFailure() << output << " is " << facts.format << " with '" << facts.video.codec
                                             << "' and '" << facts.audio.codec << "'";
    if (facts.video.digest != expected.videoDigest || facts.audio.digest != expected.audioDigest)
        return ::testing::AssertionFailure() << output << ": the elementary streams differ from the recording's";
    if (!error.empty())
        return ::testing::AssertionFailure() << "ffmpeg complained about " << output << ": " << error;
    const double videoSpan = facts.video.end - facts.video.First();
    const double recorded = static_cast<double>(expected.videoFrames) * kVideoFrame;
    if (std::fabs(videoSpan - recorded) > kVideoFrame)
        return ::testing::AssertionFailure() << output << " lasts " << videoSpan << " s, the recording " << recorded;
    const double lead = facts.audio.First() - facts.video.First();
    if (std::fabs(lead - expected.audioLead) > 0.0015)
        return ::testing::AssertionFailure() << output << ": audio leads by " << lead << " s, in the recording by "
                                             << expected.audioLead;
    return ::testing::AssertionSuccess();
}

class BuiltInConversion : public BlackBoxTest {
protected:
    void UseShippedGraph(StoredSettings settings)
    {
        StoreSettings(settings);
        SetRegistryString(kSettingsKey, "UseFilterGraph", kShippedGraph);
    }

    bool WaitForLines(size_t count)
    {
        return WaitUntil(
            [&] {
                const std::string text = halvern.Output();
                return CountOf(text, kDone) + CountOf(text, kFailed) >= count;
            },
            kConversionMs);
    }

    // Whatever the Auto Converter would take for a finished conversion of `name`.
    bool HasOutput(const std::string& name) const { return FileExists(output + name + ".MPG"); }
};

TEST_F(BuiltInConversion, AutoConverterConvertsEachKindOfRecordingAndDeletesItOnlyAfterItsOutput)
{
    Expected expected[std::size(kGoodRecordings)];
    for (size_t i = 0; i < std::size(kGoodRecordings); ++i)
        ASSERT_TRUE(MakeRecording(kGoodRecordings[i].source, input + kGoodRecordings[i].name + ".dvr-ms", expected[i]));
    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    settings.DeleteSourceFile = 1;
    UseShippedGraph(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));

    bool deletedEarly = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const Case& recording : kGoodRecordings)
                if (!FileExists(input + recording.name + ".dvr-ms") && !HasOutput(recording.name))
                    deletedEarly = true;
            return CountOf(halvern.Output(), kDone) + CountOf(halvern.Output(), kFailed) >= std::size(kGoodRecordings);
        },
        kConversionMs))
        << halvern.Output();
    EXPECT_FALSE(deletedEarly) << "a recording went before its output existed";
    EXPECT_EQ(std::size(kGoodRecordings), CountOf(halvern.Output(), kDone)) << halvern.Output();
    for (size_t i = 0; i < std::size(kGoodRecordings); ++i) {
        const std::string name = kGoodRecordings[i].name;
        EXPECT_TRUE(IsConversionOf(output + name + ".MPG", expected[i])) << name;
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(input + name + ".dvr-ms"); }, kPromptMs)) << name;
    }
    EXPECT_TRUE(halvern.CloseAndWait());
}

TEST_F(BuiltInConversion, SingleFileCommandConvertsEachKindOfRecording)
{
    const std::string picked = MakeScratchDirectory("endtoend-picked");
    UseShippedGraph(Defaults());
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    HWND window = halvern.Window();
    for (const Case& recording : kGoodRecordings) {
        SCOPED_TRACE(recording.name);
        Expected expected;
        const std::string path = picked + recording.name + ".dvr-ms";
        ASSERT_TRUE(MakeRecording(recording.source, path, expected));

        Click(window, IDC_CONVERT_SINGLE);
        HWND dialog = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (dialog = FindOtherDialog(halvern.Id(), window, IDOK)) != nullptr; },
                              kPromptMs));
        HWND name = FindFileNameEdit(dialog);
        ASSERT_NE(nullptr, name);
        SetControlText(name, path);
        Click(dialog, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return HasOutput(recording.name); }, kConversionMs)) << "no output appeared";
        ASSERT_TRUE(WaitUntil(
            [&] { return DialogItemText(window, IDC_CONVERT_SINGLE) == "Convert Single File..."; }, kConversionMs));
        EXPECT_TRUE(IsConversionOf(output + recording.name + ".MPG", expected));
        EXPECT_TRUE(FileExists(path)) << "a single-file conversion keeps its recording";
    }
    EXPECT_TRUE(halvern.CloseAndWait());
}

// A recorder that stopped mid-packet leaves a header that promises more than the file holds:
// everything before the cut converts, and the run succeeds.
TEST_F(BuiltInConversion, RecordingCutShortConvertsWhatItHolds)
{
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    test_recordings::WrittenRecording whole;
    std::string error;
    const std::string scratch = MakeScratchDirectory("endtoend-whole");
    ASSERT_TRUE(test_recordings::WriteRecording(scratch + "whole.dvr-ms", options, whole, error)) << error;
    options.cutAt = whole.dataOffset + whole.packetSize * (whole.packetCount * 2 / 3) + whole.packetSize / 2;
    test_recordings::WrittenRecording cut;
    ASSERT_TRUE(test_recordings::WriteRecording(input + "Cut.dvr-ms", options, cut, error)) << error;

    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    UseShippedGraph(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitForLines(1)) << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kDone)) << halvern.Output();

    MediaFacts facts;
    ASSERT_TRUE(ReadMediaFacts(output + "Cut.MPG", facts, error)) << error;
    EXPECT_EQ("mpeg2video", facts.video.codec);
    EXPECT_EQ("mp2", facts.audio.codec);
    // Every frame that lies wholly before the cut, and none after it.
    size_t before = 0;
    for (const test_recordings::WrittenObject& object : whole.objects)
        if (object.kind == test_recordings::Kind::Video && object.frameStart && object.lastPacket < whole.packetCount * 2 / 3)
            ++before;
    EXPECT_GE(facts.video.packets, before);
    EXPECT_LT(facts.video.packets, 75u);
    EXPECT_TRUE(halvern.CloseAndWait());
}

// Recordings that cannot be converted end as failures, stay where they are, and leave nothing the
// Auto Converter would later take for a finished conversion.
TEST_F(BuiltInConversion, BadRecordingsFailAndLeaveNoOutput)
{
    struct Bad {
        const char* name;
        test_recordings::Protection protection;
        unsigned garbageEvery;
    };
    const Bad bad[] = {
        {"Protected", test_recordings::Protection::EncryptionObject, 0},
        {"Encrypted Stream", test_recordings::Protection::EncryptedStream, 0},
        {"Mostly Garbage", test_recordings::Protection::None, 2},
    };
    for (const Bad& recording : bad) {
        test_recordings::RecordingOptions options;
        options.videoPath = VectorPath("es\\video.m2v");
        options.audioPath = VectorPath("es\\audio.mp2");
        options.protection = recording.protection;
        options.garbageEvery = recording.garbageEvery;
        test_recordings::WrittenRecording written;
        std::string error;
        ASSERT_TRUE(test_recordings::WriteRecording(input + recording.name + ".dvr-ms", options, written, error));
    }
    std::string noise(256 * 1024, '\0');
    unsigned state = 12345;
    for (char& byte : noise)
        byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    WriteFileBytes(input + "Random Bytes.dvr-ms", noise);

    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    settings.DeleteSourceFile = 1;
    UseShippedGraph(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitForLines(std::size(bad) + 1)) << halvern.Output();
    EXPECT_EQ(std::size(bad) + 1, CountOf(halvern.Output(), kFailed)) << halvern.Output();
    for (const char* name : {"Protected", "Encrypted Stream", "Mostly Garbage", "Random Bytes"}) {
        EXPECT_TRUE(FileExists(input + name + ".dvr-ms")) << name << " must stay";
        EXPECT_FALSE(HasOutput(name)) << name;
    }
    EXPECT_TRUE(halvern.CloseAndWait());
}

TEST_F(BuiltInConversion, OutputDirectoryThatCannotBeWrittenFailsAndKeepsTheRecording)
{
    Expected expected;
    ASSERT_TRUE(MakeRecording(Source::PlainMp2, input + "Show.dvr-ms", expected));
    StoredSettings settings = Defaults();
    settings.OutputPath = output + "missing\\deeper";
    settings.AutoStartConvert = 1;
    settings.DeleteSourceFile = 1;
    UseShippedGraph(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitForLines(1)) << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kFailed)) << halvern.Output();
    EXPECT_TRUE(FileExists(input + "Show.dvr-ms"));
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace endtoend
