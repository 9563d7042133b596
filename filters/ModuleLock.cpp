#include "filters/ModuleLock.h"

#include <atomic>

namespace {
std::atomic<LONG> moduleLocks{0};
}

LONG ModuleLockCount()
{
    return moduleLocks.load();
}

void LockModule()
{
    ++moduleLocks;
}

void UnlockModule()
{
    --moduleLocks;
}
