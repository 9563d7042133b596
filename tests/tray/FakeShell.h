#pragma once
// A scripted stand-in for the shell and the version queries, recording every record it is handed.
// Like the real shell it keeps one icon: it refuses to add an icon it shows, and to modify or
// delete one it does not. It must outlive the trays made from it: their destructors still call it.

#include "framework/Wnd.h"
#include "tray/SystemTray.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tray_test {

constexpr UINT kIconId = 128;

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAA record;
};

class FakeShell {
public:
    DWORD Version = 0x0A280105; // GetVersion of NT 5.1: major version in the low byte
    DWORD PlatformId = VER_PLATFORM_WIN32_NT;
    DWORD MajorVersion = 5;
    UINT CodePage = CP_ACP;

    // What a re-created taskbar knows: no icon.
    void RestartShell()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_ = false;
    }

    // Results that override the next shell calls in order; a queued FALSE changes nothing.
    void QueueResults(std::initializer_list<BOOL> results)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        results_.insert(results_.end(), results);
    }

    CSystemTray::Platform Make()
    {
        CSystemTray::Platform platform;
        platform.ShellNotifyIcon = [this](DWORD message, NOTIFYICONDATAA* record) {
            std::lock_guard<std::mutex> guard(mutex_);
            calls_.push_back({message, *record});
            if (!results_.empty()) {
                const BOOL queued = results_.front();
                results_.pop_front();
                if (!queued)
                    return FALSE;
            }
            const bool wasShown = shown_;
            if (message == NIM_ADD)
                shown_ = true;
            else if (message == NIM_DELETE)
                shown_ = false;
            return (message == NIM_ADD) != wasShown ? TRUE : FALSE;
        };
        platform.GetVersion = [this] { return Version; };
        platform.GetVersionEx = [this](OSVERSIONINFOA* info) {
            if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
                return FALSE; // as the real one refuses a record whose size was not set
            info->dwMajorVersion = MajorVersion;
            info->dwPlatformId = PlatformId;
            return TRUE;
        };
        platform.CodePage = CodePage;
        return platform;
    }

    size_t CallCount()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return calls_.size();
    }

    ShellCall LastCall()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return calls_.empty() ? ShellCall{} : calls_.back();
    }

private:
    std::mutex mutex_;
    std::vector<ShellCall> calls_;
    std::deque<BOOL> results_;
    bool shown_ = false;
};

// A real top-level window to stand for the main dialog.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, "Tray test owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr); }
};

// The add as the main dialog makes it.
inline BOOL AddHalvern(CSystemTray& tray, OwnerWindow& owner, const char* tooltip = "Halvern")
{
    return tray.AddToTray(&owner, WM_TRAY_CALLBACK, tooltip, ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), kIconId);
}

inline void SendTaskbarCreated(CSystemTray& tray)
{
    ::SendMessageA(tray.m_hWnd, TaskbarCreatedMessage(), 0, 0);
}

inline void SendWorkAreaChange(CSystemTray& tray)
{
    ::SendMessageA(tray.m_hWnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
}

inline std::string Field(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

} // namespace tray_test
