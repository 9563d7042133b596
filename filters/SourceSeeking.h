#pragma once
// IMediaSeeking for a source (its output pin, or the filter), in one time format: media time
// unless made for another, such as bytes. The source tells it the duration and the position it
// has reached; a seek is recorded and taken up when streaming starts again. Its references go to
// the object that owns it.

#include <windows.h>
#include <dshow.h>

#include "base/ScopedWin.h"

class CSourceSeeking : public IMediaSeeking {
public:
    explicit CSourceSeeking(IUnknown* owner, const GUID& timeFormat = TIME_FORMAT_MEDIA_TIME);
    CSourceSeeking(const CSourceSeeking&) = delete;
    CSourceSeeking& operator=(const CSourceSeeking&) = delete;
    virtual ~CSourceSeeking() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetCapabilities(DWORD* capabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* capabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* format) override;
    STDMETHODIMP QueryPreferredFormat(GUID* format) override;
    STDMETHODIMP GetTimeFormat(GUID* format) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;
    STDMETHODIMP SetTimeFormat(const GUID* format) override;
    STDMETHODIMP GetDuration(LONGLONG* duration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* stop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                   const GUID* sourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override;
    STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    STDMETHODIMP SetRate(double rate) override;
    STDMETHODIMP GetRate(double* rate) override;
    STDMETHODIMP GetPreroll(LONGLONG* preroll) override;

    // For the source, in the time format: the length of the media (also the stop position until
    // one is set) ...
    void SetDuration(REFERENCE_TIME duration);
    // ... and the position streaming has reached.
    void SetCurrentPosition(REFERENCE_TIME position);

private:
    bool IsOwnFormat(const GUID* format) const { return !format || *format == format_; }

    IUnknown* const owner_;
    const GUID format_;
    mutable CriticalSection lock_;
    REFERENCE_TIME duration_ = 0;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME stop_ = 0;
    REFERENCE_TIME current_ = 0;
};
