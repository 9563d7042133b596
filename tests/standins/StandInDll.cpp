// HalvernStandIns.dll: the stand-ins as an in-process COM server, found through its manifest or registry.

#include <windows.h>
#include <wrl/client.h>

#include <new>

#include "builtin/FileWriter.h"
#include "builtin/ProgramStreamMux.h"
#include "builtin/RecordingSource.h"
#include "filters/Adopt.h"
#include "filters/ClassFactory.h"
#include "tests/standins/StandIns.h"

HRESULT CreateStandInDecrypter(IUnknown** object);

namespace {

const struct {
    const CLSID* classId;
    FilterCreator create;
} StandInClasses[] = {
    {&StandInDumpClsid, &CFileWriter::Create},
    {&StandInMuxerClsid, &CProgramStreamMux::Create},
    {&StandInDecrypterClsid, &CreateStandInDecrypter},
    {&StandInSourceClsid, &CRecordingSource::Create},
};

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
