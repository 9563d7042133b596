// A whole conversion of a recording through the application's ConvertFile with the shipped graph
// of the built-in filters, timed from the call to its return (the writer flushes the file before
// the graph ends). bench/remux.sh runs it beside ffmpeg.
//
//   remux_bench make VIDEO.m2v AUDIO.ac3 OUT.dvr-ms    writes a media-centre recording
//   remux_bench convert IN.dvr-ms OUTDIR\              converts IN into OUTDIR once
//
// "convert" prints "seconds S", "build_seconds S" (to the graph's start), "processor_seconds S" (of this process; Wine's server is apart),
// "input_bytes N", "idle_working_set B" and "peak_above_idle B".

#include "base/ScopedWin.h"
#include "bench/InProcessConverter.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TestSupport.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char ShippedGraph[] = "Built-in DVR-MS to MPEG.xgr";

int MakeRecording(const char* video, const char* audio, const char* output)
{
    test_recordings::RecordingOptions options;
    options.videoPath = video;
    options.audioPath = audio;
    // Captions make the source's pins those of a real recording, which the shipped graph names.
    options.captions = true;
    test_recordings::WrittenRecording written;
    std::string error;
    if (!test_recordings::WriteRecording(output, options, written, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %llu bytes, %zu objects\n", static_cast<unsigned long long>(written.fileSize),
                written.objects.size());
    return 0;
}

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    return memory.PeakWorkingSetSize;
}

double ProcessorSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

ULONGLONG FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int Convert(const std::string& input, std::string outputDirectory)
{
    if (outputDirectory.empty() || outputDirectory.back() != '\\')
        outputDirectory += '\\';
    ScopedComInit com;
    if (FAILED(com.Result()))
        return 1;
    // The shipped graph is read from the program's directory, where the build puts it.
    CInProcessConverter converter(testing_support::ModuleDirectory());
    // The graph built and running: the split between building and streaming (with the flush, the
    // teardown and the rename after it).
    LARGE_INTEGER built = {};
    converter.OnBuilt = [&built] { ::QueryPerformanceCounter(&built); };

    const std::string output = outputDirectory + BaseName(input) + ".MPG";
    ::DeleteFileA(output.c_str());
    const SIZE_T idle = PeakWorkingSet();
    const double processorBefore = ProcessorSeconds();
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const bool converted = converter.Engine().ConvertFile(
        ConversionRequest{testing_support::Wide(input), testing_support::Wide(output), testing_support::Wide(ShippedGraph),
                          testing_support::Wide(outputDirectory)}) == ConversionResult::Converted;
    ::QueryPerformanceCounter(&end);
    const SIZE_T peak = PeakWorkingSet();
    const double processor = ProcessorSeconds() - processorBefore;
    if (!converted || FileSize(output) == 0) {
        std::fprintf(stderr, "conversion failed:\n%s\n", testing_support::Utf8(converter.LastReport).c_str());
        return 1;
    }
    const auto between = [&frequency](const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
        return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
    };
    const double seconds = between(start, end);
    std::printf("seconds %.3f\nbuild_seconds %.3f\nprocessor_seconds %.3f\ninput_bytes %llu\noutput_bytes %llu\n"
                "idle_working_set %llu\npeak_above_idle %llu\n",
                seconds, between(start, built), processor, static_cast<unsigned long long>(FileSize(input)),
                static_cast<unsigned long long>(FileSize(output)), static_cast<unsigned long long>(idle),
                static_cast<unsigned long long>(peak - idle));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 5)
        return MakeRecording(argv[2], argv[3], argv[4]);
    if (mode == "convert" && argc == 4)
        return Convert(argv[2], argv[3]);
    std::fprintf(stderr, "usage: remux_bench make VIDEO.m2v AUDIO.ac3 OUT.dvr-ms | convert IN.dvr-ms OUTDIR\n");
    return 2;
}
