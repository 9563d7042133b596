#pragma once
// What every filter class would otherwise write again. A filter that offers interfaces beside
// IBaseFilter inherits IUnknown once more with each; here they all go to the base's one count and
// QueryInterface, which finds the extra interfaces by their IIDs. Create makes the filter for the
// class factory.

#include <windows.h>
#include <unknwn.h>

#include <new>

template <class Filter, class Base, class... Interfaces>
class CFilterObject : public Base, public Interfaces... {
public:
    // A FilterCreator: a new filter with one reference, given to the caller.
    static HRESULT Create(IUnknown** object)
    {
        if (!object)
            return E_POINTER;
        auto* filter = new (std::nothrow) Filter();
        if (!filter)
            return E_OUTOFMEMORY;
        *object = static_cast<IBaseFilter*>(filter);
        return S_OK;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return Base::QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return Base::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Base::Release(); }

protected:
    using Base::Base;

    HRESULT QueryFilterInterface(REFIID iid, void** object) override
    {
        const bool found =
            ((iid == __uuidof(Interfaces) ? (*object = static_cast<Interfaces*>(this), true) : false) || ...);
        if (!found)
            return Base::QueryFilterInterface(iid, object);
        AddRef();
        return S_OK;
    }
};
