#include "tests/blackbox/HalvernDriver.h"

#include <algorithm>

#include "base/ScopedWin.h"
#include "res/resource.h"

using namespace testing_support;

namespace blackbox {

namespace {

constexpr DWORD kRetouchMs = 3000; // how often a recording not yet taken up is touched again

// Rewrites the file's last byte with itself: a last-write change that leaves the content alone.
void TouchFile(const std::string& path)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    char last = 0;
    DWORD done = 0;
    // Held by a conversion, it cannot be opened: it has been taken up already.
    if (!file || ::SetFilePointer(file.Get(), -1, nullptr, FILE_END) == INVALID_SET_FILE_POINTER
        || !::ReadFile(file.Get(), &last, 1, &done, nullptr) || done != 1)
        return;
    ::SetFilePointer(file.Get(), -1, nullptr, FILE_END);
    ::WriteFile(file.Get(), &last, 1, &done, nullptr);
}

} // namespace

LONG_PTR Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs)
{
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result) ? static_cast<LONG_PTR>(result) : -1;
}

void StoreSettings(const StoredSettings& settings)
{
    SetRegistryString(kSettingsKey, "InputPath", settings.InputPath);
    SetRegistryString(kSettingsKey, "OutputPath", settings.OutputPath);
    SetRegistryString(kSettingsKey, "InputExt", "DVR-MS");
    SetRegistryString(kSettingsKey, "OutputExt", "MPG");
    SetRegistryString(kSettingsKey, "UseFilterGraph", kInternalGraphName);
    SetRegistryDword(kSettingsKey, "DeleteSourceFile", settings.DeleteSourceFile);
    SetRegistryDword(kSettingsKey, "HideOnStartup", settings.HideOnStartup);
    SetRegistryDword(kSettingsKey, "AutoStartConvert", settings.AutoStartConvert);
}

std::string LockFilePath()
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "InternalXGR.tmp";
}

// GetWindowText does not ask a window of another process; WM_GETTEXT does.
std::string ControlText(HWND control)
{
    char text[1024] = {};
    return Ask(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text)) == -1 ? "<no answer>" : text;
}

void DropRecording(const std::string& path, const std::string& from)
{
    const std::string partial = path + ".part";
    ::CopyFileA(from.c_str(), partial.c_str(), FALSE);
    ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    TouchFile(path);
}

::testing::AssertionResult WaitForOutput(const std::string& path, DWORD timeoutMs, const std::string& recording)
{
    DWORD lastTouch = ::GetTickCount();
    bool recordingWentFirst = false;
    const bool published = WaitUntil(
        [&] {
            // Checked before the output: gone then, it went while there was no output yet.
            const bool recordingThere = recording.empty() || FileExists(recording);
            if (FileExists(path))
                return true;
            recordingWentFirst = recordingWentFirst || !recordingThere;
            if (recordingThere && !recording.empty() && ::GetTickCount() - lastTouch >= kRetouchMs) {
                TouchFile(recording);
                lastTouch = ::GetTickCount();
            }
            return false;
        },
        timeoutMs);
    if (recordingWentFirst)
        return ::testing::AssertionFailure() << recording << " went before its output " << path << " came";
    if (!published)
        return ::testing::AssertionFailure() << path << " did not come";
    return IsSoundProgramStream(path);
}

bool ContainsInOrder(const std::string& text, std::initializer_list<std::string> parts)
{
    size_t position = 0;
    for (const std::string& part : parts) {
        position = text.find(part, position);
        if (position == std::string::npos)
            return false;
        position += part.size();
    }
    return true;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

::testing::AssertionResult HalvernRun::Start(const std::string& stdoutPath)
{
    stdoutPath_ = stdoutPath;
    if (!process_.Start(HalvernExePath(), stdoutPath))
        return ::testing::AssertionFailure() << "Halvern.exe did not start: error " << ::GetLastError();
    const bool found = WaitUntil(
        [&] {
            window_ = FindProcessDialog(process_.Id(), "Halvern", IDC_CONVERT_SINGLE);
            // Answering a message means the initialisation is over and the modal loop runs.
            return window_ && Responds(window_, 1000);
        },
        kPromptMs);
    return found ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "Halvern's main window did not appear";
}

::testing::AssertionResult HalvernRun::CloseAndWait(DWORD timeoutMs)
{
    ::PostMessageA(window_, WM_CLOSE, 0, 0);
    DWORD exitCode = 0;
    if (!process_.WaitForExit(timeoutMs, &exitCode))
        return ::testing::AssertionFailure() << "Halvern did not end within " << timeoutMs << " ms";
    if (exitCode != 0)
        return ::testing::AssertionFailure() << "Halvern ended with exit code " << exitCode;
    return ::testing::AssertionSuccess();
}

std::string HalvernRun::Output() const
{
    // Standard output is in text mode, so each "\n" reaches the file as "\r\n"; read it back as text.
    std::string text = stdoutPath_.empty() ? std::string() : ReadFileBytes(stdoutPath_);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

} // namespace blackbox
