#include "tests/standins/GraphTestSupport.h"

#include "tests/standins/StandInClasses.h"
#include "tests/standins/StandIns.h"

using Microsoft::WRL::ComPtr;

namespace standin_tests {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

namespace {

HRESULT Create(const CLSID& classId, InternalGraph::Creation creation, ComPtr<IBaseFilter>& filter)
{
    if (creation == InternalGraph::Creation::ByClass)
        return ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
    for (const StandInClass& standIn : StandInClasses) {
        if (*standIn.classId != classId)
            continue;
        ComPtr<IUnknown> created;
        HRESULT hr = standIn.create(&created);
        if (FAILED(hr))
            return hr;
        return created.As(&filter);
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT ConnectByName(IGraphBuilder* graph, const wchar_t* source, const wchar_t* sourcePin,
                      const wchar_t* destination, const wchar_t* destinationPin)
{
    ComPtr<IBaseFilter> from, to;
    HRESULT hr = graph->FindFilterByName(source, &from);
    if (FAILED(hr))
        return hr;
    hr = graph->FindFilterByName(destination, &to);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> output, input;
    hr = to->FindPin(destinationPin, &input);
    if (FAILED(hr))
        return hr;
    hr = from->FindPin(sourcePin, &output);
    // Recordings without a third stream carry the video on the second.
    if (FAILED(hr) && std::wstring(sourcePin) == L"DVR Out - 3")
        hr = from->FindPin(L"DVR Out - 2", &output);
    if (FAILED(hr))
        return hr;
    return graph->ConnectDirect(output.Get(), input.Get(), nullptr);
}

} // namespace

HRESULT InternalGraph::Build(const std::string& recordingPath, const std::string& outputPath, Creation creation)
{
    HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (FAILED(hr))
        return hr;
    // control.h declares no __uuidof for these two, so IID_PPV_ARGS cannot name them.
    hr = graph.As(&control);
    if (SUCCEEDED(hr))
        hr = graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = graph->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(position.GetAddressOf()));
    if (FAILED(hr))
        return hr;

    struct Entry {
        const wchar_t* name;
        const CLSID* classId;
    };
    const Entry entries[] = {
        {L"Dump", &StandInDumpClsid},
        {L"CyberLink_MPEG_Muxer", &StandInMuxerClsid},
        {L"Decrypt/Tag_0003", &StandInDecrypterClsid},
        {L"Decrypt/Tag", &StandInDecrypterClsid},
        {L"DVR_Source_0", &StandInSourceClsid},
    };
    for (const Entry& entry : entries) {
        ComPtr<IBaseFilter> filter;
        hr = Create(*entry.classId, creation, filter);
        if (FAILED(hr))
            return hr;
        ComPtr<IFileSourceFilter> source;
        ComPtr<IFileSinkFilter> sink;
        if (SUCCEEDED(filter.As(&source)))
            hr = source->Load(Wide(recordingPath).c_str(), nullptr);
        else if (SUCCEEDED(filter.As(&sink)))
            hr = sink->SetFileName(Wide(outputPath).c_str(), nullptr);
        if (FAILED(hr))
            return hr;
        hr = graph->AddFilter(filter.Get(), entry.name);
        if (FAILED(hr))
            return hr;
        filters.push_back(filter);
    }

    const wchar_t* connections[][4] = {
        {L"DVR_Source_0", L"DVR Out - 1", L"Decrypt/Tag", L"In(Enc/Tag)"},
        {L"DVR_Source_0", L"DVR Out - 3", L"Decrypt/Tag_0003", L"In(Enc/Tag)"},
        {L"Decrypt/Tag_0003", L"Out", L"CyberLink_MPEG_Muxer", L"Video In"},
        {L"Decrypt/Tag", L"Out", L"CyberLink_MPEG_Muxer", L"Audio In"},
        {L"CyberLink_MPEG_Muxer", L"Output", L"Dump", L"Input"},
    };
    for (const auto& connection : connections) {
        hr = ConnectByName(graph.Get(), connection[0], connection[1], connection[2], connection[3]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT InternalGraph::WaitForCompletion(DWORD timeoutMs, long* eventCode)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    HRESULT hr = E_ABORT;
    do {
        hr = events->WaitForCompletion(100, eventCode);
    } while (hr == E_ABORT && ::GetTickCount64() < deadline);
    return hr;
}

std::vector<GraphEvent> InternalGraph::DrainEvents()
{
    std::vector<GraphEvent> drained;
    GraphEvent event;
    while (events->GetEvent(&event.code, &event.param1, &event.param2, 0) == S_OK) {
        drained.push_back(event);
        events->FreeEventParams(event.code, event.param1, event.param2);
    }
    return drained;
}

std::vector<ULONG> InternalGraph::Release()
{
    // After a Run that failed part-way, Wine's graph manager takes itself for stopped while the
    // filters that did pause stay paused; its destructor then loops for ever on pins that refuse
    // to disconnect. Stopping each filter first keeps a failed test from hanging.
    for (ComPtr<IBaseFilter>& filter : filters)
        filter->Stop();
    position.Reset();
    events.Reset();
    control.Reset();
    graph.Reset();
    std::vector<ULONG> counts;
    for (ComPtr<IBaseFilter>& filter : filters)
        counts.push_back(filter.Reset());
    filters.clear();
    return counts;
}

} // namespace standin_tests
