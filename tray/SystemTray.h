#pragma once
// The notification-area icon and its balloons. Its own hidden top-level window receives the
// shell's broadcasts ("TaskbarCreated", work-area changes) so the icon can put itself back.

#include "base/ScopedWin.h"
#include "framework/Wnd.h"
#include "tray/BalloonNotices.h"

#include <shellapi.h>

#include <functional>

constexpr UINT WM_TRAY_CALLBACK = WM_APP + 10;

class CSystemTray : public CWnd, public IBalloonNotices {
public:
    // Seams for tests. A function left empty is the real one (Shell_NotifyIconA, GetVersion,
    // GetVersionExA); the code page of the text fields is the system's ANSI code page by default.
    struct Platform {
        std::function<BOOL(DWORD message, NOTIFYICONDATAA* record)> ShellNotifyIcon;
        std::function<DWORD()> GetVersion;
        std::function<BOOL(OSVERSIONINFOA* info)> GetVersionEx;
        UINT CodePage = CP_ACP;
    };

    CSystemTray();
    explicit CSystemTray(Platform platform);
    ~CSystemTray() override;

    BOOL AddToTray(CWnd* owner, UINT callbackMessage, const char* tooltip, HICON icon, UINT iconId);
    BOOL ShowBalloonNotice(const char* text, const char* title, DWORD iconKind, UINT timeoutSeconds) override;
    BOOL RemoveFromTray();
    // At exit, once the window the icon belongs to has gone: the icon stays, with the tip given,
    // until RemoveFromTray, owned by the tray's own window (the shell drops an icon whose window
    // has gone). It no longer answers the mouse.
    BOOL KeepWhileClosing(const char* tooltip);

    NOTIFYICONDATAA IconRecord;
    BOOL TrayAvailable;
    BOOL IconAbsent;
    BOOL IconDeleted;
    BOOL BalloonsAvailable;
    UINT AddFlags;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void OnSettingChange(UINT flag, const char* section);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    void ReaddIcon();

    Platform platform_;
    // Asked for by AddToTray and given up only by a delete: the broadcasts bring the icon back
    // whenever it should be there, also after a first add that found no taskbar yet.
    BOOL iconWanted_ = FALSE;
    // Balloons come from conversion threads while the UI thread may re-add or delete: each
    // operation's writes to IconRecord and its shell call happen under this lock.
    CriticalSection recordLock_;
};

// The identifier of the shell's "TaskbarCreated" broadcast, registered at program start.
UINT TaskbarCreatedMessage();

// Copies text into a fixed byte field of the given size: whole characters of the code page up to
// size - 1 bytes, a double-byte character that would not fit dropped whole, the rest zero-filled.
void CopyTextField(char* field, size_t size, const char* text, UINT codePage);
