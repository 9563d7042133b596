#include "framework/Dialog.h"

#include "framework/WinApp.h"

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParent(parent) {}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal()
{
    HWND owner = nullptr;
    if (m_pParent)
        owner = m_pParent->m_hWnd;
    else if (AfxGetApp() && AfxGetApp()->m_pMainWnd)
        owner = AfxGetApp()->m_pMainWnd->m_hWnd;
    m_ownLoop = false;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner,
                             &StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialog::RunOwnModal(bool showOnIdle)
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(m_templateId), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
    auto* dialogTemplate = loaded ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
    if (!dialogTemplate)
        return -1;

    m_ownLoop = true;
    m_ended = false;
    m_result = -1;
    try {
        HWND hwnd = ::CreateDialogIndirectParamW(instance, dialogTemplate, nullptr, &StaticDialogProc,
                                                 reinterpret_cast<LPARAM>(this));
        if (hwnd && !m_ended)
            RunModalLoop(showOnIdle);
    } catch (...) {
        m_result = -1;
    }
    if (m_hWnd) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
        ::DestroyWindow(m_hWnd);
    }
    m_ownLoop = false;
    return m_result;
}

void CDialog::RunModalLoop(bool showOnIdle)
{
    bool shown = !showOnIdle;
    MSG msg;
    // A window destroyed from outside ends the run as well; nothing could end it otherwise.
    while (!m_ended && m_hWnd) {
        if (!shown && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            shown = true;
            ShowWindow(SW_SHOWNORMAL);
            ::UpdateWindow(m_hWnd);
        }
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // Keep the quit request for whoever runs the outer loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        if (!m_hWnd || !::IsDialogMessageW(m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CDialog::EndDialog(INT_PTR result)
{
    m_result = result;
    if (m_ownLoop) {
        m_ended = true;
        if (m_hWnd)
            ::PostMessageW(m_hWnd, WM_NULL, 0, 0); // wake the loop
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, result);
    }
}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

INT_PTR CDialog::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG)
        return OnInitDialog();
    // Enter, Escape, the close button and OK/Cancel buttons all arrive as these two commands.
    if (msg == WM_COMMAND && LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    INT_PTR result = FALSE;
    if (OnMessage(msg, wParam, lParam, result))
        return result;
    return FALSE;
}

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        auto* created = reinterpret_cast<CDialog*>(lParam);
        created->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    INT_PTR result = self->DialogProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}
