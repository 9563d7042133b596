#include "filters/InputPin.h"

#include <new>

#include "filters/Adopt.h"
#include "filters/BaseFilter.h"
#include "filters/MemoryAllocator.h"

using Microsoft::WRL::ComPtr;

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, const wchar_t* name) : CBasePin(filter, name, PINDIR_INPUT) {}

STDMETHODIMP CBaseInputPin::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IMemInputPin) {
        *object = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return CBasePin::QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CBaseInputPin::AddRef()
{
    return CBasePin::AddRef();
}

STDMETHODIMP_(ULONG) CBaseInputPin::Release()
{
    return CBasePin::Release();
}

STDMETHODIMP CBaseInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (!connector || !type)
        return E_POINTER;
    CriticalSectionLock lock(filter_->StateLock());
    HRESULT hr = CheckCanConnect(connector, PINDIR_OUTPUT);
    if (FAILED(hr))
        return hr;
    if (CheckMediaType(*type) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    SetConnection(connector, *type);
    hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        ClearConnection();
        return hr;
    }
    return S_OK;
}

void CBaseInputPin::BreakConnect()
{
    allocator_.Reset();
}

HRESULT CBaseInputPin::Active()
{
    endOfStream_ = false;
    flushing_ = false;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::EndOfStream()
{
    if (flushing_)
        return S_OK;
    CriticalSectionLock streaming(filter_->StreamingLock());
    if (filter_->State() == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (flushing_ || endOfStream_)
        return S_OK;
    endOfStream_ = true;
    return OnEndOfStream();
}

STDMETHODIMP CBaseInputPin::BeginFlush()
{
    flushing_ = true;
    return OnBeginFlush();
}

STDMETHODIMP CBaseInputPin::EndFlush()
{
    CriticalSectionLock streaming(filter_->StreamingLock());
    flushing_ = false;
    endOfStream_ = false;
    return OnEndFlush();
}

STDMETHODIMP CBaseInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CriticalSectionLock streaming(filter_->StreamingLock());
    return OnNewSegment(start, stop, rate);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** allocator)
{
    if (!allocator)
        return E_POINTER;
    *allocator = nullptr;
    CriticalSectionLock lock(filter_->StateLock());
    if (!allocator_) {
        const HRESULT hr = MakeAllocator(allocator_);
        if (FAILED(hr))
            return hr;
    }
    *allocator = allocator_.Get();
    (*allocator)->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::MakeAllocator(ComPtr<IMemAllocator>& made)
{
    made = Adopt<IMemAllocator>(new (std::nothrow) CMemoryAllocator());
    return made ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL)
{
    if (!allocator)
        return E_POINTER;
    CriticalSectionLock lock(filter_->StateLock());
    allocator_ = allocator;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties)
{
    if (!properties)
        return E_POINTER;
    return E_NOTIMPL;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* sample)
{
    if (!sample)
        return E_POINTER;
    if (filter_->State() == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (flushing_)
        return S_FALSE;
    if (endOfStream_)
        return VFW_E_SAMPLE_REJECTED_EOS;
    CriticalSectionLock streaming(filter_->StreamingLock());
    // Again under the lock: Stop or a flush may have come while this thread waited for it.
    if (filter_->State() == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (flushing_)
        return S_FALSE;
    return OnReceive(sample);
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed)
{
    if (!samples || !processed)
        return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK)
            break;
        ++*processed;
    }
    return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock()
{
    return ReceiveMayBlock() ? S_OK : S_FALSE;
}
