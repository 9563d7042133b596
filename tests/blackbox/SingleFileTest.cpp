// "Convert Single File..." worked as a user would: the open-file dialog, the button, the cancel.

#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

using SingleFileCommand = BlackBoxTest;

// The only visible edit box of Wine's open-file dialog, whichever control holds it.
BOOL CALLBACK FindFileNameEdit(HWND child, LPARAM found)
{
    char className[8] = {};
    ::GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Edit") != 0 || !::IsWindowVisible(child))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// Clicks "Convert Single File...", checks what the open-file dialog offers, types `typed`, presses Open.
void PickInFileDialog(HalvernRun& halvern, const std::string& typed)
{
    HWND window = halvern.Window();
    Click(window, IDC_CONVERT_SINGLE);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = FindOtherDialog(halvern.Id(), window, IDOK)) != nullptr; }, kPromptMs))
        << "no open-file dialog";
    EXPECT_EQ("Input Files (*.DVR-MS)", DialogItemText(dialog, cmb1)) << "the first file type is selected";
    HWND name = nullptr;
    ::EnumChildWindows(dialog, FindFileNameEdit, reinterpret_cast<LPARAM>(&name));
    ASSERT_NE(nullptr, name) << "no file-name box";
    // The initial name was the input directory and the pattern: opened there, it shows the pattern alone.
    EXPECT_EQ("*.DVR-MS", ControlText(name));
    SetControlText(name, typed);
    ASSERT_EQ(typed, ControlText(name));
    Click(dialog, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); }, kPromptMs))
        << "the open-file dialog did not take \"" << typed << "\"";
}

TEST_F(SingleFileCommand, CancelEndsAConversionAtOnceAndAPickedRecordingConvertsUnderItsDerivedName)
{
    // Long enough for a few five-second steps of the progress bar: about 20 seconds.
    ScopedDecrypterFault slow("pace=0.15");
    const std::string picked = MakeScratchDirectory("blackbox-picked"); // which the Auto Converter never sees
    ASSERT_TRUE(CopyRecording(picked + "Show.dvr-ms"));
    ASSERT_TRUE(CopyRecording(input + "Long.dvr-ms"));
    StoredSettings settings = Defaults();
    // As a user may type them, with no backslash at the end.
    settings.InputPath = input.substr(0, input.size() - 1);
    settings.OutputPath = output.substr(0, output.size() - 1);
    StoreSettings(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    HWND window = halvern.Window();
    const auto caption = [&] { return DialogItemText(window, IDC_CONVERT_SINGLE); };
    const auto progress = [&](UINT message) { return Ask(::GetDlgItem(window, IDC_PROGRESS), message); };

    // Picked by its bare name: only a dialog that opened in the input directory finds it.
    ASSERT_NO_FATAL_FAILURE(PickInFileDialog(halvern, "Long.dvr-ms"));
    ASSERT_TRUE(WaitUntil([&] { return caption() == "Cancel Conversion!"; }, kPromptMs));
    // Cancelled well before the first progress step, the conversion must not wait for it.
    ASSERT_TRUE(ItemEnabled(window, IDC_CONVERT_SINGLE));
    Click(window, IDC_CONVERT_SINGLE);
    EXPECT_TRUE(WaitUntil([&] { return !ItemEnabled(window, IDC_CONVERT_SINGLE); }, kPromptMs))
        << "the cancel click disables the button";
    ASSERT_TRUE(WaitUntil([&] { return ItemEnabled(window, IDC_CONVERT_SINGLE) && caption() == "Convert Single File..."; },
                          3000))
        << "a cancel ends the conversion at once, not at the next five-second progress step";
    EXPECT_EQ(0, progress(PBM_GETPOS));

    // The cancelled run let go of its recording; gone, the Auto Converter will not take it up.
    ASSERT_TRUE(::DeleteFileA((input + "Long.dvr-ms").c_str())) << ::GetLastError();

    // With the Auto Converter running, its Stop button is enabled except while a conversion runs.
    Click(window, IDC_START_AUTO);
    ASSERT_TRUE(WaitUntil([&] { return ItemEnabled(window, IDC_STOP_AUTO); }, kPromptMs));
    ASSERT_NO_FATAL_FAILURE(PickInFileDialog(halvern, picked + "Show.dvr-ms"));
    ASSERT_TRUE(WaitUntil([&] { return caption() == "Cancel Conversion!"; }, kPromptMs));
    bool stopEnabledDuringRun = false;
    LONG_PTR furthest = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            // The run's end sets the caption before it enables Stop: Stop enabled under the run's caption is a fault.
            const bool stopEnabled = ItemEnabled(window, IDC_STOP_AUTO);
            const LONG_PTR position = progress(PBM_GETPOS);
            if (caption() != "Cancel Conversion!")
                return true;
            stopEnabledDuringRun = stopEnabledDuringRun || stopEnabled;
            furthest = std::max(furthest, position);
            return false;
        },
        30000))
        << "the conversion did not end";
    EXPECT_FALSE(stopEnabledDuringRun) << "Stop Auto Converter must be disabled while a conversion runs";
    EXPECT_GT(furthest, 0) << "the progress bar moves after five seconds of a longer run";
    // Without a PBRANGE to fill, the answer is the range's top: the duration in whole seconds.
    EXPECT_EQ(3, progress(PBM_GETRANGE));
    EXPECT_EQ("Convert Single File...", caption());
    EXPECT_TRUE(ItemEnabled(window, IDC_CONVERT_SINGLE));
    EXPECT_TRUE(ItemEnabled(window, IDC_STOP_AUTO)) << "the Auto Converter still runs";
    EXPECT_EQ(0, progress(PBM_GETPOS));

    WIN32_FIND_DATAA stored;
    const UniqueFindHandle find(::FindFirstFileA((output + "Show.MPG").c_str(), &stored));
    EXPECT_STREQ("Show.MPG", find ? stored.cFileName : "") << "named as derived, in that letter case";
    EXPECT_TRUE(IsSoundProgramStream(output + "Show.MPG"));
    EXPECT_TRUE(FileExists(picked + "Show.dvr-ms")) << "a single-file conversion keeps its recording";
    EXPECT_FALSE(FileExists(picked + "Show.MPG")) << "the recording's own directory plays no part";
    // Had the cancelled conversion gone on, it would have ended before this one could begin.
    EXPECT_FALSE(FileExists(output + "Long.MPG")) << "a cancelled conversion publishes nothing";
    EXPECT_FALSE(FileExists(output + "Long.MPG.partial")) << "nor leaves its unfinished file";
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace blackbox
