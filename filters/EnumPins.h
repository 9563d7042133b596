#pragma once
// IEnumPins over a filter's pins. Holds the filter; notices when its pins change.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "filters/ModuleLock.h"
#include "filters/RefCounted.h"

class CBaseFilter;

class CEnumPins final : public CRefCounted<IEnumPins> {
public:
    explicit CEnumPins(CBaseFilter* filter);

    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** clone) override;

private:
    ~CEnumPins() override = default;

    Microsoft::WRL::ComPtr<IBaseFilter> holder_;
    CBaseFilter* const filter_;
    ULONG position_ = 0;
    LONG version_;
    CModuleObject moduleObject_;
};
