#pragma once
// The recording source's IMediaSeeking on the filter itself: how far reading has come, in bytes of
// the recording (TIME_FORMAT_BYTE). A conversion's progress follows it, rather than the graph's
// clock, which under Wine is wall time. Position and duration come from the same reader, so they
// agree; once the read has reached the end of the data they are equal. Nothing can be sought here
// (the pins take seeks in media time). Its references go to the filter.

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "media/asf/AsfReader.h"

class CReadProgressSeeking : public IMediaSeeking {
public:
    explicit CReadProgressSeeking(IUnknown* owner) : owner_(owner) {}
    CReadProgressSeeking(const CReadProgressSeeking&) = delete;
    CReadProgressSeeking& operator=(const CReadProgressSeeking&) = delete;
    virtual ~CReadProgressSeeking() = default;

    // The reader of the loaded recording; it must outlive this object's use.
    void SetReader(const asf::Reader* reader) { reader_ = reader; }

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

private:
    // Both in bytes; VFW_E_WRONG_STATE before a recording is loaded.
    HRESULT Progress(LONGLONG* done, LONGLONG* total) const;

    IUnknown* const owner_;
    std::atomic<const asf::Reader*> reader_{nullptr};
};
