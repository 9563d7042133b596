#pragma once
// The conversion engine's observer: it posts what a run tells to the main window and goes on, never
// waiting for the window. The window shows it (CConverterDlg) when it takes the message.

#include "base/ScopedWin.h"
#include "convert/ConversionObserver.h"
#include "ui/RunEvent.h"

class CRunPoster : public IConversionObserver {
public:
    // From WM_INITDIALOG, on the window's thread.
    void AttachWindow(HWND window);
    // From WM_DESTROY, on the window's thread: nothing is posted to the window from then on, and
    // the events still queued for it are freed unseen.
    void DetachWindow();

    void OnConversionStarted(LONG run) override;
    void OnGraphBuilt(const std::wstring& report) override;
    void OnProgressRange(LONG seconds) override;
    void OnProgressPosition(LONG seconds) override;
    void OnConversionFinished(bool succeeded, const std::wstring& report, bool started) override;

private:
    // Without a window the event goes at once: nobody is there to see it.
    void Post(RunEvent event);

    // Held only while an event is posted, which never waits for the window, so that no post
    // reaches a window that has let go of its queue.
    CriticalSection link_;
    HWND window_ = nullptr;
};
