#pragma once
// The Auto Converter worker: watches the input directory and converts every finished recording
// that has no output yet.

#include <windows.h>

#include <functional>
#include <string>

// The worker's thread function; its argument is the application object. Always gives 0.
unsigned __stdcall AutoConvertThread(void* application);

// Whether a converted recording may go: its output is a file and not empty.
bool HasUsableOutput(const std::string& outputPath);

// The waits of the worker and of its stop. The program never changes them; tests shorten them.
struct AutoConvertTimings {
    DWORD ScanWaitMs = 60000;
    DWORD StopPollMs = 100;
};
AutoConvertTimings& AutoConvertTiming();

// Where the worker's lines go: standard output, flushed line by line, unless a test captures them.
using WorkerOutput = std::function<void(const char* text)>;
void SetWorkerOutputForTests(WorkerOutput output);
void WriteWorkerText(const char* text);

// Called by the worker after each pass over the input directory, scanned or skipped; for tests
// and measurements. Set it only while no worker runs.
void SetPassObserverForTests(std::function<void()> observer);
