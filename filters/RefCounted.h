#pragma once
// The IUnknown of a COM object that offers one interface and lives as long as it is referenced:
// made with one reference, deleted at the last Release.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

template <class Interface>
class CRefCounted : public Interface {
public:
    CRefCounted() = default;
    CRefCounted(const CRefCounted&) = delete;
    CRefCounted& operator=(const CRefCounted&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != __uuidof(Interface)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG remaining = --references_;
        if (remaining == 0)
            delete this;
        return remaining;
    }

protected:
    virtual ~CRefCounted() = default;

private:
    std::atomic<ULONG> references_{1};
};
