#include "filters/EnumPins.h"

#include <new>

#include "filters/BaseFilter.h"
#include "filters/BasePin.h"

CEnumPins::CEnumPins(CBaseFilter* filter) : holder_(filter), filter_(filter), version_(filter->PinVersion()) {}

STDMETHODIMP CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched)
{
    if (!pins)
        return E_POINTER;
    if (count > 1 && !fetched)
        return E_INVALIDARG;
    if (fetched)
        *fetched = 0;
    CriticalSectionLock lock(filter_->StateLock());
    if (version_ != filter_->PinVersion())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG available = static_cast<ULONG>(filter_->PinCount());
    ULONG given = 0;
    while (given < count && position_ < available) {
        CBasePin* pin = filter_->PinAt(static_cast<int>(position_++));
        pin->AddRef();
        pins[given++] = pin;
    }
    if (fetched)
        *fetched = given;
    return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG count)
{
    CriticalSectionLock lock(filter_->StateLock());
    if (version_ != filter_->PinVersion())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG available = static_cast<ULONG>(filter_->PinCount());
    if (count > available - position_) {
        position_ = available;
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP CEnumPins::Reset()
{
    CriticalSectionLock lock(filter_->StateLock());
    version_ = filter_->PinVersion();
    position_ = 0;
    return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** clone)
{
    if (!clone)
        return E_POINTER;
    auto* copy = new (std::nothrow) CEnumPins(filter_);
    if (!copy) {
        *clone = nullptr;
        return E_OUTOFMEMORY;
    }
    copy->position_ = position_;
    copy->version_ = version_;
    *clone = copy;
    return S_OK;
}
