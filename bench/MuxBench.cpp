// Multiplexing + writing: two elementary streams read in large pieces, through the multiplexer
// core (the transport stream's for an output named .ts, else the program stream's), into the file
// writer's buffered output, ending with FlushFileBuffers. Prints MB/s of input and the peak memory
// of the process.

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "builtin/FileWriter.h"
#include "media/mpeg/Multiplexer.h"
#include "media/mpeg/TransportStreamMultiplexer.h"

namespace {

class CFileSink : public mpeg::IPackSink, public mpeg::IPacketSink {
public:
    explicit CFileSink(CWriteBehindFile& output) : output_(output) {}
    bool WritePack(const uint8_t* pack) override
    {
        result = output_.Append(pack, static_cast<DWORD>(mpeg::PackSize));
        return SUCCEEDED(result);
    }
    bool WritePacket(const uint8_t* packet) override
    {
        result = output_.Append(packet, static_cast<DWORD>(mpeg::TsPacketSize));
        return SUCCEEDED(result);
    }
    HRESULT result = S_OK;

private:
    CWriteBehindFile& output_;
};

UniqueFileHandle OpenInput(const char* path, uint64_t& size)
{
    UniqueFileHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length = {};
    if (file && ::GetFileSizeEx(file.Get(), &length))
        size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

// Reads up to `want` bytes and pushes them; false on a read or multiplexer failure.
bool Pass(HANDLE file, std::vector<uint8_t>& buffer, DWORD want, mpeg::IMultiplexer& mux, int stream,
          uint64_t& done, DWORD& got)
{
    got = 0;
    if (!::ReadFile(file, buffer.data(), want, &got, nullptr))
        return false;
    const int64_t time = done == 0 ? 0 : mpeg::NoTimestamp;
    done += got;
    return got == 0 || mux.Push(stream, buffer.data(), got, time);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mux_bench VIDEO.m2v AUDIO.ac3|.mp2 OUTPUT.mpg\n");
        return 2;
    }
    uint64_t videoSize = 0, audioSize = 0;
    UniqueFileHandle video = OpenInput(argv[1], videoSize);
    UniqueFileHandle audio = OpenInput(argv[2], audioSize);
    if (!video || !audio || videoSize == 0) {
        std::fprintf(stderr, "cannot read the inputs\n");
        return 1;
    }
    const std::string audioPath = argv[2];
    const bool ac3 = audioPath.size() > 4 && audioPath.compare(audioPath.size() - 4, 4, ".ac3") == 0;

    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);

    CWriteBehindFile output;
    const std::string outputPath = argv[3];
    HRESULT hr = output.Open(std::wstring(outputPath.begin(), outputPath.end()));
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot create the output: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    CFileSink sink(output);
    mpeg::CProgramStreamMultiplexer programMux(sink);
    mpeg::CTransportStreamMultiplexer transportMux(sink);
    const bool transport = outputPath.size() > 3 && outputPath.compare(outputPath.size() - 3, 3, ".ts") == 0;
    mpeg::IMultiplexer& mux = transport ? static_cast<mpeg::IMultiplexer&>(transportMux) : programMux;
    const int videoStream = mux.AddStream(mpeg::Coding::Mpeg2Video);
    const int audioStream = mux.AddStream(ac3 ? mpeg::Coding::Ac3 : mpeg::Coding::Mpeg1Audio);

    // The audio is read along with the video, in proportion, as a recording interleaves them.
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t videoDone = 0, audioDone = 0;
    bool ok = true;
    for (DWORD got = 1; ok && got > 0;) {
        ok = Pass(video.Get(), buffer, static_cast<DWORD>(buffer.size()), mux, videoStream, videoDone, got);
        const uint64_t audioTarget = audioSize * videoDone / videoSize;
        for (DWORD audioGot = 1; ok && audioDone < audioTarget && audioGot > 0;) {
            const DWORD want = static_cast<DWORD>(std::min<uint64_t>(audioTarget - audioDone, 256 * 1024));
            ok = Pass(audio.Get(), buffer, want, mux, audioStream, audioDone, audioGot);
        }
    }
    ok = ok && mux.End(videoStream) && mux.End(audioStream);
    hr = ok ? output.Finish() : (FAILED(sink.result) ? sink.result : E_FAIL);
    ::QueryPerformanceCounter(&end);
    if (FAILED(hr) || !mux.Finished()) {
        std::fprintf(stderr, "failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }

    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    const double megabytes = static_cast<double>(videoDone + audioDone) / 1e6;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    if (transport) {
        std::printf("rate: %.1f MB/s (%.0f MB in %.2f s, %llu packets, %llu null, %u damaged units)\n", megabytes / seconds,
                    megabytes, seconds, static_cast<unsigned long long>(transportMux.PacketsWritten()),
                    static_cast<unsigned long long>(transportMux.NullPackets()), mux.Damaged());
        std::printf("mux rate: %u x 50 bytes/s, late units %llu\n", transportMux.BaseMuxRate(),
                    static_cast<unsigned long long>(transportMux.LateUnits()));
    } else {
        std::printf("rate: %.1f MB/s (%.0f MB in %.2f s, %llu packs, %u damaged units)\n", megabytes / seconds, megabytes,
                    seconds, static_cast<unsigned long long>(programMux.PacksWritten()), mux.Damaged());
        std::printf("mux rate: %u x 50 bytes/s, bound %u, late units %llu\n", programMux.BaseMuxRate(), programMux.RateBound(),
                    static_cast<unsigned long long>(programMux.LateUnits()));
    }
    std::printf("peak private bytes: %.1f MiB, peak working set: %.1f MiB\n",
                static_cast<double>(memory.PeakPagefileUsage) / (1 << 20),
                static_cast<double>(memory.PeakWorkingSetSize) / (1 << 20));
    return 0;
}
