#pragma once
// What a conversion's reports need of the tray icon: balloons, and nothing else.

#include <windows.h>

class IBalloonNotices {
public:
    virtual ~IBalloonNotices() = default;
    // title null for none; icon kind 0 (none) or 3 (error).
    virtual BOOL ShowBalloonNotice(const wchar_t* text, const wchar_t* title, DWORD iconKind, UINT timeoutSeconds) = 0;
};
