#include "framework/MessageBox.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

namespace {

MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler;
    return handler;
}

} // namespace

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    Handler() = std::move(handler);
}

int AfxMessageBox(const char* text, UINT type)
{
    type = (type & ~MB_ICONMASK) | MB_ICONWARNING;
    if (Handler())
        return Handler()(text, type);
    CWinApp* app = AfxGetApp();
    HWND owner = nullptr;
    if (app && app->m_pMainWnd && ::IsWindow(app->m_pMainWnd->m_hWnd))
        owner = app->m_pMainWnd->m_hWnd;
    const char* caption = app ? app->m_appName.c_str() : "";
    return ::MessageBoxA(owner, text, caption, type);
}
