// HalvernFilters.dll as the program finds it (through its manifest, with nothing registered), its
// registration for graph tools, and the shipped graph that names its filters.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "builtin/BuiltinClasses.h"
#include "convert/GraphDescription.h"
#include "framework/ScopedWin.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;

namespace {

struct BuiltinClass {
    const CLSID* classId;
    const char* name;
};

const BuiltinClass Builtins[] = {
    {&CLSID_HalvernFileWriter, "Halvern File Writer"},
    {&CLSID_HalvernProgramStreamMux, "Halvern MPEG-2 Multiplexer"},
    {&CLSID_HalvernRecordingSource, "Halvern Recording Source"},
};

std::string GuidText(const CLSID& classId)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(classId, text, 40);
    return std::string(text, text + std::wcslen(text));
}

std::string ClassKey(const CLSID& classId)
{
    return "CLSID\\" + GuidText(classId);
}

// The filter mapper's entry of a filter in the legacy category.
std::string FilterEntryKey(const CLSID& classId)
{
    return "CLSID\\" + GuidText(CLSID_LegacyAmFilterCategory) + "\\Instance\\" + GuidText(classId);
}

bool KeyExists(const std::string& path)
{
    UniqueRegKey key;
    return ::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

std::string DllPath()
{
    return testing_support::ModuleDirectory() + "HalvernFilters.dll";
}

// The names of the classes that CoCreateInstance could not make on this thread, as themselves.
std::string ClassesNotMade()
{
    std::string failed;
    for (const BuiltinClass& builtin : Builtins) {
        ComPtr<IBaseFilter> filter;
        CLSID made = {};
        if (FAILED(::CoCreateInstance(*builtin.classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter)))
            || FAILED(filter->GetClassID(&made)) || made != *builtin.classId)
            failed += std::string(builtin.name) + "; ";
    }
    return failed;
}

TEST(BuiltinDllTest, TheManifestFindsEveryClassOnAnyThreadWithNothingRegistered)
{
    ScopedComInit com;
    for (const BuiltinClass& builtin : Builtins)
        ASSERT_FALSE(KeyExists(ClassKey(*builtin.classId))) << builtin.name << " is registered in this prefix";

    EXPECT_EQ("", ClassesNotMade()) << "on the main thread";
    std::string onSta, onMta;
    std::thread([&] {
        ScopedComInit threadCom;
        onSta = ClassesNotMade();
    }).join();
    std::thread([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        onMta = ClassesNotMade();
        ::CoUninitialize();
    }).join();
    EXPECT_EQ("", onSta) << "on a new single-threaded apartment";
    EXPECT_EQ("", onMta) << "in the multithreaded apartment";

    // Served by the DLL beside the program, which can go once nothing of it is in use.
    HMODULE dll = ::GetModuleHandleA("HalvernFilters.dll");
    ASSERT_NE(nullptr, dll);
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(dll, path, MAX_PATH);
    EXPECT_EQ(0, ::lstrcmpiA(DllPath().c_str(), path)) << path;
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(::GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnload);
    ComPtr<IBaseFilter> held;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_HalvernFileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&held)));
    EXPECT_EQ(S_FALSE, canUnload());
    held.Reset();
    EXPECT_EQ(S_OK, canUnload());
}

TEST(BuiltinDllTest, TheProgramManifestKeepsTheClassicLookAndRunsUnelevated)
{
    // Test programs carry the program's resources, manifest included.
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found);
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
    const std::string manifest(text, ::SizeofResource(nullptr, found));
    EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"));
    EXPECT_NE(std::string::npos, manifest.find("<file name=\"HalvernFilters.dll\">"));
    // The program's common controls are the system's own, not the side-by-side version 6.
    HMODULE controls = ::LoadLibraryA("comctl32.dll");
    ASSERT_NE(nullptr, controls);
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(controls, path, MAX_PATH);
    ::FreeLibrary(controls);
    std::string lower(path);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(std::string::npos, lower.find("winsxs")) << path;
}

