#include "filters/SourceSeeking.h"

#include <algorithm>

namespace {

constexpr DWORD Capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                               AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                               AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

// Applies one AM_SEEKING_* position request to `position`.
void ApplyPosition(REFERENCE_TIME& position, LONGLONG* requested, DWORD flags)
{
    switch (flags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning:
        position = *requested;
        break;
    case AM_SEEKING_RelativePositioning:
        position += *requested;
        break;
    default:
        break;
    }
}

} // namespace

CSourceSeeking::CSourceSeeking(IUnknown* owner, const GUID& timeFormat) : owner_(owner), format_(timeFormat) {}

STDMETHODIMP CSourceSeeking::QueryInterface(REFIID iid, void** object)
{
    return owner_->QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CSourceSeeking::AddRef()
{
    return owner_->AddRef();
}

STDMETHODIMP_(ULONG) CSourceSeeking::Release()
{
    return owner_->Release();
}

STDMETHODIMP CSourceSeeking::GetCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    *capabilities = Capabilities;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::CheckCapabilities(DWORD* capabilities)
{
    if (!capabilities)
        return E_POINTER;
    const DWORD asked = *capabilities;
    *capabilities = asked & Capabilities;
    if (*capabilities == asked)
        return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP CSourceSeeking::IsFormatSupported(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return *format == format_ ? S_OK : S_FALSE;
}

STDMETHODIMP CSourceSeeking::QueryPreferredFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    *format = format_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetTimeFormat(GUID* format)
{
    return QueryPreferredFormat(format);
}

STDMETHODIMP CSourceSeeking::IsUsingTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return *format == format_ ? S_OK : S_FALSE;
}

STDMETHODIMP CSourceSeeking::SetTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return *format == format_ ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CSourceSeeking::GetDuration(LONGLONG* duration)
{
    if (!duration)
        return E_POINTER;
    CriticalSectionLock lock(lock_);
    *duration = duration_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetStopPosition(LONGLONG* stop)
{
    if (!stop)
        return E_POINTER;
    CriticalSectionLock lock(lock_);
    *stop = stop_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetCurrentPosition(LONGLONG* current)
{
    if (!current)
        return E_POINTER;
    CriticalSectionLock lock(lock_);
    *current = current_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                               const GUID* sourceFormat)
{
    if (!target)
        return E_POINTER;
    if (!IsOwnFormat(targetFormat) || !IsOwnFormat(sourceFormat))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags)
{
    const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentMode != AM_SEEKING_NoPositioning && !current) || (stopMode != AM_SEEKING_NoPositioning && !stop))
        return E_POINTER;
    CriticalSectionLock lock(lock_);
    REFERENCE_TIME newStart = start_;
    REFERENCE_TIME newStop = stop_;
    if (currentMode == AM_SEEKING_RelativePositioning)
        newStart = current_;
    ApplyPosition(newStart, current, currentFlags);
    ApplyPosition(newStop, stop, stopFlags);
    newStart = std::clamp<REFERENCE_TIME>(newStart, 0, duration_);
    newStop = std::clamp<REFERENCE_TIME>(newStop, 0, duration_);
    if (newStart > newStop)
        return E_INVALIDARG;
    if (currentMode != AM_SEEKING_NoPositioning) {
        start_ = newStart;
        current_ = newStart;
    }
    stop_ = newStop;
    if (current && (currentFlags & AM_SEEKING_ReturnTime))
        *current = current_;
    if (stop && (stopFlags & AM_SEEKING_ReturnTime))
        *stop = stop_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetPositions(LONGLONG* current, LONGLONG* stop)
{
    if (!current && !stop)
        return E_POINTER;
    CriticalSectionLock lock(lock_);
    if (current)
        *current = current_;
    if (stop)
        *stop = stop_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest)
{
    if (!earliest && !latest)
        return E_POINTER;
    CriticalSectionLock lock(lock_);
    if (earliest)
        *earliest = 0;
    if (latest)
        *latest = duration_;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::SetRate(double rate)
{
    // Sources here deliver at their own pace; only normal speed is true to what they do.
    if (rate <= 0.0)
        return E_INVALIDARG;
    return rate == 1.0 ? S_OK : E_NOTIMPL;
}

STDMETHODIMP CSourceSeeking::GetRate(double* rate)
{
    if (!rate)
        return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetPreroll(LONGLONG* preroll)
{
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

void CSourceSeeking::SetDuration(REFERENCE_TIME duration)
{
    CriticalSectionLock lock(lock_);
    duration_ = duration;
    stop_ = duration;
    start_ = std::min(start_, duration);
    current_ = std::min(current_, duration);
}

void CSourceSeeking::SetCurrentPosition(REFERENCE_TIME position)
{
    CriticalSectionLock lock(lock_);
    current_ = position;
}
