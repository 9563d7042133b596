#pragma once
// Stand-ins for the four outside filters of the internal graph (HalvernStandIns.dll): the built-in
// filters under the outside class identifiers, and a decrypt/tag pass-through that injects faults.

#include <windows.h>

#include <string>

constexpr CLSID StandInDumpClsid = {0x36A5F770, 0xFE4C, 0x11CE, {0xA8, 0xED, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};
constexpr CLSID StandInMuxerClsid = {0x4DF35815, 0x79C5, 0x44C8, {0x87, 0x53, 0x84, 0x7D, 0x5C, 0x9C, 0x3C, 0xF5}};
constexpr CLSID StandInDecrypterClsid = {0xC4C4C4F2, 0x0049, 0x4E2B, {0x98, 0xFB, 0x95, 0x37, 0xF6, 0xCE, 0x51, 0x6D}};
constexpr CLSID StandInSourceClsid = {0xC9F5FE02, 0xF851, 0x4EB5, {0x99, 0xEE, 0xAD, 0x60, 0x2A, 0xF1, 0xE6, 0x19}};

// The decrypt/tag stand-in's fault, read at each start of streaming: "pace=R" (R media seconds per
// wall second), "abort=S" (EC_ERRORABORT at media second S), "refuse=S" (S_FALSE from media second
// S on, without an error), "drop" (no sample, only the end), "never-end" (every sample, no end) or
// "hang-stop=S" (every sample, no end, and its stop takes S seconds); else none.
constexpr char DecrypterFaultVariable[] = "HALVERN_DECRYPT_FAULT";

// Sets the fault for this process, and so for programs it starts, while the object lives.
class ScopedDecrypterFault {
public:
    explicit ScopedDecrypterFault(const std::string& fault) { ::SetEnvironmentVariableA(DecrypterFaultVariable, fault.c_str()); }
    ScopedDecrypterFault(const ScopedDecrypterFault&) = delete;
    ScopedDecrypterFault& operator=(const ScopedDecrypterFault&) = delete;
    ~ScopedDecrypterFault() { ::SetEnvironmentVariableA(DecrypterFaultVariable, nullptr); }
};

// Makes CoCreateInstance of the four classes give the stand-ins, without the registry, on this thread
// and threads it starts later, until RevokeStandIns on this thread. Calls do not nest.
HRESULT RegisterStandInsInProcess();
void RevokeStandIns();

// Registers HalvernStandIns.dll (beside this program) in the test prefix's registry, and removes it.
bool RegisterStandInDll();
void UnregisterStandInDll();
