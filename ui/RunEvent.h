#pragma once
// A conversion run's news for the main window: posted to it from the run's thread as WM_RUN_EVENT,
// the event in lParam. The message owns the event; whoever takes the message frees it.

#include <windows.h>

#include <memory>
#include <string>

constexpr UINT WM_RUN_EVENT = WM_APP + 11; // WM_APP + 10 is the tray icon's

struct RunEvent {
    enum class Kind { Started, GraphBuilt, ProgressRange, ProgressPosition, Finished };
    Kind kind;
    LONG run = 0;           // of a started run: what cancels it
    LONG seconds = 0;       // the progress range or position
    bool succeeded = false; // of a finished run
    std::wstring report;    // of a built graph or a finished run
};

// The event of a WM_RUN_EVENT message, owned by the caller from now on.
inline std::unique_ptr<RunEvent> TakeRunEvent(LPARAM lParam)
{
    return std::unique_ptr<RunEvent>(reinterpret_cast<RunEvent*>(lParam));
}
