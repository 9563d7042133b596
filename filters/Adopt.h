#pragma once
// Takes over the one reference a new COM object was made with. MinGW-w64's ComPtr::Attach adds
// a reference of its own (Microsoft's does not), so Attach(new X) would leak X.

#include <wrl/client.h>

template <typename T>
Microsoft::WRL::ComPtr<T> Adopt(T* object)
{
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = object;
    return owner;
}
