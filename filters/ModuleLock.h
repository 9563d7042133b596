#pragma once
// Counts live filter objects and server locks, so an in-process server can answer DllCanUnloadNow.

#include <windows.h>

LONG ModuleLockCount();
void LockModule();
void UnlockModule();

// Held as a member by every COM object of the filter library: counts it for as long as it lives.
class CModuleObject {
public:
    CModuleObject() { LockModule(); }
    CModuleObject(const CModuleObject&) = delete;
    CModuleObject& operator=(const CModuleObject&) = delete;
    ~CModuleObject() { UnlockModule(); }
};
