#include "tests/blackbox/HalvernDriver.h"

#include <algorithm>

#include "res/resource.h"

using namespace testing_support;

namespace blackbox {

bool Responds(HWND window, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

void StoreSettings(const StoredSettings& settings)
{
    // The paths in whatever script they are written.
    const auto setPath = [](const wchar_t* name, const std::string& path) {
        const std::wstring value = Wide(path);
        ::RegSetKeyValueW(HKEY_CURRENT_USER, Wide(SettingsKey).c_str(), name, REG_SZ, value.c_str(),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    setPath(L"InputPath", settings.InputPath);
    setPath(L"OutputPath", settings.OutputPath);
    SetRegistryString(SettingsKey, "InputExt", settings.InputExt);
    SetRegistryString(SettingsKey, "OutputExt", settings.OutputExt);
    SetRegistryString(SettingsKey, "UseFilterGraph", InternalGraphName);
    SetRegistryDword(SettingsKey, "DeleteSourceFile", settings.DeleteSourceFile);
    SetRegistryDword(SettingsKey, "HideOnStartup", settings.HideOnStartup);
    SetRegistryDword(SettingsKey, "AutoStartConvert", settings.AutoStartConvert);
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
    wchar_t text[1024] = {};
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(control, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                               &result))
        return "<no answer>";
    return Utf8(text);
}

void SetControlText(HWND control, const std::string& text)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()), SMTO_NORMAL, 5000, &result);
}

::testing::AssertionResult AnswerMessage(DWORD processId, const std::string& text, int button)
{
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindProcessDialog(processId, "Halvern", button)) != nullptr; }, PromptMs))
        return ::testing::AssertionFailure() << "no message box asking \"" << text << "\"";
    // The box is found as soon as it exists; its text is set while it initialises.
    if (!WaitUntil([&] { return ::FindWindowExW(box, nullptr, L"Static", Wide(text).c_str()) != nullptr; }, PromptMs))
        return ::testing::AssertionFailure() << "the message box does not say \"" << text << "\"";
    Click(box, button);
    if (!WaitUntil([&] { return !::IsWindow(box); }, PromptMs))
        return ::testing::AssertionFailure() << "the message box stayed";
    return ::testing::AssertionSuccess();
}

void DropRecording(const std::string& path, const std::string& from)
{
    const std::string partial = path + ".part";
    ::CopyFileA(from.c_str(), partial.c_str(), FALSE);
    ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    // Beside it, not to it: a recording at fault that a pass saw before this write would look changed after it.
    WriteFileBytes(path.substr(0, path.rfind('\\') + 1) + "dropped.wake", path);
}

::testing::AssertionResult WaitForOutput(const std::string& path, DWORD timeoutMs, const std::string& recording)
{
    bool recordingWentFirst = false;
    const bool published = WaitUntil(
        [&] {
            // Checked before the output: gone then, it went while there was no output yet.
            const bool recordingThere = recording.empty() || FileExists(recording);
            if (FileExists(path))
                return true;
            recordingWentFirst = recordingWentFirst || !recordingThere;
            return false;
        },
        timeoutMs);
    if (recordingWentFirst)
        return ::testing::AssertionFailure() << recording << " went before its output " << path << " came";
    if (!published)
        return ::testing::AssertionFailure() << path << " did not come";
    return IsSoundProgramStream(path);
}

namespace {

BOOL CALLBACK AddShownTooltip(HWND window, LPARAM found)
{
    char className[32] = {};
    ::GetClassNameA(window, className, sizeof(className));
    if (lstrcmpiA(className, "tooltips_class32") == 0 && ::IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

} // namespace

bool BalloonWatch::Seen(std::initializer_list<std::string> parts)
{
    std::vector<HWND> shown;
    ::EnumWindows(AddShownTooltip, reinterpret_cast<LPARAM>(&shown));
    for (HWND tip : shown) {
        const std::string text = ControlText(tip);
        if (!text.empty() && std::find(texts_.begin(), texts_.end(), text) == texts_.end())
            texts_.push_back(text);
    }
    const auto holdsEvery = [&](const std::string& text) {
        const auto holds = [&](const std::string& part) { return text.find(part) != std::string::npos; };
        return std::all_of(parts.begin(), parts.end(), holds);
    };
    return std::any_of(texts_.begin(), texts_.end(), holdsEvery);
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
        PromptMs);
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
