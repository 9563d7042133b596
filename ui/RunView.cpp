#include "ui/RunView.h"

#include "framework/MessagePump.h"
#include "res/resource.h"

#include <commctrl.h>

namespace {

constexpr UINT kBalloonSeconds = 10;
constexpr DWORD kErrorIcon = 3;
const char kErrorTitle[] = "ERROR";

} // namespace

class CRunView::LinkLock {
public:
    LinkLock(HANDLE mutex, bool pumpSentMessages) : mutex_(mutex)
    {
        if (pumpSentMessages)
            WaitPumpingSentMessages(mutex_);
        else
            ::WaitForSingleObject(mutex_, INFINITE);
    }
    LinkLock(const LinkLock&) = delete;
    LinkLock& operator=(const LinkLock&) = delete;
    ~LinkLock() { ::ReleaseMutex(mutex_); }

private:
    HANDLE mutex_;
};

CRunView::CRunView(IBalloonNotices& balloons, std::function<bool()> autoConverterRunning)
    : balloons_(balloons),
      autoConverterRunning_(std::move(autoConverterRunning)),
      mutex_(::CreateMutexA(nullptr, FALSE, nullptr))
{
}

void CRunView::AttachWindow(HWND window)
{
    LinkLock lock(mutex_.Get(), true);
    state_ = LinkState::Attached;
    window_ = window;
}

void CRunView::DetachWindow()
{
    LinkLock lock(mutex_.Get(), true);
    state_ = LinkState::Detached;
    window_ = nullptr;
}

void CRunView::WithWindow(const std::function<void(HWND window)>& update)
{
    LinkLock lock(mutex_.Get(), false);
    if (state_ == LinkState::Attached && ::IsWindow(window_))
        update(window_);
}

void CRunView::ShowBalloon(const std::string& text, const char* title, DWORD iconKind)
{
    {
        LinkLock lock(mutex_.Get(), false);
        if (state_ == LinkState::Detached)
            return; // the program is ending: nobody is there to read it
    }
    balloons_.ShowBalloonNotice(text.c_str(), title, iconKind, kBalloonSeconds);
}

void CRunView::OnConversionStarted()
{
    WithWindow([](HWND window) {
        ::EnableWindow(::GetDlgItem(window, IDC_STOP_AUTO), FALSE);
        ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, "Cancel Conversion!");
    });
}

void CRunView::OnGraphBuilt(const std::string& report)
{
    ShowBalloon(report, nullptr, 0);
}

void CRunView::OnProgressRange(LONG seconds)
{
    WithWindow([seconds](HWND window) { ::SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETRANGE32, 0, seconds); });
}

void CRunView::OnProgressPosition(LONG seconds)
{
    WithWindow([seconds](HWND window) {
        ::SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(seconds), 0);
        ::UpdateWindow(::GetDlgItem(window, IDC_PROGRESS));
    });
}

// The controls come back also after a run that never started: the single-file command has shown it
// as running already.
void CRunView::OnConversionFinished(bool succeeded, const std::string& report, bool)
{
    if (succeeded)
        ShowBalloon(report, nullptr, 0);
    else
        ShowBalloon(report, kErrorTitle, kErrorIcon);
    // Asked only while the window is there: at exit the Auto Converter may be gone already.
    WithWindow([this](HWND window) {
        ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, "Convert Single File...");
        ::EnableWindow(::GetDlgItem(window, IDC_CONVERT_SINGLE), TRUE);
        if (autoConverterRunning_())
            ::EnableWindow(::GetDlgItem(window, IDC_STOP_AUTO), TRUE);
    });
}
