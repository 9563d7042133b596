// Halvern.exe started as a program and worked through its window's messages, as a user would.

#include "framework/ScopedWin.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace testing_support;

const char kKey[] = "Software\\Morrowick\\Halvern";
const char kInternalGraphName[] = "<Internal DVR to MPG graph>";
constexpr UINT kTrayCallback = WM_APP + 10;
constexpr UINT kAboutCommand = 0x0010;
constexpr DWORD kTimeoutMs = 30000;

// Control ids of the main dialog.
constexpr int kConvertSingle = 1000;
constexpr int kStartAuto = 1003;
constexpr int kStopAuto = 1004;
constexpr int kInputPath = 1010;
constexpr int kOutputPath = 1012;
constexpr int kApply = 1015;
constexpr int kCancelChanges = 1016;

// Halvern's registry key as it was, put back when the test ends.
class RegistryKeySnapshot {
public:
    RegistryKeySnapshot()
    {
        DeleteRegistryTree(kSaved);
        existed_ = Copy(kKey, kSaved);
    }
    ~RegistryKeySnapshot()
    {
        DeleteRegistryTree(kKey);
        if (existed_)
            Copy(kSaved, kKey);
        DeleteRegistryTree(kSaved);
    }

private:
    static constexpr const char* kSaved = "Software\\Morrowick\\Halvern (saved by ui_halvern_test)";

    static bool Copy(const char* from, const char* to)
    {
        UniqueRegKey source;
        UniqueRegKey target;
        return ::RegOpenKeyExA(HKEY_CURRENT_USER, from, 0, KEY_READ, source.Receive()) == ERROR_SUCCESS
            && ::RegCreateKeyExA(HKEY_CURRENT_USER, to, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.Receive(),
                                 nullptr) == ERROR_SUCCESS
            && ::RegCopyTreeA(source.Get(), nullptr, target.Get()) == ERROR_SUCCESS;
    }

    bool existed_ = false;
};

// GetWindowText cannot read an edit box of another process; the control answers WM_GETTEXT.
std::string ControlText(HWND control)
{
    char text[1024] = {};
    ::SendMessageA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

std::string InternalGraphTempPath()
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "InternalXGR.tmp";
}

class HalvernWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        inputPath = MakeScratchDirectory("ui-halvern-in");
        outputPath = MakeScratchDirectory("ui-halvern-out");
        DeleteRegistryTree(kKey);
        SetRegistryString(kKey, "InputPath", inputPath);
        SetRegistryString(kKey, "OutputPath", outputPath);
        SetRegistryString(kKey, "InputExt", "DVR-MS");
        SetRegistryString(kKey, "OutputExt", "MPG");
        SetRegistryString(kKey, "UseFilterGraph", kInternalGraphName);
        SetRegistryDword(kKey, "DeleteSourceFile", 0);
        SetRegistryDword(kKey, "HideOnStartup", 0);
        SetRegistryDword(kKey, "AutoStartConvert", 0);
    }

    // Starts Halvern and waits for its main window, visible or not.
    void Start()
    {
        ASSERT_TRUE(halvern.Start(HalvernExePath()));
        ASSERT_TRUE(WaitUntil([&] { return (window = FindProcessDialog(halvern.Id(), "Halvern", kConvertSingle)) != nullptr; },
                              kTimeoutMs))
            << "Halvern's main window did not appear";
    }

    // Closes Halvern and checks that it ended in order.
    void ExpectOrderlyExit()
    {
        DWORD exitCode = 1234;
        ASSERT_TRUE(halvern.WaitForExit(kTimeoutMs, &exitCode)) << "Halvern did not end";
        EXPECT_EQ(0u, exitCode);
        EXPECT_FALSE(FileExists(InternalGraphTempPath()));
    }

    HWND Item(int id) const { return ::GetDlgItem(window, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    bool WaitVisible(HWND w, bool visible) const
    {
        return WaitUntil([&] { return (::IsWindowVisible(w) != FALSE) == visible; }, kTimeoutMs);
    }

    RegistryKeySnapshot registry;
    std::string inputPath;
    std::string outputPath;
    ChildProcess halvern;
    HWND window = nullptr;
};

TEST_F(HalvernWindow, UserEditsCancelsMinimisesRestoresOpensTheAboutBoxAndCloses)
{
    Start();
    ASSERT_TRUE(WaitVisible(window, true));

    // A fresh start: the stored values, nothing to apply, the Auto Converter stopped.
    EXPECT_EQ(inputPath, ControlText(Item(kInputPath)));
    EXPECT_EQ(outputPath, ControlText(Item(kOutputPath)));
    EXPECT_EQ("Convert Single File...", ControlText(Item(kConvertSingle)));
    EXPECT_FALSE(Enabled(kApply));
    EXPECT_FALSE(Enabled(kCancelChanges));
    EXPECT_TRUE(Enabled(kStartAuto));
    EXPECT_FALSE(Enabled(kStopAuto));

    // Typing a new input path; the edit box announces the change itself.
    ::SendMessageA(Item(kInputPath), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("X:\\Elsewhere"));
    EXPECT_EQ("X:\\Elsewhere", ControlText(Item(kInputPath)));
    EXPECT_TRUE(Enabled(kApply));
    EXPECT_TRUE(Enabled(kCancelChanges));

    ::SendMessageA(Item(kCancelChanges), BM_CLICK, 0, 0);
    EXPECT_EQ(inputPath, ControlText(Item(kInputPath)));
    EXPECT_FALSE(Enabled(kApply));
    EXPECT_FALSE(Enabled(kCancelChanges));

    // Minimised, it goes to the tray; the icon's double-click brings it back.
    ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(WaitVisible(window, false));
    ::SendMessageA(window, kTrayCallback, 128, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitVisible(window, true));
    EXPECT_FALSE(::IsIconic(window));

    // The about box from the system menu, over a disabled main window, closed with its OK.
    ::PostMessageA(window, WM_SYSCOMMAND, kAboutCommand, 0);
    HWND about = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (about = FindProcessDialog(halvern.Id(), "About Halvern", IDOK)) != nullptr; },
                          kTimeoutMs));
    EXPECT_TRUE(WaitVisible(about, true));
    EXPECT_FALSE(::IsWindowEnabled(window));
    ::SendMessageA(::GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, kTimeoutMs));
    EXPECT_TRUE(::IsWindowEnabled(window));

    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ExpectOrderlyExit();

    // The exit stored the settings, which the cancelled edit did not change.
    std::string stored;
    EXPECT_TRUE(ReadRegistryString(kKey, "InputPath", stored));
    EXPECT_EQ(inputPath, stored);
}

TEST_F(HalvernWindow, HiddenStartComesUpFromTheTrayAndCancelEndsIt)
{
    SetRegistryDword(kKey, "HideOnStartup", 1);
    Start();
    // Once the controls are filled the initialisation is over; then give the modal loop its idle
    // moment, through which the window must stay hidden.
    ASSERT_TRUE(WaitUntil([&] { return ControlText(Item(kInputPath)) == inputPath; }, kTimeoutMs));
    ::Sleep(1000);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(FileExists(InternalGraphTempPath()));

    ::SendMessageA(window, kTrayCallback, 128, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitVisible(window, true));

    ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    ExpectOrderlyExit();
}

} // namespace
