#pragma once
// Stand-ins for the four outside filters of the internal graph (recording source, decrypt/tag
// filter, multiplexer, "Dump" writer), for tests: same class identifiers and pin names, and an
// output that is a fixed function of the stand-in recording.

#include <windows.h>

#include <string>

struct StandInRecording {
    // Pins "DVR Out - 1" and "DVR Out - 3"; false gives "DVR Out - 1" and "DVR Out - 2".
    bool hasPin3 = true;
    double durationSeconds = 2.0;
    // Media seconds per wall second while the graph runs; 0 = as fast as possible.
    double pace = 0.0;
    // >= 0 and not past the end: the streams end with an error at that media time (EC_ERRORABORT).
    double failAtSeconds = -1.0;
    std::string payload = "stand-in recording";
};

// File content of such a recording.
std::string StandInRecordingBytes(const StandInRecording& recording);
void WriteStandInRecording(const std::string& path, const StandInRecording& recording);
// Reads recording file content back; false for anything that is not a stand-in recording.
bool ParseStandInRecording(const std::string& bytes, StandInRecording& recording);

// The bytes the "Dump" stand-in writes when the internal graph converts the recording.
std::string ExpectedStandInOutput(const StandInRecording& recording);

// The four class identifiers (those of the real filters).
extern const CLSID StandInDumpClsid;       // {36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}
extern const CLSID StandInMuxerClsid;      // {4DF35815-79C5-44C8-8753-847D5C9C3CF5}
extern const CLSID StandInDecrypterClsid;  // {C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}
extern const CLSID StandInSourceClsid;     // {C9F5FE02-F851-4EB5-99EE-AD602AF1E619}

// The error a failing recording reports: EC_ERRORABORT's first parameter.
constexpr HRESULT StandInStreamError = HRESULT_FROM_WIN32(ERROR_READ_FAULT);

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
