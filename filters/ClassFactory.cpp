#include "filters/ClassFactory.h"

#include <wrl/client.h>

CFilterClassFactory::CFilterClassFactory(FilterCreator creator) : creator_(creator) {}

STDMETHODIMP CFilterClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    Microsoft::WRL::ComPtr<IUnknown> created;
    HRESULT hr = creator_(&created);
    if (FAILED(hr))
        return hr;
    return created->QueryInterface(iid, object);
}

STDMETHODIMP CFilterClassFactory::LockServer(BOOL lock)
{
    if (lock)
        LockModule();
    else
        UnlockModule();
    return S_OK;
}
