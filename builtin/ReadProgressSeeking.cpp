#include "builtin/ReadProgressSeeking.h"

#include <algorithm>

namespace {

constexpr DWORD Capabilities = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

bool IsBytes(const GUID* format)
{
    return !format || *format == TIME_FORMAT_BYTE;
}

} // namespace

STDMETHODIMP CReadProgressSeeking::QueryInterface(REFIID iid, void** object)
{
    return owner_->QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CReadProgressSeeking::AddRef()
{
    return owner_->AddRef();
}

STDMETHODIMP_(ULONG) CReadProgressSeeking::Release()
{
    return owner_->Release();
}

STDMETHODIMP CReadProgressSeeking::GetCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    *capabilities = Capabilities;
    return S_OK;
}

STDMETHODIMP CReadProgressSeeking::CheckCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    const DWORD asked = *capabilities;
    *capabilities = asked & Capabilities;
    if (*capabilities == asked)
        return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP CReadProgressSeeking::IsFormatSupported(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_BYTE ? S_OK : S_FALSE;
}

STDMETHODIMP CReadProgressSeeking::QueryPreferredFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_BYTE;
    return S_OK;
}

STDMETHODIMP CReadProgressSeeking::GetTimeFormat(GUID* format)
{
    return QueryPreferredFormat(format);
}

STDMETHODIMP CReadProgressSeeking::IsUsingTimeFormat(const GUID* format)
{
    return IsFormatSupported(format);
}

STDMETHODIMP CReadProgressSeeking::SetTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_BYTE ? S_OK : E_INVALIDARG;
}

HRESULT CReadProgressSeeking::Progress(LONGLONG* done, LONGLONG* total) const
{
    const asf::Reader* reader = reader_.load();
    if (!reader)
        return VFW_E_WRONG_STATE;
    // A position read after the total may be past it for a moment, while the read moves on.
    const uint64_t length = reader->BytesTotal();
    if (total)
        *total = static_cast<LONGLONG>(length);
    if (done)
        *done = static_cast<LONGLONG>(std::min(reader->BytesDone(), length));
    return S_OK;
}

STDMETHODIMP CReadProgressSeeking::GetDuration(LONGLONG* duration)
{
    if (!duration)
        return E_POINTER;
    return Progress(nullptr, duration);
}

STDMETHODIMP CReadProgressSeeking::GetStopPosition(LONGLONG* stop)
{
    return GetDuration(stop);
}

STDMETHODIMP CReadProgressSeeking::GetCurrentPosition(LONGLONG* current)
{
    if (!current)
        return E_POINTER;
    return Progress(current, nullptr);
}

STDMETHODIMP CReadProgressSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                     const GUID* sourceFormat)
{
    if (!target)
        return E_POINTER;
    if (!IsBytes(targetFormat) || !IsBytes(sourceFormat))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

STDMETHODIMP CReadProgressSeeking::SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CReadProgressSeeking::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    if (!current && !stop)
        return E_POINTER;
    return Progress(current, stop);
}

STDMETHODIMP CReadProgressSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (!earliest && !latest)
        return E_POINTER;
    if (earliest)
        *earliest = 0;
    return latest ? Progress(nullptr, latest) : S_OK;
}

STDMETHODIMP CReadProgressSeeking::SetRate(double rate)
{
    return rate == 1.0 ? S_OK : E_NOTIMPL;
}

STDMETHODIMP CReadProgressSeeking::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

STDMETHODIMP CReadProgressSeeking::GetPreroll(LONGLONG* preroll)
{
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}
