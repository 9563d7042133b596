// HalvernFilters.dll: Halvern's own filters as an in-process COM server. Halvern.exe finds it
// through its manifest without registration; registering it only serves tools that list filters.

#include <windows.h>
#include <dshow.h>
#include <objbase.h>
#include <wrl/client.h>

#include <iterator>
#include <new>
#include <string>

#include "builtin/BuiltinClasses.h"
#include "builtin/FileWriter.h"
#include "builtin/FilterRegistration.h"
#include "builtin/MuxMediaTypes.h"
#include "builtin/ProgramStreamMux.h"
#include "builtin/RecordingSource.h"
#include "builtin/TransportStreamMux.h"
#include "filters/Adopt.h"
#include "filters/ModuleLock.h"
#include "base/ScopedWin.h"

namespace {

HMODULE thisModule = nullptr;

// What the filter mapper is told of the pins, so graph tools can show what connects where.
const REGPINTYPES StreamTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const REGPINTYPES ProgramStreamTypes[] = {{&MEDIATYPE_Stream, &MuxSubtypeMpeg2Program}};
const REGPINTYPES TransportStreamTypes[] = {{&MEDIATYPE_Stream, &MuxSubtypeMpeg2Transport}};
const REGPINTYPES VideoTypes[] = {{&MEDIATYPE_Video, &MuxSubtypeMpeg2Video}};
const REGPINTYPES AudioTypes[] = {
    {&MEDIATYPE_Audio, &MuxSubtypeMpeg2Audio},
    {&MEDIATYPE_Audio, &MuxSubtypeMpeg1AudioPayload},
    {&MEDIATYPE_Audio, &MuxSubtypeDolbyAc3},
};

// The source's pins depend on the recording: any number of audio streams, and the video.
const REGFILTERPINS2 SourcePins[] = {
    {REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_MANY | REG_PINFLAG_B_ZERO, 1, static_cast<UINT>(std::size(AudioTypes)),
     AudioTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_ZERO, 1, 1, VideoTypes, 0, nullptr, nullptr},
};
const REGFILTERPINS2 WriterPins[] = {
    {0, 1, 1, StreamTypes, 0, nullptr, nullptr},
};
const REGFILTERPINS2 MultiplexerPins[] = {
    {0, 1, 1, VideoTypes, 0, nullptr, nullptr},
    {0, 1, static_cast<UINT>(std::size(AudioTypes)), AudioTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT, 1, 1, ProgramStreamTypes, 0, nullptr, nullptr},
};
const REGPINTYPES TransportVideoTypes[] = {{&MEDIATYPE_Video, &MuxSubtypeMpeg2Video}, {&MEDIATYPE_Video, &MuxSubtypeH264}};
const REGPINTYPES TransportAudioTypes[] = {
    {&MEDIATYPE_Audio, &MuxSubtypeMpeg2Audio}, {&MEDIATYPE_Audio, &MuxSubtypeMpeg1AudioPayload},
    {&MEDIATYPE_Audio, &MuxSubtypeDolbyAc3},   {&MEDIATYPE_Audio, &MuxSubtypeDolbyDigitalPlus},
    {&MEDIATYPE_Audio, &MuxSubtypeRawAac},     {&MEDIATYPE_Audio, &MuxSubtypeAdtsAac},
    {&MEDIATYPE_Audio, &MuxSubtypeLoas},       {&MEDIATYPE_Audio, &MuxSubtypeHeAac},
};
const REGFILTERPINS2 TransportMultiplexerPins[] = {
    {0, 1, static_cast<UINT>(std::size(TransportVideoTypes)), TransportVideoTypes, 0, nullptr, nullptr},
    {0, 1, static_cast<UINT>(std::size(TransportAudioTypes)), TransportAudioTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT, 1, 1, TransportStreamTypes, 0, nullptr, nullptr},
};

const ServedFilter Filters[] = {
    {&CLSID_HalvernFileWriter, L"Halvern File Writer", &CFileWriter::Create, WriterPins,
     static_cast<ULONG>(std::size(WriterPins))},
    {&CLSID_HalvernProgramStreamMux, L"Halvern MPEG-2 Multiplexer", &CProgramStreamMux::Create, MultiplexerPins,
     static_cast<ULONG>(std::size(MultiplexerPins))},
    {&CLSID_HalvernTransportStreamMux, L"Halvern MPEG-2 Transport Stream Multiplexer", &CTransportStreamMux::Create,
     TransportMultiplexerPins, static_cast<ULONG>(std::size(TransportMultiplexerPins))},
    {&CLSID_HalvernRecordingSource, L"Halvern Recording Source", &CRecordingSource::Create, SourcePins,
     static_cast<ULONG>(std::size(SourcePins))},
};

std::wstring ModulePath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(thisModule, path, MAX_PATH);
    return std::wstring(path, length);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    for (const ServedFilter& filter : Filters) {
        if (*filter.classId != classId)
            continue;
        Microsoft::WRL::ComPtr<IClassFactory> factory = Adopt(new (std::nothrow) CFilterClassFactory(filter.create));
        if (!factory)
            return E_OUTOFMEMORY;
        return factory->QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    // regsvr32 has COM ready; other callers may not.
    ScopedComInit com;
    return RegisterFilters(ModulePath(), Filters, std::size(Filters));
}

STDAPI DllUnregisterServer()
{
    ScopedComInit com;
    return UnregisterFilters(ModulePath(), Filters, std::size(Filters));
}
