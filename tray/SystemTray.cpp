#include "tray/SystemTray.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace {

// Registered before the application starts, so the tray window knows the broadcast.
const UINT g_taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");

// The version-2 record: everything up to and including dwInfoFlags, without guidItem, so that
// shells older than the record's current form accept it.
constexpr DWORD RecordSize = NOTIFYICONDATAW_V2_SIZE;
static_assert(RecordSize == RTL_SIZEOF_THROUGH_FIELD(NOTIFYICONDATAW, dwInfoFlags),
              "the record handed to the shell ends with dwInfoFlags");
#ifndef _WIN64
static_assert(RecordSize == 936, "the 32-bit shell expects a version-2 record of 936 bytes");
#endif

// Fills in the real platform for every function a caller left empty.
CSystemTray::Platform CompletePlatform(CSystemTray::Platform platform)
{
    if (!platform.ShellNotifyIcon)
        platform.ShellNotifyIcon = [](DWORD message, NOTIFYICONDATAW* record) {
            return ::Shell_NotifyIconW(message, record);
        };
    if (!platform.GetVersion)
        platform.GetVersion = [] { return ::GetVersion(); };
    if (!platform.GetVersionEx)
        platform.GetVersionEx = [](OSVERSIONINFOW* info) { return ::GetVersionExW(info); };
    return platform;
}

} // namespace

UINT TaskbarCreatedMessage()
{
    return g_taskbarCreated;
}

void CopyTextField(wchar_t* field, size_t size, const wchar_t* text)
{
    wmemset(field, L'\0', size);
    if (!text || size == 0)
        return;
    size_t used = 0;
    while (text[used] != L'\0') {
        const size_t length = IS_HIGH_SURROGATE(text[used]) && IS_LOW_SURROGATE(text[used + 1]) ? 2 : 1;
        if (used + length > size - 1)
            break; // a character that does not fit whole is dropped whole
        used += length;
    }
    wmemcpy(field, text, used);
}

CSystemTray::CSystemTray() : CSystemTray(Platform()) {}

CSystemTray::CSystemTray(Platform platform) : platform_(CompletePlatform(std::move(platform)))
{
    memset(&IconRecord, 0, sizeof(IconRecord));
    TrayAvailable = FALSE;
    IconAbsent = TRUE;
    IconDeleted = TRUE;
    AddFlags = 0;

    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    BalloonsAvailable = platform_.GetVersionEx(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT
        && version.dwMajorVersion >= 5;
}

CSystemTray::~CSystemTray()
{
    RemoveFromTray();
    DestroyWindow();
}

BOOL CSystemTray::AddToTray(CWnd* owner, UINT callbackMessage, const wchar_t* tooltip, HICON icon, UINT iconId)
{
    TrayAvailable = LOBYTE(LOWORD(platform_.GetVersion())) >= 4;
    if (!TrayAvailable)
        return FALSE;

    // Top-level so that the shell's broadcasts reach it, WS_POPUP alone so that it is never
    // shown. Without it the icon merely does not come back after a taskbar restart.
    if (!m_hWnd)
        CreateEx(0, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr);

    IconRecord.cbSize = RecordSize;
    IconRecord.hWnd = owner ? owner->GetSafeHwnd() : nullptr;
    IconRecord.uID = iconId;
    IconRecord.uCallbackMessage = callbackMessage;
    IconRecord.hIcon = icon;
    IconRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    CopyTextField(IconRecord.szTip, ARRAYSIZE(IconRecord.szTip), tooltip);

    IconAbsent = FALSE;
    iconWanted_ = TRUE;
    AddFlags = IconRecord.uFlags;
    BOOL added = platform_.ShellNotifyIcon(NIM_ADD, &IconRecord);
    IconAbsent = IconDeleted = !added;
    return added;
}

BOOL CSystemTray::ShowBalloonNotice(const wchar_t* text, const wchar_t* title, DWORD iconKind, UINT timeoutSeconds)
{
    if (!BalloonsAvailable)
        return FALSE;
    IconRecord.uFlags = NIF_INFO;
    CopyTextField(IconRecord.szInfo, ARRAYSIZE(IconRecord.szInfo), text);
    CopyTextField(IconRecord.szInfoTitle, ARRAYSIZE(IconRecord.szInfoTitle), title ? title : L"");
    IconRecord.dwInfoFlags = iconKind;
    IconRecord.uTimeout = timeoutSeconds * 1000;
    BOOL shown = platform_.ShellNotifyIcon(NIM_MODIFY, &IconRecord);
    IconRecord.szInfo[0] = L'\0'; // so that a later re-add repeats no balloon
    return shown;
}

BOOL CSystemTray::RemoveFromTray()
{
    if (!TrayAvailable || IconDeleted) {
        iconWanted_ = FALSE;
        return TRUE;
    }
    IconRecord.uFlags = 0;
    if (platform_.ShellNotifyIcon(NIM_DELETE, &IconRecord)) {
        IconAbsent = IconDeleted = TRUE;
        iconWanted_ = FALSE;
    }
    return IconDeleted;
}

BOOL CSystemTray::KeepWhileClosing(const wchar_t* tooltip)
{
    if (!TrayAvailable || !iconWanted_ || !m_hWnd)
        return FALSE;
    IconRecord.uFlags = 0;
    if (!IconDeleted)
        platform_.ShellNotifyIcon(NIM_DELETE, &IconRecord);
    IconRecord.hWnd = m_hWnd;
    IconRecord.uCallbackMessage = 0;
    IconRecord.uFlags = AddFlags = NIF_ICON | NIF_TIP;
    CopyTextField(IconRecord.szTip, ARRAYSIZE(IconRecord.szTip), tooltip);
    const BOOL added = platform_.ShellNotifyIcon(NIM_ADD, &IconRecord);
    IconAbsent = IconDeleted = !added;
    return added;
}

void CSystemTray::ReaddIcon()
{
    if (!iconWanted_)
        return;
    IconRecord.uFlags = AddFlags;
    // The shell refuses to add an icon that it still shows, as after a work-area change: an add
    // it refuses counts as failed only when the icon is not there to be modified either.
    const BOOL shown = platform_.ShellNotifyIcon(NIM_ADD, &IconRecord)
        || platform_.ShellNotifyIcon(NIM_MODIFY, &IconRecord);
    IconAbsent = !shown;
    if (shown)
        IconDeleted = FALSE;
}

void CSystemTray::OnSettingChange(UINT flag, const wchar_t*)
{
    if (flag == SPI_SETWORKAREA)
        ReaddIcon();
}

LRESULT CSystemTray::OnTaskbarCreated(WPARAM, LPARAM)
{
    ReaddIcon();
    return 0;
}

LRESULT CSystemTray::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_SETTINGCHANGE) {
        LRESULT result = CWnd::WindowProc(msg, wParam, lParam);
        OnSettingChange(static_cast<UINT>(wParam), reinterpret_cast<const wchar_t*>(lParam));
        return result;
    }
    if (msg == g_taskbarCreated && g_taskbarCreated != 0)
        return OnTaskbarCreated(wParam, lParam);
    return CWnd::WindowProc(msg, wParam, lParam);
}
