// Starts the real Halvern.exe as a user would and looks at what it leaves behind.

#include "base/ScopedWin.h"
#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

const char RecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";

using Startup = BlackBoxTest; // without the stand-ins: nothing here converts

// A lock file left by a crashed run is replaced (what it then holds: the internal graph's test); a
// second start is refused and leaves the first running with its lock, which an orderly exit removes.
TEST_F(Startup, ALockFileIsTakenOverAndRefusesASecondInstance)
{
    WriteFileBytes(LockFilePath(), std::string(5000, 'x'));
    ASSERT_TRUE(halvern.Start());
    // Held, it cannot be read, but a listing shows that it was replaced whole.
    WIN32_FIND_DATAA found = {};
    UniqueFindHandle find(::FindFirstFileA(LockFilePath().c_str(), &found));
    const HRSRC graph = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    EXPECT_EQ(found.nFileSizeLow, ::SizeofResource(nullptr, graph));

    ChildProcess second;
    ASSERT_TRUE(second.Start(HalvernExePath()));
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            box = FindProcessDialog(second.Id(), "Halvern");
            return box && ::FindWindowExA(box, nullptr, "Static", "Program can't have 2 instances");
        },
        PromptMs));
    EXPECT_EQ(FindProcessDialog(second.Id(), "Halvern", IDC_CONVERT_SINGLE), nullptr) << "no main window";
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(second.WaitForExit(10000));

    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
}

// The settings are read over their defaults, the paths' from the media centre's recording directory,
// and stored at exit. (Each value's name and its default: the settings' test.)
TEST_F(Startup, TheSettingsAreStoredAtExit)
{
    SetRegistryString(RecordingKey, "RecordPath", "C:\\users\\Public\\Recorded TV", HKEY_LOCAL_MACHINE);
    SetRegistryString(SettingsKey, "InputPath", "C:\\In");
    ASSERT_TRUE(halvern.Start());
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(halvern.Window()); }, PromptMs)) << "HideOnStartup is 0";
    EXPECT_EQ(DialogItemText(halvern.Window(), IDC_INPUT_PATH), "C:\\In");
    ASSERT_TRUE(halvern.CloseAndWait());
    DeleteRegistryTree(RecordingKey, HKEY_LOCAL_MACHINE);

    std::string text;
    EXPECT_TRUE(ReadRegistryString(SettingsKey, "InputPath", text) && text == "C:\\In") << text;
    EXPECT_TRUE(ReadRegistryString(SettingsKey, "OutputPath", text) && text == "C:\\users\\Public\\Recorded TV") << text;
    DWORD number = 7;
    EXPECT_TRUE(ReadRegistryDword(SettingsKey, "HideOnStartup", number) && number == 0) << number;
}

} // namespace
} // namespace blackbox
