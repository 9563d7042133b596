#include "filters/CurrentFile.h"

#include <cstring>

void CCurrentFile::Set(const wchar_t* name, const AM_MEDIA_TYPE* type)
{
    name_ = name;
    if (type)
        type_.Set(*type);
    else
        type_.Clear();
}

HRESULT CCurrentFile::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) const
{
    if (!fileName)
        return E_POINTER;
    *fileName = nullptr;
    if (type) {
        *type = AM_MEDIA_TYPE();
        HRESULT hr = CopyMediaTypeContent(*type, type_.Get());
        if (FAILED(hr))
            return hr;
    }
    if (name_.empty())
        return S_OK;
    const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *fileName = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    std::memcpy(*fileName, name_.c_str(), bytes);
    return S_OK;
}
