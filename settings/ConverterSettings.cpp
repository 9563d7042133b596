#include "settings/ConverterSettings.h"

#include "framework/ScopedWin.h"
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

CConverterSettings::CConverterSettings()
    : InputPath(DefaultRecordingDirectory()),
      OutputPath(InputPath),
      InputExt("DVR-MS"),
      OutputExt("MPG"),
      UseFilterGraph(kInternalGraphName),
      DeleteSourceFile(0),
      HideOnStartup(0),
      AutoStartConvert(0)
{
}

void CConverterSettings::Load()
{
    CWinApp* app = AfxGetApp();
    InputPath = app->GetProfileString(kSection, "InputPath", InputPath.c_str());
    OutputPath = app->GetProfileString(kSection, "OutputPath", OutputPath.c_str());
    InputExt = app->GetProfileString(kSection, "InputExt", InputExt.c_str());
    OutputExt = app->GetProfileString(kSection, "OutputExt", OutputExt.c_str());
    UseFilterGraph = app->GetProfileString(kSection, "UseFilterGraph", UseFilterGraph.c_str());
    DeleteSourceFile = app->GetProfileInt(kSection, "DeleteSourceFile", static_cast<int>(DeleteSourceFile));
    HideOnStartup = app->GetProfileInt(kSection, "HideOnStartup", static_cast<int>(HideOnStartup));
    AutoStartConvert = app->GetProfileInt(kSection, "AutoStartConvert", static_cast<int>(AutoStartConvert));
}

void CConverterSettings::Save()
{
    CWinApp* app = AfxGetApp();
    app->WriteProfileString(kSection, "InputPath", InputPath.c_str());
    app->WriteProfileString(kSection, "OutputPath", OutputPath.c_str());
    app->WriteProfileString(kSection, "InputExt", InputExt.c_str());
    app->WriteProfileString(kSection, "OutputExt", OutputExt.c_str());
    app->WriteProfileString(kSection, "UseFilterGraph", UseFilterGraph.c_str());
    app->WriteProfileInt(kSection, "DeleteSourceFile", static_cast<int>(DeleteSourceFile));
    app->WriteProfileInt(kSection, "HideOnStartup", static_cast<int>(HideOnStartup));
    app->WriteProfileInt(kSection, "AutoStartConvert", static_cast<int>(AutoStartConvert));
}
