#include "convert/ComThread.h"

#include <process.h>

#include <exception>
#include <memory>

namespace {

unsigned __stdcall ComThreadMain(void* parameter)
{
    const std::unique_ptr<ComThreadJob> job(static_cast<ComThreadJob*>(parameter));
    const ScopedComInit com;
    if (!com.Succeeded()) {
        job->OnComFailed();
        return 0;
    }
    // Nothing may leave the thread: the process would end.
    try {
        job->Run();
    } catch (const std::exception&) {
        if (job->OnException)
            job->OnException();
    }
    return 0;
}

} // namespace

UniqueHandle StartComThread(ComThreadJob job)
{
    auto owned = std::make_unique<ComThreadJob>(std::move(job));
    const uintptr_t thread = _beginthreadex(nullptr, 0, &ComThreadMain, owned.get(), 0, nullptr);
    if (!thread)
        return UniqueHandle();
    owned.release(); // the thread owns it now
    return UniqueHandle(reinterpret_cast<HANDLE>(thread));
}
