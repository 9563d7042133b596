#include "ui/ConverterDlg.h"

#include "app/ConverterApp.h"
#include "res/resource.h"

CConverterDlg::CConverterDlg()
    : CDialog(IDD_HALVERN_DIALOG),
      m_hIcon(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
}

INT_PTR CConverterDlg::DoModal()
{
    return RunOwnModal(ConverterApp().Settings.HideOnStartup == 0);
}

BOOL CConverterDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    OnCancelChanges();
    return TRUE;
}

bool CConverterDlg::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

void CConverterDlg::OnCancelChanges()
{
    const CConverterSettings& settings = ConverterApp().Settings;
    SetDlgItemText(IDC_INPUT_PATH, settings.InputPath.c_str());
    SetDlgItemText(IDC_OUTPUT_PATH, settings.OutputPath.c_str());
    SetDlgItemText(IDC_INPUT_EXT, settings.InputExt.c_str());
    SetDlgItemText(IDC_OUTPUT_EXT, settings.OutputExt.c_str());
    CheckDlgButton(IDC_DELETE_SOURCE, settings.DeleteSourceFile ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_HIDE_ON_STARTUP, settings.HideOnStartup ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_AUTOSTART, settings.AutoStartConvert ? BST_CHECKED : BST_UNCHECKED);
    EnableDlgItem(IDC_APPLY, FALSE);
    EnableDlgItem(IDC_CANCEL_CHANGES, FALSE);
}
