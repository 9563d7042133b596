#include "builtin/MuxOutputPin.h"

#include <algorithm>
#include <cstring>

#include "builtin/MuxMediaTypes.h"

using Microsoft::WRL::ComPtr;

CMuxOutputPin::CMuxOutputPin(CBaseFilter* mux, CBasePin* seekingInput, const GUID& subtype)
    : CBaseOutputPin(mux, L"Output"), subtype_(subtype), seeking_(static_cast<IPin*>(this), seekingInput)
{
    SetSeeking(&seeking_);
}

HRESULT CMuxOutputPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    return type.majortype == MEDIATYPE_Stream && type.subtype == subtype_ ? S_OK : S_FALSE;
}

HRESULT CMuxOutputPin::GetMediaType(int index, CMediaType& type)
{
    if (index != 0)
        return VFW_S_NO_MORE_ITEMS;
    type = CMediaType(MEDIATYPE_Stream, subtype_);
    return S_OK;
}

void CMuxOutputPin::GetBufferRequirements(ALLOCATOR_PROPERTIES& properties)
{
    properties.cBuffers = 4; // one to fill while the writer holds the others until they are written
    properties.cbBuffer = BufferSize;
    properties.cbAlign = 1;
}

HRESULT CMuxOutputPin::BeginSample()
{
    HRESULT hr = GetDeliveryBuffer(&pending_);
    if (FAILED(hr))
        return hr;
    hr = pending_->GetPointer(&pendingData_);
    if (FAILED(hr)) {
        pending_.Reset();
        return hr;
    }
    pendingSize_ = pending_->GetSize();
    pendingUsed_ = 0;
    return S_OK;
}

uint8_t* CMuxOutputPin::Room(size_t size)
{
    if (!pending_ && FAILED(BeginSample()))
        return nullptr;
    return static_cast<size_t>(pendingSize_ - pendingUsed_) >= size ? pendingData_ + pendingUsed_ : nullptr;
}

HRESULT CMuxOutputPin::Write(const uint8_t* data, size_t size)
{
    while (size > 0) {
        if (!pending_) {
            const HRESULT hr = BeginSample();
            if (FAILED(hr))
                return hr;
        }
        const size_t chunk = std::min(size, static_cast<size_t>(pendingSize_ - pendingUsed_));
        // Bytes built in the Room are in place already.
        if (data != pendingData_ + pendingUsed_)
            std::memcpy(pendingData_ + pendingUsed_, data, chunk);
        pendingUsed_ += static_cast<long>(chunk);
        data += chunk;
        size -= chunk;
        if (pendingUsed_ == pendingSize_) {
            const HRESULT hr = Flush();
            if (hr != S_OK)
                return hr;
        }
    }
    return S_OK;
}

HRESULT CMuxOutputPin::Flush()
{
    if (!pending_)
        return S_OK;
    ComPtr<IMediaSample> sample = std::move(pending_);
    HRESULT hr = sample->SetActualDataLength(pendingUsed_);
    if (FAILED(hr))
        return hr;
    sample->SetTime(nullptr, nullptr);
    return Deliver(sample.Get());
}
