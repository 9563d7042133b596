#include "framework/FileDialog.h"

#include "framework/WinApp.h"

#include <cwchar>

namespace {

// Room for one path; the dialogs here never allow multiple selection.
constexpr size_t FileBufferSize = 1024;

} // namespace

std::wstring FileDialogFilter(const wchar_t* barFilter)
{
    std::wstring filter = barFilter ? barFilter : L"";
    for (wchar_t& c : filter) {
        if (c == L'|')
            c = L'\0';
    }
    // The list ends with an empty entry; a filter written without its closing "||" still ends.
    filter.append(2, L'\0');
    return filter;
}

CFileDialog::CFileDialog(BOOL openFileDialog, const wchar_t* defaultExt, const wchar_t* fileName, DWORD flags,
                         const wchar_t* filter, CWnd* parent)
    : m_open(openFileDialog), m_pParent(parent), m_file(FileBufferSize, L'\0')
{
    memset(&m_ofn, 0, sizeof(m_ofn));
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hInstance = ::GetModuleHandleW(nullptr);
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING;
    if (defaultExt) {
        m_defaultExt = defaultExt;
        m_ofn.lpstrDefExt = m_defaultExt.c_str();
    }
    if (filter) {
        m_filter = FileDialogFilter(filter);
        m_ofn.lpstrFilter = m_filter.c_str();
    }
    if (fileName)
        wcsncpy(m_file.data(), fileName, m_file.size() - 1);
    m_ofn.lpstrFile = m_file.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
}

INT_PTR CFileDialog::DoModal()
{
    HWND owner = nullptr;
    if (m_pParent)
        owner = m_pParent->m_hWnd;
    else if (AfxGetApp() && AfxGetApp()->m_pMainWnd)
        owner = AfxGetApp()->m_pMainWnd->m_hWnd;
    m_ofn.hwndOwner = owner;

    const BOOL chosen = m_open ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    m_file.back() = L'\0';
    return chosen ? IDOK : IDCANCEL;
}
