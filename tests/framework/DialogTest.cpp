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
constexpr UINT kMissingTemplate = 9999;

// A dialog of the about box's template. Its test code runs from a timer, so it runs inside
// whichever modal loop runs the dialog.
class ScriptedDialog : public CDialog {
public:
    explicit ScriptedDialog(CWnd* parent = nullptr, UINT templateId = IDD_ABOUTBOX)
        : CDialog(templateId, parent)
    {
    }
    using CDialog::RunOwnModal;

    std::function<void(ScriptedDialog&)> onInit;
    std::function<void(ScriptedDialog&)> script;
    int probes = 0;
    int shows = 0;
    HWND created = nullptr;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
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
        switch (msg) {
        case WM_TIMER:
            if (wParam != kScriptTimer)
                return false;
            ::KillTimer(m_hWnd, kScriptTimer);
            script(*this);
            return true;
        case WM_PROBE:
            ++probes;
            return true;
        case WM_SHOWWINDOW:
            if (wParam)
                ++shows;
            return false;
        default:
            return false;
        }
    }
};

// A plain top-level window to own dialogs. Hidden: under Wine without a window manager every
// unmapping of a shown window waits two seconds for the manager's answer.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() { CreateEx(0, "owner", WS_POPUP, 10, 10, 100, 100, nullptr, nullptr); }
};

class MainWindowScope {
public:
    explicit MainWindowScope(CWnd* window) { AfxGetApp()->m_pMainWnd = window; }
    ~MainWindowScope() { AfxGetApp()->m_pMainWnd = nullptr; }
};

TEST(DialogOwnModal, ShowsTheWindowAtTheFirstIdleMomentOnlyWhenAsked)
{
    for (bool showOnIdle : {true, false}) {
        SCOPED_TRACE(showOnIdle ? "show on idle" : "stay hidden");
        ScriptedDialog dialog;
        BOOL visibleInLoop = !showOnIdle;
        dialog.script = [&](ScriptedDialog& self) {
            visibleInLoop = ::IsWindowVisible(self.m_hWnd);
            self.EndDialog(showOnIdle ? 7 : 8);
        };
        INT_PTR result = dialog.RunOwnModal(showOnIdle);

        EXPECT_EQ(showOnIdle ? 7 : 8, result);
        EXPECT_EQ(showOnIdle ? TRUE : FALSE, visibleInLoop);
        EXPECT_EQ(showOnIdle ? 1 : 0, dialog.shows);
        // The run hides and destroys its window before it returns.
        EXPECT_FALSE(::IsWindow(dialog.created));
        EXPECT_EQ(nullptr, dialog.m_hWnd);
    }
}

TEST(DialogOwnModal, HasNoOwnerAndDisablesNoWindow)
{
    OwnerWindow mainWindow;
    MainWindowScope scope(&mainWindow);
    ScriptedDialog dialog;
    HWND owner = reinterpret_cast<HWND>(1);
    BOOL mainEnabled = FALSE;
    dialog.script = [&](ScriptedDialog& self) {
        owner = ::GetWindow(self.m_hWnd, GW_OWNER);
        mainEnabled = ::IsWindowEnabled(mainWindow.m_hWnd);
        self.EndDialog(IDOK);
    };
    EXPECT_EQ(IDOK, dialog.RunOwnModal(true));
    EXPECT_EQ(nullptr, owner);
    EXPECT_TRUE(mainEnabled);
}

TEST(DialogOwnModal, EndDialogDuringInitialisationSkipsTheLoop)
{
    ScriptedDialog dialog;
    dialog.onInit = [](ScriptedDialog& self) {
        // A message the loop would dispatch if it ran at all.
        ::PostMessageA(self.m_hWnd, WM_PROBE, 0, 0);
        self.EndDialog(42);
    };
    EXPECT_EQ(42, dialog.RunOwnModal(true));
    EXPECT_EQ(0, dialog.probes);
    EXPECT_EQ(0, dialog.shows);
    EXPECT_FALSE(::IsWindow(dialog.created));
}

TEST(DialogOwnModal, MissingTemplateGivesMinusOne)
{
    ScriptedDialog dialog(nullptr, kMissingTemplate);
    EXPECT_EQ(-1, dialog.RunOwnModal(true));
    EXPECT_EQ(nullptr, dialog.created);
}

TEST(DialogOwnModal, EscapeCancelsAndEnterConfirms)
{
    struct Case {
        WPARAM key;
        INT_PTR expected;
    };
    for (Case c : {Case{VK_ESCAPE, IDCANCEL}, Case{VK_RETURN, IDOK}}) {
        SCOPED_TRACE(c.key);
        ScriptedDialog dialog;
        dialog.script = [&](ScriptedDialog& self) {
            // Through the loop's dialog-message handling, as a key press would arrive.
            ::PostMessageA(self.GetDlgItem(IDOK), WM_KEYDOWN, c.key, 0);
            ::PostMessageA(self.GetDlgItem(IDOK), WM_KEYUP, c.key, 0);
        };
        EXPECT_EQ(c.expected, dialog.RunOwnModal(false));
    }
}

