#include "framework/MessagePump.h"

void PumpSentMessages()
{
    MSG msg;
    // Any PeekMessage delivers the pending sent messages; this one removes nothing posted.
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void PumpPaintMessages()
{
    MSG msg;
    // Bounded: a window that never validates itself must not keep this thread here.
    for (int i = 0; i < 32 && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT); ++i)
        ::DispatchMessageA(&msg);
}

DWORD WaitPumpingSentMessages(HANDLE handle, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeoutMs != INFINITE) {
            const DWORD elapsed = ::GetTickCount() - start;
            remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        }
        const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, remaining, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1)
            return result;
        PumpSentMessages();
    }
}
