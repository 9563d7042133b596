#pragma once
// IClassFactory for filters of this library, for DllGetClassObject and CoRegisterClassObject.

#include <windows.h>
#include <unknwn.h>

#include "filters/ModuleLock.h"
#include "filters/RefCounted.h"

// Makes a new filter with one reference, given to the caller.
using FilterCreator = HRESULT (*)(IUnknown** object);

class CFilterClassFactory final : public CRefCounted<IClassFactory> {
public:
    explicit CFilterClassFactory(FilterCreator creator);

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~CFilterClassFactory() override = default;

    const FilterCreator creator_;
    CModuleObject moduleObject_;
};
