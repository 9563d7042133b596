// Prints how quickly a running conversion ends: from "Cancel Conversion!" until the run is over.
// Median of 20. (A stop of the Auto Converter lets its conversion finish, so it is no cancel.)

#include "bench/Clock.h"
#include "bench/InProcessConverter.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <memory>
#include <cstdio>
#include <vector>

using namespace testing_support;

namespace {

constexpr int Rounds = 20;

// Waits until a run has built its graph and is in its wait.
void WaitForRunning(CInProcessConverter& converter, int builtBefore)
{
    WaitUntil([&] { return converter.GraphsBuilt > builtBefore; }, 60000);
    ::Sleep(300);
}

void Report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    printf("%s: median %.1f ms (min %.1f, max %.1f, %d rounds)\n", what, (times[9] + times[10]) / 2, times.front(),
           times.back(), Rounds);
    fflush(stdout);
}

void MeasureCancelToIdle(CInProcessConverter& converter, const std::string& input, const std::string& output)
{
    std::vector<double> times;
    for (int round = 0; round < Rounds; ++round) {
        const int built = converter.GraphsBuilt;
        converter.Engine().StartSingleConversion(
            ConversionRequest{Wide(input + "Long.dvr-ms"), Wide(output + "Long.MPG"), InternalGraphName, Wide(output)});
        WaitForRunning(converter, built);
        const LARGE_INTEGER start = Now();
        converter.Engine().FinishSingleConversion(); // the cancel command's request, then the wait for the run's end
        times.push_back(Milliseconds(start, Now()));
    }
    Report("Cancel to the conversion's end (idle)", times);
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
    // About an hour for each conversion: every run is cut short.
    ScopedDecrypterFault slow("pace=0.001");
    CopyRecording(input + "Long.dvr-ms");
    {
        CInProcessConverter converter(input);
        MeasureCancelToIdle(converter, input, output);
    }
    RevokeStandIns();
    ::CoUninitialize();
    return 0;
}
