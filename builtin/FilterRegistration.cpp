#include "builtin/FilterRegistration.h"

#include <wrl/client.h>

#include <vector>

#include "base/ScopedWin.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring ClassKey(const CLSID& classId)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(classId, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT WriteClassKey(const std::wstring& serverPath, const ServedFilter& filter)
{
    UniqueRegKey key;
    LSTATUS status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKey(*filter.classId).c_str(), 0, nullptr, 0, KEY_WRITE,
                                       nullptr, key.Receive(), nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    status = SetString(key.Get(), nullptr, filter.name);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    UniqueRegKey server;
    status = ::RegCreateKeyExW(key.Get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, server.Receive(), nullptr);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    status = SetString(server.Get(), nullptr, serverPath);
    if (status == ERROR_SUCCESS)
        status = SetString(server.Get(), L"ThreadingModel", L"Both");
    return HRESULT_FROM_WIN32(status);
}

// True when the class is registered to this very file, so unregistering touches no other copy.
bool RegisteredTo(const std::wstring& classKey, const std::wstring& serverPath)
{
    const std::wstring serverKey = classKey + L"\\InprocServer32";
    DWORD size = 0;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size)
        != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size)
        != ERROR_SUCCESS)
        return false;
    return ::lstrcmpiW(value.data(), serverPath.c_str()) == 0;
}

HRESULT CreateMapper(ComPtr<IFilterMapper2>& mapper)
{
    return ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
}

} // namespace

HRESULT RegisterFilters(const std::wstring& serverPath, const ServedFilter* filters, size_t count)
{
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CreateMapper(mapper);
    if (FAILED(hr))
        return hr;
    for (size_t i = 0; i < count; ++i) {
        const ServedFilter& filter = filters[i];
        hr = WriteClassKey(serverPath, filter);
        if (FAILED(hr))
            return hr;
        REGFILTER2 description = {};
        description.dwVersion = 2;
        description.dwMerit = MERIT_DO_NOT_USE;
        description.cPins2 = filter.pinCount;
        description.rgPins2 = filter.pins;
        // No instance name: the entry is keyed by the class id, as the filters of the system are.
        hr = mapper->RegisterFilter(*filter.classId, filter.name, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                    &description);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT UnregisterFilters(const std::wstring& serverPath, const ServedFilter* filters, size_t count)
{
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CreateMapper(mapper);
    if (FAILED(hr))
        return hr;
    for (size_t i = 0; i < count; ++i) {
        const ServedFilter& filter = filters[i];
        const std::wstring classKey = ClassKey(*filter.classId);
        if (!RegisteredTo(classKey, serverPath))
            continue;
        // A filter entry already gone is what was wanted.
        hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *filter.classId);
        if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
            return hr;
        const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}
