#include "filters/OutputPin.h"

#include <algorithm>
#include <new>

#include "filters/Adopt.h"
#include "filters/BaseFilter.h"
#include "filters/MemoryAllocator.h"

using Microsoft::WRL::ComPtr;

CBaseOutputPin::CBaseOutputPin(CBaseFilter* filter, const wchar_t* name) : CBasePin(filter, name, PINDIR_OUTPUT) {}

STDMETHODIMP CBaseOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type)
{
    if (!receivePin)
        return E_POINTER;
    CriticalSectionLock lock(filter_->StateLock());
    HRESULT hr = CheckCanConnect(receivePin, PINDIR_INPUT);
    if (FAILED(hr))
        return hr;

    if (type && IsFullySpecified(*type))
        return AttemptConnection(receivePin, *type);

    // A partial or missing type: this pin's own types first, then those the other pin offers.
    const AM_MEDIA_TYPE anyType = AM_MEDIA_TYPE();
    const AM_MEDIA_TYPE& pattern = type ? *type : anyType;
    for (int i = 0;; ++i) {
        CMediaType candidate;
        if (GetMediaType(i, candidate) != S_OK)
            break;
        if (MediaTypeMatches(pattern, candidate.Get()) && SUCCEEDED(AttemptConnection(receivePin, candidate.Get())))
            return S_OK;
    }
    ComPtr<IEnumMediaTypes> offered;
    if (SUCCEEDED(receivePin->EnumMediaTypes(&offered))) {
        AM_MEDIA_TYPE* candidate = nullptr;
        while (offered->Next(1, &candidate, nullptr) == S_OK) {
            const bool connected =
                MediaTypeMatches(pattern, *candidate) && SUCCEEDED(AttemptConnection(receivePin, *candidate));
            DeleteMediaType(candidate);
            if (connected)
                return S_OK;
        }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBaseOutputPin::AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& type)
{
    if (CheckMediaType(type) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    SetConnection(receivePin, type);
    HRESULT hr = receivePin->ReceiveConnection(this, &type);
    if (FAILED(hr)) {
        ClearConnection();
        return hr;
    }
    ComPtr<IMemInputPin> input;
    hr = receivePin->QueryInterface(IID_PPV_ARGS(&input));
    if (SUCCEEDED(hr))
        hr = DecideAllocator(input.Get());
    if (SUCCEEDED(hr))
        hr = CompleteConnect(receivePin);
    if (FAILED(hr)) {
        receivePin->Disconnect();
        BreakConnect();
        ClearConnection();
        return hr;
    }
    input_ = input;
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* input)
{
    ALLOCATOR_PROPERTIES downstream = {};
    if (FAILED(input->GetAllocatorRequirements(&downstream)))
        downstream = ALLOCATOR_PROPERTIES();

    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(input->GetAllocator(&allocator)) && SUCCEEDED(UseAllocator(input, allocator.Get(), downstream)))
        return S_OK;
    // The input pin has none to offer, or one that cannot give what this pin needs: Halvern's own.
    allocator = Adopt<IMemAllocator>(new (std::nothrow) CMemoryAllocator());
    if (!allocator)
        return E_OUTOFMEMORY;
    return UseAllocator(input, allocator.Get(), downstream);
}

HRESULT CBaseOutputPin::UseAllocator(IMemInputPin* input, IMemAllocator* allocator,
                                     const ALLOCATOR_PROPERTIES& downstream)
{
    ALLOCATOR_PROPERTIES wanted = {};
    GetBufferRequirements(wanted);
    wanted.cBuffers = std::max({wanted.cBuffers, downstream.cBuffers, 1L});
    wanted.cbBuffer = std::max({wanted.cbBuffer, downstream.cbBuffer, 1L});
    wanted.cbAlign = std::max({wanted.cbAlign, downstream.cbAlign, 1L});
    wanted.cbPrefix = std::max(wanted.cbPrefix, downstream.cbPrefix);

    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cbBuffer < wanted.cbBuffer || actual.cBuffers < 1)
        return VFW_E_SIZENOTSET;
    hr = input->NotifyAllocator(allocator, FALSE);
    if (FAILED(hr))
        return hr;
    allocator_ = allocator;
    return S_OK;
}

void CBaseOutputPin::BreakConnect()
{
    if (allocator_)
        allocator_->Decommit();
    allocator_.Reset();
    input_.Reset();
}

HRESULT CBaseOutputPin::Active()
{
    return allocator_ ? allocator_->Commit() : S_OK;
}

void CBaseOutputPin::Inactive()
{
    if (allocator_)
        allocator_->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample)
{
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    if (!allocator_)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample)
{
    if (!input_)
        return VFW_E_NOT_CONNECTED;
    return input_->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    IPin* peer = Peer();
    return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
    IPin* peer = Peer();
    return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
    IPin* peer = Peer();
    return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}
