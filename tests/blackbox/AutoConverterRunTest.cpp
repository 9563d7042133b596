// The Auto Converter of the real Halvern.exe cut short in a conversion (its hidden run is end-to-end's).

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

// Halvern.exe finds the stand-ins for the outside filters through the prefix's registry.
[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

using AutoConverterRun = BlackBoxTest;

// Closed or killed mid-conversion, Halvern leaves no output; the next start converts it again, whole.
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
    ASSERT_TRUE(halvern.CloseAndWait(10000)) << "the exit waited for the conversion";
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
