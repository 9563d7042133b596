#include "framework/MessageBox.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

int AfxMessageBox(const char* text, UINT type)
{
    type = (type & ~MB_ICONMASK) | MB_ICONWARNING;
    CWinApp* app = AfxGetApp();
    HWND owner = nullptr;
    if (app && app->m_pMainWnd && ::IsWindow(app->m_pMainWnd->m_hWnd))
        owner = app->m_pMainWnd->m_hWnd;
    const char* caption = app ? app->m_appName.c_str() : "";
    return ::MessageBoxA(owner, text, caption, type);
}
