// HalvernFilters.dll as the program finds it (its manifest, nothing registered), and unloading.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "builtin/BuiltinClasses.h"
#include "base/ScopedWin.h"

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

using DllEntry = HRESULT(STDAPICALLTYPE*)();
DllEntry Export(HMODULE dll, const char* name)
{
    return reinterpret_cast<DllEntry>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
}

TEST(BuiltinDllTest, TheManifestServesEveryClass)
{
    ScopedComInit com;
    for (const BuiltinClass& builtin : Builtins) {
        ComPtr<IBaseFilter> filter;
        CLSID made = {};
        EXPECT_TRUE(SUCCEEDED(::CoCreateInstance(*builtin.classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter))) &&
                    SUCCEEDED(filter->GetClassID(&made)) && made == *builtin.classId)
            << builtin.name;
    }
}

TEST(BuiltinDllTest, TheDllCanGoOnceNothingOfItIsInUse)
{
    ScopedComInit com;
    ComPtr<IBaseFilter> held;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_HalvernFileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&held)));
    const DllEntry canUnload = Export(::GetModuleHandleA("HalvernFilters.dll"), "DllCanUnloadNow");
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_FALSE, canUnload());
    held.Reset();
    EXPECT_EQ(S_OK, canUnload());
}

} // namespace
