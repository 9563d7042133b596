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

// Every wait for something Halvern does promptly; conversions get their own limits.
constexpr DWORD kPromptMs = 20000;

// Halvern's settings as a test stores them before the start; the extensions are DVR-MS and MPG and
// the graph is the internal one.
struct StoredSettings {
    std::string InputPath;
    std::string OutputPath;
    DWORD DeleteSourceFile = 0;
    DWORD HideOnStartup = 0;
    DWORD AutoStartConvert = 0;
};
void StoreSettings(const StoredSettings& settings);

// The single-instance lock: "InternalXGR.tmp" in the temporary directory.
std::string LockFilePath();

// Window queries that never block the test on a hung Halvern: each message gives up after a while.
std::string ControlText(HWND control);
std::string DialogItemText(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
int ProgressPosition(HWND dialog);
int ProgressTop(HWND dialog);
// True when the window handled a sent message within the time.
bool Responds(HWND window, DWORD timeoutMs);
// Posted, so a command that opens a modal window does not hold the test up.
void Click(HWND dialog, int id);
void SetControlText(HWND control, const std::string& text);

// Another top-level dialog of the process than `except`, visible, that has control `controlId`.
HWND FindOtherDialog(DWORD processId, HWND except, int controlId);
// The file-name box of the system's open-file dialog.
HWND FindFileNameEdit(HWND fileDialog);

// Puts a finished recording (a copy of `from`, by default the 3-second plain ASF vector) into a
// watched directory as a recorder leaves one: written under a name that matches no pattern,
// renamed into place, then written to once more, since only a write wakes a watch on last-write
// changes.
void DropRecording(const std::string& path, const std::string& from = std::string());

// Waits until the output is published, and checks it is a program stream. A `recording` given
// must stay until then; it is touched again every few seconds while no output exists, in case a
// watcher woke while the previous touch still held the file and so skipped it.
::testing::AssertionResult WaitForOutput(const std::string& path, DWORD timeoutMs,
                                         const std::string& recording = std::string());

// The name under which a file exists, in the letter case the directory holds it; empty if none.
std::string StoredFileName(const std::string& path);

// Whether the parts occur in the text one after another, in this order.
bool ContainsInOrder(const std::string& text, std::initializer_list<std::string> parts);
size_t CountOf(const std::string& text, const std::string& part);

// One run of Halvern.exe, with its main window and, when asked for, its standard output.
class HalvernRun {
public:
    HalvernRun() = default;
    HalvernRun(const HalvernRun&) = delete;
    HalvernRun& operator=(const HalvernRun&) = delete;

    // Starts Halvern and waits for its main window (visible unless HideOnStartup is set).
    ::testing::AssertionResult Start(const std::string& stdoutPath = std::string());
    // Closes the main window with WM_CLOSE and waits for the process; true for exit code 0.
    ::testing::AssertionResult CloseAndWait(DWORD timeoutMs = kPromptMs);
    // The redirected standard output so far, read as text.
    std::string Output() const;

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
