#pragma once
// AM_MEDIA_TYPE helpers and an owning holder: the format block and pUnk belong to whoever holds the type.

#include <windows.h>
#include <dshow.h>

// Frees the format block and releases pUnk; the structure itself stays.
void FreeMediaTypeContent(AM_MEDIA_TYPE& type);
// Deep copy into an empty destination (the destination's old content is not freed).
HRESULT CopyMediaTypeContent(AM_MEDIA_TYPE& destination, const AM_MEDIA_TYPE& source);
// A CoTaskMemAlloc'd copy, as IEnumMediaTypes::Next and GetCurFile hand out; null when out of memory.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source);
void DeleteMediaType(AM_MEDIA_TYPE* type);

// True when every field that `pattern` specifies (major type, subtype, format type not GUID_NULL)
// equals that of `type`; a partial type from IPin::Connect matches this way.
bool MediaTypeMatches(const AM_MEDIA_TYPE& pattern, const AM_MEDIA_TYPE& type);
// True when major type, subtype and format type are all given.
bool IsFullySpecified(const AM_MEDIA_TYPE& type);

// Owns one AM_MEDIA_TYPE; copies are deep, so no two holders free the same format block.
class CMediaType {
public:
    CMediaType();
    CMediaType(const GUID& majorType, const GUID& subtype);
    explicit CMediaType(const AM_MEDIA_TYPE& type);
    CMediaType(const CMediaType& other);
    CMediaType& operator=(const CMediaType& other);
    CMediaType(CMediaType&& other) noexcept;
    CMediaType& operator=(CMediaType&& other) noexcept;
    ~CMediaType();

    const AM_MEDIA_TYPE& Get() const { return type_; }
    AM_MEDIA_TYPE* Pointer() { return &type_; }
    void Set(const AM_MEDIA_TYPE& type);
    void Clear();

private:
    AM_MEDIA_TYPE type_;
};
