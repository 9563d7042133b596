#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr UINT WM_PROBE = WM_APP + 1;

// The about box's template, posting itself a probe at initialisation. In the modal loop, at a timer
// that waits for idle or when the window is shown, it ends with 7 or is destroyed.
class ScriptedDialog : public CDialog {
public:
    explicit ScriptedDialog(CWnd* parent = nullptr, UINT templateId = IDD_ABOUTBOX) : CDialog(templateId, parent) {}
    using CDialog::RunOwnModal;

    bool scriptOnShow = false;
    bool endAtInit = false;
    bool destroy = false;
    int probes = 0;
    int probesAtShow = -1; // stays -1 while never shown
    HWND created = nullptr;
    HWND owner = reinterpret_cast<HWND>(1);

    BOOL OnInitDialog() override
    {
        created = m_hWnd;
        ::PostMessageA(m_hWnd, WM_PROBE, 0, 0);
        ::SetTimer(m_hWnd, 1, 50, nullptr);
        if (endAtInit)
            EndDialog(42);
        return TRUE;
    }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR&) override
    {
        const bool firstShow = msg == WM_SHOWWINDOW && wParam && probesAtShow < 0;
        if (firstShow)
            probesAtShow = probes;
        probes += msg == WM_PROBE;
        if (scriptOnShow ? firstShow : msg == WM_TIMER) {
            owner = ::GetWindow(m_hWnd, GW_OWNER);
            destroy ? (void)::DestroyWindow(m_hWnd) : EndDialog(7);
        }
        return msg == WM_PROBE;
    }
};

// Hidden: under Wine without a window manager, unmapping a shown window waits two seconds.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, "owner", WS_POPUP, 10, 10, 100, 100, nullptr, nullptr); }
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { AfxGetApp()->m_pMainWnd = &mainWindow; }
    void TearDown() override { AfxGetApp()->m_pMainWnd = nullptr; }
    OwnerWindow mainWindow;
};

TEST_F(DialogTest, OwnModalRunHasNoOwnerAndShowsOnlyWhenAskedOnceTheLoopIsIdle)
{
    for (bool showOnIdle : {true, false}) {
        SCOPED_TRACE(showOnIdle);
        ScriptedDialog dialog;
        dialog.scriptOnShow = showOnIdle;
        EXPECT_EQ(7, dialog.RunOwnModal(showOnIdle));
        EXPECT_EQ(showOnIdle ? 1 : -1, dialog.probesAtShow) << "shown after what was waiting was handled";
        EXPECT_EQ(nullptr, dialog.owner);
        EXPECT_FALSE(::IsWindow(dialog.created)) << "destroyed before the run returns";
        EXPECT_EQ(nullptr, dialog.m_hWnd);
    }
}

TEST_F(DialogTest, OwnModalRunEndsAtInitialisationWhenDestroyedFromOutsideOrWithoutATemplate)
{
    ScriptedDialog ended;
    ended.endAtInit = true;
    EXPECT_EQ(42, ended.RunOwnModal(true));
    EXPECT_EQ(0, ended.probes) << "the loop never ran";

    ScriptedDialog destroyed;
    destroyed.destroy = true;
    EXPECT_EQ(-1, destroyed.RunOwnModal(false));
    EXPECT_EQ(-1, ScriptedDialog(nullptr, 9999).RunOwnModal(true));
}

TEST_F(DialogTest, ModalRunIsOwnedByTheParentElseTheMainWindow)
{
    OwnerWindow parent;
    for (CWnd* explicitParent : {static_cast<CWnd*>(&parent), static_cast<CWnd*>(nullptr)}) {
        ScriptedDialog dialog(explicitParent);
        EXPECT_EQ(7, dialog.DoModal());
        EXPECT_EQ(explicitParent ? parent.m_hWnd : mainWindow.m_hWnd, dialog.owner);
    }
}

} // namespace
