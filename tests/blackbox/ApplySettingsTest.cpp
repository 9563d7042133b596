// "Apply Settings" amid an Auto Converter conversion: the question, and what each answer does.

#include <optional>

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

const char kQuestion[] = "Auto Converter is running. It must restart in order to apply. \n\nRestart service?";

class ApplySettingsDuringConversion : public BlackBoxTest {
protected:
    // Starts the Auto Converter converting "First", slowed by `fault`; "Waiting" waits in the other directory.
    void StartConverting(const std::string& fault)
    {
        fault_.emplace(fault);
        otherInput = MakeScratchDirectory("blackbox-in-b");
        ASSERT_TRUE(CopyRecording(otherInput + "Waiting.dvr-ms"));
        ASSERT_TRUE(CopyRecording(input + "First.dvr-ms"));
        StoredSettings settings = Defaults();
        settings.AutoStartConvert = 1;
        StoreSettings(settings);
        ASSERT_TRUE(halvern.Start(StdoutPath()));
        ASSERT_TRUE(WaitUntil([&] { return Caption() == "Cancel Conversion!"; }, kPromptMs));
    }

    // Types the other input directory, presses Apply Settings and answers the question with `button`.
    void ApplyOtherInputAnswering(int button)
    {
        HWND window = halvern.Window();
        SetControlText(::GetDlgItem(window, IDC_INPUT_PATH), otherInput);
        EXPECT_TRUE(ItemEnabled(window, IDC_APPLY)) << "the edit enables Apply Settings";
        Click(window, IDC_APPLY);
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = FindOtherDialog(halvern.Id(), window, IDYES)) != nullptr; }, kPromptMs))
            << "no restart question";
        EXPECT_EQ("Halvern", WindowText(box));
        EXPECT_TRUE(::FindWindowExA(box, nullptr, "Static", kQuestion)) << "the question box asks something else";
        Click(box, button);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, kPromptMs)) << "the question box stayed";
    }

    std::string Caption() const { return DialogItemText(halvern.Window(), IDC_CONVERT_SINGLE); }

    std::string StoredInputPath() const
    {
        std::string stored;
        ReadRegistryString(kSettingsKey, "InputPath", stored);
        return stored;
    }

    std::string otherInput;
    std::optional<ScopedDecrypterFault> fault_;
};

TEST_F(ApplySettingsDuringConversion, AnsweredNoChangesNothingAndTheWorkerGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(StartConverting("pace=0.5;First")); // converting while asked: about 6 seconds
    HWND window = halvern.Window();
    ASSERT_NO_FATAL_FAILURE(ApplyOtherInputAnswering(IDNO));

    // Nothing applied: the edit stays pending, the stored value is the old one, the run goes on.
    EXPECT_TRUE(ItemEnabled(window, IDC_APPLY));
    EXPECT_TRUE(ItemEnabled(window, IDC_CANCEL_CHANGES));
    EXPECT_EQ(otherInput, DialogItemText(window, IDC_INPUT_PATH));
    EXPECT_EQ(input, StoredInputPath());
    EXPECT_EQ("Cancel Conversion!", Caption());

    ASSERT_TRUE(WaitForOutput(output + "First.MPG", 30000));
    // The run's end enables Stop only for a worker that still runs.
    EXPECT_TRUE(WaitUntil([&] { return ItemEnabled(window, IDC_STOP_AUTO); }, kPromptMs));
    EXPECT_FALSE(ItemEnabled(window, IDC_START_AUTO));
    // An answer taken for a Yes would have ended the worker after this conversion.
    EXPECT_TRUE(WaitUntil([&] { return ContainsInOrder(halvern.Output(), {kDone, kWaiting}); }, kPromptMs))
        << halvern.Output();

    // The same worker still watches the old directory.
    DropRecording(input + "Second.dvr-ms");
    ASSERT_TRUE(WaitForOutput(output + "Second.MPG", 30000, input + "Second.dvr-ms"));
    EXPECT_FALSE(FileExists(output + "Waiting.MPG")) << "the other directory was never applied";
    EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == 2; }, kPromptMs)) << halvern.Output();
    EXPECT_EQ(1u, CountOf(halvern.Output(), kBanner)) << "one worker all along";

    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_EQ(input, StoredInputPath()) << "an edit never applied is not saved at exit";
}

TEST_F(ApplySettingsDuringConversion, AnsweredYesLetsTheConversionFinishThenRestartsOnTheNewDirectory)
{
    ASSERT_NO_FATAL_FAILURE(StartConverting("pace=0.3;First")); // about 10 seconds
    HWND window = halvern.Window();
    ASSERT_NO_FATAL_FAILURE(ApplyOtherInputAnswering(IDYES));

    // Applied at once; the window answers while the worker finishes its conversion (the buttons
    // meanwhile are the window test's).
    ASSERT_TRUE(Responds(window, 3000)) << "Halvern stopped answering in the restart";
    EXPECT_EQ(otherInput, StoredInputPath());
    EXPECT_FALSE(ItemEnabled(window, IDC_APPLY));
    EXPECT_EQ("Cancel Conversion!", Caption());
    EXPECT_FALSE(FileExists(output + "First.MPG")) << "the conversion was cut short";

    // The conversion is published; then a new worker takes up the new directory.
    ASSERT_TRUE(WaitForOutput(output + "First.MPG", 30000));
    ASSERT_TRUE(WaitForOutput(output + "Waiting.MPG", 30000));
    EXPECT_TRUE(WaitUntil([&] { return CountOf(halvern.Output(), kDone) == 2; }, kPromptMs)) << halvern.Output();
    EXPECT_EQ(2u, CountOf(halvern.Output(), kBanner)) << "a second worker started";
    EXPECT_TRUE(ContainsInOrder(halvern.Output(), {kDone, kWaiting, kBanner})) << "the first worker ended after its conversion";
    EXPECT_TRUE(FileExists(input + "First.dvr-ms")) << "DeleteSourceFile is off";

    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_EQ(otherInput, StoredInputPath());
}

} // namespace
} // namespace blackbox
