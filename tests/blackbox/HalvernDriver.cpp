#include "tests/blackbox/HalvernDriver.h"

#include <commctrl.h>
#include <dlgs.h>

#include "framework/ScopedWin.h"
#include "res/resource.h"

using namespace testing_support;

namespace blackbox {

namespace {

// Longest a single window message to Halvern may take before the test counts it as unanswered.
constexpr UINT kMessageTimeoutMs = 5000;
// How often a recording that has not been taken up yet is touched again.
constexpr DWORD kRetouchMs = 3000;

// Halvern.exe finds the stand-ins for the outside filters through the prefix's registry.
class StandInEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        wasRegistered_ = StandInsRegistered();
        ASSERT_TRUE(RegisterStandInDll());
    }
    void TearDown() override
    {
        // Leave the prefix as it was found.
        if (!wasRegistered_)
            UnregisterStandInDll();
    }

private:
    static bool StandInsRegistered()
    {
        wchar_t text[40];
        ::StringFromGUID2(StandInSourceClsid, text, 40);
        const std::string key = "CLSID\\" + std::string(text, text + 38) + "\\InprocServer32";
        UniqueRegKey opened;
        return ::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.Receive()) == ERROR_SUCCESS;
    }

    bool wasRegistered_ = false;
};

[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

struct StaticSearch {
    const std::string* text;
    bool found;
};

BOOL CALLBACK MatchStaticText(HWND child, LPARAM lParam)
{
    auto* search = reinterpret_cast<StaticSearch*>(lParam);
    char className[32] = {};
    ::GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Static") == 0 && WindowText(child) == *search->text) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FirstVisibleEdit(HWND child, LPARAM lParam)
{
    char className[32] = {};
    ::GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Edit") == 0 && ::IsWindowVisible(child)) {
        *reinterpret_cast<HWND*>(lParam) = child;
        return FALSE;
    }
    return TRUE;
}

bool HasClass(HWND window, const char* wanted)
{
    char className[32] = {};
    return window && ::GetClassNameA(window, className, sizeof(className)) && lstrcmpiA(className, wanted) == 0;
}

} // namespace

void StoreSettings(const StoredSettings& settings)
{
    SetRegistryString(kSettingsKey, "InputPath", settings.InputPath);
    SetRegistryString(kSettingsKey, "OutputPath", settings.OutputPath);
    SetRegistryString(kSettingsKey, "InputExt", settings.InputExt);
    SetRegistryString(kSettingsKey, "OutputExt", settings.OutputExt);
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

std::string WithoutTrailingBackslash(std::string directory)
{
    while (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    return directory;
}

std::string ControlText(HWND control)
{
    // GetWindowText does not ask a window of another process; WM_GETTEXT does.
    char text[1024] = {};
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                               kMessageTimeoutMs, &result))
        return "<no answer>";
    return text;
}

std::string DialogItemText(HWND dialog, int id)
{
    return ControlText(::GetDlgItem(dialog, id));
}

bool ItemEnabled(HWND dialog, int id)
{
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE;
}

int ProgressPosition(HWND dialog)
{
    DWORD_PTR position = 0;
    if (!::SendMessageTimeoutA(::GetDlgItem(dialog, IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_NORMAL, kMessageTimeoutMs,
                               &position))
        return -1;
    return static_cast<int>(position);
}

int ProgressTop(HWND dialog)
{
    // Without a PBRANGE to fill, the answer itself is the requested limit.
    DWORD_PTR top = 0;
    if (!::SendMessageTimeoutA(::GetDlgItem(dialog, IDC_PROGRESS), PBM_GETRANGE, FALSE, 0, SMTO_NORMAL,
                               kMessageTimeoutMs, &top))
        return -1;
    return static_cast<int>(top);
}

bool Responds(HWND window, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

void Click(HWND dialog, int id)
{
    ::PostMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void SetItemText(HWND dialog, int id, const std::string& text)
{
    SetControlText(::GetDlgItem(dialog, id), text);
}

void SetControlText(HWND control, const std::string& text)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                          SMTO_NORMAL, kMessageTimeoutMs, &result);
}

HWND FindOtherDialog(DWORD processId, HWND except, int controlId)
{
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == processId && window != except && ::IsWindowVisible(window) && ::GetDlgItem(window, controlId))
            return window;
    }
    return nullptr;
}

HWND FindFileNameEdit(HWND fileDialog)
{
    // Explorer-style dialogs hold the name in edt1 or in combo cmb13 (whose edit is its child);
    // anything else: the dialog's one visible edit box.
    HWND edit = ::GetDlgItem(fileDialog, edt1);
    if (HasClass(edit, "Edit"))
        return edit;
    HWND nameBox = ::GetDlgItem(fileDialog, cmb13);
    if (HasClass(nameBox, "Edit"))
        return nameBox;
    if (nameBox && (edit = ::FindWindowExA(nameBox, nullptr, "Edit", nullptr)) != nullptr)
        return edit;
    edit = nullptr;
    ::EnumChildWindows(fileDialog, FirstVisibleEdit, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

bool HasStaticText(HWND dialog, const std::string& text)
{
    StaticSearch search = {&text, false};
    ::EnumChildWindows(dialog, MatchStaticText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void DropRecording(const std::string& path)
{
    const std::string partial = path + ".part";
    ::CopyFileA(VectorPath("plain-mp2.asf").c_str(), partial.c_str(), FALSE);
    ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    TouchFile(path);
}

void TouchFile(const std::string& path)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return; // held by a conversion: it has been taken up already
    const DWORD size = ::GetFileSize(file.Get(), nullptr);
    if (size == 0 || size == INVALID_FILE_SIZE)
        return;
    char last = 0;
    DWORD done = 0;
    ::SetFilePointer(file.Get(), static_cast<LONG>(size - 1), nullptr, FILE_BEGIN);
    if (!::ReadFile(file.Get(), &last, 1, &done, nullptr) || done != 1)
        return;
    ::SetFilePointer(file.Get(), static_cast<LONG>(size - 1), nullptr, FILE_BEGIN);
    ::WriteFile(file.Get(), &last, 1, &done, nullptr);
}

bool WaitForOutput(const std::string& path, DWORD timeoutMs, const std::string& touch)
{
    DWORD lastTouch = ::GetTickCount();
    return WaitUntil(
        [&] {
            if (!touch.empty() && !FileExists(path) && ::GetTickCount() - lastTouch >= kRetouchMs) {
                TouchFile(touch);
                lastTouch = ::GetTickCount();
            }
            return FileExists(path);
        },
        timeoutMs)
        && IsProgramStream(path);
}

std::string StoredFileName(const std::string& path)
{
    WIN32_FIND_DATAA data;
    UniqueFindHandle find(::FindFirstFileA(path.c_str(), &data));
    return find ? std::string(data.cFileName) : std::string();
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
    for (size_t position = text.find(part); position != std::string::npos;
         position = text.find(part, position + part.size()))
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
    if (!found)
        return ::testing::AssertionFailure() << "Halvern's main window did not appear";
    return ::testing::AssertionSuccess();
}

bool HalvernRun::Running() const
{
    return process_.Handle() && ::WaitForSingleObject(process_.Handle(), 0) == WAIT_TIMEOUT;
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
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lines += text[i];
    }
    return lines;
}

} // namespace blackbox
