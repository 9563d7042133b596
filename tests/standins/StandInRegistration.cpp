#include "tests/standins/StandIns.h"

#include "tests/support/TestSupport.h"

namespace {

std::string StandInDllPath() { return testing_support::ModuleDirectory() + "HalvernStandIns.dll"; }

// This thread's activation, undone on the thread that made it.
thread_local ULONG_PTR activation = 0;

const CLSID* const StandInClasses[] = {&StandInDumpClsid, &StandInMuxerClsid, &StandInDecrypterClsid, &StandInSourceClsid};

std::string ClassKey(const CLSID& classId)
{
    wchar_t text[40];
    ::StringFromGUID2(classId, text, 40);
    return "CLSID\\" + std::string(text, text + 38);
}

} // namespace

// Wine keeps CoRegisterClassObject per apartment; the DLL's manifest (resource 101) as activation
// context is seen on every thread that has it active, and new threads inherit their creator's.
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
        activation = cookie;
    return hr;
}

void RevokeStandIns()
{
    if (activation)
        ::DeactivateActCtx(0, activation);
    activation = 0;
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
