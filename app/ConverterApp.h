#pragma once
// The application object: owns everything that lives as long as the process.

#include "convert/ConversionRun.h"
#include "framework/ScopedWin.h"
#include "framework/StdioFile.h"
#include "framework/WinApp.h"
#include "settings/ConverterSettings.h"
#include "tray/SystemTray.h"

#include <atomic>
#include <string>

class CConverterApp : public CWinApp {
public:
    CConverterApp();

    BOOL InitInstance() override;

    // The conversion run; blocks the calling thread, whose COM must be initialised.
    BOOL ConvertFile(const ConversionRequest& request);
    // The same with the graph choice as the settings hold it now.
    BOOL ConvertFile(const std::string& inputPath, const std::string& outputPath);
    // The cancel command: clears ConversionBusy and wakes the running conversion, which then ends
    // at once instead of at its next progress step.
    void CancelConversion();
    BOOL StartSingleConversion(const std::string& inputPath, const std::string& outputPath);
    // At exit, after StopAutoConvert: cancels a single-file conversion still running and waits
    // for it, handling the messages it sends meanwhile. Call on the user-interface thread.
    void FinishSingleConversion();

    // The Auto Converter control.
    void StartAutoConvert();
    void StopAutoConvert();

    char ProgramDirectory[MAX_PATH];  // ends with a backslash
    char InternalGraphPath[MAX_PATH];
    CSystemTray Tray;
    CStdioFile InternalGraphFile;     // the single-instance lock and the internal graph's source
    std::atomic<LONG> AutoConvertRunning{0};
    std::atomic<LONG> AutoConvertStopRequest{0};
    std::atomic<LONG> ConversionBusy{0};
    UniqueHandle ConversionCancelEvent; // manual reset; a run that was not cancelled resets it
    UniqueHandle AutoConvertStopEvent;
    // Set by StartAutoConvert before the worker's thread exists and cleared by the worker as its
    // last step, so a stop requested before the worker marks itself running still waits for it.
    std::atomic<LONG> AutoConvertWorkerAlive{0};
    CConverterSettings Settings;
    std::string SingleInputPath;
    std::string SingleOutputPath;
};

// The one application object.
CConverterApp& ConverterApp();

extern const char kInternalGraphFileName[]; // "InternalXGR.tmp"

// Writes the internal graph from the program's resources into the open file and flushes it;
// false when any of it did not reach the file.
bool WriteInternalGraph(CStdioFile& file);
