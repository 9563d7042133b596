#pragma once
// The about box of the system menu; it closes with its OK button.

#include "framework/Dialog.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* parent = nullptr);
};
