#include "framework/Wnd.h"

#include <vector>

CWnd::~CWnd()
{
    // Dialogs destroy their own windows; this catches windows made by CreateEx.
    if (m_hWnd && ::IsWindow(m_hWnd)
        && ::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&StaticWindowProc))
        ::DestroyWindow(m_hWnd);
}

const char* CWndClassName()
{
    static const char* name = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &CWnd::StaticWindowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "HalvernWnd";
        ::RegisterClassA(&wc);
        return "HalvernWnd";
    }();
    return name;
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* title, DWORD style, int x, int y, int width, int height,
                    HWND parent, HMENU menu)
{
    HWND hwnd = ::CreateWindowExA(exStyle, CWndClassName(), title, style, x, y, width, height, parent, menu,
                                  ::GetModuleHandleA(nullptr), this);
    return hwnd != nullptr;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    return ::DestroyWindow(m_hWnd);
}

std::string CWnd::GetDlgItemText(int id) const
{
    HWND item = GetDlgItem(id);
    int length = ::GetWindowTextLengthA(item);
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    ::GetWindowTextA(item, text.data(), length + 1);
    return std::string(text.data());
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto* created = static_cast<CWnd*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        created->m_hWnd = hwnd;
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<CWnd*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    LRESULT result = self->WindowProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}
