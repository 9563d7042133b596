#pragma once
// The Auto Converter: a worker thread that watches the input directory and converts every
// finished recording that has no output yet, with the settings it was started with.

#include "base/ScopedWin.h"
#include "convert/ConversionEngine.h"
#include "settings/ConverterSettings.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

// Whether a recording is finished: nothing holds it open to write it (the recorder).
bool IsFinishedRecording(const std::wstring& path);

// Whether a converted recording may go: its output is a file and not empty.
bool HasUsableOutput(const std::wstring& outputPath);

// Where the worker's lines go; by default standard output, as each is written: UTF-8 to a file or a
// pipe, the characters themselves to a console.
using WorkerOutput = std::function<void(const wchar_t* text)>;
void WriteToStandardOutput(const wchar_t* text);

class CAutoConverter {
public:
    struct Options {
        WorkerOutput Output = WriteToStandardOutput;
        // Without a change in the input directory, the worker scans again after this wait.
        DWORD ScanWaitMs = 60000;
        // A recording that changed while it was converted is converted again once it has stayed as
        // it is for this long.
        DWORD ChangeSettleMs = 30000;
        // Called by the worker after each pass over the input directory, scanned or skipped.
        std::function<void()> PassDone;
    };

    explicit CAutoConverter(CConversionEngine& engine) : CAutoConverter(engine, Options()) {}
    CAutoConverter(CConversionEngine& engine, Options options);
    // Stops a worker still running.
    ~CAutoConverter();
    CAutoConverter(const CAutoConverter&) = delete;
    CAutoConverter& operator=(const CAutoConverter&) = delete;

    // Starts the worker with a copy of the settings, unless one is running (also one that is
    // stopping).
    void StartAutoConvert(const CConverterSettings& settings);
    // Asks the worker to stop and returns at once. A conversion in progress is never cut short:
    // the worker finishes it, handles its result, and then ends.
    void RequestStop();
    // Once the worker has ended, lets go of it and of its stop event and gives true; also true when
    // there is no worker.
    bool FinishStop();
    // RequestStop, then waits for the worker to end.
    void StopAutoConvert();
    // A worker has started and not yet ended.
    bool AutoConvertRunning() const { return running_.load() != 0; }
    // A worker runs and no stop has been asked of it.
    bool RunsUnstopped() const { return running_.load() != 0 && stopRequest_.load() == 0; }

private:
    class Worker;
    class RunningMark;

    CConversionEngine& engine_;
    const Options options_;
    CConverterSettings settings_;
    std::wstring settingsNotes_; // the settings that fell back to their defaults
    std::atomic<LONG> running_{0};
    std::atomic<LONG> stopRequest_{0};
    UniqueHandle stopEvent_;
    UniqueHandle thread_;
};
