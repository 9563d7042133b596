#include "builtin/MuxPins.h"

#include <algorithm>
#include <cstring>

#include "builtin/MuxMediaTypes.h"
#include "builtin/ProgramStreamMux.h"

using Microsoft::WRL::ComPtr;

CMuxInputPin::CMuxInputPin(CProgramStreamMux* mux, const wchar_t* name, bool video)
    : CBaseInputPin(mux, name), mux_(mux), video_(video), progress_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

mpeg::StreamKind CMuxInputPin::Kind() const
{
    if (video_)
        return mpeg::StreamKind::Mpeg2Video;
    return ConnectedType().Get().subtype == MuxSubtypeDolbyAc3 ? mpeg::StreamKind::Ac3Audio : mpeg::StreamKind::MpegAudio;
}

HRESULT CMuxInputPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    const GUID& subtype = type.subtype;
    if (video_) {
        const bool mpeg = subtype == MuxSubtypeMpeg2Video || subtype == MuxSubtypeMpeg1Payload || subtype == MuxSubtypeMpeg1Packet;
        return type.majortype == MEDIATYPE_Video && mpeg ? S_OK : S_FALSE;
    }
    const bool audio = subtype == MuxSubtypeMpeg2Audio || subtype == MuxSubtypeMpeg1Payload ||
                       subtype == MuxSubtypeMpeg1AudioPayload || subtype == MuxSubtypeDolbyAc3;
    return type.majortype == MEDIATYPE_Audio && audio ? S_OK : S_FALSE;
}

HRESULT CMuxInputPin::GetMediaType(int, CMediaType&)
{
    return VFW_S_NO_MORE_ITEMS;
}

void CMuxInputPin::Inactive()
{
    CBaseInputPin::Inactive();
    ::SetEvent(progress_.Get()); // a Receive waiting for room gives up now
}

STDMETHODIMP CMuxInputPin::Receive(IMediaSample* sample)
{
    if (sample && progress_)
        mux_->WaitForRoom(*this);
    return CBaseInputPin::Receive(sample);
}

HRESULT CMuxInputPin::OnReceive(IMediaSample* sample)
{
    return mux_->Receive(*this, sample);
}

HRESULT CMuxInputPin::OnEndOfStream()
{
    return mux_->EndOfStream(*this);
}

HRESULT CMuxInputPin::OnBeginFlush()
{
    ::SetEvent(progress_.Get());
    return mux_->BeginFlush();
}

HRESULT CMuxInputPin::OnEndFlush()
{
    return mux_->EndFlush();
}

CMuxOutputPin::CMuxOutputPin(CProgramStreamMux* mux, CBasePin* seekingInput)
    : CBaseOutputPin(mux, L"Output"), seeking_(static_cast<IPin*>(this), seekingInput)
{
    SetSeeking(&seeking_);
}

HRESULT CMuxOutputPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    return type.majortype == MEDIATYPE_Stream && type.subtype == MuxSubtypeMpeg2Program ? S_OK : S_FALSE;
}

HRESULT CMuxOutputPin::GetMediaType(int index, CMediaType& type)
{
    if (index != 0)
        return VFW_S_NO_MORE_ITEMS;
    type = CMediaType(MEDIATYPE_Stream, MuxSubtypeMpeg2Program);
    return S_OK;
}

void CMuxOutputPin::GetBufferRequirements(ALLOCATOR_PROPERTIES& properties)
{
    properties.cBuffers = 4; // one to fill while the writer holds the others until they are written
    properties.cbBuffer = BufferSize;
    properties.cbAlign = 1;
}

HRESULT CMuxOutputPin::Write(const uint8_t* data, size_t size)
{
    while (size > 0) {
        if (!pending_) {
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
        }
        const size_t chunk = std::min(size, static_cast<size_t>(pendingSize_ - pendingUsed_));
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
