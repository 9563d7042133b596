// Starts the real Halvern.exe as a user would and looks at what it leaves behind.

#include "res/resource.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kAppKey[] = "Software\\Morrowick\\Halvern";
const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";

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

struct CFileSize {
    ULONGLONG Of(const std::string& path)
    {
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA(path.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return 0;
        ::FindClose(find);
        return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
};

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

TEST_F(StartupTest, SecondInstanceIsRefusedAndTheFirstKeepsItsLock)
{
    ChildProcess first;
    ASSERT_TRUE(first.Start(HalvernExePath()));
    HWND window = WaitForMainWindow(first);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ReadFileBytes(LockFilePath()), std::string()) << "nobody else can even read the lock file";
    EXPECT_TRUE(IsHeldExclusively(LockFilePath()));

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
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_TRUE(CloseAndWaitForExit(first, window));
    EXPECT_FALSE(FileExists(LockFilePath())) << "an orderly exit removes the lock file";
}

TEST_F(StartupTest, StaleLockFileIsReplacedByTheInternalGraph)
{
    WriteFileBytes(LockFilePath(), std::string(5000, 'x'));
    ChildProcess halvern;
    ASSERT_TRUE(halvern.Start(HalvernExePath()));
    HWND window = WaitForMainWindow(halvern);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsHeldExclusively(LockFilePath()));
    // The held file cannot be read, but a directory listing shows its size.
    CFileSize size;
    EXPECT_EQ(size.Of(LockFilePath()), InternalGraphResource().size());
    ASSERT_TRUE(CloseAndWaitForExit(halvern, window));
    EXPECT_FALSE(FileExists(LockFilePath()));
}

TEST_F(StartupTest, FirstRunStoresAllEightDefaultsWithTheRecordingDirectory)
{
    SetRegistryString(kRecordingKey, "RecordPath", "C:\\users\\Public\\Recorded TV", HKEY_LOCAL_MACHINE);
    ChildProcess halvern;
    ASSERT_TRUE(halvern.Start(HalvernExePath()));
    HWND window = WaitForMainWindow(halvern);
    ASSERT_NE(window, nullptr);
    char shown[MAX_PATH] = {};
    ::GetDlgItemTextA(window, IDC_INPUT_PATH, shown, MAX_PATH);
    EXPECT_STREQ(shown, "C:\\users\\Public\\Recorded TV");
    ASSERT_TRUE(CloseAndWaitForExit(halvern, window));

    std::string text;
    DWORD number = 7;
    ASSERT_TRUE(ReadRegistryString(kAppKey, "InputPath", text));
    EXPECT_EQ(text, "C:\\users\\Public\\Recorded TV");
    ASSERT_TRUE(ReadRegistryString(kAppKey, "OutputPath", text));
    EXPECT_EQ(text, "C:\\users\\Public\\Recorded TV");
    ASSERT_TRUE(ReadRegistryString(kAppKey, "InputExt", text));
    EXPECT_EQ(text, "DVR-MS");
    ASSERT_TRUE(ReadRegistryString(kAppKey, "OutputExt", text));
    EXPECT_EQ(text, "MPG");
    ASSERT_TRUE(ReadRegistryString(kAppKey, "UseFilterGraph", text));
    EXPECT_EQ(text, "<Internal DVR to MPG graph>");
    for (const char* name : {"DeleteSourceFile", "HideOnStartup", "AutoStartConvert"}) {
        ASSERT_TRUE(ReadRegistryDword(kAppKey, name, number)) << name;
        EXPECT_EQ(number, 0u) << name;
    }
}

TEST_F(StartupTest, StoredValuesAreKeptAndADeletedOneFallsBackToItsDefault)
{
    SetRegistryString(kAppKey, "InputPath", "C:\\In");
    SetRegistryString(kAppKey, "InputExt", "ts");
    SetRegistryDword(kAppKey, "DeleteSourceFile", 1);
    ChildProcess halvern;
    ASSERT_TRUE(halvern.Start(HalvernExePath()));
    HWND window = WaitForMainWindow(halvern);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(CloseAndWaitForExit(halvern, window));

    std::string text;
    DWORD number = 0;
    ASSERT_TRUE(ReadRegistryString(kAppKey, "InputPath", text));
    EXPECT_EQ(text, "C:\\In");
    ASSERT_TRUE(ReadRegistryString(kAppKey, "OutputPath", text));
    EXPECT_EQ(text, "C:\\") << "no media centre key here, and the stored input path is not the output default";
    ASSERT_TRUE(ReadRegistryString(kAppKey, "InputExt", text));
    EXPECT_EQ(text, "ts");
    ASSERT_TRUE(ReadRegistryDword(kAppKey, "DeleteSourceFile", number));
    EXPECT_EQ(number, 1u);
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
    char shown[MAX_PATH] = {};
    ::GetDlgItemTextA(window, IDC_INPUT_EXT, shown, MAX_PATH);
    EXPECT_STREQ(shown, "DVR-MS") << "Halvern's stored value is not this program's";
    ASSERT_TRUE(CloseAndWaitForExit(halvern, window));

    std::string text;
    EXPECT_TRUE(ReadRegistryString("Software\\Morrowick\\HalvernOther", "InputExt", text));
    EXPECT_EQ(text, "DVR-MS");
    DeleteRegistryTree("Software\\Morrowick\\HalvernOther");
    ::DeleteFileA(other.c_str());
}
