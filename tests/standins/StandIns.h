#pragma once
// The four outside filters of the internal graph, for tests: the recording source, the
// multiplexer and the "Dump" writer are Halvern's own built-in filters handed out under the
// outside class identifiers; the decrypt/tag filter is a pass-through of the tests' own that
// injects faults the real filters never show.

#include <windows.h>
#include <strmif.h>

#include <string>

// The four class identifiers (those of the real filters).
extern const CLSID StandInDumpClsid;       // {36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}
extern const CLSID StandInMuxerClsid;      // {4DF35815-79C5-44C8-8753-847D5C9C3CF5}
extern const CLSID StandInDecrypterClsid;  // {C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}
extern const CLSID StandInSourceClsid;     // {C9F5FE02-F851-4EB5-99EE-AD602AF1E619}

// The decrypt/tag stand-in's fault, read from this environment variable when streaming starts:
//   "pace=R"     passes R media seconds per wall second of running (R > 0)
//   "abort=S"    reports EC_ERRORABORT at the first sample at or after media second S
//   "drop"       passes no sample on, only the end of the stream
//   "never-end"  passes every sample on but never the end of the stream
// Anything else (or nothing) passes everything at once. "FAULT;PART" limits the fault to graphs
// whose recording's file name contains PART, so one Halvern run can meet slow and quick ones.
constexpr char DecrypterFaultVariable[] = "HALVERN_DECRYPT_FAULT";

struct DecrypterFault {
    enum Kind { None, Pace, Abort, Drop, NeverEnd } kind = None;
    double pace = 0.0;
    REFERENCE_TIME atUnits = 0;
    std::wstring onlyFor; // part of the recording's file name; empty for every recording
};
DecrypterFault ParseDecrypterFault(const std::string& text);

// The error of an "abort": EC_ERRORABORT's first parameter.
constexpr HRESULT DecrypterFaultError = HRESULT_FROM_WIN32(ERROR_READ_FAULT);

// Sets the fault for this process, and so for programs it starts, while the object lives.
class ScopedDecrypterFault {
public:
    explicit ScopedDecrypterFault(const std::string& fault)
    {
        ::SetEnvironmentVariableA(DecrypterFaultVariable, fault.empty() ? nullptr : fault.c_str());
    }
    ScopedDecrypterFault(const ScopedDecrypterFault&) = delete;
    ScopedDecrypterFault& operator=(const ScopedDecrypterFault&) = delete;
    ~ScopedDecrypterFault() { ::SetEnvironmentVariableA(DecrypterFaultVariable, nullptr); }
};

// Makes CoCreateInstance of the four classes give the stand-ins (from HalvernStandIns.dll beside
// the program, without touching the registry) on the calling thread and on every thread started
// from it afterwards, threads of threads included, until RevokeStandIns on the same thread.
// Calls nest; each RevokeStandIns undoes the calling thread's latest registration.
HRESULT RegisterStandInsInProcess();
void RevokeStandIns();

// Registers bin/HalvernStandIns.dll (beside the running program) through its DllRegisterServer,
// in the current Wine prefix's registry. For test prefixes only.
bool RegisterStandInDll();
// Undoes RegisterStandInDll through DllUnregisterServer.
bool UnregisterStandInDll();
