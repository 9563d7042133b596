#pragma once
// IMediaSeeking that asks upstream: every call goes to the pin connected to one of the owner's
// input pins. Renderers offer it on the filter, transforms on their output pins, so the graph
// manager's duration and position come from the source. Its references go to its owner.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

class CBasePin;

class CSeekingPassThrough : public IMediaSeeking {
public:
    explicit CSeekingPassThrough(IUnknown* owner, CBasePin* inputPin = nullptr);
    CSeekingPassThrough(const CSeekingPassThrough&) = delete;
    CSeekingPassThrough& operator=(const CSeekingPassThrough&) = delete;
    virtual ~CSeekingPassThrough() = default;

    // The input pin whose upstream peer answers; set once while the owner is built.
    void SetInputPin(CBasePin* inputPin) { inputPin_ = inputPin; }

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
    // VFW_E_NOT_CONNECTED while the input pin has no peer, E_NOTIMPL when the peer cannot seek.
    HRESULT Upstream(Microsoft::WRL::ComPtr<IMediaSeeking>& upstream) const;

    template <typename Call>
    HRESULT Forward(Call call) const
    {
        Microsoft::WRL::ComPtr<IMediaSeeking> upstream;
        HRESULT hr = Upstream(upstream);
        if (FAILED(hr))
            return hr;
        return call(upstream.Get());
    }

    IUnknown* const owner_;
    CBasePin* inputPin_;
};
