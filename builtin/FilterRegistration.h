#pragma once
// Registration of an in-process server's filters: the COM class keys, and the DirectShow entry in
// the legacy filter category that GraphEdit-style tools list.

#include <windows.h>
#include <dshow.h>

#include <string>

#include "filters/ClassFactory.h"

struct ServedFilter {
    const CLSID* classId;
    const wchar_t* name;
    FilterCreator create;
    // The pins as the filter mapper describes them.
    const REGFILTERPINS2* pins;
    ULONG pinCount;
};

// Writes the class keys (InprocServer32 = serverPath, ThreadingModel Both) and registers each
// filter with the filter mapper at MERIT_DO_NOT_USE, so that no automatic connection picks it.
// COM must be initialised on the calling thread.
HRESULT RegisterFilters(const std::wstring& serverPath, const ServedFilter* filters, size_t count);
// Undoes RegisterFilters for the classes that are registered to serverPath; leaves others alone.
HRESULT UnregisterFilters(const std::wstring& serverPath, const ServedFilter* filters, size_t count);
