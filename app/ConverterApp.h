#pragma once
// The application object: owns everything that lives as long as the process, builds the parts of
// the program at start-up and hands each its collaborators.

#include "autoconv/AutoConverter.h"
#include "convert/ConversionEngine.h"
#include "framework/StdioFile.h"
#include "framework/WinApp.h"
#include "settings/ConverterSettings.h"
#include "tray/SystemTray.h"
#include "ui/RunPoster.h"

#include <memory>
#include <string>

class CConverterApp : public CWinApp {
public:
    CConverterApp();
    ~CConverterApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override { return exitCode_; }

    std::wstring ProgramDirectory; // ends with a backslash
    std::wstring InternalGraphPath;
    CSystemTray Tray;
    CStdioFile InternalGraphFile;     // the single-instance lock
    CConverterSettings Settings;

private:
    bool EndConversions();

    int exitCode_ = 0;

    GraphSource graphs_;
    CRunPoster runPoster_;
    std::unique_ptr<CConversionEngine> engine_;
    std::unique_ptr<CAutoConverter> autoConverter_;
};
