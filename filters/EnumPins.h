#pragma once
// IEnumPins over a filter's pins. Holds the filter; notices when its pins change.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>

#include "filters/ModuleLock.h"

class CBaseFilter;

class CEnumPins final : public IEnumPins {
public:
    explicit CEnumPins(CBaseFilter* filter);
    CEnumPins(const CEnumPins&) = delete;
    CEnumPins& operator=(const CEnumPins&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** clone) override;

private:
    ~CEnumPins() = default;

    std::atomic<ULONG> references_{1};
    Microsoft::WRL::ComPtr<IBaseFilter> holder_;
    CBaseFilter* const filter_;
    ULONG position_ = 0;
    LONG version_;
    CModuleObject moduleObject_;
};
