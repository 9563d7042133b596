// HalvernFilters.dll as the program finds it (its manifest, nothing registered), unloading, and registering.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "builtin/BuiltinClasses.h"
#include "base/ScopedWin.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;

namespace {

struct BuiltinClass {
    const CLSID* classId;
    const char* name;
} const Builtins[] = {
    {&CLSID_HalvernFileWriter, "Halvern File Writer"},
    {&CLSID_HalvernProgramStreamMux, "Halvern MPEG-2 Multiplexer"},
    {&CLSID_HalvernRecordingSource, "Halvern Recording Source"},
};

std::string ClassKey(const CLSID& classId)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(classId, text, 40);
    return "CLSID\\" + std::string(text, text + std::wcslen(text));
}

// The filter mapper's entry of a filter in the legacy category.
std::string FilterEntryKey(const CLSID& classId)
{
    return ClassKey(CLSID_LegacyAmFilterCategory) + "\\Instance\\" + ClassKey(classId).substr(6);
}

bool KeyExists(const std::string& path)
{
    UniqueRegKey key;
    return ::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

using DllEntry = HRESULT(STDAPICALLTYPE*)();
DllEntry Export(HMODULE dll, const char* name)
{
    return reinterpret_cast<DllEntry>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
}

void ExpectEveryClassMade(const char* where)
{
    for (const BuiltinClass& builtin : Builtins) {
        EXPECT_FALSE(KeyExists(ClassKey(*builtin.classId))) << builtin.name << " is registered in this prefix";
        ComPtr<IBaseFilter> filter;
        CLSID made = {};
        EXPECT_TRUE(SUCCEEDED(::CoCreateInstance(*builtin.classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter))) &&
                    SUCCEEDED(filter->GetClassID(&made)) && made == *builtin.classId)
            << builtin.name << " " << where;
    }
}

TEST(BuiltinDllTest, TheManifestServesEveryClassOnAnyThreadAndTheDllRegistersForGraphTools)
{
    ScopedComInit com;
    ExpectEveryClassMade("on the main thread");
    std::thread([] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ExpectEveryClassMade("in the multithreaded apartment");
        ::CoUninitialize();
    }).join();
    // The DLL can go once nothing of it is in use.
    const DllEntry canUnload = Export(::GetModuleHandleA("HalvernFilters.dll"), "DllCanUnloadNow");
    ASSERT_NE(nullptr, canUnload);
    ComPtr<IBaseFilter> held;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_HalvernFileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&held)));
    EXPECT_EQ(S_FALSE, canUnload());
    held.Reset();
    EXPECT_EQ(S_OK, canUnload());

    const std::string dllPath = testing_support::ModuleDirectory() + "HalvernFilters.dll";
    HMODULE dll = ::LoadLibraryA(dllPath.c_str());
    ASSERT_NE(nullptr, dll);
    const DllEntry registerServer = Export(dll, "DllRegisterServer");
    const DllEntry unregisterServer = Export(dll, "DllUnregisterServer");
    ASSERT_TRUE(registerServer && unregisterServer);

    ASSERT_EQ(S_OK, registerServer());
    for (const BuiltinClass& builtin : Builtins) {
        SCOPED_TRACE(builtin.name);
        const std::string server = ClassKey(*builtin.classId) + "\\InprocServer32", entry = FilterEntryKey(*builtin.classId);
        std::string path, model, name;
        EXPECT_TRUE(testing_support::ReadRegistryString(server, nullptr, path, HKEY_CLASSES_ROOT));
        EXPECT_EQ(0, ::lstrcmpiA(dllPath.c_str(), path.c_str())) << path;
        EXPECT_TRUE(testing_support::ReadRegistryString(server, "ThreadingModel", model, HKEY_CLASSES_ROOT));
        EXPECT_EQ("Both", model);
        EXPECT_TRUE(testing_support::ReadRegistryString(entry, "FriendlyName", name, HKEY_CLASSES_ROOT));
        EXPECT_EQ(builtin.name, name);
        // The mapper's record starts version, merit, pin count: pins to match, a merit never picked.
        DWORD data[256] = {}, size = sizeof(data);
        EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueA(HKEY_CLASSES_ROOT, entry.c_str(), "FilterData", RRF_RT_REG_BINARY, nullptr, data, &size));
        EXPECT_EQ(static_cast<DWORD>(MERIT_DO_NOT_USE), data[1]);
        EXPECT_NE(0u, data[2]);
    }

    ASSERT_EQ(S_OK, unregisterServer());
    for (const BuiltinClass& builtin : Builtins) {
        EXPECT_FALSE(KeyExists(ClassKey(*builtin.classId))) << builtin.name;
        EXPECT_FALSE(KeyExists(FilterEntryKey(*builtin.classId))) << builtin.name;
    }
    ::FreeLibrary(dll);
}

} // namespace
