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

namespace {

RunEvent EventOf(RunEvent::Kind kind)
{
    RunEvent event{};
    event.kind = kind;
    return event;
}

} // namespace

void CRunPoster::Post(RunEvent event)
{
    auto posted = std::make_unique<RunEvent>(std::move(event));
    CriticalSectionLock lock(link_);
    if (window_ && ::PostMessageW(window_, WM_RUN_EVENT, 0, reinterpret_cast<LPARAM>(posted.get())))
        posted.release(); // the message owns it now
}

void CRunPoster::OnConversionStarted(LONG run)
{
    RunEvent event = EventOf(RunEvent::Kind::Started);
    event.run = run;
    Post(std::move(event));
}

void CRunPoster::OnGraphBuilt(const std::wstring& report)
{
    RunEvent event = EventOf(RunEvent::Kind::GraphBuilt);
    event.report = report;
    Post(std::move(event));
}

void CRunPoster::OnProgressRange(LONG seconds)
{
    RunEvent event = EventOf(RunEvent::Kind::ProgressRange);
    event.seconds = seconds;
    Post(std::move(event));
}

void CRunPoster::OnProgressPosition(LONG seconds)
{
    RunEvent event = EventOf(RunEvent::Kind::ProgressPosition);
    event.seconds = seconds;
    Post(std::move(event));
}

void CRunPoster::OnConversionFinished(bool succeeded, const std::wstring& report, bool)
{
    RunEvent event = EventOf(RunEvent::Kind::Finished);
    event.succeeded = succeeded;
    event.report = report;
    Post(std::move(event));
}