TEST(DialogOwnModal, EndsWhenItsWindowIsDestroyedFromOutside)
{
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& self) { ::DestroyWindow(self.m_hWnd); };
    EXPECT_EQ(-1, dialog.RunOwnModal(false));
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

TEST(DialogModal, DisablesItsOwnerWhileItRuns)
{
    OwnerWindow parent;
    OwnerWindow mainWindow;
    MainWindowScope scope(&mainWindow);

    struct Case {
        const char* name;
        CWnd* parent;
        HWND expectedOwner;
    };
    for (Case c : {Case{"explicit parent", &parent, parent.m_hWnd},
                   Case{"main window", nullptr, mainWindow.m_hWnd}}) {
        SCOPED_TRACE(c.name);
        ScriptedDialog dialog(c.parent);
        HWND owner = nullptr;
        BOOL ownerEnabled = TRUE;
        dialog.script = [&](ScriptedDialog& self) {
            owner = ::GetWindow(self.m_hWnd, GW_OWNER);
            ownerEnabled = ::IsWindowEnabled(owner);
            self.EndDialog(IDOK);
        };
        EXPECT_EQ(IDOK, dialog.DoModal());
        EXPECT_EQ(c.expectedOwner, owner);
        EXPECT_FALSE(ownerEnabled);
        EXPECT_TRUE(::IsWindowEnabled(c.expectedOwner)); // given back when the run ends
        EXPECT_FALSE(::IsWindow(dialog.created));
    }
}

TEST(DialogModeless, CreateRunsInitialisationAndLeavesTheWindowToTheCaller)
{
    HWND created = nullptr;
    {
        ScriptedDialog dialog;
        int initialised = 0;
        dialog.onInit = [&](ScriptedDialog&) { ++initialised; };
        ASSERT_TRUE(dialog.Create());
        created = dialog.m_hWnd;
        EXPECT_EQ(1, initialised);
        EXPECT_TRUE(::IsWindow(created));
        EXPECT_FALSE(::IsWindowVisible(created)); // the template is not visible

        ::ShowWindow(created, SW_SHOW);
        ::SendMessageA(created, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(::IsWindow(created));         // OK only hides a modeless dialog
        EXPECT_FALSE(::IsWindowVisible(created));
    }
    EXPECT_FALSE(::IsWindow(created)); // the object takes its window with it
}

TEST(FileDialogFilter, BarsBecomeTerminatorsAndTheListEnds)
{
    std::string filter = FileDialogFilter("Input Files (*.dvr-ms)|*.dvr-ms|All Files (*.*)|*.*||");
    const char expected[] = "Input Files (*.dvr-ms)\0*.dvr-ms\0All Files (*.*)\0*.*\0\0";
    ASSERT_GE(filter.size(), sizeof(expected) - 1);
    EXPECT_EQ(std::string(expected, sizeof(expected) - 1), filter.substr(0, sizeof(expected) - 1));

    // Without the closing bars the list still ends in two terminators.
    std::string open = FileDialogFilter("A|*.a");
    EXPECT_EQ(std::string("A\0*.a\0\0", 7), open);
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
        seenFilter.assign(ofn.lpstrFilter, end - ofn.lpstrFilter);
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
    EXPECT_TRUE(seen.Flags & OFN_EXPLORER);
    EXPECT_EQ("C:\\Rec\\*.dvr-ms", seenFile);
    const char expectedFilter[] = "In (*.dvr-ms)\0*.dvr-ms\0All\0*.*\0";
    EXPECT_EQ(std::string(expectedFilter, sizeof(expectedFilter) - 1), seenFilter);
    EXPECT_GE(seen.nMaxFile, static_cast<DWORD>(MAX_PATH));

    EXPECT_EQ("E:\\Rec\\News.dvr-ms", dialog.GetPathName());
    EXPECT_EQ("News.dvr-ms", dialog.GetFileName());
}

TEST_F(FileDialogTest, ExplicitParentOwnsAndDefaultExtensionIsPassed)
{
    OwnerWindow parent;
    HWND owner = nullptr;
    std::string defaultExt;
    SetFileDialogHandler([&](OPENFILENAMEA& ofn) {
        owner = ofn.hwndOwner;
        defaultExt = ofn.lpstrDefExt ? ofn.lpstrDefExt : "(none)";
        return FALSE;
    });
    CFileDialog dialog(FALSE, "txt", nullptr, OFN_HIDEREADONLY, nullptr, &parent);
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_EQ(parent.m_hWnd, owner);
    EXPECT_EQ("txt", defaultExt);
    EXPECT_EQ("", dialog.GetPathName());
}

TEST_F(FileDialogTest, NameWithoutDirectoryIsTheWholePath)
{
    SetFileDialogHandler([](OPENFILENAMEA& ofn) {
        strcpy(ofn.lpstrFile, "Show.dvr-ms");
        return TRUE;
    });
    CFileDialog dialog(TRUE);
    ASSERT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ("Show.dvr-ms", dialog.GetFileName());
}

} // namespace
