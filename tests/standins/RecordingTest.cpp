// The stand-in recording file and the output the stand-ins make of it.

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(StandInRecordingTest, BytesReadBackToTheSameRecording)
{
    StandInRecording recording;
    recording.hasPin3 = false;
    recording.durationSeconds = 12.5;
    recording.pace = 0.75;
    recording.failAtSeconds = 3.25;
    recording.payload = std::string("line\nbreak\0and more", 19);

    StandInRecording read;
    ASSERT_TRUE(ParseStandInRecording(StandInRecordingBytes(recording), read));
    EXPECT_FALSE(read.hasPin3);
    EXPECT_DOUBLE_EQ(12.5, read.durationSeconds);
    EXPECT_DOUBLE_EQ(0.75, read.pace);
    EXPECT_DOUBLE_EQ(3.25, read.failAtSeconds);
    EXPECT_EQ(recording.payload, read.payload);

    ASSERT_TRUE(ParseStandInRecording(StandInRecordingBytes(StandInRecording()), read));
    EXPECT_TRUE(read.hasPin3);
    EXPECT_DOUBLE_EQ(2.0, read.durationSeconds);
    EXPECT_DOUBLE_EQ(0.0, read.pace);
    EXPECT_LT(read.failAtSeconds, 0.0);
    EXPECT_EQ("stand-in recording", read.payload);

    const std::string path = testing_support::MakeScratchDirectory("standin-recording") + "Show.dvr-ms";
    WriteStandInRecording(path, recording);
    EXPECT_EQ(StandInRecordingBytes(recording), testing_support::ReadFileBytes(path));
}

TEST(StandInRecordingTest, OtherFilesAreNoRecordings)
{
    const std::string good = StandInRecordingBytes(StandInRecording());
    StandInRecording read;
    read.payload = "untouched";
    EXPECT_FALSE(ParseStandInRecording("", read));
    EXPECT_FALSE(ParseStandInRecording("RIFF....", read));
    EXPECT_FALSE(ParseStandInRecording(good.substr(0, good.size() - 1), read)); // payload cut short
    EXPECT_FALSE(ParseStandInRecording(good + "x", read));                     // payload too long
    std::string other = good;
    other.replace(other.find("pins: 1 3"), 9, "pins: 1 4");
    EXPECT_FALSE(ParseStandInRecording(other, read));
    other = good;
    other.replace(other.find("duration: "), 10, "duration: -");
    EXPECT_FALSE(ParseStandInRecording(other, read));
    other = good;
    other.replace(other.find("pace: 0"), 7, "pace: fast");
    EXPECT_FALSE(ParseStandInRecording(other, read));
    EXPECT_EQ("untouched", read.payload);
}

// Written out by hand: 0.1 s gives video at 0, 40 and 80 ms (the last cut at 100 ms) and audio
// at 0; video goes first on the tie at 0.
const char* const TinyOutput = "HALVERN STAND-IN PROGRAM STREAM\n"
                               "PACK V 0 15\nV 0 0 400000 p\n"
                               "PACK A 0 16\nA 0 0 1000000 p\n"
                               "PACK V 400000 20\nV 1 400000 800000 p\n"
                               "PACK V 800000 21\nV 2 800000 1000000 p\n"
                               "END\n";

TEST(StandInRecordingTest, ExpectedOutputMergesBothStreamsByTime)
{
    StandInRecording tiny;
    tiny.durationSeconds = 0.1;
    tiny.payload = "p";
    EXPECT_EQ(TinyOutput, ExpectedStandInOutput(tiny));

    // Pace and pin names change when and where, not what.
    tiny.pace = 3.0;
    tiny.hasPin3 = false;
    EXPECT_EQ(TinyOutput, ExpectedStandInOutput(tiny));
    // A failure time past the end never comes.
    tiny.failAtSeconds = 5.0;
    EXPECT_EQ(TinyOutput, ExpectedStandInOutput(tiny));

    // Failing at 50 ms keeps what starts before it.
    tiny.failAtSeconds = 0.05;
    EXPECT_EQ("HALVERN STAND-IN PROGRAM STREAM\n"
              "PACK V 0 15\nV 0 0 400000 p\n"
              "PACK A 0 16\nA 0 0 1000000 p\n"
              "PACK V 400000 20\nV 1 400000 800000 p\n"
              "END\n",
              ExpectedStandInOutput(tiny));
    tiny.failAtSeconds = 0.0;
    EXPECT_EQ("HALVERN STAND-IN PROGRAM STREAM\nEND\n", ExpectedStandInOutput(tiny));
}

TEST(StandInRecordingTest, ExpectedOutputGrowsWithTheDuration)
{
    StandInRecording recording;
    recording.durationSeconds = 2.0;
    const std::string two = ExpectedStandInOutput(recording);
    // 50 video and 20 audio samples.
    size_t packs = 0;
    for (size_t at = two.find("PACK "); at != std::string::npos; at = two.find("PACK ", at + 1))
        ++packs;
    EXPECT_EQ(70u, packs);
    recording.durationSeconds = 4.0;
    EXPECT_EQ(0u, ExpectedStandInOutput(recording).find(two.substr(0, two.size() - 4)));
}

} // namespace
