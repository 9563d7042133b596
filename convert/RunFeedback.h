#pragma once
// What a conversion run shows: balloons on the tray icon and the main window's controls. Runs
// update the controls from their own threads with synchronous messages, so the main window is
// reached only through this link, which the dialog cuts when its window goes away.

#include <windows.h>

#include <functional>
#include <string>

// The dialog calls this from WM_INITDIALOG with its window. Until a window is attached, runs use
// the application's main window (m_pMainWnd) as it stands.
void AttachConversionWindow(HWND window);

// The dialog calls this from WM_DESTROY, on its own thread: once it returns, no run touches the
// window again. A run in the middle of an update is let finish; the messages it sends meanwhile
// are handled here.
void DetachConversionWindow();

// Runs update with the main window while that window cannot go away; does nothing without one.
void WithConversionWindow(const std::function<void(HWND window)>& update);

// Waits for the handle while handling the messages other threads send to this thread's windows,
// so a user-interface thread can wait for a thread that updates its windows synchronously.
DWORD WaitPumpingSentMessages(HANDLE handle, DWORD timeoutMs = INFINITE);

// Handles the messages other threads have sent to this thread's windows, and nothing else.
void PumpSentMessages();

// Repaints this thread's windows that need it, and handles nothing else.
void PumpPaintMessages();

// A balloon on the tray icon: title null for none, icon kind 0 (none) or 3 (error). None is shown
// once the main window has gone.
void ShowRunBalloon(const std::string& text, const char* title, DWORD iconKind);

// Tests observe balloons here instead of on the application's tray; an empty sink restores the
// tray. Set it only while no run is in progress.
using BalloonSink = std::function<void(const std::string& text, const char* title, DWORD iconKind, UINT timeoutSeconds)>;
void SetBalloonSinkForTests(BalloonSink sink);
