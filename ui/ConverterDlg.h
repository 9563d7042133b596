#pragma once
// The main window: settings, graph choice, the commands and the conversion's progress.

#include "framework/Dialog.h"

class CConverterDlg : public CDialog {
public:
    CConverterDlg();

    // Shows the window at the first idle moment only when HideOnStartup is 0.
    INT_PTR DoModal() override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

    void OnCancelChanges();

    HICON m_hIcon;
};
