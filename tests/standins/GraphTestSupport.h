#pragma once
// The internal graph's five stand-ins, built by hand inside Wine's Filter Graph Manager the way
// Halvern builds it: created by class, file names handed over, added under their names and
// joined with ConnectDirect.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace standin_tests {

struct GraphEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

class InternalGraph {
public:
    enum class Creation {
        // The filters' own Create functions, so this program's module count sees them.
        Direct,
        // CoCreateInstance by class, as Halvern creates them.
        ByClass,
    };
    HRESULT Build(const std::string& recordingPath, const std::string& outputPath,
                  Creation creation = Creation::Direct);

    Microsoft::WRL::ComPtr<IGraphBuilder> graph;
    Microsoft::WRL::ComPtr<IMediaControl> control;
    Microsoft::WRL::ComPtr<IMediaEventEx> events;
    Microsoft::WRL::ComPtr<IMediaPosition> position;
    // In file order: Dump, multiplexer, Decrypt/Tag_0003, Decrypt/Tag, source.
    std::vector<Microsoft::WRL::ComPtr<IBaseFilter>> filters;

    // WaitForCompletion in steps until it gives anything but E_ABORT or the time is up.
    HRESULT WaitForCompletion(DWORD timeoutMs, long* eventCode);
    // Every event queued so far, freed as it is read.
    std::vector<GraphEvent> DrainEvents();
    // Stops every filter and releases everything; gives the reference counts the filters were
    // left with (all 0 when nothing else holds them).
    std::vector<ULONG> Release();
};

std::wstring Wide(const std::string& text);

} // namespace standin_tests
