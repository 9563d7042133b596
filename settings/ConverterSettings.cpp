#include "settings/ConverterSettings.h"

#include "base/ScopedWin.h"
#include "framework/WinApp.h"

#include <cwchar>

const wchar_t InternalGraphName[] = L"<Internal DVR to MPG graph>";

namespace {

const wchar_t RecordingKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const wchar_t Section[] = L""; // the values lie in the application key itself

} // namespace

std::wstring DefaultRecordingDirectory()
{
    const std::wstring fallback = L"C:\\";
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordingKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return fallback;
    // Zero-filled, so a value stored without its terminating NUL still ends inside the buffer
    // unless it fills the buffer whole: only that one is too long.
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer);
    DWORD type = REG_NONE;
    if (::RegQueryValueExW(key.Get(), L"RecordPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size)
            != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return fallback;
    if (!wmemchr(buffer, L'\0', sizeof(buffer) / sizeof(buffer[0])))
        return fallback;
    if (type == REG_SZ)
        return buffer;
    wchar_t expanded[MAX_PATH];
    const DWORD length = ::ExpandEnvironmentStringsW(buffer, expanded, MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return fallback;
    return expanded;
}

CConverterSettings CConverterSettings::Defaults()
{
    CConverterSettings defaults;
    defaults.InputPath = DefaultRecordingDirectory();
    defaults.OutputPath = defaults.InputPath;
    defaults.InputExt = L"DVR-MS";
    defaults.OutputExt = L"MPG";
    defaults.UseFilterGraph = InternalGraphName;
    return defaults;
}

void CConverterSettings::Load(CWinApp& profile)
{
    InputPath = profile.GetProfileString(Section, L"InputPath", InputPath.c_str());
    OutputPath = profile.GetProfileString(Section, L"OutputPath", OutputPath.c_str());
    InputExt = profile.GetProfileString(Section, L"InputExt", InputExt.c_str());
    OutputExt = profile.GetProfileString(Section, L"OutputExt", OutputExt.c_str());
    UseFilterGraph = profile.GetProfileString(Section, L"UseFilterGraph", UseFilterGraph.c_str());
    DeleteSourceFile = profile.GetProfileInt(Section, L"DeleteSourceFile", static_cast<int>(DeleteSourceFile));
    HideOnStartup = profile.GetProfileInt(Section, L"HideOnStartup", static_cast<int>(HideOnStartup));
    AutoStartConvert = profile.GetProfileInt(Section, L"AutoStartConvert", static_cast<int>(AutoStartConvert));
    CaptionFile = profile.GetProfileInt(Section, L"CaptionFile", static_cast<int>(CaptionFile));
    AfterConversion = profile.GetProfileString(Section, L"AfterConversion", AfterConversion.c_str());
    OutputName = profile.GetProfileString(Section, L"OutputName", OutputName.c_str());
}

void CConverterSettings::Save(CWinApp& profile) const
{
    profile.WriteProfileString(Section, L"InputPath", InputPath.c_str());
    profile.WriteProfileString(Section, L"OutputPath", OutputPath.c_str());
    profile.WriteProfileString(Section, L"InputExt", InputExt.c_str());
    profile.WriteProfileString(Section, L"OutputExt", OutputExt.c_str());
    profile.WriteProfileString(Section, L"UseFilterGraph", UseFilterGraph.c_str());
    profile.WriteProfileInt(Section, L"DeleteSourceFile", static_cast<int>(DeleteSourceFile));
    profile.WriteProfileInt(Section, L"HideOnStartup", static_cast<int>(HideOnStartup));
    profile.WriteProfileInt(Section, L"AutoStartConvert", static_cast<int>(AutoStartConvert));
    profile.WriteProfileInt(Section, L"CaptionFile", static_cast<int>(CaptionFile));
}
