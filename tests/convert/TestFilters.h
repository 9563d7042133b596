#pragma once
// Small filters for the graph-building cases that the stand-ins of the internal graph cannot
// show: pins that refuse, filters without outputs, filters that take both file names, filters
// that refuse a file or the graph. Registered for the registering thread's apartment only.

#include <windows.h>

#include <string>
#include <vector>

namespace testfilters {

// Media types: pins of type A connect to A, B to B; nothing takes Lonely.
extern const GUID MediaMajor;
extern const GUID SubtypeA;
extern const GUID SubtypeB;
extern const GUID SubtypeLonely;

extern const CLSID SourceClsid;       // outputs "Out 1", "Out 2" (A); reads a file
extern const CLSID DvrSourceClsid;    // outputs "DVR Out - 1", "DVR Out - 2" (A)
extern const CLSID SinkClsid;         // inputs "In 1", "In 2" (A); writes a file
extern const CLSID PickyClsid;        // input "Picky In" (B only)
extern const CLSID ConverterClsid;    // input "In" (A), output "Out" (B)
extern const CLSID InputOnlyClsid;    // input "In" (Lonely); no output pin
extern const CLSID LonelySourceClsid; // output "Out" (Lonely): nothing can render it
extern const CLSID BothFilesClsid;    // offers both file interfaces
extern const CLSID BadInputClsid;     // its Load fails with LoadError
extern const CLSID BadOutputClsid;    // its SetFileName fails with SetFileNameError
extern const CLSID UnjoinableClsid;   // refuses to join a graph with JoinError

constexpr HRESULT LoadError = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr HRESULT SetFileNameError = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
constexpr HRESULT JoinError = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

struct FileCall {
    CLSID filter;
    std::string method; // "Load" or "SetFileName"
    std::wstring path;
};
// The file names handed to test filters since the last call, in order.
std::vector<FileCall> TakeFileCalls();

HRESULT RegisterTestFilters();
void RevokeTestFilters();

// The braced text form of a class identifier, as a graph description writes it.
std::string ClsidText(const CLSID& clsid);

} // namespace testfilters
