#pragma once
// The eight user settings, their defaults and their place in the per-user registry.

#include <windows.h>

#include <string>

extern const char kInternalGraphName[]; // "<Internal DVR to MPG graph>"

class CConverterSettings {
public:
    // Computes the defaults; reads the media centre's recording directory.
    CConverterSettings();

    // Both go through the application's profile functions, in field order.
    void Load();
    void Save();

    std::string InputPath;
    std::string OutputPath;
    std::string InputExt;
    std::string OutputExt;
    std::string UseFilterGraph;
    DWORD DeleteSourceFile;
    DWORD HideOnStartup;
    DWORD AutoStartConvert;
};

// The media centre's recording directory, or "C:\" when it cannot be read whole.
std::string DefaultRecordingDirectory();
