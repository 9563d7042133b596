#include "convert/BuildGraph.h"

#include "convert/WideText.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// A connect entry that fails before any platform result fails with this.
constexpr HRESULT kNoResult = static_cast<HRESULT>(-1);

const char kFiltersNotAdded[] = "One or more DS filters couldn't be added to the graph.";
const char kPinsNotFound[] = "\nCouldn't find some pins... trying Auto-Render";
const char kPinsNotConnected[] = "\nCouldn't connect one or more pins.";
const char kPinRendered[] = "\nSuccessfully renedered pin ";
// Recordings without the third stream carry the video on the second.
const char kThirdStreamPin[] = "DVR Out - 3";
const char kSecondStreamPin[] = "DVR Out - 2";

HRESULT AddFilterEntry(IGraphBuilder* graph, const FilterEntry& entry, const std::string& inputPath,
                       const std::string& outputPath, std::string& report)
{
    CLSID clsid;
    HRESULT hr = ::CLSIDFromString(ToWide(entry.clsid).c_str(), &clsid);
    if (FAILED(hr)) {
        report += kFiltersNotAdded;
        return hr;
    }
    ComPtr<IBaseFilter> filter;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
    if (FAILED(hr)) {
        report += kFiltersNotAdded;
        return hr;
    }

    // A filter that both reads and writes files is taken for a reader.
    ComPtr<IFileSourceFilter> reader;
    ComPtr<IFileSinkFilter> writer;
    if (SUCCEEDED(filter.As(&reader))) {
        hr = reader->Load(ToWide(inputPath).c_str(), nullptr);
        if (FAILED(hr)) {
            report += "Could not open input file";
            return hr;
        }
    } else if (SUCCEEDED(filter.As(&writer))) {
        hr = writer->SetFileName(ToWide(outputPath).c_str(), nullptr);
        if (FAILED(hr)) {
            report += "Could not open output file";
            return hr;
        }
    }

    // A success code for a name the graph had to make unique counts as well.
    hr = graph->AddFilter(filter.Get(), ToWide(entry.ID).c_str());
    if (FAILED(hr))
        report += kFiltersNotAdded;
    return hr;
}

// Lets the graph manager render every output pin of the filter by itself.
HRESULT RenderOutputPins(IGraphBuilder* graph, IBaseFilter* source)
{
    HRESULT status = kNoResult;
    bool rendered = false;
    ComPtr<IEnumPins> pins;
    if (FAILED(source->EnumPins(&pins)) || !pins)
        return status;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK && pin) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) {
            // One pin that cannot be rendered does not keep the others from it.
            status = graph->Render(pin.Get());
            rendered = rendered || SUCCEEDED(status);
        }
    }
    return rendered ? S_OK : status;
}

HRESULT ConnectFoundFilters(IGraphBuilder* graph, const ConnectEntry& entry, IBaseFilter* source,
                            IBaseFilter* destination, std::string& report)
{
    std::string sourcePinName = entry.srcpin;
    const std::wstring destinationPinName = ToWide(entry.destpin);
    ComPtr<IPin> input;
    ComPtr<IPin> output;
    for (;;) {
        input.Reset();
        output.Reset();
        if (FAILED(destination->FindPin(destinationPinName.c_str(), &input)))
            input.Reset();
        if (input && FAILED(source->FindPin(ToWide(sourcePinName).c_str(), &output)))
            output.Reset();
        if (input && output)
            break;

        if (sourcePinName == kThirdStreamPin) {
            sourcePinName = kSecondStreamPin; // once: the new name never matches again
            continue;
        }
        // An earlier entry, or an earlier auto-render, may already have fed this input.
        if (input) {
            ComPtr<IPin> peer;
            if (SUCCEEDED(input->ConnectedTo(&peer)) && peer)
                return S_OK;
        }
        report += kPinsNotFound;
        return RenderOutputPins(graph, source);
    }

    HRESULT status = entry.direct ? graph->ConnectDirect(output.Get(), input.Get(), nullptr)
                                  : graph->Connect(output.Get(), input.Get());
    if (FAILED(status)) {
        status = graph->Render(output.Get());
        if (SUCCEEDED(status)) {
            PIN_INFO info = {};
            if (SUCCEEDED(output->QueryPinInfo(&info)) && info.pFilter)
                info.pFilter->Release();
            info.achName[MAX_PIN_NAME - 1] = L'\0';
            report += kPinRendered;
            report += ToAnsi(info.achName);
        }
    }
    return status;
}

HRESULT ConnectEntryPins(IGraphBuilder* graph, const ConnectEntry& entry, std::string& report)
{
    HRESULT status = kNoResult;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> destination;
    if (SUCCEEDED(graph->FindFilterByName(ToWide(entry.src).c_str(), &source)) && source
        && SUCCEEDED(graph->FindFilterByName(ToWide(entry.dest).c_str(), &destination)) && destination)
        status = ConnectFoundFilters(graph, entry, source.Get(), destination.Get(), report);
    if (FAILED(status))
        report += kPinsNotConnected;
    return status;
}

struct EntryBuilder {
    IGraphBuilder* graph;
    const std::string& inputPath;
    const std::string& outputPath;
    std::string& report;

    HRESULT operator()(const FilterEntry& entry) const
    {
        return AddFilterEntry(graph, entry, inputPath, outputPath, report);
    }
    HRESULT operator()(const ConnectEntry& entry) const { return ConnectEntryPins(graph, entry, report); }
};

} // namespace

HRESULT BuildGraphFromDescription(IGraphBuilder* graph, const GraphDescription& description,
                                  const std::string& inputPath, const std::string& outputPath, std::string& report)
{
    HRESULT status = S_OK;
    const EntryBuilder builder{graph, inputPath, outputPath, report};
    for (const GraphEntry& entry : description.Entries) {
        status = std::visit(builder, entry);
        if (FAILED(status))
            return status;
    }
    return status;
}

HRESULT BuildGraph(IGraphBuilder* graph, const GraphSource& source, const std::string& graphChoice,
                   const std::string& inputPath, const std::string& outputPath, std::string& report)
{
    GraphDescription description;
    if (FAILED(ReadGraphDescription(source, graphChoice, description))) {
        report += "Could not open \"" + graphChoice + "\"";
        return kNoResult;
    }
    return BuildGraphFromDescription(graph, description, inputPath, outputPath, report);
}
