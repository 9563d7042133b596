// How tests make the stand-ins reachable: in-process for this program's threads, or through the
// registry of the test prefix for a Halvern.exe started by a test.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "framework/ScopedWin.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;

namespace {

const CLSID* const AllClasses[] = {&StandInDumpClsid, &StandInMuxerClsid, &StandInDecrypterClsid, &StandInSourceClsid};

// The InprocServer32 value of the class and its ThreadingModel; empty when not registered.
std::string InRegistry(const CLSID& classId, const char* value = nullptr)
{
    wchar_t text[40];
    ::StringFromGUID2(classId, text, 40);
    const std::string key = "CLSID\\" + std::string(text, text + 38) + "\\InprocServer32";
    char data[MAX_PATH] = {};
    DWORD size = sizeof(data);
    ::RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size);
    return data;
}

// Creates the class on a new thread in a single-threaded apartment of its own, as conversions run.
HRESULT CreateOnStaThread(const CLSID& classId)
{
    HRESULT hr = E_FAIL;
    std::thread thread([&] {
        ScopedComInit com;
        ComPtr<IBaseFilter> filter;
        hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
        CLSID made = GUID_NULL;
        if (SUCCEEDED(hr) && (FAILED(filter->GetClassID(&made)) || made != classId))
            hr = E_UNEXPECTED;
    });
    thread.join();
    return hr;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        for (const CLSID* classId : AllClasses)
            registered_ |= !InRegistry(*classId).empty();
    }

    ScopedComInit com_;
    // Someone registered the DLL in this prefix: then "not found" cannot be checked.
    bool registered_ = false;
};

TEST_F(RegistrationTest, InProcessRegistrationReachesOtherThreadsAndNests)
{
    if (!registered_) {
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(StandInDumpClsid));
    }
    ASSERT_EQ(S_OK, RegisterStandInsInProcess());
    ASSERT_EQ(S_OK, RegisterStandInsInProcess());
    RevokeStandIns();
    for (const CLSID* classId : AllClasses)
        EXPECT_EQ(S_OK, CreateOnStaThread(*classId));
    // Threads of threads too, as the Auto Converter's would be.
    HRESULT nested = E_FAIL;
    std::thread outer([&] { nested = CreateOnStaThread(StandInSourceClsid); });
    outer.join();
    EXPECT_EQ(S_OK, nested);
    RevokeStandIns();
    RevokeStandIns(); // one too many does nothing
    if (!registered_) {
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(StandInMuxerClsid));
    }
}

TEST_F(RegistrationTest, DllRegistersItselfInTheTestPrefix)
{
    // The registry written here is the test prefix's; elsewhere this test leaves it alone.
    char prefix[MAX_PATH] = {};
    if (!::GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH))
        GTEST_SKIP() << "not in a test Wine prefix";

    ASSERT_TRUE(RegisterStandInDll());
    const std::string dll = testing_support::ModuleDirectory() + "HalvernStandIns.dll";
    for (const CLSID* classId : AllClasses) {
        EXPECT_EQ(0, ::lstrcmpiA(dll.c_str(), InRegistry(*classId).c_str())) << InRegistry(*classId);
        EXPECT_EQ("Both", InRegistry(*classId, "ThreadingModel"));
        // A thread with no in-process registration finds the class through the registry.
        EXPECT_EQ(S_OK, CreateOnStaThread(*classId));
    }
    ASSERT_TRUE(UnregisterStandInDll());
    for (const CLSID* classId : AllClasses) {
        EXPECT_EQ("", InRegistry(*classId));
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(*classId));
    }
    // Leave the prefix as it was found.
    if (registered_) {
        EXPECT_TRUE(RegisterStandInDll());
    }
}

} // namespace
