// The Auto Converter of the real Halvern.exe cut short in a conversion. (Its run through a hidden
// start with dropped recordings is among the end-to-end conversions.)

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

const char kDone[] = " - Done.\n";

using AutoConverterRun = BlackBoxTest;

// Closed or killed in the middle of a conversion, Halvern leaves no output behind, and the next
// start converts that recording again and publishes it whole.
TEST_F(AutoConverterRun, AConversionCutShortPublishesNothingAndTheNextStartConvertsItAgain)
{
    ScopedDecrypterFault slow("pace=0.2"); // about 15 seconds
    ASSERT_TRUE(CopyRecording(input + "Late.dvr-ms"));
    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    auto startConverting = [&] {
        ASSERT_TRUE(halvern.Start(StdoutPath()));
        ASSERT_TRUE(WaitUntil(
            [&] { return DialogItemText(halvern.Window(), IDC_CONVERT_SINGLE) == "Cancel Conversion!"; }, kPromptMs));
        ASSERT_TRUE(WaitUntil([&] { return FileExists(output + "Late.MPG.partial"); }, kPromptMs))
            << "the writer has begun";
    };

    // Closed: the exit cancels the conversion instead of waiting for it.
    ASSERT_NO_FATAL_FAILURE(startConverting());
    ::PostMessageA(halvern.Window(), WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(halvern.Process().WaitForExit(10000, &exitCode)) << "the exit waited for the conversion";
    EXPECT_EQ(0u, exitCode);
    EXPECT_FALSE(FileExists(output + "Late.MPG"));
    EXPECT_FALSE(FileExists(output + "Late.MPG.partial"));
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_EQ(0u, CountOf(halvern.Output(), kDone)) << halvern.Output();

    // Killed: only the unfinished file is left, under a name that is not the output's.
    ASSERT_NO_FATAL_FAILURE(startConverting());
    halvern.Process().Kill();
    EXPECT_FALSE(FileExists(output + "Late.MPG"));

    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitForOutput(output + "Late.MPG", 60000));
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(output + "Late.MPG.partial"); }, kPromptMs));
    EXPECT_TRUE(FileExists(input + "Late.dvr-ms")) << "DeleteSourceFile is off";
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace blackbox
