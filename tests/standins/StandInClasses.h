#pragma once
// The stand-in classes by class identifier, for the DLL and for in-process registration.

#include <windows.h>

#include "filters/ClassFactory.h"

struct StandInClass {
    const CLSID* classId;
    const char* name;
    FilterCreator create;
};

extern const StandInClass StandInClasses[4];
