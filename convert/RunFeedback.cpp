#include "convert/RunFeedback.h"

#include "app/ConverterApp.h"
#include "framework/ScopedWin.h"

namespace {

constexpr UINT kBalloonSeconds = 10;

enum class LinkState { FollowMainWindow, Attached, Detached };

struct WindowLink {
    // A mutex rather than a critical section: the user-interface thread waits for it with
    // MsgWaitForMultipleObjects so that it can handle the holder's sent messages meanwhile.
    UniqueHandle mutex{::CreateMutexA(nullptr, FALSE, nullptr)};
    LinkState state = LinkState::FollowMainWindow;
    HWND window = nullptr;
};

WindowLink& Link()
{
    static WindowLink link;
    return link;
}

BalloonSink& Sink()
{
    static BalloonSink sink;
    return sink;
}

class LinkLock {
public:
    explicit LinkLock(bool pumpSentMessages)
    {
        HANDLE mutex = Link().mutex.Get();
        if (pumpSentMessages)
            WaitPumpingSentMessages(mutex);
        else
            ::WaitForSingleObject(mutex, INFINITE);
    }
    LinkLock(const LinkLock&) = delete;
    LinkLock& operator=(const LinkLock&) = delete;
    ~LinkLock() { ::ReleaseMutex(Link().mutex.Get()); }
};

} // namespace

void AttachConversionWindow(HWND window)
{
    LinkLock lock(true);
    Link().state = LinkState::Attached;
    Link().window = window;
}

void DetachConversionWindow()
{
    LinkLock lock(true);
    Link().state = LinkState::Detached;
    Link().window = nullptr;
}

void WithConversionWindow(const std::function<void(HWND window)>& update)
{
    LinkLock lock(false);
    HWND window = nullptr;
    switch (Link().state) {
    case LinkState::Attached:
        window = Link().window;
        break;
    case LinkState::FollowMainWindow:
        if (CWnd* main = ConverterApp().m_pMainWnd)
            window = main->GetSafeHwnd();
        break;
    case LinkState::Detached:
        break;
    }
    if (window && ::IsWindow(window))
        update(window);
}

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

void ShowRunBalloon(const std::string& text, const char* title, DWORD iconKind)
{
    {
        LinkLock lock(false);
        if (Link().state == LinkState::Detached)
            return; // the program is ending: nobody is there to read it
    }
    if (const BalloonSink& sink = Sink())
        sink(text, title, iconKind, kBalloonSeconds);
    else
        ConverterApp().Tray.ShowBalloonNotice(text.c_str(), title, iconKind, kBalloonSeconds);
}

void SetBalloonSinkForTests(BalloonSink sink)
{
    Sink() = std::move(sink);
}
