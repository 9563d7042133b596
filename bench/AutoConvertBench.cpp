// Prints how the Auto Converter performs: one scan over 10,000 converted recordings, without and
// with an output name pattern, the stop while waiting, its processor time while idle, and the
// delay from a recording's close to its conversion.

#include "bench/Clock.h"
#include "bench/InProcessConverter.h"
#include "convert/OutputRecord.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace testing_support;

namespace {

std::atomic<int> g_passes{0};
CInProcessConverter* g_converter = nullptr;
CConverterSettings g_settings;

double ProcessCpuMilliseconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

void WaitForPasses(int count)
{
    WaitUntil([&] { return g_passes >= count; }, 600000);
}

void MeasureScanOfConvertedRecordings(const std::string& input, const std::string& output)
{
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        sprintf(name, "Show%05d.", i);
        WriteFileBytes(input + name + "dvr-ms", "x");
        WriteFileBytes(output + name + "MPG", "x");
    }
    g_passes = 0;
    LARGE_INTEGER start = Now();
    g_converter->AutoConverter().StartAutoConvert(g_settings);
    WaitForPasses(1);
    LARGE_INTEGER end = Now();
    printf("Scan pass over 10,000 recordings that all have outputs: %.0f ms\n", Milliseconds(start, end));
    g_converter->AutoConverter().StopAutoConvert();
}

// With a pattern the outputs bear other names, and the record says whose each is; 100 recordings
// have outputs named after them from before the pattern, which the first pass takes up.
void MeasureScanWithPattern(const std::string& input, const std::string& output)
{
    std::string record; // as the Auto Converter appends it, written at once
    for (int i = 0; i < 10000; ++i) {
        char name[32], episode[32];
        sprintf(name, "Show%05d.", i);
        sprintf(episode, "Episode %05d.MPG", i);
        WriteFileBytes(input + name + "dvr-ms", "x");
        if (i % 100 == 0) {
            WriteFileBytes(output + name + "MPG", "x");
            continue;
        }
        WriteFileBytes(output + episode, "x");
        record += std::string(episode) + "\t" + name + "dvr-ms\r\n";
    }
    WriteFileBytes(output + Utf8(OutputRecordName), record);
    CConverterSettings settings = g_settings;
    settings.InputPath = Wide(input);
    settings.OutputPath = Wide(output);
    settings.OutputName = L"{Title} - {SubTitle}";
    for (const char* pass : {"100 of them taken up from outputs named before", "all of them in it"}) {
        g_passes = 0;
        const LARGE_INTEGER start = Now();
        g_converter->AutoConverter().StartAutoConvert(settings);
        WaitForPasses(1);
        printf("Scan pass with a name pattern over 10,000 converted recordings in the output record (%s): %.0f ms\n", pass,
               Milliseconds(start, Now()));
        g_converter->AutoConverter().StopAutoConvert();
    }
}

void MeasureStopWhileWaiting()
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        g_passes = 0;
        g_converter->AutoConverter().StartAutoConvert(g_settings);
        WaitForPasses(1);
        ::Sleep(300);
        LARGE_INTEGER start = Now();
        g_converter->AutoConverter().StopAutoConvert();
        times.push_back(Milliseconds(start, Now()));
    }
    std::sort(times.begin(), times.end());
    printf("Stop request to StopAutoConvert returning, worker waiting: median %.1f ms (min %.1f, max %.1f)\n",
           times[2], times.front(), times.back());
}

void MeasureIdleProcessorTime()
{
    g_passes = 0;
    g_converter->AutoConverter().StartAutoConvert(g_settings);
    WaitForPasses(1);
    double before = ProcessCpuMilliseconds();
    ::Sleep(30000);
    double after = ProcessCpuMilliseconds();
    g_converter->AutoConverter().StopAutoConvert();
    printf("Processor time over 30 s of idle waiting (whole process): %.1f ms\n", after - before);
}

void MeasureCloseToConversion(const std::string& input)
{
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        char name[64];
        sprintf(name, "Held%d.dvr-ms", i);
        std::string path = input + name;
        CopyRecording(path);
        HANDLE recorder = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr);
        g_passes = 0;
        g_converter->AutoConverter().StartAutoConvert(g_settings);
        WaitForPasses(1);
        // The recorder's last writes, then its close.
        ::SetFilePointer(recorder, 0, nullptr, FILE_END);
        for (int block = 0; block < 10; ++block) {
            char data[1024] = {};
            DWORD written = 0;
            ::WriteFile(recorder, data, sizeof(data), &written, nullptr);
            ::Sleep(100);
        }
        ::CloseHandle(recorder);
        LARGE_INTEGER closed = Now();
        WaitUntil([] { return g_converter->Engine().Busy(); }, 120000);
        times.push_back(Milliseconds(closed, Now()));
        g_converter->AutoConverter().StopAutoConvert();
    }
    std::sort(times.begin(), times.end());
    printf("Recording closed to its conversion starting: median %.0f ms (min %.0f, max %.0f)\n", times[1],
           times.front(), times.back());
}

} // namespace

int main()
{
    if (!MakeVectorsIfNeeded(HALVERN_SOURCE_DIR "/tests/media/make-vectors.sh")) {
        printf("No test vectors could be made\n");
        return 1;
    }
    ::CoInitialize(nullptr);
    RegisterStandInsInProcess();
    std::string input = MakeScratchDirectory("bench-in");
    std::string output = MakeScratchDirectory("bench-out");
    g_settings = CConverterSettings::Defaults();
    g_settings.InputPath = Wide(input);
    g_settings.OutputPath = Wide(output);
    g_settings.InputExt = L"dvr-ms";
    {
        CInProcessConverter converter(input, [] { ++g_passes; });
        g_converter = &converter;
        MeasureScanOfConvertedRecordings(input, output);
        MeasureScanWithPattern(MakeScratchDirectory("bench-pattern-in"), MakeScratchDirectory("bench-pattern-out"));
        MeasureStopWhileWaiting();
        MeasureIdleProcessorTime();
        MeasureCloseToConversion(input);
        g_converter = nullptr;
    }
    RevokeStandIns();
    ::CoUninitialize();
    return 0;
}
