#pragma once
// The system's open and save dialogs, with the filter given in bar notation:
//     "Text (*.txt)|*.txt|All Files (*.*)|*.*||"

#include "framework/Wnd.h"

#include <commdlg.h>

#include <string>
#include <vector>

class CFileDialog {
public:
    // defaultExt, fileName and filter may be null. The owner is parent, else the main window.
    CFileDialog(BOOL openFileDialog, const wchar_t* defaultExt = nullptr, const wchar_t* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const wchar_t* filter = nullptr,
                CWnd* parent = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user chose a file, IDCANCEL otherwise.
    INT_PTR DoModal();

    std::wstring GetPathName() const { return m_file.data(); }

    // The record handed to the system; filled by the constructor, owner set by DoModal.
    OPENFILENAMEW m_ofn;

private:
    BOOL m_open;
    CWnd* m_pParent;
    std::wstring m_defaultExt;
    std::wstring m_filter; // NUL-separated, ending in two NULs
    std::vector<wchar_t> m_file;
};

// Bar notation to the system's form: every '|' becomes a NUL, so "a|b||" gives "a\0b\0\0".
std::wstring FileDialogFilter(const wchar_t* barFilter);
