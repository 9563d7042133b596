#include "framework/FileDialog.h"

#include "framework/WinApp.h"

#include <cstring>

namespace {

// Room for one path; the dialogs here never allow multiple selection.
constexpr size_t kFileBufferSize = 1024;

} // namespace

std::string FileDialogFilter(const char* barFilter)
{
    std::string filter = barFilter ? barFilter : "";
    for (char& c : filter) {
        if (c == '|')
            c = '\0';
    }
    // The list ends with an empty entry; a filter written without its closing "||" still ends.
    filter.append(2, '\0');
    return filter;
}

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent)
    : m_open(openFileDialog), m_pParent(parent), m_file(kFileBufferSize, '\0')
{
    memset(&m_ofn, 0, sizeof(m_ofn));
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hInstance = ::GetModuleHandleA(nullptr);
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
        strncpy(m_file.data(), fileName, m_file.size() - 1);
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

    const BOOL chosen = m_open ? ::GetOpenFileNameA(&m_ofn) : ::GetSaveFileNameA(&m_ofn);
    m_file.back() = '\0';
    return chosen ? IDOK : IDCANCEL;
}
