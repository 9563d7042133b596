#pragma once
// The notification-area icon and its balloons. Its own hidden top-level window receives the
// shell's broadcasts ("TaskbarCreated", work-area changes) so the icon can put itself back. Used on
// the UI thread alone: conversions reach it through the main window's messages.

#include "framework/Wnd.h"
#include "tray/BalloonNotices.h"

#include <shellapi.h>

#include <functional>

constexpr UINT WM_TRAY_CALLBACK = WM_APP + 10;

class CSystemTray : public CWnd, public IBalloonNotices {
public:
    // Seams for tests. A function left empty is the real one (Shell_NotifyIconW, GetVersion,
    // GetVersionExW).
    struct Platform {
        std::function<BOOL(DWORD message, NOTIFYICONDATAW* record)> ShellNotifyIcon;
        std::function<DWORD()> GetVersion;
        std::function<BOOL(OSVERSIONINFOW* info)> GetVersionEx;
    };

    CSystemTray();
    explicit CSystemTray(Platform platform);
    ~CSystemTray() override;

    BOOL AddToTray(CWnd* owner, UINT callbackMessage, const wchar_t* tooltip, HICON icon, UINT iconId);
    BOOL ShowBalloonNotice(const wchar_t* text, const wchar_t* title, DWORD iconKind, UINT timeoutSeconds) override;
    BOOL RemoveFromTray();
    // At exit, once the window the icon belongs to has gone: the icon stays, with the tip given,
    // until RemoveFromTray, owned by the tray's own window (the shell drops an icon whose window
    // has gone). It no longer answers the mouse.
    BOOL KeepWhileClosing(const wchar_t* tooltip);

    NOTIFYICONDATAW IconRecord;
    BOOL TrayAvailable;
    BOOL IconAbsent;
    BOOL IconDeleted;
    BOOL BalloonsAvailable;
    UINT AddFlags;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void OnSettingChange(UINT flag, const wchar_t* section);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    void ReaddIcon();

    Platform platform_;
    // Asked for by AddToTray and given up only by a delete: the broadcasts bring the icon back
    // whenever it should be there, also after a first add that found no taskbar yet.
    BOOL iconWanted_ = FALSE;
};

// The identifier of the shell's "TaskbarCreated" broadcast, registered at program start.
UINT TaskbarCreatedMessage();

// Copies text into a fixed field of the given size in UTF-16 units: whole characters up to size - 1
// units, a surrogate pair that would not fit dropped whole, the rest zero-filled.
void CopyTextField(wchar_t* field, size_t size, const wchar_t* text);
