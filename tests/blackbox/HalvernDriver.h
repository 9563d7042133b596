#pragma once
// Drives the real Halvern.exe from outside, as a user would: its settings in the registry, its
// window through messages, recordings dropped into directories, its redirected standard output.

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

namespace blackbox {

constexpr char SettingsKey[] = "Software\\Morrowick\\Halvern";
constexpr char InternalGraphName[] = "<Internal DVR to MPG graph>";
constexpr DWORD PromptMs = 20000; // for what Halvern does promptly; conversions get their own limits

// The Auto Converter's report: the banner's sentences as the worker writes them, and its lines.
constexpr char Banner[] =
    "Place in direcotry of recorded TV, together with \"FilterGraph.xgr\", "
    "this XGR file is an export of the graphedit tool by microsoft. "
    "As soon as MCE deletes a DVR-MS file, its corresponding MPG will also be deleted. "
    "If there are any unconverted files in your directory when program starts, "
    "they will start to convert after about 60 seconds."
    "\n\n";
constexpr char Waiting[] = "\nWaiting for new recording...\n";
constexpr char DoneText[] = " - Done.\n";
constexpr char FailedText[] = " - Failed.\n";

// Registers the stand-ins for the outside filters in the prefix for a program that converts, and
// leaves the registry as it was found.
class StandInEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterStandInDll()); }
    void TearDown() override { UnregisterStandInDll(); }
};

// Halvern's settings as a test stores them before the start, with the internal graph; the paths in
// UTF-8.
struct StoredSettings {
    std::string InputPath, OutputPath;
    DWORD DeleteSourceFile = 0, HideOnStartup = 0, AutoStartConvert = 0;
    std::string InputExt = "DVR-MS", OutputExt = "MPG";
};
void StoreSettings(const StoredSettings& settings);

std::string LockFilePath(); // the single-instance lock file

// Messages that never block the test on a hung Halvern: Responds is false when there was no answer
// in time, and clicks are posted, so a command that opens a modal window returns.
bool Responds(HWND window, DWORD timeoutMs);
// Texts in UTF-8, crossing to the window in UTF-16.
std::string ControlText(HWND control);
inline std::string DialogItemText(HWND dialog, int id) { return ControlText(::GetDlgItem(dialog, id)); }
inline bool ItemEnabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }
inline void Click(HWND dialog, int id) { ::PostMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
void SetControlText(HWND control, const std::string& text);

// Waits for a message box of the process that says `text` and has `button`, and presses that button.
::testing::AssertionResult AnswerMessage(DWORD processId, const std::string& text, int button);

// Puts a copy of the finished recording `from` into a watched directory as a recorder does: under
// another name, renamed, then a write in the directory, as only a write wakes a watch.
void DropRecording(const std::string& path, const std::string& from);

// Waits until the output is published, and checks it is a program stream that keeps the system
// target decoder's rules (the tests' checker). A `recording` given must stay until then.
::testing::AssertionResult WaitForOutput(const std::string& path, DWORD timeoutMs, const std::string& recording = "");

// The tray's balloons as the shell shows them: Wine's shows each as a tooltip window of its own until
// it times out or the icon's next one replaces it, so a test looks from its waits' conditions.
class BalloonWatch {
public:
    // Looks at the balloons shown now, and gives whether one seen so far holds every part.
    bool Seen(std::initializer_list<std::string> parts);
    const std::vector<std::string>& Texts() const { return texts_; } // each text seen, once

private:
    std::vector<std::string> texts_;
};

// Whether the parts occur in the text one after another, in this order.
bool ContainsInOrder(const std::string& text, std::initializer_list<std::string> parts);

// One run of Halvern.exe, with its main window and, when asked for, its standard output.
class HalvernRun {
public:
    // Starts Halvern and waits for its main window to answer.
    ::testing::AssertionResult Start(const std::string& stdoutPath = std::string());
    // Closes the main window with WM_CLOSE and waits for the process to end with exit code 0.
    ::testing::AssertionResult CloseAndWait(DWORD timeoutMs = PromptMs);
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
        testing_support::DeleteRegistryTree(SettingsKey);
        ::DeleteFileA(LockFilePath().c_str());
    }
    void TearDown() override
    {
        halvern.Process().Kill(); // a Halvern left running by a failed test would hold the lock
        testing_support::DeleteRegistryTree(SettingsKey);
    }

    StoredSettings Defaults() const { return {input, output}; }
    std::string StdoutPath() const { return logs + "stdout.txt"; }

    std::string input;
    std::string output;
    std::string logs;
    HalvernRun halvern;
};

} // namespace blackbox
