#include "framework/Dialog.h"
#include "framework/FileDialog.h"
#include "framework/WinApp.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

constexpr UINT_PTR kScriptTimer = 1;
constexpr UINT WM_PROBE = WM_APP + 1;

// A dialog of the about box's template. Its script runs from a timer, so it runs inside whichever
// modal loop runs the dialog.
class ScriptedDialog : public CDialog {
public:
    explicit ScriptedDialog(CWnd* parent = nullptr, UINT templateId = IDD_ABOUTBOX) : CDialog(templateId, parent) {}
    using CDialog::RunOwnModal;

    std::function<void(ScriptedDialog&)> onInit;
    std::function<void(ScriptedDialog&)> script;
    int probes = 0;
    int shows = 0;
    HWND created = nullptr;

    BOOL OnInitDialog() override
    {
        created = m_hWnd;
        if (script)
            ::SetTimer(m_hWnd, kScriptTimer, 200, nullptr);
        if (onInit)
            onInit(*this);
        return TRUE;
    }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR&) override
    {
        if (msg == WM_TIMER && wParam == kScriptTimer) {
            ::KillTimer(m_hWnd, kScriptTimer);
            script(*this);
        } else if (msg == WM_PROBE) {
            ++probes;
        } else if (msg == WM_SHOWWINDOW && wParam) {
            ++shows;
        }
        return msg == WM_PROBE;
    }
};

// Hidden: under Wine without a window manager every unmapping of a shown window waits two
// seconds for the manager's answer.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, "owner", WS_POPUP, 10, 10, 100, 100, nullptr, nullptr); }
};

class MainWindowScope {
public:
    explicit MainWindowScope(CWnd* window) { AfxGetApp()->m_pMainWnd = window; }
    ~MainWindowScope() { AfxGetApp()->m_pMainWnd = nullptr; }
};

TEST(DialogOwnModal, ShowsTheWindowAtTheFirstIdleMomentOnlyWhenAskedAndHasNoOwner)
{
    OwnerWindow mainWindow;
    MainWindowScope scope(&mainWindow);
    for (bool showOnIdle : {true, false}) {
        SCOPED_TRACE(showOnIdle);
        ScriptedDialog dialog;
        BOOL visibleInLoop = !showOnIdle;
        HWND owner = reinterpret_cast<HWND>(1);
        BOOL mainEnabled = FALSE;
        dialog.script = [&](ScriptedDialog& self) {
            visibleInLoop = ::IsWindowVisible(self.m_hWnd);
            owner = ::GetWindow(self.m_hWnd, GW_OWNER);
            mainEnabled = ::IsWindowEnabled(mainWindow.m_hWnd);
            self.EndDialog(showOnIdle ? 7 : 8);
        };
        EXPECT_EQ(showOnIdle ? 7 : 8, dialog.RunOwnModal(showOnIdle));
        EXPECT_EQ(showOnIdle ? TRUE : FALSE, visibleInLoop);
        EXPECT_EQ(showOnIdle ? 1 : 0, dialog.shows);
        EXPECT_EQ(nullptr, owner);
        EXPECT_TRUE(mainEnabled);
        // The run destroys its window before it returns.
        EXPECT_FALSE(::IsWindow(dialog.created));
        EXPECT_EQ(nullptr, dialog.m_hWnd);
    }
}

TEST(DialogOwnModal, EndDialogDuringInitialisationSkipsTheLoopAndAMissingTemplateGivesMinusOne)
{
    ScriptedDialog dialog;
    dialog.onInit = [](ScriptedDialog& self) {
        ::PostMessageA(self.m_hWnd, WM_PROBE, 0, 0); // which the loop would dispatch if it ran
        self.EndDialog(42);
    };
    EXPECT_EQ(42, dialog.RunOwnModal(true));
    EXPECT_EQ(0, dialog.probes);
    EXPECT_EQ(0, dialog.shows);
    EXPECT_FALSE(::IsWindow(dialog.created));

    ScriptedDialog missing(nullptr, 9999);
    EXPECT_EQ(-1, missing.RunOwnModal(true));
    EXPECT_EQ(nullptr, missing.created);
}

TEST(DialogOwnModal, EndsWhenItsWindowIsDestroyedFromOutside)
{
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& self) { ::DestroyWindow(self.m_hWnd); };
    EXPECT_EQ(-1, dialog.RunOwnModal(false));
}

