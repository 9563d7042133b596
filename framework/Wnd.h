#pragma once
// A window object bound to one HWND, with the helpers that dialog handlers use.

#include <windows.h>

#include <string>

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Creates a window whose class is CWndClassName(): its messages reach WindowProc.
    BOOL CreateEx(DWORD exStyle, const wchar_t* title, DWORD style, int x, int y, int width,
                  int height, HWND parent, HMENU menu);
    BOOL DestroyWindow();

    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void SetDlgItemText(int id, const wchar_t* text) { ::SetDlgItemTextW(m_hWnd, id, text); }
    std::wstring GetDlgItemText(int id) const;
    void EnableDlgItem(int id, BOOL enable) { ::EnableWindow(GetDlgItem(id), enable); }
    UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
    void CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }
    LRESULT SendDlgItemMessage(int id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendDlgItemMessageW(m_hWnd, id, msg, wParam, lParam);
    }
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendMessageW(m_hWnd, msg, wParam, lParam);
    }

    HWND m_hWnd = nullptr;

protected:
    // Messages of windows made by CreateEx; the default hands them to DefWindowProc.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

public:
    static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// BeginPaint/EndPaint of one WM_PAINT, as a scoped object.
class CPaintDC {
public:
    explicit CPaintDC(HWND window) : m_window(window), m_hDC(::BeginPaint(window, &m_ps)) {}
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC() { ::EndPaint(m_window, &m_ps); }

    HDC GetSafeHdc() const { return m_hDC; }

private:
    HWND m_window;
    PAINTSTRUCT m_ps = {};
    HDC m_hDC;
};

// The window class of CWnd::CreateEx, registered once per process: no class style,
// cursor, background brush or icon.
const wchar_t* CWndClassName();
