#pragma once
// A scripted stand-in for the shell and the version queries, recording every record it is handed.
// It must outlive the trays made from it: their destructors still call the shell.

#include "framework/Wnd.h"
#include "tray/SystemTray.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tray_test {

// GetVersion results: major version in the low byte, minor in the next, bit 31 for the 9x family.
constexpr DWORD kVersionXp = 0x0A280105;      // NT 5.1, build 2600
constexpr DWORD kVersionNt4 = 0x05650004;     // NT 4.0, build 1381
constexpr DWORD kVersion98 = 0xC0000A04;      // Windows 98, 4.10
constexpr DWORD kVersionWin32s = 0x80000A03;  // 3.10: no notification area

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAA record;
};

class FakeShell {
public:
    DWORD Version = kVersionXp;
    DWORD PlatformId = VER_PLATFORM_WIN32_NT;
    DWORD MajorVersion = 5;
    BOOL VersionExResult = TRUE;
    UINT CodePage = CP_ACP;

    // The results of the next shell calls in order; TRUE once they are used up.
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
            if (results_.empty())
                return TRUE;
            BOOL result = results_.front();
            results_.pop_front();
            return result;
        };
        platform.GetVersion = [this] { return Version; };
        platform.GetVersionEx = [this](OSVERSIONINFOA* info) {
            // The real function refuses a record whose size field was not set.
            if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)
                && info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))
                return FALSE;
            if (!VersionExResult)
                return FALSE;
            info->dwMajorVersion = MajorVersion;
            info->dwMinorVersion = 0;
            info->dwPlatformId = PlatformId;
            return TRUE;
        };
        platform.CodePage = CodePage;
        return platform;
    }

    std::vector<ShellCall> Calls()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return calls_;
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
};

// A real top-level window to stand for the main dialog.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, "Tray test owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr); }
};

// What the main dialog passes to AddToTray.
constexpr UINT kIconId = 128;
inline HICON TestIcon()
{
    return ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); // IDI_APPLICATION
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
