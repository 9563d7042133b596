// How tests make the stand-ins reachable: in-process for this program's threads, or through the
// registry of the test prefix for a Halvern.exe started by a test.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "framework/ScopedWin.h"
#include "tests/standins/GraphTestSupport.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;

namespace {

const CLSID* const AllClasses[] = {&StandInDumpClsid, &StandInMuxerClsid, &StandInDecrypterClsid, &StandInSourceClsid};

std::string ClassKey(const CLSID& classId)
{
    wchar_t text[40];
    ::StringFromGUID2(classId, text, 40);
    return "CLSID\\" + std::string(text, text + 38);
}

bool InRegistry(const CLSID& classId, std::string* server = nullptr, std::string* threading = nullptr)
{
    char value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    const std::string key = ClassKey(classId) + "\\InprocServer32";
    if (::RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return false;
    if (server)
        *server = value;
    size = sizeof(value);
    if (threading && ::RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), "ThreadingModel", RRF_RT_REG_SZ, nullptr, value,
                                    &size) == ERROR_SUCCESS)
        *threading = value;
    return true;
}

// Runs `work` on a new thread in a single-threaded apartment of its own, as conversions run.
void OnStaThread(const std::function<void()>& work)
{
    std::thread thread([&] {
        ScopedComInit com;
        ASSERT_TRUE(com.Succeeded());
        work();
    });
    thread.join();
}

HRESULT CreateOnStaThread(const CLSID& classId)
{
    HRESULT hr = E_FAIL;
    OnStaThread([&] {
        ComPtr<IBaseFilter> filter;
        hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
        if (SUCCEEDED(hr)) {
            CLSID made = GUID_NULL;
            filter->GetClassID(&made);
            EXPECT_EQ(classId, made);
        }
    });
    return hr;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        for (const CLSID* classId : AllClasses)
            registered_ |= InRegistry(*classId);
    }

    ScopedComInit com_;
    // Someone registered the DLL in this prefix: then "not found" cannot be checked.
    bool registered_ = false;
};

TEST_F(RegistrationTest, InProcessRegistrationReachesOtherStaThreads)
{
    if (!registered_) {
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(StandInDumpClsid));
    }
    ASSERT_EQ(S_OK, RegisterStandInsInProcess());
    for (const CLSID* classId : AllClasses)
        EXPECT_EQ(S_OK, CreateOnStaThread(*classId));
    // Threads of threads too, as the Auto Converter's would be.
    HRESULT nested = E_FAIL;
    std::thread outer([&] { nested = CreateOnStaThread(StandInSourceClsid); });
    outer.join();
    EXPECT_EQ(S_OK, nested);

    OnStaThread([] {
        ComPtr<IBaseFilter> source, dump;
        ASSERT_EQ(S_OK, ::CoCreateInstance(StandInSourceClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&source)));
        ASSERT_EQ(S_OK, ::CoCreateInstance(StandInDumpClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dump)));
        ComPtr<IFileSourceFilter> reads;
        ComPtr<IFileSinkFilter> writes;
        EXPECT_EQ(S_OK, source.As(&reads));
        EXPECT_EQ(S_OK, dump.As(&writes));
    });

    RevokeStandIns();
    if (!registered_) {
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(StandInMuxerClsid));
    }
}

TEST_F(RegistrationTest, RegistrationsNestPerThread)
{
    ASSERT_EQ(S_OK, RegisterStandInsInProcess());
    ASSERT_EQ(S_OK, RegisterStandInsInProcess());
    RevokeStandIns();
    EXPECT_EQ(S_OK, CreateOnStaThread(StandInDecrypterClsid));
    RevokeStandIns();
    RevokeStandIns(); // one too many does nothing
    if (!registered_) {
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(StandInDecrypterClsid));
    }
}

TEST_F(RegistrationTest, ConversionThreadRunsTheInternalGraphFromRegisteredClasses)
{
    const std::string directory = testing_support::MakeScratchDirectory("standin-registration");
    StandInRecording recording;
    recording.durationSeconds = 1.0;
    WriteStandInRecording(directory + "Show.dvr-ms", recording);
    ASSERT_EQ(S_OK, RegisterStandInsInProcess());
    OnStaThread([&] {
        standin_tests::InternalGraph graph;
        ASSERT_EQ(S_OK, graph.Build(directory + "Show.dvr-ms", directory + "Show.mpg",
                                    standin_tests::InternalGraph::Creation::ByClass));
        ASSERT_EQ(S_OK, graph.control->Run());
        long code = 0;
        EXPECT_EQ(S_OK, graph.WaitForCompletion(10000, &code));
        EXPECT_EQ(EC_COMPLETE, code);
        graph.control->Stop();
        for (ULONG count : graph.Release())
            EXPECT_EQ(0u, count);
    });
    RevokeStandIns();
    EXPECT_EQ(ExpectedStandInOutput(recording), testing_support::ReadFileBytes(directory + "Show.mpg"));
}

TEST_F(RegistrationTest, DllServerCountsItsObjects)
{
    const std::string path = testing_support::ModuleDirectory() + "HalvernStandIns.dll";
    HMODULE dll = ::LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, dll);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(::GetProcAddress(dll, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(::GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, getClassObject);
    ASSERT_NE(nullptr, canUnloadNow);
    EXPECT_NE(nullptr, ::GetProcAddress(dll, "DllRegisterServer"));
    EXPECT_NE(nullptr, ::GetProcAddress(dll, "DllUnregisterServer"));

    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              getClassObject(CLSID_FilterGraph, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_EQ(E_POINTER, getClassObject(StandInDumpClsid, IID_IClassFactory, nullptr));
    EXPECT_EQ(S_OK, canUnloadNow());
    ASSERT_EQ(S_OK, getClassObject(StandInMuxerClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_EQ(S_FALSE, canUnloadNow());
    ComPtr<IBaseFilter> muxer;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(muxer.GetAddressOf())));
    EXPECT_EQ(0u, factory.Reset());
    EXPECT_EQ(S_FALSE, canUnloadNow()); // the muxer still lives
    EXPECT_EQ(0u, muxer.Reset());
    EXPECT_EQ(S_OK, canUnloadNow());
    ::FreeLibrary(dll);
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
        std::string server, threading;
        ASSERT_TRUE(InRegistry(*classId, &server, &threading)) << ClassKey(*classId);
        EXPECT_EQ(0, ::lstrcmpiA(dll.c_str(), server.c_str())) << server;
        EXPECT_EQ("Both", threading);
        // A thread with no in-process registration finds the class through the registry.
        EXPECT_EQ(S_OK, CreateOnStaThread(*classId));
    }

    ASSERT_TRUE(UnregisterStandInDll());
    for (const CLSID* classId : AllClasses) {
        EXPECT_FALSE(InRegistry(*classId)) << ClassKey(*classId);
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateOnStaThread(*classId));
    }
    // Leave the prefix as it was found.
    if (registered_) {
        EXPECT_TRUE(RegisterStandInDll());
    }
}

} // namespace
