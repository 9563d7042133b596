#include "filters/BasePin.h"

#include <cwchar>
#include <new>

#include "filters/BaseFilter.h"
#include "filters/EnumMediaTypes.h"

CBasePin::CBasePin(CBaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction)
    : filter_(filter), name_(name), direction_(direction)
{
}

CBasePin::~CBasePin() = default;

STDMETHODIMP CBasePin::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin)
        *object = static_cast<IPin*>(this);
    else if (iid == IID_IMediaSeeking && seeking_)
        *object = seeking_;
    else
        return QueryPinInterface(iid, object);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CBasePin::AddRef()
{
    return filter_->AddRef();
}

STDMETHODIMP_(ULONG) CBasePin::Release()
{
    return filter_->Release();
}

HRESULT CBasePin::QueryPinInterface(REFIID, void**)
{
    return E_NOINTERFACE;
}

HRESULT CBasePin::CompleteConnect(IPin*)
{
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType&)
{
    return VFW_S_NO_MORE_ITEMS;
}

STDMETHODIMP CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE*)
{
    return receivePin ? E_UNEXPECTED : E_POINTER;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    return connector && type ? E_UNEXPECTED : E_POINTER;
}

STDMETHODIMP CBasePin::Disconnect()
{
    CriticalSectionLock lock(filter_->StateLock());
    if (filter_->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!peer_)
        return S_FALSE;
    BreakConnect();
    ClearConnection();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pin)
{
    if (!pin)
        return E_POINTER;
    CriticalSectionLock lock(filter_->StateLock());
    *pin = peer_.Get();
    if (!*pin)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    CriticalSectionLock lock(filter_->StateLock());
    if (!peer_) {
        *type = AM_MEDIA_TYPE();
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaTypeContent(*type, type_.Get());
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* info)
{
    if (!info)
        return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    const size_t capacity = sizeof(info->achName) / sizeof(info->achName[0]);
    std::wcsncpy(info->achName, name_.c_str(), capacity - 1);
    info->achName[capacity - 1] = L'\0';
    info->dir = direction_;
    return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* direction)
{
    if (!direction)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* id)
{
    if (!id)
        return E_POINTER;
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (!*id)
        return E_OUTOFMEMORY;
    std::wmemcpy(*id, name_.c_str(), name_.size() + 1);
    return S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    return CheckMediaType(*type) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** types)
{
    if (!types)
        return E_POINTER;
    *types = new (std::nothrow) CEnumMediaTypes(this);
    return *types ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*)
{
    // Every input feeds every output, which is what E_NOTIMPL tells the graph.
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::EndOfStream()
{
    return E_UNEXPECTED;
}

STDMETHODIMP CBasePin::BeginFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP CBasePin::EndFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return E_UNEXPECTED;
}

void CBasePin::SetConnection(IPin* peer, const AM_MEDIA_TYPE& type)
{
    peer_ = peer;
    type_.Set(type);
}

void CBasePin::ClearConnection()
{
    peer_.Reset();
    type_.Clear();
}

HRESULT CBasePin::CheckCanConnect(IPin* peer, PIN_DIRECTION peerDirection) const
{
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction;
    HRESULT hr = peer->QueryDirection(&direction);
    if (FAILED(hr))
        return hr;
    return direction == peerDirection ? S_OK : VFW_E_INVALID_DIRECTION;
}
