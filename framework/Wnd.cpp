#include "framework/Wnd.h"

#include <vector>

CWnd::~CWnd()
{
    // Dialogs destroy their own windows; this catches windows made by CreateEx.
    if (m_hWnd && ::IsWindow(m_hWnd)
        && ::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&StaticWindowProc))
        ::DestroyWindow(m_hWnd);
}

const wchar_t* CWndClassName()
{
    static const wchar_t* name = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &CWnd::StaticWindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"HalvernWnd";
        ::RegisterClassW(&wc);
        return L"HalvernWnd";
    }();
    return name;
}

BOOL CWnd::CreateEx(DWORD exStyle, const wchar_t* title, DWORD style, int x, int y, int width, int height,
                    HWND parent, HMENU menu)
{
    HWND hwnd = ::CreateWindowExW(exStyle, CWndClassName(), title, style, x, y, width, height, parent, menu,
                                  ::GetModuleHandleW(nullptr), this);
    return hwnd != nullptr;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    return ::DestroyWindow(m_hWnd);
}

std::wstring CWnd::GetDlgItemText(int id) const
{
    HWND item = GetDlgItem(id);
    int length = ::GetWindowTextLengthW(item);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    ::GetWindowTextW(item, text.data(), length + 1);
    return std::wstring(text.data());
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto* created = static_cast<CWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<CWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    LRESULT result = self->WindowProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}
