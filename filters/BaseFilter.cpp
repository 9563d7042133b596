#include "filters/BaseFilter.h"

#include <cwchar>
#include <new>

#include "filters/BasePin.h"
#include "filters/EnumPins.h"

using Microsoft::WRL::ComPtr;

CBaseFilter::CBaseFilter(const CLSID& classId) : classId_(classId) {}

CBaseFilter::~CBaseFilter() = default;

STDMETHODIMP CBaseFilter::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
        *object = static_cast<IBaseFilter*>(this);
    else if (iid == IID_IAMFilterMiscFlags && MiscFlags() != 0)
        *object = static_cast<IAMFilterMiscFlags*>(this);
    else if (iid == IID_IMediaSeeking && seeking_)
        *object = seeking_;
    else
        return QueryFilterInterface(iid, object);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CBaseFilter::AddRef()
{
    return ++references_;
}

STDMETHODIMP_(ULONG) CBaseFilter::Release()
{
    const ULONG remaining = --references_;
    if (remaining != 0)
        return remaining;
    // A filter let go while streaming ends its threads before its pins go; the count stays
    // above zero meanwhile so that nothing on the way deletes it twice.
    if (state_ != State_Stopped) {
        references_ = 1;
        Stop();
        references_ = 0;
    }
    delete this;
    return 0;
}

HRESULT CBaseFilter::QueryFilterInterface(REFIID, void**)
{
    return E_NOINTERFACE;
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* classId)
{
    if (!classId)
        return E_POINTER;
    *classId = classId_;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Stop()
{
    CriticalSectionLock lock(stateLock_);
    if (state_ != State_Stopped)
        StopLocked();
    return S_OK;
}

void CBaseFilter::StopLocked()
{
    // Receive refuses from here on; output pins decommit and end their threads.
    state_ = State_Stopped;
    for (int i = 0; i < PinCount(); ++i)
        PinAt(i)->Inactive();
    CriticalSectionLock streaming(streamingLock_);
    OnStopStreaming();
}

HRESULT CBaseFilter::PauseLocked()
{
    if (state_ == State_Paused)
        return S_OK;
    if (state_ == State_Running) {
        HRESULT hr = OnPauseFromRun();
        if (FAILED(hr))
            return hr;
        state_ = State_Paused;
        return S_OK;
    }
    HRESULT hr = OnStartStreaming();
    if (FAILED(hr))
        return hr;
    for (int i = 0; i < PinCount(); ++i) {
        hr = PinAt(i)->Active();
        if (FAILED(hr)) {
            for (int j = 0; j <= i; ++j)
                PinAt(j)->Inactive();
            CriticalSectionLock streaming(streamingLock_);
            OnStopStreaming();
            return hr;
        }
    }
    state_ = State_Paused;
    hr = OnActive();
    if (FAILED(hr))
        StopLocked();
    return hr;
}

STDMETHODIMP CBaseFilter::Pause()
{
    CriticalSectionLock lock(stateLock_);
    return PauseLocked();
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME start)
{
    CriticalSectionLock lock(stateLock_);
    if (state_ == State_Running)
        return S_OK;
    HRESULT hr = PauseLocked();
    if (FAILED(hr))
        return hr;
    hr = OnRun(start);
    if (FAILED(hr))
        return hr;
    state_ = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::OnRun(REFERENCE_TIME)
{
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (!state)
        return E_POINTER;
    *state = state_.load();
    return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    CriticalSectionLock lock(stateLock_);
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** clock)
{
    if (!clock)
        return E_POINTER;
    CriticalSectionLock lock(stateLock_);
    *clock = clock_.Get();
    if (*clock)
        (*clock)->AddRef();
    return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** pins)
{
    if (!pins)
        return E_POINTER;
    *pins = new (std::nothrow) CEnumPins(this);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (!pin)
        return E_POINTER;
    *pin = nullptr;
    if (!id)
        return E_POINTER;
    CriticalSectionLock lock(stateLock_);
    for (int i = 0; i < PinCount(); ++i) {
        CBasePin* candidate = PinAt(i);
        if (candidate->Name() == id) {
            *pin = candidate;
            candidate->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (!info)
        return E_POINTER;
    CriticalSectionLock lock(stateLock_);
    const size_t capacity = sizeof(info->achName) / sizeof(info->achName[0]);
    std::wcsncpy(info->achName, name_.c_str(), capacity - 1);
    info->achName[capacity - 1] = L'\0';
    // The caller gets a counted reference, unlike the filter's own.
    info->pGraph = graph_.load();
    if (info->pGraph)
        info->pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    CriticalSectionLock lock(stateLock_);
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* vendorInfo)
{
    if (!vendorInfo)
        return E_POINTER;
    *vendorInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    IFilterGraph* graph = graph_.load();
    if (!graph)
        return E_UNEXPECTED;
    ComPtr<IMediaEventSink> sink;
    HRESULT hr = graph->QueryInterface(IID_PPV_ARGS(&sink));
    if (FAILED(hr))
        return hr;
    return sink->Notify(code, param1, param2);
}
