// The Auto Converter of the real Halvern.exe: started with the program, hidden in the tray,
// reporting on a redirected standard output, and keeping the program alive until its conversion
// has finished.

#include "res/resource.h"
#include "tests/blackbox/BlackBoxFixture.h"

using namespace testing_support;

namespace blackbox {
namespace {

// The banner's sentences as the worker writes them, one after another, and the line that follows.
const char kBanner[] =
    "Place in direcotry of recorded TV, together with \"FilterGraph.xgr\", "
    "this XGR file is an export of the graphedit tool by microsoft. "
    "As soon as MCE deletes a DVR-MS file, its corresponding MPG will also be deleted. "
    "If there are any unconverted files in your directory when program starts, "
    "they will start to convert after about 60 seconds."
    "\n\n";
const char kWaiting[] = "\nWaiting for new recording...\n";
const char kDone[] = " - Done.\n";

using AutoConverterRun = BlackBoxTest;

TEST_F(AutoConverterRun, HiddenStartConvertsDroppedRecordingsAndReportsEachOnStandardOutput)
{
    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    settings.HideOnStartup = 1;
    settings.DeleteSourceFile = 1;
    StoreSettings(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    HWND window = halvern.Window();

    // The worker announces itself, looks at the empty directory and waits.
    ASSERT_TRUE(WaitUntil([&] { return ContainsInOrder(halvern.Output(), {kBanner, kWaiting}); }, kPromptMs))
        << "standard output so far:\n" << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kBanner)) << halvern.Output();
    EXPECT_EQ(std::string(kBanner) + kWaiting,
              halvern.Output().substr(halvern.Output().find(kBanner))) << "the banner and the first line run together";
    EXPECT_FALSE(::IsWindowVisible(window));

    const StandInRecording first = Recording("first dropped", 1.0);
    DropRecording(input + "First.dvr-ms", first);
    ASSERT_TRUE(WaitForFileBytes(output + "First.MPG", ExpectedStandInOutput(first), 30000, input + "First.dvr-ms"))
        << "the dropped recording was not converted";
    // Each line is out while Halvern still runs, not only when it ends.
    EXPECT_TRUE(WaitUntil([&] { return ContainsInOrder(halvern.Output(), {kBanner, kWaiting, kDone, kWaiting}); },
                          kPromptMs))
        << "standard output so far:\n" << halvern.Output();
    EXPECT_TRUE(halvern.Running());
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(input + "First.dvr-ms"); }, kPromptMs))
        << "DeleteSourceFile removes a converted recording";

    const StandInRecording second = Recording("second dropped", 1.0);
    DropRecording(input + "Second.dvr-ms", second);
    ASSERT_TRUE(
        WaitForFileBytes(output + "Second.MPG", ExpectedStandInOutput(second), 30000, input + "Second.dvr-ms"));
    EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == 2; }, kPromptMs)) << halvern.Output();
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(input + "Second.dvr-ms"); }, kPromptMs));
    EXPECT_TRUE(
        ContainsInOrder(halvern.Output(), {kBanner, kWaiting, kDone, kWaiting, kDone, kWaiting}))
        << halvern.Output();
    EXPECT_EQ(0u, CountOf(halvern.Output(), " - Failed.\n")) << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kBanner)) << "one worker all along";

    // Through all of it the window stayed in the tray; the lock is held while Halvern runs.
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(FileExists(LockFilePath()));

    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
    EXPECT_TRUE(HoldsBytes(output + "First.MPG", ExpectedStandInOutput(first))) << "outputs are never deleted";
}

TEST_F(AutoConverterRun, ExitWaitsUntilTheRunningConversionHasFinished)
{
    const StandInRecording recording = Recording("converted while closing", 5.0, 1.0);
    WriteStandInRecording(input + "Late.dvr-ms", recording);
    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    HWND window = halvern.Window();

    // The first pass takes up the waiting recording at once.
    ASSERT_TRUE(WaitUntil([&] { return DialogItemText(window, IDC_CONVERT_SINGLE) == "Cancel Conversion!"; },
                          kPromptMs));
    const DWORD closed = ::GetTickCount();
    ::PostMessageA(window, WM_CLOSE, 0, 0);

    // The window goes at once; the process stays, lock and all, while the conversion goes on.
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window) || !::IsWindowVisible(window); }, 2000));
    EXPECT_TRUE(halvern.Running()) << "Halvern ended under its running conversion";
    EXPECT_EQ(0u, CountOf(halvern.Output(), kDone));
    EXPECT_TRUE(FileExists(LockFilePath()));

    DWORD exitCode = 1;
    ASSERT_TRUE(halvern.Process().WaitForExit(30000, &exitCode)) << "Halvern did not end after the conversion";
    EXPECT_EQ(0u, exitCode);
    EXPECT_GE(::GetTickCount() - closed, 2000u) << "the exit waited for the rest of a five-second conversion";
    EXPECT_TRUE(HoldsBytes(output + "Late.MPG", ExpectedStandInOutput(recording)));
    EXPECT_TRUE(ContainsInOrder(halvern.Output(), {kBanner, kWaiting, kDone, kWaiting})) << halvern.Output();
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_TRUE(FileExists(input + "Late.dvr-ms")) << "DeleteSourceFile is off";
}

} // namespace
} // namespace blackbox
