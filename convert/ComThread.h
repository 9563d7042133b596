#pragma once
// The threads that convert: each initialises COM for its whole run, and nothing thrown leaves it.

#include "base/ScopedWin.h"

#include <functional>

// What a thread started by StartComThread does; every part runs on the new thread.
struct ComThreadJob {
    std::function<void()> Run;         // with COM initialised
    std::function<void()> OnComFailed; // instead of Run, when COM cannot be initialised
    std::function<void()> OnException; // when Run throws; may be empty
};

// The new thread's handle; an empty one, with no part of the job run, when no thread could start.
UniqueHandle StartComThread(ComThreadJob job);
