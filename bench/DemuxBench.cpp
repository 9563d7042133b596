// Reads a recording through the ASF reader alone, every object handed out and touched, and
// prints the reading speed. bench/demux.sh runs it beside ffmpeg's demux of the same file.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "media/asf/AsfReader.h"

namespace {

// Touches every object as a consumer would: a running sum of its first and last bytes.
class CountingSink : public asf::ObjectSink {
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: demux_bench FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
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
        asf::Reader reader;
        HRESULT hr = reader.Open(path);
        CountingSink sink;
        if (SUCCEEDED(hr))
            hr = reader.Read(sink);
        ::QueryPerformanceCounter(&end);
        if (hr != S_OK) {
            std::fprintf(stderr, "reading failed: 0x%08lx\n", static_cast<unsigned long>(hr));
            return 1;
        }
        const double seconds = Seconds(start, end, frequency);
        const double rate = fileBytes / seconds / 1e6;
        std::printf("run %d: %llu objects, %.1f MB of payload in %.3f s: %.1f MB/s (bad packets %llu, check %llu)\n",
                    run + 1, sink.objects, static_cast<double>(sink.bytes) / 1e6, seconds, rate,
                    static_cast<unsigned long long>(reader.Counters().badPackets), sink.check);
        best = rate > best ? rate : best;
    }
    std::printf("reader_mb_per_s %.1f\n", best);
    return 0;
}
