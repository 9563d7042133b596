// HalvernStandIns.dll: the stand-ins as an in-process COM server, for test prefixes. The recording
// source, the multiplexer and the "Dump" writer are the built-in filters under the outside class
// identifiers; the decrypt/tag filter is the tests' own.

#include <windows.h>
#include <wrl/client.h>

#include <new>
#include <string>

#include "builtin/FileWriter.h"
#include "builtin/ProgramStreamMux.h"
#include "builtin/RecordingSource.h"
#include "filters/Adopt.h"
#include "filters/ClassFactory.h"
#include "filters/ModuleLock.h"
#include "tests/standins/StandIns.h"

HRESULT CreateStandInDecrypter(IUnknown** object);

namespace {

const struct {
    const CLSID* classId;
    const char* name;
    FilterCreator create;
} StandInClasses[] = {
    {&StandInDumpClsid, "Halvern stand-in Dump (built-in file writer)", &CFileWriter::Create},
    {&StandInMuxerClsid, "Halvern stand-in MPEG multiplexer (built-in)", &CProgramStreamMux::Create},
    {&StandInDecrypterClsid, "Halvern stand-in decrypt/tag filter", &CreateStandInDecrypter},
    {&StandInSourceClsid, "Halvern stand-in recording source (built-in)", &CRecordingSource::Create},
};

std::string ClassKey(const CLSID& classId)
{
    wchar_t text[40];
    ::StringFromGUID2(classId, text, 40);
    return "CLSID\\" + std::string(text, text + 38);
}

std::string ModulePath()
{
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&ModulePath), &self);
    char path[MAX_PATH];
    return std::string(path, ::GetModuleFileNameA(self, path, MAX_PATH));
}

LSTATUS SetString(const std::string& key, const char* name, const std::string& value)
{
    return ::RegSetKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

} // namespace

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    for (const auto& standIn : StandInClasses) {
        if (*standIn.classId != classId)
            continue;
        Microsoft::WRL::ComPtr<IClassFactory> factory = Adopt(new (std::nothrow) CFilterClassFactory(standIn.create));
        return factory ? factory->QueryInterface(iid, object) : E_OUTOFMEMORY;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    for (const auto& standIn : StandInClasses) {
        const std::string key = ClassKey(*standIn.classId);
        LSTATUS status = SetString(key, nullptr, standIn.name);
        if (status == ERROR_SUCCESS)
            status = SetString(key + "\\InprocServer32", nullptr, ModulePath());
        if (status == ERROR_SUCCESS)
            status = SetString(key + "\\InprocServer32", "ThreadingModel", "Both");
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

// Removes only the classes registered to this very file.
STDAPI DllUnregisterServer()
{
    for (const auto& standIn : StandInClasses) {
        const std::string key = ClassKey(*standIn.classId);
        char server[MAX_PATH] = {};
        DWORD size = sizeof(server);
        if (::RegGetValueA(HKEY_CLASSES_ROOT, (key + "\\InprocServer32").c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                           server, &size) != ERROR_SUCCESS || ::lstrcmpiA(server, ModulePath().c_str()) != 0)
            continue;
        const LSTATUS status = ::RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}
