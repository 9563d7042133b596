// The Auto Converter of the real Halvern.exe cut short in a conversion (its hidden run is end-to-end's).

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

// Halvern.exe finds the stand-ins for the outside filters through the prefix's registry.
[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

using AutoConverterRun = BlackBoxTest;

// Closed mid-conversion, Halvern's window goes at once while the conversion finishes and is published;
// the process ends with it. Killed, Halvern leaves no output, and the next start converts it again
// and removes what is left of killed runs whose recordings have gone.
TEST_F(AutoConverterRun, AClosedHalvernFinishesItsConversionWhileAKilledOneStartsItAgain)
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

    // Closed: the window goes at once, the conversion goes on to its end, then the process ends.
    ASSERT_NO_FATAL_FAILURE(startConverting());
    HWND window = halvern.Window();
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }, 3000)) << "the window waited for the conversion";
    EXPECT_FALSE(halvern.Process().WaitForExit(0)) << "the exit cut the conversion short";
    EXPECT_TRUE(FileExists(LockFilePath())) << "the lock is held until the end";
    ASSERT_TRUE(halvern.CloseAndWait(60000));
    EXPECT_TRUE(IsProgramStream(output + "Late.MPG"));
    EXPECT_FALSE(FileExists(output + "Late.MPG.partial"));
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_EQ(1u, CountOf(halvern.Output(), kDone)) << halvern.Output();
    ASSERT_TRUE(::DeleteFileA((output + "Late.MPG").c_str()));

    // Killed: only the unfinished file is left, under a name that is not the output's. The next start
    // converts the recording again; an unfinished file whose recording has gone meanwhile goes.
    ASSERT_NO_FATAL_FAILURE(startConverting());
    halvern.Process().Kill();
    EXPECT_FALSE(FileExists(output + "Late.MPG"));
    ASSERT_TRUE(::CopyFileA((output + "Late.MPG.partial").c_str(), (output + "Deleted.MPG.partial").c_str(), FALSE));

    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitForOutput(output + "Late.MPG", 60000));
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(output + "Late.MPG.partial"); }, kPromptMs));
    EXPECT_FALSE(FileExists(output + "Deleted.MPG.partial"));
    EXPECT_TRUE(FileExists(input + "Late.dvr-ms")) << "DeleteSourceFile is off";
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace blackbox
