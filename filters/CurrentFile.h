#pragma once
// The file a source reads or a writer writes, and its media type, as GetCurFile of
// IFileSourceFilter and IFileSinkFilter hands them out. The owner guards it with its state lock.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "filters/MediaType.h"

class CCurrentFile {
public:
    void Set(const wchar_t* name, const AM_MEDIA_TYPE* type);
    const std::wstring& Name() const { return name_; }

    // A CoTaskMemAlloc'd copy of the name (null while there is none), and the type when asked for.
    HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) const;

private:
    std::wstring name_;
    CMediaType type_;
};
