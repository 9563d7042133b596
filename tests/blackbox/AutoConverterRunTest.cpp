// The Auto Converter of the real Halvern.exe amid a conversion: "Apply Settings" with the real question
// box, and the exit. (The buttons meanwhile are the window test's; a killed run is the worker's.)

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

// Halvern.exe finds the stand-ins for the outside filters through the prefix's registry.
[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

const char kQuestion[] = "Auto Converter is running. It must restart in order to apply. \n\nRestart service?";

class AutoConverterRun : public BlackBoxTest {
protected:
    // Presses "Apply Settings" and answers the question with `button`.
    void ApplyAnswering(int button)
    {
        Click(halvern.Window(), IDC_APPLY);
        HWND box = nullptr;
        const auto asked = [&] { return (box = FindProcessDialog(halvern.Id(), "Halvern", IDYES)) != nullptr; };
        ASSERT_TRUE(WaitUntil(asked, kPromptMs)) << "no restart question";
        EXPECT_TRUE(::FindWindowExA(box, nullptr, "Static", kQuestion)) << "the question box asks something else";
        Click(box, button);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, kPromptMs)) << "the question box stayed";
    }

    // Starts Halvern with the Auto Converter converting the recording, put into the input directory.
    void StartConverting(const std::string& recording)
    {
        ASSERT_TRUE(CopyRecording(input + recording));
        StoredSettings settings = Defaults();
        settings.AutoStartConvert = 1;
        StoreSettings(settings);
        ASSERT_TRUE(halvern.Start(StdoutPath()));
        const auto converting = [&] { return DialogItemText(halvern.Window(), IDC_CONVERT_SINGLE) == "Cancel Conversion!"; };
        ASSERT_TRUE(WaitUntil(converting, kPromptMs));
    }

    std::string StoredInputPath() const
    {
        std::string stored;
        ReadRegistryString(kSettingsKey, "InputPath", stored);
        return stored;
    }
};

// Answered No, "Apply Settings" changes nothing; answered Yes, the new input directory is stored at
// once and taken up by a new worker once the conversion in progress is published. Closed in a
// conversion, Halvern's window goes at once, and the process ends once that conversion is published.
TEST_F(AutoConverterRun, ApplySettingsAndTheExitLetTheConversionInProgressFinish)
{
    ScopedDecrypterFault slow("pace=0.2"); // about 15 seconds each
    const std::string otherInput = MakeScratchDirectory("blackbox-in-b");
    ASSERT_TRUE(CopyRecording(otherInput + "Late.dvr-ms"));
    ASSERT_NO_FATAL_FAILURE(StartConverting("First.dvr-ms"));
    HWND window = halvern.Window();

    SetControlText(::GetDlgItem(window, IDC_INPUT_PATH), otherInput);
    ASSERT_NO_FATAL_FAILURE(ApplyAnswering(IDNO));
    EXPECT_TRUE(ItemEnabled(window, IDC_APPLY)) << "the edit stays pending";
    EXPECT_EQ(input, StoredInputPath());
    ASSERT_NO_FATAL_FAILURE(ApplyAnswering(IDYES));
    ASSERT_TRUE(Responds(window, 3000)) << "Halvern stopped answering in the restart";
    EXPECT_EQ(otherInput, StoredInputPath());
    EXPECT_FALSE(FileExists(output + "First.MPG")) << "applied before the conversion ended";
    ASSERT_TRUE(WaitForOutput(output + "First.MPG", 30000));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(output + "Late.MPG.partial"); }, 30000)) << "the new worker's writer";
    EXPECT_TRUE(ContainsInOrder(halvern.Output(), {kBanner, kDone, kWaiting, kBanner})) << halvern.Output();

    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }, 3000)) << "the window waited for the conversion";
    EXPECT_FALSE(halvern.Process().WaitForExit(0)) << "the exit cut the conversion short";
    EXPECT_TRUE(FileExists(LockFilePath())) << "the lock is held until the end";
    ASSERT_TRUE(halvern.CloseAndWait(60000));
    EXPECT_TRUE(IsProgramStream(output + "Late.MPG"));
    EXPECT_FALSE(FileExists(output + "Late.MPG.partial"));
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_EQ(2u, CountOf(halvern.Output(), kDone)) << halvern.Output();
}

// Closed while its conversion has stopped making progress, in a graph whose filters never end and
// hang when stopped, Halvern still ends: the conversion is cancelled once it has made no progress
// for 30 seconds, the stuck stop is given up a bounded while later, and the lock goes with it, so
// Halvern starts again.
TEST_F(AutoConverterRun, TheExitEndsWhenTheConversionIsStuck)
{
    ScopedDecrypterFault stuck("hang-stop=600");
    ASSERT_NO_FATAL_FAILURE(StartConverting("Stuck.dvr-ms"));
    HWND window = halvern.Window();

    const DWORD closed = ::GetTickCount();
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }, 3000)) << "the window waited for the conversion";
    EXPECT_TRUE(halvern.Process().WaitForExit(90000)) << "Halvern stayed with its stuck conversion";
    EXPECT_GE(::GetTickCount() - closed, 25000u) << "the conversion was not given its time";
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_FALSE(FileExists(output + "Stuck.MPG"));

    ScopedDecrypterFault none("");
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    EXPECT_TRUE(::IsWindow(halvern.Window())) << "Halvern refused to start again";
    ASSERT_TRUE(halvern.CloseAndWait(60000));
}

} // namespace
} // namespace blackbox
