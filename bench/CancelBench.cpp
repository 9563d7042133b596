// Prints how quickly a running conversion ends: from "Cancel Conversion!" until the run is over,
// and from a stop of the Auto Converter until StopAutoConvert returns. Medians of 20 each.

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

constexpr int kRounds = 20;

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
           times.back(), kRounds);
    fflush(stdout);
}

void MeasureCancelToIdle(CInProcessConverter& converter, const std::string& input, const std::string& output)
{
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        const int built = converter.GraphsBuilt;
        converter.Engine().StartSingleConversion(
            ConversionRequest{input + "Long.dvr-ms", output + "Long.MPG", kInternalGraphName, nullptr, output});
        WaitForRunning(converter, built);
        const LARGE_INTEGER start = Now();
        converter.Engine().FinishSingleConversion(); // the cancel command's request, then the wait for the run's end
        times.push_back(Milliseconds(start, Now()));
    }
    Report("Cancel to the conversion's end (idle)", times);
}

void MeasureStopToReturn(CInProcessConverter& converter, const CConverterSettings& settings)
{
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        const int built = converter.GraphsBuilt;
        converter.AutoConverter().StartAutoConvert(settings);
        WaitForRunning(converter, built);
        const LARGE_INTEGER start = Now();
        converter.AutoConverter().StopAutoConvert();
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
    CConverterSettings settings = CConverterSettings::Defaults();
    settings.InputPath = input;
    settings.OutputPath = output;
    settings.InputExt = "dvr-ms";
    // About an hour for each conversion: every run is cut short.
    ScopedDecrypterFault slow("pace=0.001");
    CopyRecording(input + "Long.dvr-ms");
    {
        CInProcessConverter converter(input);
        MeasureCancelToIdle(converter, input, output);
        MeasureStopToReturn(converter, settings);
    }
    RevokeStandIns();
    ::CoUninitialize();
    return 0;
}
