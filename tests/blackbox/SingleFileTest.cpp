// "Convert Single File..." worked as a user would, through the real open-file dialog. (The button
// through a run's life, its cancel and the progress bar: the window test's.)

#include <windows.h>
#include <dlgs.h>

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
    // The main window has no IDOK; the dialog is looked at once it shows.
    const auto shown = [&] {
        return (dialog = FindProcessDialog(halvern.Id(), nullptr, IDOK)) && ::IsWindowVisible(dialog);
    };
    ASSERT_TRUE(WaitUntil(shown, PromptMs)) << "no open-file dialog";
    EXPECT_EQ("Input Files (*.DVR-MS)", DialogItemText(dialog, cmb1)) << "the first file type is selected";
    HWND name = nullptr;
    ::EnumChildWindows(dialog, FindFileNameEdit, reinterpret_cast<LPARAM>(&name));
    ASSERT_NE(nullptr, name) << "no file-name box";
    // The initial name was the input directory and the pattern: opened there, it shows the pattern alone.
    EXPECT_EQ("*.DVR-MS", ControlText(name));
    SetControlText(name, typed);
    ASSERT_EQ(typed, ControlText(name));
    Click(dialog, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); }, PromptMs))
        << "the open-file dialog did not take \"" << typed << "\"";
}

// Picked by its bare name, so that only a dialog that opened in the input directory finds it.
TEST_F(SingleFileCommand, ABareNameConvertsIntoTheOutputDirectory)
{
    ASSERT_TRUE(CopyRecording(input + "Show.dvr-ms"));
    StoredSettings settings = Defaults();
    // As a user may type them, with no backslash at the end.
    settings.InputPath = input.substr(0, input.size() - 1);
    settings.OutputPath = output.substr(0, output.size() - 1);
    settings.DeleteSourceFile = 1;
    StoreSettings(settings);
    ASSERT_TRUE(halvern.Start());
    ASSERT_NO_FATAL_FAILURE(PickInFileDialog(halvern, "Show.dvr-ms"));
    ASSERT_TRUE(WaitForOutput(output + "Show.MPG", 30000));
    EXPECT_TRUE(WaitUntil([&] { return DialogItemText(halvern.Window(), IDC_CONVERT_SINGLE) == "Convert Single File..."; },
                          PromptMs));
    EXPECT_TRUE(FileExists(input + "Show.dvr-ms")) << "a single-file conversion keeps its recording";
    EXPECT_FALSE(FileExists(input + "Show.MPG")) << "the recording's own directory plays no part";
    EXPECT_TRUE(halvern.CloseAndWait());
}

TEST_F(SingleFileCommand, ARecordingConvertsUnderItsOwnName)
{
    const struct {
        const char* directory;
        const char* recording;
    } cases[] = {{u8"Записи", u8"Новости дня"}, {u8"録画", u8"日本のニュース"}, {u8"\U0001F4FA", u8"TV \U0001F4FA"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recording);
        StoredSettings settings = Defaults();
        settings.InputPath = input + c.directory;
        settings.OutputPath = output + c.directory;
        for (const std::string& directory : {settings.InputPath, settings.OutputPath})
            ASSERT_TRUE(::CreateDirectoryW(Wide(directory).c_str(), nullptr));
        const std::string name = std::string(c.recording) + ".dvr-ms";
        ASSERT_TRUE(CopyRecording(settings.InputPath + "\\" + name));
        StoreSettings(settings);
        ASSERT_TRUE(halvern.Start());
        ASSERT_NO_FATAL_FAILURE(PickInFileDialog(halvern, name));
        ASSERT_TRUE(WaitForOutput(settings.OutputPath + "\\" + c.recording + ".MPG", 30000));
        EXPECT_TRUE(WaitUntil(
            [&] { return DialogItemText(halvern.Window(), IDC_CONVERT_SINGLE) == "Convert Single File..."; }, PromptMs));
        EXPECT_TRUE(halvern.CloseAndWait());
    }
}

} // namespace
} // namespace blackbox
