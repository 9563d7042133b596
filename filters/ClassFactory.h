#pragma once
// IClassFactory for filters of this library, for DllGetClassObject and CoRegisterClassObject.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "filters/ModuleLock.h"

// Makes a new filter with one reference, given to the caller.
using FilterCreator = HRESULT (*)(IUnknown** object);

class CFilterClassFactory final : public IClassFactory {
public:
    explicit CFilterClassFactory(FilterCreator creator);
    CFilterClassFactory(const CFilterClassFactory&) = delete;
    CFilterClassFactory& operator=(const CFilterClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~CFilterClassFactory() = default;

    std::atomic<ULONG> references_{1};
    const FilterCreator creator_;
    CModuleObject moduleObject_;
};
