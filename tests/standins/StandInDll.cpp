// HalvernStandIns.dll: the stand-ins as an in-process COM server, for test prefixes.

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <new>
#include <string>

#include "filters/Adopt.h"
#include "filters/ClassFactory.h"
#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/standins/StandInClasses.h"

namespace {

HMODULE thisModule = nullptr;

std::string ClassKey(const CLSID& classId)
{
    wchar_t text[40];
    ::StringFromGUID2(classId, text, 40);
    char narrow[40];
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
    return std::string("CLSID\\") + narrow;
}

std::string ModulePath()
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(thisModule, path, MAX_PATH);
    return std::string(path, length);
}

LSTATUS SetString(HKEY key, const char* name, const std::string& value)
{
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
}

// True when the class is registered to this very file, so unregistering touches nothing else.
bool RegisteredHere(const std::string& classKey)
{
    char value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    const std::string serverKey = classKey + "\\InprocServer32";
    if (::RegGetValueA(HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return false;
    return ::lstrcmpiA(value, ModulePath().c_str()) == 0;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    for (const StandInClass& standIn : StandInClasses) {
        if (*standIn.classId != classId)
            continue;
        Microsoft::WRL::ComPtr<IClassFactory> factory;
        factory = Adopt(new (std::nothrow) CFilterClassFactory(standIn.create));
        if (!factory)
            return E_OUTOFMEMORY;
        return factory->QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    const std::string path = ModulePath();
    for (const StandInClass& standIn : StandInClasses) {
        const std::string classKey = ClassKey(*standIn.classId);
        UniqueRegKey key;
        LSTATUS status = ::RegCreateKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                           key.Receive(), nullptr);
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        SetString(key.Get(), nullptr, standIn.name);
        UniqueRegKey server;
        status = ::RegCreateKeyExA(key.Get(), "InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, server.Receive(),
                                   nullptr);
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        status = SetString(server.Get(), nullptr, path);
        if (status == ERROR_SUCCESS)
            status = SetString(server.Get(), "ThreadingModel", "Both");
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    for (const StandInClass& standIn : StandInClasses) {
        const std::string classKey = ClassKey(*standIn.classId);
        if (!RegisteredHere(classKey))
            continue;
        const LSTATUS status = ::RegDeleteTreeA(HKEY_CLASSES_ROOT, classKey.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}
