#include "builtin/MuxInputPin.h"

#include "builtin/MuxMediaTypes.h"

CMuxInputPin::CMuxInputPin(CBaseFilter* filter, IMuxInputEvents& events, const std::wstring& name, MuxInputRole role)
    : CBaseInputPin(filter, name.c_str()), events_(events), role_(role),
      progress_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

mpeg::StreamKind CMuxInputPin::Kind() const
{
    if (role_ != MuxInputRole::Audio)
        return mpeg::StreamKind::Mpeg2Video;
    return ConnectedType().Get().subtype == MuxSubtypeDolbyAc3 ? mpeg::StreamKind::Ac3Audio : mpeg::StreamKind::MpegAudio;
}

HRESULT CMuxInputPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    const GUID& subtype = type.subtype;
    if (role_ == MuxInputRole::Captions)
        return type.majortype == MuxMajorLine21 || type.majortype == MuxMajorMstvCaption ? S_OK : S_FALSE;
    if (role_ == MuxInputRole::Video) {
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

HRESULT CMuxInputPin::CompleteConnect(IPin* peer)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(peer);
    if (SUCCEEDED(hr))
        events_.OnConnectionChanged(*this, true);
    return hr;
}

void CMuxInputPin::BreakConnect()
{
    CBaseInputPin::BreakConnect();
    events_.OnConnectionChanged(*this, false);
}

void CMuxInputPin::Inactive()
{
    CBaseInputPin::Inactive();
    ::SetEvent(progress_.Get()); // a Receive waiting for room gives up now
}

STDMETHODIMP CMuxInputPin::Receive(IMediaSample* sample)
{
    if (sample && progress_)
        events_.OnWaitForRoom(*this);
    return CBaseInputPin::Receive(sample);
}

STDMETHODIMP CMuxInputPin::EndOfStream()
{
    if (progress_)
        events_.OnWaitForOthers(*this);
    return CBaseInputPin::EndOfStream();
}

HRESULT CMuxInputPin::OnReceive(IMediaSample* sample)
{
    return events_.OnReceive(*this, sample);
}

HRESULT CMuxInputPin::OnEndOfStream()
{
    return events_.OnEndOfStream(*this);
}

HRESULT CMuxInputPin::OnBeginFlush()
{
    ::SetEvent(progress_.Get());
    return events_.OnBeginFlush();
}

HRESULT CMuxInputPin::OnEndFlush()
{
    return events_.OnEndFlush();
}
