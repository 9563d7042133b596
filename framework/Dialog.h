#pragma once
// Dialogs from .rc templates: the ordinary modal run, and a modal run of the dialog's own
// that leaves the window hidden unless told to show it at the first idle moment.

#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // The ordinary modal run; the owner (the parent, else the main window) is disabled meanwhile.
    virtual INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    // Runs the dialog with no owner. The window shows itself when the loop first becomes idle only
    // when showOnIdle is true; the template should not be visible. Gives -1 when the template
    // cannot be loaded or the run throws.
    INT_PTR RunOwnModal(bool showOnIdle);

    // Every message but WM_INITDIALOG and the IDOK/IDCANCEL commands. Gives true when handled,
    // with the dialog procedure's return value in result.
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    UINT m_templateId;
    CWnd* m_pParent;

    // The procedure of every dialog window of this class, with the object as the creation parameter.
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void RunModalLoop(bool showOnIdle);

    bool m_ownLoop = false;
    bool m_ended = false;
    INT_PTR m_result = -1;
};
