#pragma once
// The user settings, their defaults and their place in the per-user registry.

#include <windows.h>

#include <string>

class CWinApp;

extern const wchar_t InternalGraphName[]; // "<Internal DVR to MPG graph>"

class CConverterSettings {
public:
    // The defaults: the media centre's recording directory as both paths, read from the registry
    // now; a record made otherwise starts empty.
    static CConverterSettings Defaults();

    // Both go through the application's profile functions, in field order; Load keeps a value
    // that the profile does not hold.
    void Load(CWinApp& profile);
    void Save(CWinApp& profile) const;

    std::wstring InputPath;
    std::wstring OutputPath;
    std::wstring InputExt;
    std::wstring OutputExt;
    std::wstring UseFilterGraph;
    DWORD DeleteSourceFile = 0;
    DWORD HideOnStartup = 0;
    DWORD AutoStartConvert = 0;
    DWORD CaptionFile = 0; // 1: a recording's captions go beside its output as SubRip
    // A command line run after each successful conversion; %OUTPUT% and %RECORDING% stand for the
    // files' quoted paths. Empty: none. Set in the registry only, so Save leaves it as it is there.
    std::wstring AfterConversion = {};
    // How outputs are named from their recordings' metadata ("{Title} - {SubTitle}"); empty: after
    // the recording's file name. Set in the registry only, as AfterConversion.
    std::wstring OutputName = {};
};

// The media centre's recording directory, or "C:\" when it cannot be read whole.
std::wstring DefaultRecordingDirectory();
