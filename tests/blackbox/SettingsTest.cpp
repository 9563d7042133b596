// Settings that cannot work, entered in the real Halvern.exe's window or found stored in the registry.

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

using UnworkableSettings = BlackBoxTest;

const std::string PlainExtension =
    " must be a plain extension, such as MPG: not empty, without a path or any of \\ / : * ? \" < > |.";

// "Apply Settings" refuses a value that cannot work with a message box naming its field: nothing is
// stored and the edit stays pending, to be mended or cancelled.
TEST_F(UnworkableSettings, ApplyRefusesThemNamingTheField)
{
    const StoredSettings stored = Defaults();
    StoreSettings(stored);
    ASSERT_TRUE(halvern.Start());
    HWND window = halvern.Window();
    const struct {
        int id;
        const char* value; // its name in the registry
        std::string stored, entered, message;
    } cases[] = {
        {IDC_OUTPUT_EXT, "OutputExt", stored.OutputExt, "MPG\\..\\x", "The output extension" + PlainExtension},
        {IDC_OUTPUT_EXT, "OutputExt", stored.OutputExt, "M<P>G", "The output extension" + PlainExtension},
        {IDC_OUTPUT_EXT, "OutputExt", stored.OutputExt, "", "The output extension" + PlainExtension},
        {IDC_INPUT_EXT, "InputExt", stored.InputExt, "*", "The input extension" + PlainExtension},
        {IDC_INPUT_PATH, "InputPath", stored.InputPath, "", "The input directory cannot be empty."},
        {IDC_OUTPUT_PATH, "OutputPath", stored.OutputPath, "", "The output directory cannot be empty."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " \"" + c.entered + "\"");
        SetControlText(::GetDlgItem(window, c.id), c.entered);
        Click(window, IDC_APPLY);
        ASSERT_TRUE(AnswerMessage(halvern.Id(), c.message, IDOK));
        EXPECT_TRUE(ItemEnabled(window, IDC_APPLY) && ItemEnabled(window, IDC_CANCEL_CHANGES)) << "the edit stays pending";
        std::string value;
        EXPECT_TRUE(ReadRegistryString(SettingsKey, c.value, value) && value == c.stored) << value;
        Click(window, IDC_CANCEL_CHANGES);
        EXPECT_TRUE(WaitUntil([&] { return DialogItemText(window, c.id) == c.stored; }, PromptMs));
    }
    EXPECT_TRUE(halvern.CloseAndWait());
}

// Such a value found stored falls back to its default for the run, and the Auto Converter's output
// says so: the recording converts under the default extension.
TEST_F(UnworkableSettings, AStoredOneFallsBackToItsDefault)
{
    ASSERT_TRUE(CopyRecording(input + "Show.dvr-ms"));
    StoredSettings settings = Defaults();
    settings.OutputExt = "MPG\\..\\x";
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    ASSERT_TRUE(WaitForOutput(output + "Show.MPG", 30000));
    const std::string said = "ERROR - The stored setting cannot work: The output extension" + PlainExtension +
                             " Using \"MPG\" instead.\n";
    EXPECT_TRUE(ContainsInOrder(halvern.Output(), {Banner, said, Waiting, DoneText})) << halvern.Output();
    EXPECT_FALSE(FileExists(output + "x")) << "written where the stored extension points";
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace blackbox
