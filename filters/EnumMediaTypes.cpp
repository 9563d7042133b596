#include "filters/EnumMediaTypes.h"

#include <new>

#include "filters/BaseFilter.h"
#include "filters/BasePin.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin) : holder_(pin), pin_(pin) {}

ULONG CEnumMediaTypes::TypeCount() const
{
    ULONG count = 0;
    CMediaType type;
    while (pin_->GetMediaType(static_cast<int>(count), type) == S_OK)
        ++count;
    return count;
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched)
{
    if (!types)
        return E_POINTER;
    if (count > 1 && !fetched)
        return E_INVALIDARG;
    if (fetched)
        *fetched = 0;
    CriticalSectionLock lock(pin_->Filter()->StateLock());
    ULONG given = 0;
    while (given < count) {
        CMediaType type;
        if (pin_->GetMediaType(static_cast<int>(position_), type) != S_OK)
            break;
        AM_MEDIA_TYPE* copy = CreateMediaTypeCopy(type.Get());
        if (!copy) {
            while (given > 0)
                DeleteMediaType(types[--given]);
            return E_OUTOFMEMORY;
        }
        types[given++] = copy;
        ++position_;
    }
    if (fetched)
        *fetched = given;
    return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG count)
{
    CriticalSectionLock lock(pin_->Filter()->StateLock());
    const ULONG available = TypeCount();
    if (position_ > available || count > available - position_) {
        position_ = available;
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset()
{
    position_ = 0;
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** clone)
{
    if (!clone)
        return E_POINTER;
    auto* copy = new (std::nothrow) CEnumMediaTypes(pin_);
    if (!copy) {
        *clone = nullptr;
        return E_OUTOFMEMORY;
    }
    copy->position_ = position_;
    *clone = copy;
    return S_OK;
}
