// The stand-in recording file and the output the stand-ins make of it.

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(StandInRecordingTest, BytesReadBackToTheSameRecordingAndNothingElseReads)
{
    StandInRecording recording;
    recording.hasPin3 = false;
    recording.durationSeconds = 12.5;
    recording.pace = 0.75;
    recording.failAtSeconds = 3.25;
    recording.payload = std::string("line\nbreak\0and more", 19);
    const std::string path = testing_support::MakeScratchDirectory("standin-recording") + "Show.dvr-ms";
    WriteStandInRecording(path, recording);
    StandInRecording read;
    ASSERT_TRUE(ParseStandInRecording(testing_support::ReadFileBytes(path), read));
    EXPECT_FALSE(read.hasPin3);
    EXPECT_DOUBLE_EQ(12.5, read.durationSeconds);
    EXPECT_DOUBLE_EQ(0.75, read.pace);
    EXPECT_DOUBLE_EQ(3.25, read.failAtSeconds);
    EXPECT_EQ(recording.payload, read.payload);
    ASSERT_TRUE(ParseStandInRecording(StandInRecordingBytes(StandInRecording()), read));
    EXPECT_TRUE(read.hasPin3);
    EXPECT_LT(read.failAtSeconds, 0.0);

    const std::string good = StandInRecordingBytes(StandInRecording());
    read.payload = "untouched";
    const std::string others[] = {
        "", "RIFF....", good.substr(0, good.size() - 1), good + "x", // payload cut short, too long
        std::string(good).replace(good.find("pins: 1 3"), 9, "pins: 1 4"),
        std::string(good).replace(good.find("duration: "), 10, "duration: -"),
        std::string(good).replace(good.find("pace: 0"), 7, "pace: fast"),
    };
    for (const std::string& other : others)
        EXPECT_FALSE(ParseStandInRecording(other, read)) << other;
    EXPECT_EQ("untouched", read.payload);
}

TEST(StandInRecordingTest, ExpectedOutputMergesBothStreamsByTime)
{
    // Written out by hand: 0.1 s gives video at 0, 40 and 80 ms (the last cut at 100 ms) and audio
    // at 0; video goes first on the tie at 0.
    const std::string header = "HALVERN STAND-IN PROGRAM STREAM\n";
    const std::string firstTwo = "PACK V 0 15\nV 0 0 400000 p\nPACK A 0 16\nA 0 0 1000000 p\n";
    const std::string video1 = "PACK V 400000 20\nV 1 400000 800000 p\n";
    const std::string tiny = header + firstTwo + video1 + "PACK V 800000 21\nV 2 800000 1000000 p\nEND\n";
    StandInRecording recording;
    recording.durationSeconds = 0.1;
    recording.payload = "p";
    EXPECT_EQ(tiny, ExpectedStandInOutput(recording));
    // Pace and pin names change when and where, not what; a failure past the end never comes.
    recording.pace = 3.0;
    recording.hasPin3 = false;
    recording.failAtSeconds = 5.0;
    EXPECT_EQ(tiny, ExpectedStandInOutput(recording));
    // Failing at 50 ms keeps what starts before it.
    recording.failAtSeconds = 0.05;
    EXPECT_EQ(header + firstTwo + video1 + "END\n", ExpectedStandInOutput(recording));
    recording.failAtSeconds = 0.0;
    EXPECT_EQ(header + "END\n", ExpectedStandInOutput(recording));
}

} // namespace
