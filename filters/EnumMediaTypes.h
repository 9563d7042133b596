#pragma once
// IEnumMediaTypes over a pin's preferred types, asked of the pin as the enumeration goes.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>

#include "filters/ModuleLock.h"

class CBasePin;

class CEnumMediaTypes final : public IEnumMediaTypes {
public:
    explicit CEnumMediaTypes(CBasePin* pin);
    CEnumMediaTypes(const CEnumMediaTypes&) = delete;
    CEnumMediaTypes& operator=(const CEnumMediaTypes&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

private:
    ~CEnumMediaTypes() = default;
    ULONG TypeCount() const;

    std::atomic<ULONG> references_{1};
    Microsoft::WRL::ComPtr<IPin> holder_;
    CBasePin* const pin_;
    ULONG position_ = 0;
    CModuleObject moduleObject_;
};
