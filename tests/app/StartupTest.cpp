// Starts the real Halvern.exe as a user would and looks at what it leaves behind.

#include "framework/ScopedWin.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kAppKey[] = "Software\\Morrowick\\Halvern";
const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";

// A control of another process's window: WM_GETTEXT crosses processes, GetWindowText does not.
std::string ItemText(HWND window, int id)
{
    char text[MAX_PATH] = {};
    ::GetDlgItemTextA(window, id, text, MAX_PATH);
    return text;
}

std::string LockFilePath()
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "InternalXGR.tmp";
}

std::string InternalGraphResource()
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    return std::string(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(nullptr, resource));
}

HWND WaitForMainWindow(const ChildProcess& process)
{
    HWND window = nullptr;
    WaitUntil(
        [&] {
            window = FindProcessDialog(process.Id(), "Halvern", IDC_CONVERT_SINGLE);
            return window && ::IsWindowVisible(window);
        },
        20000);
    return window;
}

bool CloseAndWaitForExit(ChildProcess& process, HWND window)
{
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    return process.WaitForExit(20000, &exitCode) && exitCode == 0;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM lParam)
{
    auto* wanted = reinterpret_cast<std::pair<std::string, HWND>*>(lParam);
    if (WindowText(child) == wanted->first) {
        wanted->second = child;
        return FALSE;
    }
    return TRUE;
}

bool IsHeldExclusively(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteRegistryTree(kAppKey);
        DeleteRegistryTree(kRecordingKey, HKEY_LOCAL_MACHINE);
        ::DeleteFileA(LockFilePath().c_str());
    }
    void TearDown() override
    {
        DeleteRegistryTree(kAppKey);
        DeleteRegistryTree(kRecordingKey, HKEY_LOCAL_MACHINE);
    }
};

} // namespace

// A lock file left by a crashed run is replaced by the internal graph and held; a second start is
// refused and leaves the first running with its lock, which an orderly exit removes.
TEST_F(StartupTest, TheLockFileHoldsTheInternalGraphAndRefusesASecondInstance)
{
    WriteFileBytes(LockFilePath(), std::string(5000, 'x'));
    ChildProcess first;
    ASSERT_TRUE(first.Start(HalvernExePath()));
    HWND window = WaitForMainWindow(first);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ReadFileBytes(LockFilePath()), std::string()) << "nobody else can even read the lock file";
    EXPECT_TRUE(IsHeldExclusively(LockFilePath()));
    // The held file cannot be read, but a directory listing shows its size.
    WIN32_FIND_DATAA found = {};
    UniqueFindHandle find(::FindFirstFileA(LockFilePath().c_str(), &found));
    EXPECT_EQ(found.nFileSizeLow, InternalGraphResource().size());

    ChildProcess second;
    ASSERT_TRUE(second.Start(HalvernExePath()));
    std::pair<std::string, HWND> text("Program can't have 2 instances", nullptr);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            box = FindProcessDialog(second.Id(), "Halvern");
            if (box)
                ::EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&text));
            return text.second != nullptr;
        },
        20000));
    EXPECT_EQ(FindProcessDialog(second.Id(), "Halvern", IDC_CONVERT_SINGLE), nullptr) << "no main window";
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(second.WaitForExit(10000));

    EXPECT_TRUE(IsHeldExclusively(LockFilePath())) << "the first instance still holds its file";
    EXPECT_TRUE(CloseAndWaitForExit(first, window));
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
}

// Every start stores all eight settings: the stored ones as they were, the others as their
// defaults, both paths from the media centre's recording directory.
TEST_F(StartupTest, TheSettingsAreStoredAtExitWithTheDefaultsForWhatWasNotStored)
{
    SetRegistryString(kRecordingKey, "RecordPath", "C:\\users\\Public\\Recorded TV", HKEY_LOCAL_MACHINE);
    SetRegistryString(kAppKey, "InputPath", "C:\\In");
    SetRegistryString(kAppKey, "InputExt", "ts");
    SetRegistryDword(kAppKey, "DeleteSourceFile", 1);
    ChildProcess halvern;
    ASSERT_TRUE(halvern.Start(HalvernExePath()));
    HWND window = WaitForMainWindow(halvern);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ItemText(window, IDC_INPUT_PATH), "C:\\In");
    ASSERT_TRUE(CloseAndWaitForExit(halvern, window));

    const char* const texts[][2] = {{"InputPath", "C:\\In"}, {"OutputPath", "C:\\users\\Public\\Recorded TV"},
                                    {"InputExt", "ts"}, {"OutputExt", "MPG"},
                                    {"UseFilterGraph", "<Internal DVR to MPG graph>"}};
    for (const auto& value : texts) {
        std::string text;
        ASSERT_TRUE(ReadRegistryString(kAppKey, value[0], text)) << value[0];
        EXPECT_EQ(text, value[1]);
    }
    for (const auto& value : {std::make_pair("DeleteSourceFile", 1u), std::make_pair("HideOnStartup", 0u),
                              std::make_pair("AutoStartConvert", 0u)}) {
        DWORD number = 7;
        ASSERT_TRUE(ReadRegistryDword(kAppKey, value.first, number)) << value.first;
        EXPECT_EQ(number, value.second) << value.first;
    }
}

TEST_F(StartupTest, AnotherExecutableNameUsesItsOwnKey)
{
    std::string other = ModuleDirectory() + "HalvernOther.exe";
    ASSERT_TRUE(::CopyFileA(HalvernExePath().c_str(), other.c_str(), FALSE));
    SetRegistryString(kAppKey, "InputExt", "ts");
    DeleteRegistryTree("Software\\Morrowick\\HalvernOther");

    ChildProcess halvern;
    ASSERT_TRUE(halvern.Start(other));
    HWND window = WaitForMainWindow(halvern);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ItemText(window, IDC_INPUT_EXT), "DVR-MS") << "Halvern's stored value is not this program's";
    ASSERT_TRUE(CloseAndWaitForExit(halvern, window));

    std::string text;
    EXPECT_TRUE(ReadRegistryString("Software\\Morrowick\\HalvernOther", "InputExt", text));
    EXPECT_EQ(text, "DVR-MS");
    DeleteRegistryTree("Software\\Morrowick\\HalvernOther");
    ::DeleteFileA(other.c_str());
}
