#include "tests/standins/StandIns.h"

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

std::string StandInDllPath()
{
    return testing_support::ModuleDirectory() + "HalvernStandIns.dll";
}

// The manifest resource of HalvernStandIns.dll that lists the four classes.
constexpr WORD StandInManifestId = 101;

// Activations of this thread, innermost last; each is undone on the thread that made it.
thread_local std::vector<ULONG_PTR> activations;

// Loads the DLL just for the call, as regsvr32 would.
bool CallDllEntry(const char* entry)
{
    HMODULE module = ::LoadLibraryA(StandInDllPath().c_str());
    if (!module)
        return false;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto function = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, entry)));
    const bool succeeded = function && SUCCEEDED(function());
    ::FreeLibrary(module);
    return succeeded;
}

} // namespace

// Wine keeps CoRegisterClassObject registrations per apartment: a class object registered on one
// thread is invisible to a CoCreateInstance on any other STA. An activation context with the
// DLL's manifest is found by CoCreateInstance on every thread that has it active, and a new thread
// starts with its creator's active context.
HRESULT RegisterStandInsInProcess()
{
    const std::string dll = StandInDllPath();
    ACTCTXA context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = dll.c_str();
    context.lpResourceName = MAKEINTRESOURCEA(StandInManifestId);
    HANDLE handle = ::CreateActCtxA(&context);
    if (handle == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(::GetLastError());
    ULONG_PTR cookie = 0;
    const BOOL activated = ::ActivateActCtx(handle, &cookie);
    const DWORD error = ::GetLastError();
    // The activation holds a reference of its own.
    ::ReleaseActCtx(handle);
    if (!activated)
        return HRESULT_FROM_WIN32(error);
    activations.push_back(cookie);
    return S_OK;
}

void RevokeStandIns()
{
    if (activations.empty())
        return;
    ::DeactivateActCtx(0, activations.back());
    activations.pop_back();
}

bool RegisterStandInDll()
{
    return CallDllEntry("DllRegisterServer");
}

bool UnregisterStandInDll()
{
    return CallDllEntry("DllUnregisterServer");
}
