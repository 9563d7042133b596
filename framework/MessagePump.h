#pragma once
// Waits of a user-interface thread for threads that update its windows with synchronous messages:
// such a wait must keep handling what they send, or both threads stop.

#include <windows.h>

// Waits for the handle while handling the messages other threads send to this thread's windows.
DWORD WaitPumpingSentMessages(HANDLE handle, DWORD timeoutMs = INFINITE);

// Handles the messages other threads have sent to this thread's windows, and nothing else.
void PumpSentMessages();

// Repaints this thread's windows that need it, and handles nothing else.
void PumpPaintMessages();
