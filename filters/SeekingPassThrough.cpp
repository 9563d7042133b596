#include "filters/SeekingPassThrough.h"

#include "filters/BasePin.h"

using Microsoft::WRL::ComPtr;

CSeekingPassThrough::CSeekingPassThrough(IUnknown* owner, CBasePin* inputPin) : owner_(owner), inputPin_(inputPin) {}

STDMETHODIMP CSeekingPassThrough::QueryInterface(REFIID iid, void** object)
{
    return owner_->QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CSeekingPassThrough::AddRef()
{
    return owner_->AddRef();
}

STDMETHODIMP_(ULONG) CSeekingPassThrough::Release()
{
    return owner_->Release();
}

HRESULT CSeekingPassThrough::Upstream(ComPtr<IMediaSeeking>& upstream) const
{
    if (!inputPin_)
        return E_NOTIMPL;
    ComPtr<IPin> peer;
    HRESULT hr = inputPin_->ConnectedTo(&peer);
    if (FAILED(hr))
        return VFW_E_NOT_CONNECTED;
    hr = peer.As(&upstream);
    return FAILED(hr) ? E_NOTIMPL : S_OK;
}

STDMETHODIMP CSeekingPassThrough::GetCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetCapabilities(capabilities); });
}

STDMETHODIMP CSeekingPassThrough::CheckCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->CheckCapabilities(capabilities); });
}

STDMETHODIMP CSeekingPassThrough::IsFormatSupported(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->IsFormatSupported(format); });
}

STDMETHODIMP CSeekingPassThrough::QueryPreferredFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->QueryPreferredFormat(format); });
}

STDMETHODIMP CSeekingPassThrough::GetTimeFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetTimeFormat(format); });
}

STDMETHODIMP CSeekingPassThrough::IsUsingTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->IsUsingTimeFormat(format); });
}

STDMETHODIMP CSeekingPassThrough::SetTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->SetTimeFormat(format); });
}

STDMETHODIMP CSeekingPassThrough::GetDuration(LONGLONG* duration)
{
    if (!duration)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetDuration(duration); });
}

STDMETHODIMP CSeekingPassThrough::GetStopPosition(LONGLONG* stop)
{
    if (!stop)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetStopPosition(stop); });
}

STDMETHODIMP CSeekingPassThrough::GetCurrentPosition(LONGLONG* current)
{
    if (!current)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetCurrentPosition(current); });
}

STDMETHODIMP CSeekingPassThrough::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                    const GUID* sourceFormat)
{
    if (!target)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->ConvertTimeFormat(target, targetFormat, source, sourceFormat); });
}

STDMETHODIMP CSeekingPassThrough::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                               DWORD stopFlags)
{
    return Forward([&](IMediaSeeking* upstream) { return upstream->SetPositions(current, currentFlags, stop, stopFlags); });
}

STDMETHODIMP CSeekingPassThrough::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    if (!current && !stop)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetPositions(current, stop); });
}

STDMETHODIMP CSeekingPassThrough::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (!earliest && !latest)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetAvailable(earliest, latest); });
}

STDMETHODIMP CSeekingPassThrough::SetRate(double rate)
{
    return Forward([&](IMediaSeeking* upstream) { return upstream->SetRate(rate); });
}

STDMETHODIMP CSeekingPassThrough::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetRate(rate); });
}

STDMETHODIMP CSeekingPassThrough::GetPreroll(LONGLONG* preroll)
{
    if (!preroll)
        return E_POINTER;
    return Forward([&](IMediaSeeking* upstream) { return upstream->GetPreroll(preroll); });
}

