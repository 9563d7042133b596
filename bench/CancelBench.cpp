// Prints how quickly a running conversion ends: from "Cancel Conversion!" until the run is over,
// and from a stop of the Auto Converter until StopAutoConvert returns. Medians of 20 each.

#include "app/ConverterApp.h"
#include "autoconv/AutoConvertThread.h"
#include "convert/RunFeedback.h"
#include "res/resource.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

using namespace testing_support;

namespace {

constexpr int kRounds = 20;

std::atomic<int> g_balloons{0};

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

void PrepareApp(const std::string& input, const std::string& output)
{
    CConverterApp& app = ConverterApp();
    std::string graph = MakeScratchDirectory("cancel-bench-graph") + "InternalXGR.tmp";
    app.InternalGraphFile.Open(graph.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                  | CStdioFile::shareExclusive);
    WriteInternalGraph(app.InternalGraphFile);
    app.Settings.InputPath = input;
    app.Settings.OutputPath = output;
    app.Settings.InputExt = "dvr-ms";
    app.Settings.OutputExt = "MPG";
    SetWorkerOutputForTests([](const char*) {});
    SetBalloonSinkForTests([](const std::string&, const char*, DWORD, UINT) { ++g_balloons; });
}

// Waits until a run has shown its first balloon, so that it is past building and in its wait.
void WaitForRunning(int balloonsBefore)
{
    WaitUntil([&] { return g_balloons > balloonsBefore; }, 60000);
    ::Sleep(300);
}

void Report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    printf("%s: median %.1f ms (min %.1f, max %.1f, %d rounds)\n", what, (times[9] + times[10]) / 2, times.front(),
           times.back(), kRounds);
    fflush(stdout);
}

void MeasureCancelToIdle(const std::string& input, const std::string& output)
{
    CConverterApp& app = ConverterApp();
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        const int balloons = g_balloons;
        app.StartSingleConversion(input + "Long.dvr-ms", output + "Long.MPG");
        WaitForRunning(balloons);
        const LARGE_INTEGER start = Now();
        app.FinishSingleConversion(); // the cancel command's request, then the wait for the run's end
        times.push_back(Milliseconds(start, Now()));
    }
    Report("Cancel to the conversion's end (idle)", times);
}

void MeasureStopToReturn()
{
    CConverterApp& app = ConverterApp();
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        const int balloons = g_balloons;
        app.StartAutoConvert();
        WaitForRunning(balloons);
        const LARGE_INTEGER start = Now();
        app.StopAutoConvert();
        times.push_back(Milliseconds(start, Now()));
    }
    Report("Stop Auto Converter during a conversion to its return", times);
}

} // namespace

int main()
{
    ::CoInitialize(nullptr);
    if (!MakeVectorsIfNeeded(HALVERN_SOURCE_DIR "/tests/media/make-vectors.sh")) {
        printf("No test vectors could be made\n");
        return 1;
    }
    RegisterStandInsInProcess();
    const std::string input = MakeScratchDirectory("cancel-bench-in");
    const std::string output = MakeScratchDirectory("cancel-bench-out");
    PrepareApp(input, output);
    // About an hour for each conversion: every run is cut short.
    ScopedDecrypterFault slow("pace=0.001");
    CopyRecording(input + "Long.dvr-ms");

    MeasureCancelToIdle(input, output);
    MeasureStopToReturn();

    ConverterApp().InternalGraphFile.Close();
    RevokeStandIns();
    ::CoUninitialize();
    return 0;
}
