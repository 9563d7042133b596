#include "convert/BuildGraph.h"

#include "framework/Utf8Text.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// A connect entry that fails before any platform result fails with this.
constexpr HRESULT NoResult = static_cast<HRESULT>(-1);

const wchar_t FiltersNotAdded[] = L"One or more DS filters couldn't be added to the graph.";
const wchar_t PinsNotFound[] = L"\nCouldn't find some pins... trying Auto-Render";
const wchar_t PinsNotConnected[] = L"\nCouldn't connect one or more pins.";
const wchar_t PinRendered[] = L"\nSuccessfully renedered pin ";
// Recordings without the third stream carry the video on the second.
const char ThirdStreamPin[] = "DVR Out - 3";
const char SecondStreamPin[] = "DVR Out - 2";
// A recording without captions has no pin of that name: its connection is then left out.
const char CaptionsPin[] = "Captions";

// A description's text as DirectShow takes names: UTF-8, or, for an export that is not, the ANSI
// code page it was written in.
std::wstring DescriptionText(const std::string& text)
{
    std::wstring wide;
    if (WideOfUtf8(text, wide))
        return wide;
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    wide.resize(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], length);
    return wide;
}

HRESULT AddFilterEntry(IGraphBuilder* graph, const FilterEntry& entry, const std::wstring& inputPath,
                       const std::wstring& outputPath, std::wstring& report)
{
    CLSID clsid;
    HRESULT hr = ::CLSIDFromString(DescriptionText(entry.clsid).c_str(), &clsid);
    if (FAILED(hr)) {
        report += FiltersNotAdded;
        return hr;
    }
    ComPtr<IBaseFilter> filter;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
    if (FAILED(hr)) {
        report += FiltersNotAdded;
        return hr;
    }

    // A filter that both reads and writes files is taken for a reader.
    ComPtr<IFileSourceFilter> reader;
    ComPtr<IFileSinkFilter> writer;
    if (SUCCEEDED(filter.As(&reader))) {
        hr = reader->Load(inputPath.c_str(), nullptr);
        if (FAILED(hr)) {
            report += L"Could not open input file";
            return hr;
        }
    } else if (SUCCEEDED(filter.As(&writer))) {
        hr = writer->SetFileName(outputPath.c_str(), nullptr);
        if (FAILED(hr)) {
            report += L"Could not open output file";
            return hr;
        }
    }

    // A success code for a name the graph had to make unique counts as well.
    hr = graph->AddFilter(filter.Get(), DescriptionText(entry.ID).c_str());
    if (FAILED(hr))
        report += FiltersNotAdded;
    return hr;
}

