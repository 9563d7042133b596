// Starts the real Halvern.exe as a user would and looks at what it leaves behind.

#include "base/ScopedWin.h"
#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"

using namespace testing_support;

namespace blackbox {
namespace {

const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";

std::string InternalGraphResource()
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    return std::string(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(nullptr, resource));
}

bool IsHeldExclusively(const std::string& path)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    return !file && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

using Startup = BlackBoxTest; // without the stand-ins: nothing here converts

// A lock file left by a crashed run is replaced by the internal graph and held; a second start is
// refused and leaves the first running with its lock, which an orderly exit removes.
TEST_F(Startup, TheLockFileHoldsTheInternalGraphAndRefusesASecondInstance)
{
    WriteFileBytes(LockFilePath(), std::string(5000, 'x'));
    ASSERT_TRUE(halvern.Start());
    EXPECT_TRUE(IsHeldExclusively(LockFilePath())) << "nobody else can even read the lock file";
    // The held file cannot be read, but a directory listing shows its size.
    WIN32_FIND_DATAA found = {};
    UniqueFindHandle find(::FindFirstFileA(LockFilePath().c_str(), &found));
    EXPECT_EQ(found.nFileSizeLow, InternalGraphResource().size());

    ChildProcess second;
    ASSERT_TRUE(second.Start(HalvernExePath()));
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            box = FindProcessDialog(second.Id(), "Halvern");
            return box && ::FindWindowExA(box, nullptr, "Static", "Program can't have 2 instances");
        },
        kPromptMs));
    EXPECT_EQ(FindProcessDialog(second.Id(), "Halvern", IDC_CONVERT_SINGLE), nullptr) << "no main window";
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(second.WaitForExit(10000));

    EXPECT_TRUE(IsHeldExclusively(LockFilePath())) << "the first instance still holds its file";
    EXPECT_TRUE(halvern.CloseAndWait());
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
}

// Every start stores all eight settings: the stored ones as they were, the others as their
// defaults, both paths from the media centre's recording directory.
TEST_F(Startup, TheSettingsAreStoredAtExitWithTheDefaultsForWhatWasNotStored)
{
    SetRegistryString(kRecordingKey, "RecordPath", "C:\\users\\Public\\Recorded TV", HKEY_LOCAL_MACHINE);
    SetRegistryString(kSettingsKey, "InputPath", "C:\\In");
    SetRegistryString(kSettingsKey, "InputExt", "ts");
    SetRegistryDword(kSettingsKey, "DeleteSourceFile", 1);
    ASSERT_TRUE(halvern.Start());
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(halvern.Window()); }, kPromptMs)) << "HideOnStartup is 0";
    EXPECT_EQ(DialogItemText(halvern.Window(), IDC_INPUT_PATH), "C:\\In");
    ASSERT_TRUE(halvern.CloseAndWait());

    const char* const texts[][2] = {{"InputPath", "C:\\In"}, {"OutputPath", "C:\\users\\Public\\Recorded TV"},
                                    {"InputExt", "ts"}, {"OutputExt", "MPG"}, {"UseFilterGraph", kInternalGraphName}};
    for (const auto& value : texts) {
        std::string text;
        ASSERT_TRUE(ReadRegistryString(kSettingsKey, value[0], text)) << value[0];
        EXPECT_EQ(text, value[1]);
    }
    for (const auto& value : {std::make_pair("DeleteSourceFile", 1u), std::make_pair("HideOnStartup", 0u),
                              std::make_pair("AutoStartConvert", 0u)}) {
        DWORD number = 7;
        ASSERT_TRUE(ReadRegistryDword(kSettingsKey, value.first, number)) << value.first;
        EXPECT_EQ(number, value.second) << value.first;
    }
    DeleteRegistryTree(kRecordingKey, HKEY_LOCAL_MACHINE);
}

} // namespace
} // namespace blackbox
