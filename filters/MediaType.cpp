#include "filters/MediaType.h"

#include <cstring>
#include <utility>

void FreeMediaTypeContent(AM_MEDIA_TYPE& type)
{
    if (type.pbFormat)
        ::CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk)
        type.pUnk->Release();
    type.pUnk = nullptr;
}

HRESULT CopyMediaTypeContent(AM_MEDIA_TYPE& destination, const AM_MEDIA_TYPE& source)
{
    destination = source;
    destination.pbFormat = nullptr;
    destination.cbFormat = 0;
    if (source.cbFormat && source.pbFormat) {
        destination.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(source.cbFormat));
        if (!destination.pbFormat) {
            destination.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(destination.pbFormat, source.pbFormat, source.cbFormat);
        destination.cbFormat = source.cbFormat;
    }
    if (destination.pUnk)
        destination.pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source)
{
    auto* type = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type)
        return nullptr;
    if (FAILED(CopyMediaTypeContent(*type, source))) {
        ::CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

void DeleteMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    FreeMediaTypeContent(*type);
    ::CoTaskMemFree(type);
}

bool MediaTypeMatches(const AM_MEDIA_TYPE& pattern, const AM_MEDIA_TYPE& type)
{
    if (pattern.majortype != GUID_NULL && pattern.majortype != type.majortype)
        return false;
    if (pattern.subtype != GUID_NULL && pattern.subtype != type.subtype)
        return false;
    if (pattern.formattype != GUID_NULL && pattern.formattype != type.formattype)
        return false;
    return true;
}

bool IsFullySpecified(const AM_MEDIA_TYPE& type)
{
    return type.majortype != GUID_NULL && type.subtype != GUID_NULL && type.formattype != GUID_NULL;
}

CMediaType::CMediaType() : type_() {}

CMediaType::CMediaType(const GUID& majorType, const GUID& subtype) : type_()
{
    type_.majortype = majorType;
    type_.subtype = subtype;
    type_.formattype = FORMAT_None;
    type_.bFixedSizeSamples = FALSE;
    type_.bTemporalCompression = FALSE;
    type_.lSampleSize = 0;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& type) : type_()
{
    Set(type);
}

CMediaType::CMediaType(const CMediaType& other) : type_()
{
    Set(other.type_);
}

CMediaType& CMediaType::operator=(const CMediaType& other)
{
    if (this != &other)
        Set(other.type_);
    return *this;
}

CMediaType::CMediaType(CMediaType&& other) noexcept : type_(other.type_)
{
    other.type_ = AM_MEDIA_TYPE();
}

CMediaType& CMediaType::operator=(CMediaType&& other) noexcept
{
    if (this != &other) {
        Clear();
        type_ = other.type_;
        other.type_ = AM_MEDIA_TYPE();
    }
    return *this;
}

CMediaType::~CMediaType()
{
    FreeMediaTypeContent(type_);
}

void CMediaType::Set(const AM_MEDIA_TYPE& type)
{
    // Copy first: `type` may live inside the format block being replaced.
    AM_MEDIA_TYPE copy;
    if (FAILED(CopyMediaTypeContent(copy, type)))
        copy = AM_MEDIA_TYPE();
    FreeMediaTypeContent(type_);
    type_ = copy;
}

void CMediaType::Clear()
{
    FreeMediaTypeContent(type_);
    type_ = AM_MEDIA_TYPE();
}
