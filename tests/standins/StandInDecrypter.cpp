#include "tests/standins/StandInDecrypter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <wrl/client.h>

#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"
#include "tests/standins/StandIns.h"

using Microsoft::WRL::ComPtr;

class CDecrypterInputPin : public CBaseInputPin {
public:
    explicit CDecrypterInputPin(CStandInDecrypter* decrypter) : CBaseInputPin(decrypter, L"In(Enc/Tag)"), decrypter_(decrypter) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == MEDIATYPE_Audio || type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
    }

    // Upstream buffers are copied whole, so "Out" asks for buffers of the same size.
    long BufferSize()
    {
        ComPtr<IMemAllocator> allocator;
        ALLOCATOR_PROPERTIES properties = {};
        if (FAILED(GetAllocator(&allocator)) || FAILED(allocator->GetProperties(&properties)))
            return 0;
        return properties.cbBuffer;
    }

protected:
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    HRESULT OnBeginFlush() override;
    HRESULT OnEndFlush() override;
    HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    bool WaitForPace(REFERENCE_TIME start, double pace);

    CStandInDecrypter* const decrypter_;
};

class CDecrypterOutputPin : public CBaseOutputPin {
public:
    explicit CDecrypterOutputPin(CStandInDecrypter* decrypter)
        : CBaseOutputPin(decrypter, L"Out"), decrypter_(decrypter), seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetInputPin(&decrypter->Input());
    }

    // Whatever the input carries, and only once it is connected.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        CDecrypterInputPin& input = decrypter_->Input();
        if (!input.IsConnected())
            return VFW_E_NOT_CONNECTED;
        const AM_MEDIA_TYPE& carried = input.ConnectedType().Get();
        return type.majortype == carried.majortype && type.subtype == carried.subtype ? S_OK : S_FALSE;
    }

    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        CDecrypterInputPin& input = decrypter_->Input();
        if (index != 0 || !input.IsConnected())
            return VFW_S_NO_MORE_ITEMS;
        type = input.ConnectedType();
        return S_OK;
    }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IMediaSeeking)
            return E_NOINTERFACE;
        *object = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }

    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties.cBuffers = 2;
        properties.cbBuffer = decrypter_->Input().BufferSize();
        properties.cbAlign = 1;
    }

private:
    CStandInDecrypter* const decrypter_;
    CSeekingPassThrough seeking_;
};

HRESULT CDecrypterInputPin::OnReceive(IMediaSample* input)
{
    const DecrypterFault& fault = decrypter_->Fault();
    if (fault.kind == DecrypterFault::Drop)
        return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = input->GetTime(&start, &stop);
    const bool timed = hr == S_OK || hr == VFW_S_NO_STOP_TIME;
    const bool hasStop = hr == S_OK;
    if (timed && fault.kind == DecrypterFault::Abort && start >= fault.atUnits) {
        decrypter_->NotifyEvent(EC_ERRORABORT, DecrypterFaultError, 0);
        return DecrypterFaultError;
    }
    if (timed && fault.kind == DecrypterFault::Pace && !WaitForPace(start, fault.pace))
        return S_FALSE;

    CDecrypterOutputPin& output = decrypter_->Output();
    ComPtr<IMediaSample> copy;
    hr = output.GetDeliveryBuffer(&copy);
    if (FAILED(hr))
        return hr;
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    hr = input->GetPointer(&from);
    if (SUCCEEDED(hr))
        hr = copy->GetPointer(&to);
    if (FAILED(hr))
        return hr;
    const long length = input->GetActualDataLength();
    if (length > copy->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    std::memcpy(to, from, static_cast<size_t>(length));
    copy->SetActualDataLength(length);

    if (timed)
        copy->SetTime(&start, hasStop ? &stop : nullptr);
    copy->SetSyncPoint(input->IsSyncPoint() == S_OK);
    copy->SetDiscontinuity(input->IsDiscontinuity() == S_OK);
    copy->SetPreroll(input->IsPreroll() == S_OK);
    return output.Deliver(copy.Get());
}

bool CDecrypterInputPin::WaitForPace(REFERENCE_TIME start, double pace)
{
    const ULONGLONG due = static_cast<ULONGLONG>(std::max<REFERENCE_TIME>(start, 0) / (pace * 10000.0));
    for (;;) {
        if (decrypter_->State() == State_Stopped || IsFlushing())
            return false;
        const ULONGLONG now = decrypter_->RunningMilliseconds();
        if (now >= due)
            return true;
        // Short steps, so that a stop or a flush ends the wait at once.
        ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(due - now, 20)));
    }
}

