#include "settings/ConverterSettings.h"

#include "base/ScopedWin.h"
#include "framework/WinApp.h"

#include <cstring>

const char kInternalGraphName[] = "<Internal DVR to MPG graph>";

namespace {

const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const char kSection[] = ""; // the values lie in the application key itself

} // namespace

std::string DefaultRecordingDirectory()
{
    const std::string fallback = "C:\\";
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordingKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return fallback;
    // Zero-filled, so a value stored without its terminating NUL still ends inside the buffer
    // unless it fills the buffer whole: only that one is too long.
    char buffer[256] = {};
    DWORD size = sizeof(buffer);
    DWORD type = REG_NONE;
    if (::RegQueryValueExA(key.Get(), "RecordPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size)
            != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return fallback;
    if (!memchr(buffer, '\0', sizeof(buffer)))
        return fallback;
    if (type == REG_SZ)
        return buffer;
    char expanded[MAX_PATH];
    const DWORD length = ::ExpandEnvironmentStringsA(buffer, expanded, sizeof(expanded));
    if (length == 0 || length > sizeof(expanded))
        return fallback;
    return expanded;
}

CConverterSettings CConverterSettings::Defaults()
{
    CConverterSettings defaults;
    defaults.InputPath = DefaultRecordingDirectory();
    defaults.OutputPath = defaults.InputPath;
    defaults.InputExt = "DVR-MS";
    defaults.OutputExt = "MPG";
    defaults.UseFilterGraph = kInternalGraphName;
    return defaults;
}

void CConverterSettings::Load(CWinApp& profile)
{
    InputPath = profile.GetProfileString(kSection, "InputPath", InputPath.c_str());
    OutputPath = profile.GetProfileString(kSection, "OutputPath", OutputPath.c_str());
    InputExt = profile.GetProfileString(kSection, "InputExt", InputExt.c_str());
    OutputExt = profile.GetProfileString(kSection, "OutputExt", OutputExt.c_str());
    UseFilterGraph = profile.GetProfileString(kSection, "UseFilterGraph", UseFilterGraph.c_str());
    DeleteSourceFile = profile.GetProfileInt(kSection, "DeleteSourceFile", static_cast<int>(DeleteSourceFile));
    HideOnStartup = profile.GetProfileInt(kSection, "HideOnStartup", static_cast<int>(HideOnStartup));
    AutoStartConvert = profile.GetProfileInt(kSection, "AutoStartConvert", static_cast<int>(AutoStartConvert));
}

void CConverterSettings::Save(CWinApp& profile) const
{
    profile.WriteProfileString(kSection, "InputPath", InputPath.c_str());
    profile.WriteProfileString(kSection, "OutputPath", OutputPath.c_str());
    profile.WriteProfileString(kSection, "InputExt", InputExt.c_str());
    profile.WriteProfileString(kSection, "OutputExt", OutputExt.c_str());
    profile.WriteProfileString(kSection, "UseFilterGraph", UseFilterGraph.c_str());
    profile.WriteProfileInt(kSection, "DeleteSourceFile", static_cast<int>(DeleteSourceFile));
    profile.WriteProfileInt(kSection, "HideOnStartup", static_cast<int>(HideOnStartup));
    profile.WriteProfileInt(kSection, "AutoStartConvert", static_cast<int>(AutoStartConvert));
}
