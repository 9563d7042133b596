// Reads a recording through the ASF reader alone, every object handed out and touched, and
// prints the reading speed. bench/demux.sh runs it beside ffmpeg's demux of the same file.
//   demux_bench FILE [RUNS [PASSES]]        each run reads the file PASSES times
//   demux_bench --make OUT VIDEO AUDIO      writes a media-centre recording with the test writer

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "media/asf/AsfReader.h"
#include "tests/media/RecordingWriter.h"

namespace {

// Touches every object as a consumer would: a running sum of its first and last bytes.
class CountingSink : public asf::IObjectSink {
public:
    bool OnObject(const asf::MediaObject& object) override
    {
        ++objects;
        bytes += object.size;
        check += object.data[0] + object.data[object.size - 1];
        return true;
    }
    unsigned long long objects = 0;
    unsigned long long bytes = 0;
    unsigned long long check = 0;
};

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--make") {
        test_recordings::RecordingOptions options;
        options.videoPath = argv[3];
        options.audioPath = argv[4];
        test_recordings::WrittenRecording written;
        std::string error;
        if (!test_recordings::WriteRecording(argv[2], options, written, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: demux_bench FILE [RUNS [PASSES]] | --make OUT VIDEO AUDIO\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const int passes = argc > 3 ? std::atoi(argv[3]) : 1;
    wchar_t path[MAX_PATH];
    if (!::MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH))
        return 2;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) {
        std::fprintf(stderr, "cannot find %s\n", argv[1]);
        return 1;
    }
    const double fileBytes =
        static_cast<double>((static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow);
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        asf::CReader reader;
        HRESULT hr = reader.Open(path);
        CountingSink sink;
        for (int pass = 0; pass < passes && hr == S_OK; ++pass)
            hr = reader.Read(sink);
        ::QueryPerformanceCounter(&end);
        if (hr != S_OK) {
            std::fprintf(stderr, "reading failed: 0x%08lx\n", static_cast<unsigned long>(hr));
            return 1;
        }
        const double seconds = Seconds(start, end, frequency);
        const double rate = fileBytes * passes / seconds / 1e6;
        std::printf("run %d: %llu objects, %.1f MB of payload in %.3f s: %.1f MB/s (bad packets %llu, check %llu)\n",
                    run + 1, sink.objects, static_cast<double>(sink.bytes) / 1e6, seconds, rate,
                    static_cast<unsigned long long>(reader.Counters().badPackets), sink.check);
        best = rate > best ? rate : best;
    }
    std::printf("reader_mb_per_s %.1f\n", best);
    return 0;
}
