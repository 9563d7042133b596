// Prints how the Auto Converter performs: one scan over 10,000 converted recordings, the stop
// while waiting, its processor time while idle, and the delay from a recording's close to its
// conversion.

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
#include <cstring>
#include <vector>

using namespace testing_support;

namespace {

std::atomic<int> g_passes{0};

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

void PrepareApp(const std::string& input, const std::string& output)
{
    CConverterApp& app = ConverterApp();
    std::string graph = MakeScratchDirectory("bench-graph") + "InternalXGR.tmp";
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    app.InternalGraphFile.Open(graph.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                  | CStdioFile::shareExclusive);
    app.InternalGraphFile.Write(::LockResource(::LoadResource(nullptr, resource)), ::SizeofResource(nullptr, resource));
    app.InternalGraphFile.Flush();
    app.Settings.InputPath = input;
    app.Settings.OutputPath = output;
    app.Settings.InputExt = "dvr-ms";
    app.Settings.OutputExt = "MPG";
    SetWorkerOutputForTests([](const char*) {});
    SetBalloonSinkForTests([](const std::string&, const char*, DWORD, UINT) {});
    SetPassObserverForTests([] { ++g_passes; });
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
    ConverterApp().StartAutoConvert();
    WaitForPasses(1);
    LARGE_INTEGER end = Now();
    printf("Scan pass over 10,000 recordings that all have outputs: %.0f ms\n", Milliseconds(start, end));
    ConverterApp().StopAutoConvert();
}

void MeasureStopWhileWaiting()
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        g_passes = 0;
        ConverterApp().StartAutoConvert();
        WaitForPasses(1);
        ::Sleep(300);
        LARGE_INTEGER start = Now();
        ConverterApp().StopAutoConvert();
        times.push_back(Milliseconds(start, Now()));
    }
    std::sort(times.begin(), times.end());
    printf("Stop request to StopAutoConvert returning, worker waiting: median %.1f ms (min %.1f, max %.1f)\n",
           times[2], times.front(), times.back());
}

void MeasureIdleProcessorTime()
{
    g_passes = 0;
    ConverterApp().StartAutoConvert();
    WaitForPasses(1);
    double before = ProcessCpuMilliseconds();
    ::Sleep(30000);
    double after = ProcessCpuMilliseconds();
    ConverterApp().StopAutoConvert();
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
        ConverterApp().StartAutoConvert();
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
        WaitUntil([] { return ConverterApp().ConversionBusy.load() != 0; }, 120000);
        times.push_back(Milliseconds(closed, Now()));
        ConverterApp().StopAutoConvert();
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
    PrepareApp(input, output);

    MeasureScanOfConvertedRecordings(input, output);
    MeasureStopWhileWaiting();
    MeasureIdleProcessorTime();
    MeasureCloseToConversion(input);

    ConverterApp().InternalGraphFile.Close();
    RevokeStandIns();
    ::CoUninitialize();
    return 0;
}
