#pragma once
// A scripted stand-in for the shell and the version queries, recording every record it is handed.
// Like the real shell it keeps one icon: it refuses to add an icon it shows, and to modify or
// delete one it does not. It must outlive the trays made from it: their destructors still call it.

#include "framework/Wnd.h"
#include "tray/SystemTray.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tray_test {

constexpr UINT kIconId = 128;

struct FakeShell {
    DWORD Version = 0x0A280105; // GetVersion of NT 5.1: major version in the low byte
    DWORD PlatformId = VER_PLATFORM_WIN32_NT;
    DWORD MajorVersion = 5;
    UINT CodePage = CP_ACP;
    bool Shown = false;       // a re-created taskbar shows no icon
    bool RefuseNext = false;  // the next call fails and changes nothing
    std::vector<NOTIFYICONDATAA> Calls; // the records, in order
    DWORD LastMessage = 0;

    CSystemTray::Platform Make()
    {
        CSystemTray::Platform platform;
        platform.ShellNotifyIcon = [this](DWORD message, NOTIFYICONDATAA* record) {
            Calls.push_back(*record);
            LastMessage = message;
            if (std::exchange(RefuseNext, false) || (message == NIM_ADD) == Shown)
                return FALSE;
            Shown = message != NIM_DELETE;
            return TRUE;
        };
        platform.GetVersion = [this] { return Version; };
        platform.GetVersionEx = [this](OSVERSIONINFOA* info) {
            info->dwMajorVersion = MajorVersion;
            info->dwPlatformId = PlatformId;
            return TRUE;
        };
        platform.CodePage = CodePage;
        return platform;
    }
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

inline void SendTaskbarCreated(CSystemTray& tray) { ::SendMessageA(tray.m_hWnd, TaskbarCreatedMessage(), 0, 0); }
inline void SendWorkAreaChange(CSystemTray& tray) { ::SendMessageA(tray.m_hWnd, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0); }

inline std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

} // namespace tray_test
