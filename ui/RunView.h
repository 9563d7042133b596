#pragma once
// How conversion runs show in the main window: the convert button's caption, the Stop button and
// the progress bar, plus balloons on the tray icon. Runs call in from their own threads and update
// the controls with synchronous messages, so the window is reached only through a link that the
// dialog makes when its window exists and cuts when the window goes away.

#include "convert/ConversionObserver.h"
#include "framework/ScopedWin.h"
#include "tray/BalloonNotices.h"

#include <functional>

class CRunView : public IConversionObserver {
public:
    // autoConverterRunning tells, at the end of a run, whether the Stop button comes back: a worker
    // runs and no stop of it is pending.
    CRunView(IBalloonNotices& balloons, std::function<bool()> autoConverterRunning);

    // From WM_INITDIALOG, on the window's thread.
    void AttachWindow(HWND window);
    // From WM_DESTROY, on the window's thread: once it returns, no run touches the window, and no
    // balloon is shown. A run in the middle of an update is let finish; the messages it sends
    // meanwhile are handled here.
    void DetachWindow();

    void OnConversionStarted() override;
    void OnGraphBuilt(const std::string& report) override;
    void OnProgressRange(LONG seconds) override;
    void OnProgressPosition(LONG seconds) override;
    void OnConversionFinished(bool succeeded, const std::string& report, bool started) override;

private:
    enum class LinkState { NoWindowYet, Attached, Detached };
    class LinkLock;

    // Runs update with the window while it cannot go away; does nothing without one.
    void WithWindow(const std::function<void(HWND window)>& update);
    void ShowBalloon(const std::string& text, const char* title, DWORD iconKind);

    IBalloonNotices& balloons_;
    const std::function<bool()> autoConverterRunning_;
    // A mutex rather than a critical section: the window's thread waits for it with
    // MsgWaitForMultipleObjects so that it can handle the holder's sent messages meanwhile.
    UniqueHandle mutex_;
    LinkState state_ = LinkState::NoWindowYet;
    HWND window_ = nullptr;
};