TEST(BuiltinDllTest, RegistersForGraphToolsAtANeverChosenMeritAndUnregisters)
{
    ScopedComInit com;
    HMODULE dll = ::LoadLibraryA(DllPath().c_str());
    ASSERT_NE(nullptr, dll);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(dll, "DllRegisterServer")));
    auto unregisterServer =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(dll, "DllUnregisterServer")));
    ASSERT_TRUE(registerServer && unregisterServer);

    ASSERT_EQ(S_OK, registerServer());
    for (const BuiltinClass& builtin : Builtins) {
        SCOPED_TRACE(builtin.name);
        std::string server, model, name;
        EXPECT_TRUE(testing_support::ReadRegistryString(ClassKey(*builtin.classId) + "\\InprocServer32", nullptr,
                                                        server, HKEY_CLASSES_ROOT));
        EXPECT_EQ(0, ::lstrcmpiA(DllPath().c_str(), server.c_str())) << server;
        EXPECT_TRUE(testing_support::ReadRegistryString(ClassKey(*builtin.classId) + "\\InprocServer32",
                                                        "ThreadingModel", model, HKEY_CLASSES_ROOT));
        EXPECT_EQ("Both", model);
        EXPECT_TRUE(testing_support::ReadRegistryString(FilterEntryKey(*builtin.classId), "FriendlyName", name,
                                                        HKEY_CLASSES_ROOT));
        EXPECT_EQ(builtin.name, name);
    }

    // The filter mapper reads the pins back: the writer takes a program stream, but only when
    // asked for filters of any merit, never at the merit automatic connection uses.
    ComPtr<IFilterMapper2> mapper;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper)));
    const GUID programStream[] = {MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM};
    auto offersWriter = [&](DWORD merit) {
        ComPtr<IEnumMoniker> found;
        if (mapper->EnumMatchingFilters(&found, 0, FALSE, merit, TRUE, 1, programStream, nullptr, nullptr, FALSE,
                                        FALSE, 0, nullptr, nullptr, nullptr) != S_OK)
            return false;
        ComPtr<IMoniker> moniker;
        while (found->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            ComPtr<IPropertyBag> bag;
            VARIANT value;
            ::VariantInit(&value);
            if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))
                || FAILED(bag->Read(L"CLSID", &value, nullptr)))
                continue;
            CLSID classId = {};
            const bool writer = value.vt == VT_BSTR && SUCCEEDED(::CLSIDFromString(value.bstrVal, &classId))
                && classId == CLSID_HalvernFileWriter;
            ::VariantClear(&value);
            if (writer)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(offersWriter(MERIT_DO_NOT_USE));
    EXPECT_FALSE(offersWriter(MERIT_DO_NOT_USE + 1));

    ASSERT_EQ(S_OK, unregisterServer());
    for (const BuiltinClass& builtin : Builtins) {
        EXPECT_FALSE(KeyExists(ClassKey(*builtin.classId))) << builtin.name;
        EXPECT_FALSE(KeyExists(FilterEntryKey(*builtin.classId))) << builtin.name;
    }
    ::FreeLibrary(dll);
}

TEST(BuiltinGraphTest, TheShippedGraphConnectsTheBuiltinFilters)
{
    const std::string path = testing_support::ModuleDirectory() + "Built-in DVR-MS to MPEG.xgr";
    // CRLF line ends, as GraphEdit writes them on Windows.
    const std::string bytes = testing_support::ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty());
    for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
        ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << "bare line feed at " << at;

    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText));
    const GraphDescription description = ReadGraphDescription(file);
    std::vector<std::string> filters, connections;
    for (const GraphEntry& entry : description.Entries) {
        if (const FilterEntry* filter = std::get_if<FilterEntry>(&entry)) {
            CLSID classId = {};
            const std::wstring text(filter->clsid.begin(), filter->clsid.end());
            EXPECT_EQ(S_OK, ::CLSIDFromString(text.c_str(), &classId)) << filter->clsid;
            std::string known = "unknown class";
            for (const BuiltinClass& builtin : Builtins) {
                if (*builtin.classId == classId)
                    known = builtin.name;
            }
            filters.push_back(filter->ID + " = " + known);
        } else {
            const ConnectEntry& connect = std::get<ConnectEntry>(entry);
            connections.push_back(connect.src + "/" + connect.srcpin + " -> " + connect.dest + "/" + connect.destpin
                                  + (connect.direct ? " direct" : ""));
        }
    }
    // The writer first, as in the internal graph.
    const std::vector<std::string> expectedFilters = {
        "Halvern File Writer = Halvern File Writer",
        "Halvern MPEG-2 Multiplexer = Halvern MPEG-2 Multiplexer",
        "Halvern Recording Source = Halvern Recording Source",
    };
    const std::vector<std::string> expectedConnections = {
        "Halvern Recording Source/DVR Out - 1 -> Halvern MPEG-2 Multiplexer/Audio In direct",
        "Halvern Recording Source/DVR Out - 3 -> Halvern MPEG-2 Multiplexer/Video In direct",
        "Halvern MPEG-2 Multiplexer/Output -> Halvern File Writer/Input direct",
    };
    EXPECT_EQ(expectedFilters, filters);
    EXPECT_EQ(expectedConnections, connections);
}

} // namespace
