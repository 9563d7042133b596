#include "ui/RunPoster.h"

void CRunPoster::AttachWindow(HWND window)
{
    CriticalSectionLock lock(link_);
    window_ = window;
}

void CRunPoster::DetachWindow()
{
    HWND window = nullptr;
    {
        CriticalSectionLock lock(link_);
        window = window_;
        window_ = nullptr;
    }
    // A destroyed window's queued messages are dropped with their events in them.
    MSG msg;
    while (window && ::PeekMessageW(&msg, window, WM_RUN_EVENT, WM_RUN_EVENT, PM_REMOVE))
        TakeRunEvent(msg.lParam);
}

void CRunPoster::Post(RunEvent::Kind kind, LONG seconds, bool succeeded, const std::wstring& report)
{
    auto event = std::make_unique<RunEvent>(RunEvent{kind, seconds, succeeded, report});
    CriticalSectionLock lock(link_);
    if (window_ && ::PostMessageW(window_, WM_RUN_EVENT, 0, reinterpret_cast<LPARAM>(event.get())))
        event.release(); // the message owns it now
}

void CRunPoster::OnConversionStarted()
{
    Post(RunEvent::Kind::Started, 0, false, std::wstring());
}

void CRunPoster::OnGraphBuilt(const std::wstring& report)
{
    Post(RunEvent::Kind::GraphBuilt, 0, false, report);
}

void CRunPoster::OnProgressRange(LONG seconds)
{
    Post(RunEvent::Kind::ProgressRange, seconds, false, std::wstring());
}

void CRunPoster::OnProgressPosition(LONG seconds)
{
    Post(RunEvent::Kind::ProgressPosition, seconds, false, std::wstring());
}

void CRunPoster::OnConversionFinished(bool succeeded, const std::wstring& report, bool)
{
    Post(RunEvent::Kind::Finished, 0, succeeded, report);
}
