#pragma once
// Drives the real Halvern.exe from outside, as a user would: its settings in the registry, its
// window through messages, recordings dropped into directories, its redirected standard output.

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

namespace blackbox {

constexpr char kSettingsKey[] = "Software\\Morrowick\\Halvern";
constexpr char kInternalGraphName[] = "<Internal DVR to MPG graph>";

constexpr DWORD kPromptMs = 20000; // for what Halvern does promptly; conversions get their own limits

// Halvern's settings as a test stores them before the start, with DVR-MS, MPG and the internal graph.
struct StoredSettings {
    std::string InputPath;
    std::string OutputPath;
    DWORD DeleteSourceFile = 0;
    DWORD HideOnStartup = 0;
    DWORD AutoStartConvert = 0;
};
void StoreSettings(const StoredSettings& settings);

// The single-instance lock file.
std::string LockFilePath();

// Window messages that never block the test on a hung Halvern: Ask gives -1 when there was no
// answer in time, and clicks are posted, so a command that opens a modal window returns.
LONG_PTR Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, UINT timeoutMs = 5000);
inline bool Responds(HWND window, DWORD timeoutMs) { return Ask(window, WM_NULL, 0, 0, timeoutMs) != -1; }
std::string ControlText(HWND control);
inline std::string DialogItemText(HWND dialog, int id) { return ControlText(::GetDlgItem(dialog, id)); }
inline bool ItemEnabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }
inline void Click(HWND dialog, int id) { ::PostMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
inline void SetControlText(HWND control, const std::string& text) { Ask(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }

// Another visible top-level dialog of the process than `except`, that has control `controlId`.
HWND FindOtherDialog(DWORD processId, HWND except, int controlId);

// Puts a finished recording (a copy of `from`, by default the 3-second plain ASF vector) into a
// watched directory as a recorder leaves one: written under another name, renamed into place,
// then written to once more, since only a write wakes a watch on last-write changes.
void DropRecording(const std::string& path, const std::string& from = std::string());

// Waits until the output is published, and checks it is a program stream. A `recording` given
// must stay until then; it is touched again every few seconds while no output exists, in case a
// watcher woke while the previous touch still held the file and so skipped it.
::testing::AssertionResult WaitForOutput(const std::string& path, DWORD timeoutMs, const std::string& recording = "");

// Whether the parts occur in the text one after another, in this order.
bool ContainsInOrder(const std::string& text, std::initializer_list<std::string> parts);
size_t CountOf(const std::string& text, const std::string& part);

// One run of Halvern.exe, with its main window and, when asked for, its standard output.
class HalvernRun {
public:
    HalvernRun() = default;
    HalvernRun(const HalvernRun&) = delete;
    HalvernRun& operator=(const HalvernRun&) = delete;

    // Starts Halvern and waits for its main window to answer.
    ::testing::AssertionResult Start(const std::string& stdoutPath = std::string());
    // Closes the main window with WM_CLOSE and waits for the process to end with exit code 0.
    ::testing::AssertionResult CloseAndWait(DWORD timeoutMs = kPromptMs);
    std::string Output() const; // the redirected standard output so far, as text

    HWND Window() const { return window_; }
    DWORD Id() const { return process_.Id(); }
    testing_support::ChildProcess& Process() { return process_; }

private:
    testing_support::ChildProcess process_;
    HWND window_ = nullptr;
    std::string stdoutPath_;
};

// What every black-box test starts from: empty directories, no stored settings, no lock left over.
class BlackBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        input = testing_support::MakeScratchDirectory("blackbox-in");
        output = testing_support::MakeScratchDirectory("blackbox-out");
        logs = testing_support::MakeScratchDirectory("blackbox-log");
        testing_support::DeleteRegistryTree(kSettingsKey);
        ::DeleteFileA(LockFilePath().c_str());
    }

    void TearDown() override
    {
        // A Halvern that a failed test left running must not hold the lock for the next test.
        halvern.Process().Kill();
        testing_support::DeleteRegistryTree(kSettingsKey);
    }

    StoredSettings Defaults() const
    {
        StoredSettings settings;
        settings.InputPath = input;
        settings.OutputPath = output;
        return settings;
    }

    std::string StdoutPath() const { return logs + "stdout.txt"; }

    std::string input;
    std::string output;
    std::string logs;
    HalvernRun halvern;
};

} // namespace blackbox
