#pragma once
// IEnumMediaTypes over a pin's preferred types, asked of the pin as the enumeration goes.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "filters/ModuleLock.h"
#include "filters/RefCounted.h"

class CBasePin;

class CEnumMediaTypes final : public CRefCounted<IEnumMediaTypes> {
public:
    explicit CEnumMediaTypes(CBasePin* pin);

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

private:
    ~CEnumMediaTypes() override = default;
    ULONG TypeCount() const;

    Microsoft::WRL::ComPtr<IPin> holder_;
    CBasePin* const pin_;
    ULONG position_ = 0;
    CModuleObject moduleObject_;
};