TEST(DialogModal, DisablesItsOwnerWhileItRuns)
{
    OwnerWindow parent;
    OwnerWindow mainWindow;
    MainWindowScope scope(&mainWindow);
    for (CWnd* explicitParent : {static_cast<CWnd*>(&parent), static_cast<CWnd*>(nullptr)}) {
        const HWND expectedOwner = explicitParent ? parent.m_hWnd : mainWindow.m_hWnd;
        SCOPED_TRACE(explicitParent ? "explicit parent" : "main window");
        ScriptedDialog dialog(explicitParent);
        HWND owner = nullptr;
        BOOL ownerEnabled = TRUE;
        dialog.script = [&](ScriptedDialog& self) {
            owner = ::GetWindow(self.m_hWnd, GW_OWNER);
            ownerEnabled = ::IsWindowEnabled(owner);
            self.EndDialog(IDOK);
        };
        EXPECT_EQ(IDOK, dialog.DoModal());
        EXPECT_EQ(expectedOwner, owner);
        EXPECT_FALSE(ownerEnabled);
        EXPECT_TRUE(::IsWindowEnabled(expectedOwner)); // given back when the run ends
        EXPECT_FALSE(::IsWindow(dialog.created));
    }
}

class FileDialogTest : public ::testing::Test {
protected:
    void TearDown() override { SetFileDialogHandler(nullptr); }
};

TEST_F(FileDialogTest, HandsThePreparedRecordToTheSystemAndReadsTheChoice)
{
    OwnerWindow mainWindow;
    MainWindowScope scope(&mainWindow);
    OPENFILENAMEA seen = {};
    std::string seenFile;
    std::string seenFilter;
    SetFileDialogHandler([&](OPENFILENAMEA& ofn) {
        seen = ofn;
        seenFile = ofn.lpstrFile;
        const char* end = ofn.lpstrFilter;
        while (*end)
            end += strlen(end) + 1;
        seenFilter.assign(ofn.lpstrFilter, end - ofn.lpstrFilter + 1);
        strcpy(ofn.lpstrFile, "E:\\Rec\\News.dvr-ms");
        return TRUE;
    });

    CFileDialog dialog(TRUE, nullptr, "C:\\Rec\\*.dvr-ms", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                       "In (*.dvr-ms)|*.dvr-ms|All|*.*||");
    ASSERT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ(sizeof(OPENFILENAMEA), seen.lStructSize);
    EXPECT_EQ(mainWindow.m_hWnd, seen.hwndOwner);
    EXPECT_EQ(nullptr, seen.lpstrDefExt);
    EXPECT_EQ(nullptr, seen.lpstrTitle);
    EXPECT_EQ(static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY),
              seen.Flags & (OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ALLOWMULTISELECT));
    EXPECT_EQ("C:\\Rec\\*.dvr-ms", seenFile);
    const char expectedFilter[] = "In (*.dvr-ms)\0*.dvr-ms\0All\0*.*\0";
    EXPECT_EQ(std::string(expectedFilter, sizeof(expectedFilter)), seenFilter);
    EXPECT_GE(seen.nMaxFile, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ("E:\\Rec\\News.dvr-ms", dialog.GetPathName());
    EXPECT_EQ("News.dvr-ms", dialog.GetFileName());
    // Without the closing bars the list still ends in two terminators.
    EXPECT_EQ(std::string("A\0*.a\0\0", 7), FileDialogFilter("A|*.a"));

    // An explicit parent owns the dialog, a default extension is passed, a cancel chooses nothing.
    OwnerWindow parent;
    SetFileDialogHandler([&](OPENFILENAMEA& ofn) {
        seen = ofn;
        seenFile = ofn.lpstrDefExt ? ofn.lpstrDefExt : "(none)";
        return FALSE;
    });
    CFileDialog save(FALSE, "txt", nullptr, OFN_HIDEREADONLY, nullptr, &parent);
    EXPECT_EQ(IDCANCEL, save.DoModal());
    EXPECT_EQ(parent.m_hWnd, seen.hwndOwner);
    EXPECT_EQ("txt", seenFile);
    EXPECT_EQ("", save.GetPathName());

    // A chosen name without a directory is its own file name.
    SetFileDialogHandler([](OPENFILENAMEA& ofn) {
        strcpy(ofn.lpstrFile, "Show.dvr-ms");
        return TRUE;
    });
    CFileDialog open(TRUE);
    ASSERT_EQ(IDOK, open.DoModal());
    EXPECT_EQ("Show.dvr-ms", open.GetFileName());
}

} // namespace

