// The Auto Converter of the real Halvern.exe: started with the program, hidden in the tray,
// reporting on a redirected standard output, and keeping the program alive until its conversion
// has finished.

#include "res/resource.h"
#include "tray/SystemTray.h"
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

    DropRecording(input + "First.dvr-ms");
    ASSERT_TRUE(WaitForOutput(output + "First.MPG", 30000, input + "First.dvr-ms"))
        << "the dropped recording was not converted";
    // Each line is out while Halvern still runs, not only when it ends.
    EXPECT_TRUE(WaitUntil([&] { return ContainsInOrder(halvern.Output(), {kBanner, kWaiting, kDone, kWaiting}); },
                          kPromptMs))
        << "standard output so far:\n" << halvern.Output();
    EXPECT_TRUE(halvern.Running());
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(input + "First.dvr-ms"); }, kPromptMs))
        << "DeleteSourceFile removes a converted recording";

    DropRecording(input + "Second.dvr-ms");
    ASSERT_TRUE(WaitForOutput(output + "Second.MPG", 30000, input + "Second.dvr-ms"));
    EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == 2; }, kPromptMs)) << halvern.Output();
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(input + "Second.dvr-ms"); }, kPromptMs));
    EXPECT_TRUE(
        ContainsInOrder(halvern.Output(), {kBanner, kWaiting, kDone, kWaiting, kDone, kWaiting}))
        << halvern.Output();
    EXPECT_EQ(0u, CountOf(halvern.Output(), " - Failed.\n")) << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kBanner)) << "one worker all along";

    // Through all of it the window stayed in the tray; the lock is held while Halvern runs. The
    // tray icon's double-click brings the window up.
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(FileExists(LockFilePath()));
    ::SendMessageTimeoutA(window, WM_TRAY_CALLBACK, 128, WM_LBUTTONDBLCLK, SMTO_NORMAL, kPromptMs, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(window) && !::IsIconic(window); }, kPromptMs));

    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
    EXPECT_TRUE(IsProgramStream(output + "First.MPG")) << "outputs are never deleted";
}

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
    const DWORD closed = ::GetTickCount();
    ::PostMessageA(halvern.Window(), WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(halvern.Process().WaitForExit(kPromptMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_LT(::GetTickCount() - closed, 10000u) << "the exit waited for the conversion";
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
