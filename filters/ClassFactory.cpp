#include "filters/ClassFactory.h"

#include <wrl/client.h>

CFilterClassFactory::CFilterClassFactory(FilterCreator creator) : creator_(creator) {}

STDMETHODIMP CFilterClassFactory::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CFilterClassFactory::AddRef()
{
    return ++references_;
}

STDMETHODIMP_(ULONG) CFilterClassFactory::Release()
{
    const ULONG remaining = --references_;
    if (remaining == 0)
        delete this;
    return remaining;
}

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
