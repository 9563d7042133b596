#include "builtin/MuxInputPin.h"

#include "builtin/MuxMediaTypes.h"

CMuxInputPin::CMuxInputPin(CBaseFilter* filter, IMuxInputEvents& events, const std::wstring& name, bool video)
    : CBaseInputPin(filter, name.c_str()), events_(events), video_(video),
      progress_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

mpeg::StreamKind CMuxInputPin::Kind() const
{
    const GUID& subtype = ConnectedType().Get().subtype;
    if (video_)
        return subtype == MuxSubtypeH264 ? mpeg::StreamKind::H264Video : mpeg::StreamKind::Mpeg2Video;
    if (subtype == MuxSubtypeRawAac || subtype == MuxSubtypeAdtsAac || subtype == MuxSubtypeLoasAac)
        return mpeg::StreamKind::AacAudio;
    if (subtype == MuxSubtypeDolbyDdPlus)
        return mpeg::StreamKind::Eac3Audio;
    return subtype == MuxSubtypeDolbyAc3 ? mpeg::StreamKind::Ac3Audio : mpeg::StreamKind::MpegAudio;
}

HRESULT CMuxInputPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    const GUID& subtype = type.subtype;
    // H.264, AAC and E-AC-3 connect so that the graph is built as described, rather than rendered
    // some other way; the multiplexer then refuses to run with them, saying why.
    if (video_) {
        const bool mpeg = subtype == MuxSubtypeMpeg2Video || subtype == MuxSubtypeMpeg1Payload ||
                          subtype == MuxSubtypeMpeg1Packet || subtype == MuxSubtypeH264;
        return type.majortype == MEDIATYPE_Video && mpeg ? S_OK : S_FALSE;
    }
    const bool audio = subtype == MuxSubtypeMpeg2Audio || subtype == MuxSubtypeMpeg1Payload ||
                       subtype == MuxSubtypeMpeg1AudioPayload || subtype == MuxSubtypeDolbyAc3 ||
                       subtype == MuxSubtypeRawAac || subtype == MuxSubtypeAdtsAac || subtype == MuxSubtypeLoasAac ||
                       subtype == MuxSubtypeDolbyDdPlus;
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