HRESULT CDecrypterInputPin::OnEndOfStream()
{
    if (decrypter_->Fault().kind == DecrypterFault::NeverEnd)
        return S_OK;
    return decrypter_->Output().DeliverEndOfStream();
}

HRESULT CDecrypterInputPin::OnBeginFlush()
{
    return decrypter_->Output().DeliverBeginFlush();
}

HRESULT CDecrypterInputPin::OnEndFlush()
{
    return decrypter_->Output().DeliverEndFlush();
}

HRESULT CDecrypterInputPin::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return decrypter_->Output().DeliverNewSegment(start, stop, rate);
}

CStandInDecrypter::CStandInDecrypter()
    : CBaseFilter(StandInDecrypterClsid), input_(std::make_unique<CDecrypterInputPin>(this)),
      output_(std::make_unique<CDecrypterOutputPin>(this))
{
}

CStandInDecrypter::~CStandInDecrypter() = default;

HRESULT CStandInDecrypter::Create(IUnknown** object)
{
    auto* decrypter = new (std::nothrow) CStandInDecrypter();
    if (!decrypter)
        return E_OUTOFMEMORY;
    *object = static_cast<IBaseFilter*>(decrypter);
    return S_OK;
}

int CStandInDecrypter::PinCount()
{
    return 2;
}

CBasePin* CStandInDecrypter::PinAt(int index)
{
    return index == 0 ? static_cast<CBasePin*>(input_.get()) : output_.get();
}

STDMETHODIMP CStandInDecrypter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    const HRESULT hr = CBaseFilter::JoinFilterGraph(graph, name);
    if (SUCCEEDED(hr))
        graph_ = graph;
    return hr;
}

namespace {

// The file name of the graph's source filter; empty if there is none.
std::wstring RecordingOf(IFilterGraph* graph)
{
    ComPtr<IEnumFilters> filters;
    if (!graph || FAILED(graph->EnumFilters(&filters)))
        return std::wstring();
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        ComPtr<IFileSourceFilter> source;
        LPOLESTR name = nullptr;
        if (SUCCEEDED(filter.As(&source)) && SUCCEEDED(source->GetCurFile(&name, nullptr)) && name) {
            std::wstring recording = name;
            ::CoTaskMemFree(name);
            return recording;
        }
        filter.Reset();
    }
    return std::wstring();
}

} // namespace

HRESULT CStandInDecrypter::OnStartStreaming()
{
    char text[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA(DecrypterFaultVariable, text, sizeof(text));
    fault_ = ParseDecrypterFault(length < sizeof(text) ? text : "");
    if (!fault_.onlyFor.empty() && RecordingOf(graph_).find(fault_.onlyFor) == std::wstring::npos)
        fault_ = DecrypterFault();
    runningSince_ = 0;
    return S_OK;
}

HRESULT CStandInDecrypter::OnRun(REFERENCE_TIME)
{
    runningSince_ = ::GetTickCount64();
    return S_OK;
}

ULONGLONG CStandInDecrypter::RunningMilliseconds() const
{
    const ULONGLONG since = runningSince_.load();
    return since ? ::GetTickCount64() - since : 0;
}

DecrypterFault ParseDecrypterFault(const std::string& whole)
{
    DecrypterFault fault;
    const size_t semicolon = whole.find(';');
    const std::string text = whole.substr(0, semicolon);
    if (semicolon != std::string::npos) {
        const std::string part = whole.substr(semicolon + 1);
        fault.onlyFor.assign(part.begin(), part.end());
    }
    const size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const double value = equals == std::string::npos ? 0.0 : std::atof(text.c_str() + equals + 1);
    if (name == "pace" && value > 0) {
        fault.kind = DecrypterFault::Pace;
        fault.pace = value;
    } else if (name == "abort" && value >= 0) {
        fault.kind = DecrypterFault::Abort;
        fault.atUnits = static_cast<REFERENCE_TIME>(value * 10000000.0 + 0.5);
    } else if (name == "drop") {
        fault.kind = DecrypterFault::Drop;
    } else if (name == "never-end") {
        fault.kind = DecrypterFault::NeverEnd;
    }
    return fault;
}
