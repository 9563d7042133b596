#include "framework/MessageBox.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

int AfxMessageBox(const wchar_t* text, UINT type)
{
    type = (type & ~MB_ICONMASK) | MB_ICONWARNING;
    CWinApp* app = AfxGetApp();
    HWND owner = nullptr;
    if (app && app->m_pMainWnd && ::IsWindow(app->m_pMainWnd->m_hWnd))
        owner = app->m_pMainWnd->m_hWnd;
    const wchar_t* caption = app ? app->m_appName.c_str() : L"";
    return ::MessageBoxW(owner, text, caption, type);
}