// Lets the graph manager render every output pin of the filter by itself.
HRESULT RenderOutputPins(IGraphBuilder* graph, IBaseFilter* source)
{
    HRESULT status = NoResult;
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

// The number after `prefix` in a pin name ("Audio 2"), 1 for the bare prefix when `bare` allows it,
// else 0.
int PinNumber(const std::string& name, const std::string& prefix, bool bare)
{
    if (name == prefix)
        return bare ? 1 : 0;
    if (name.compare(0, prefix.size() + 1, prefix + " ") != 0 || name.size() == prefix.size() + 1)
        return 0;
    int number = 0;
    for (size_t i = prefix.size() + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 99)
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// A description joins one audio stream, "Audio N", to "Audio In" or "Audio In M"; the recording's
// further audio streams go to the further inputs a multiplexer offers as each is connected, for as
// long as both have them. One that will not connect is left out, as graphs have always left out
// what they do not name.
void ConnectFurtherAudio(IGraphBuilder* graph, const ConnectEntry& entry, IBaseFilter* source, IBaseFilter* destination)
{
    const int first = PinNumber(entry.srcpin, "Audio", false);
    const int firstInput = PinNumber(entry.destpin, "Audio In", true);
    if (first == 0 || firstInput == 0)
        return;
    for (int k = 1;; ++k) {
        ComPtr<IPin> output, input, peer;
        if (FAILED(source->FindPin((L"Audio " + std::to_wstring(first + k)).c_str(), &output)) ||
            FAILED(destination->FindPin((L"Audio In " + std::to_wstring(firstInput + k)).c_str(), &input)))
            return;
        if (SUCCEEDED(output->ConnectedTo(&peer)) || SUCCEEDED(input->ConnectedTo(&peer)))
            continue;
        if (FAILED(entry.direct ? graph->ConnectDirect(output.Get(), input.Get(), nullptr) : graph->Connect(output.Get(), input.Get())))
            return;
    }
}

HRESULT ConnectFoundFilters(IGraphBuilder* graph, const ConnectEntry& entry, IBaseFilter* source,
                            IBaseFilter* destination, std::wstring& report)
{
    std::string sourcePinName = entry.srcpin;
    const std::wstring destinationPinName = DescriptionText(entry.destpin);
    ComPtr<IPin> input;
    ComPtr<IPin> output;
    for (;;) {
        input.Reset();
        output.Reset();
        if (FAILED(destination->FindPin(destinationPinName.c_str(), &input)))
            input.Reset();
        if (input && FAILED(source->FindPin(DescriptionText(sourcePinName).c_str(), &output)))
            output.Reset();
        if (input && output)
            break;

        if (sourcePinName == ThirdStreamPin) {
            sourcePinName = SecondStreamPin; // once: the new name never matches again
            continue;
        }
        if (input && sourcePinName == CaptionsPin)
            return S_OK;
        // An earlier entry, or an earlier auto-render, may already have fed this input.
        if (input) {
            ComPtr<IPin> peer;
            if (SUCCEEDED(input->ConnectedTo(&peer)) && peer)
                return S_OK;
        }
        report += PinsNotFound;
        return RenderOutputPins(graph, source);
    }

    HRESULT status = entry.direct ? graph->ConnectDirect(output.Get(), input.Get(), nullptr)
                                  : graph->Connect(output.Get(), input.Get());
    if (SUCCEEDED(status))
        ConnectFurtherAudio(graph, entry, source, destination);
    if (FAILED(status)) {
        status = graph->Render(output.Get());
        if (SUCCEEDED(status)) {
            PIN_INFO info = {};
            if (SUCCEEDED(output->QueryPinInfo(&info)) && info.pFilter)
                info.pFilter->Release();
            info.achName[MAX_PIN_NAME - 1] = L'\0';
            report += PinRendered;
            report += info.achName;
        }
    }
    return status;
}

HRESULT ConnectEntryPins(IGraphBuilder* graph, const ConnectEntry& entry, std::wstring& report)
{
    HRESULT status = NoResult;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> destination;
    if (SUCCEEDED(graph->FindFilterByName(DescriptionText(entry.src).c_str(), &source)) && source
        && SUCCEEDED(graph->FindFilterByName(DescriptionText(entry.dest).c_str(), &destination)) && destination)
        status = ConnectFoundFilters(graph, entry, source.Get(), destination.Get(), report);
    if (FAILED(status))
        report += PinsNotConnected;
    return status;
}

struct EntryBuilder {
    IGraphBuilder* graph;
    const std::wstring& inputPath;
    const std::wstring& outputPath;
    std::wstring& report;

    HRESULT operator()(const FilterEntry& entry) const
    {
        return AddFilterEntry(graph, entry, inputPath, outputPath, report);
    }
    HRESULT operator()(const ConnectEntry& entry) const { return ConnectEntryPins(graph, entry, report); }
};

} // namespace

HRESULT BuildGraphFromDescription(IGraphBuilder* graph, const GraphDescription& description,
                                  const std::wstring& inputPath, const std::wstring& outputPath, std::wstring& report)
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

HRESULT BuildGraph(IGraphBuilder* graph, const GraphSource& source, const std::wstring& graphChoice,
                   const std::wstring& inputPath, const std::wstring& outputPath, std::wstring& report)
{
    GraphDescription description;
    if (FAILED(ReadGraphDescription(source, graphChoice, description))) {
        report += L"Could not open \"" + graphChoice + L"\"";
        return NoResult;
    }
    return BuildGraphFromDescription(graph, description, inputPath, outputPath, report);
}
