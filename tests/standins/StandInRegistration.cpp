#include "tests/standins/StandIns.h"

#include <vector>

#include "tests/support/TestSupport.h"

namespace {

std::string StandInDllPath() { return testing_support::ModuleDirectory() + "HalvernStandIns.dll"; }

// Activations of this thread, innermost last; each is undone on the thread that made it.
thread_local std::vector<ULONG_PTR> activations;

const CLSID* const StandInClasses[] = {&StandInDumpClsid, &StandInMuxerClsid, &StandInDecrypterClsid, &StandInSourceClsid};

std::string ClassKey(const CLSID& classId)
{
    wchar_t text[40];
    ::StringFromGUID2(classId, text, 40);
    return "CLSID\\" + std::string(text, text + 38);
}

} // namespace

// Wine keeps CoRegisterClassObject registrations per apartment, invisible to a CoCreateInstance on
// any other STA. An activation context with the DLL's manifest (resource 101, listing the four
// classes) is found on every thread that has it active, and a new thread starts with its
// creator's active context.
HRESULT RegisterStandInsInProcess()
{
    const std::string dll = StandInDllPath();
    ACTCTXA context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = dll.c_str();
    context.lpResourceName = MAKEINTRESOURCEA(101);
    HANDLE handle = ::CreateActCtxA(&context);
    if (handle == INVALID_HANDLE_VALUE)
        return HRESULT_FROM_WIN32(::GetLastError());
    ULONG_PTR cookie = 0;
    const BOOL activated = ::ActivateActCtx(handle, &cookie);
    const HRESULT hr = activated ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
    ::ReleaseActCtx(handle); // the activation holds a reference of its own
    if (activated)
        activations.push_back(cookie);
    return hr;
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
    for (const CLSID* classId : StandInClasses) {
        const std::string server = ClassKey(*classId) + "\\InprocServer32";
        if (!testing_support::SetRegistryString(server, nullptr, StandInDllPath(), HKEY_CLASSES_ROOT) ||
            !testing_support::SetRegistryString(server, "ThreadingModel", "Both", HKEY_CLASSES_ROOT))
            return false;
    }
    return true;
}

void UnregisterStandInDll()
{
    for (const CLSID* classId : StandInClasses)
        testing_support::DeleteRegistryTree(ClassKey(*classId), HKEY_CLASSES_ROOT);
}
