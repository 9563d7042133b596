#include "app/ConverterApp.h"
#include "autoconv/AutoConvertThread.h"
#include "convert/RunFeedback.h"

#include <process.h>

void CConverterApp::StartAutoConvert()
{
    if (AutoConvertRunning.load() || AutoConvertWorkerAlive.load())
        return;
    if (!AutoConvertStopEvent)
        AutoConvertStopEvent.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));

    // Cleared here rather than by the worker, so a stop requested from now on is never lost.
    AutoConvertStopRequest = 0;
    AutoConvertWorkerAlive = 1;
    uintptr_t thread = _beginthreadex(nullptr, 0, &AutoConvertThread, this, 0, nullptr);
    if (thread)
        ::CloseHandle(reinterpret_cast<HANDLE>(thread));
    else
        AutoConvertWorkerAlive = 0;
}

void CConverterApp::StopAutoConvert()
{
    LONG wasRunning = AutoConvertRunning.load() || AutoConvertWorkerAlive.load();
    AutoConvertStopRequest = 1;
    if (!wasRunning)
        return;
    if (AutoConvertStopEvent)
        ::SetEvent(AutoConvertStopEvent.Get());

    // The event also cancels the worker's conversion, which updates this thread's window
    // synchronously while it ends: keep handling what it sends, and repainting, but take no input
    // while waiting for it.
    while (AutoConvertWorkerAlive.load()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, AutoConvertTiming().StopPollMs, QS_SENDMESSAGE | QS_PAINT);
        PumpSentMessages();
        PumpPaintMessages();
    }
    AutoConvertStopEvent.Reset();
}
