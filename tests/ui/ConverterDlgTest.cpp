#include "tests/ui/DialogFixture.h"

#include "framework/Wnd.h"
#include "settings/ConverterSettings.h"
#include "tray/SystemTray.h"

namespace ui_test {
namespace {

using namespace testing_support;

const int kSettingCheckBoxes[] = {IDC_DELETE_SOURCE, IDC_HIDE_ON_STARTUP, IDC_AUTOSTART};

class MainDialog : public DialogFixture {
protected:
    void ExpectStoredValuesShown()
    {
        const CConverterSettings& settings = app.Settings;
        EXPECT_EQ(settings.InputPath, Text(IDC_INPUT_PATH));
        EXPECT_EQ(settings.OutputPath, Text(IDC_OUTPUT_PATH));
        EXPECT_EQ(settings.InputExt, Text(IDC_INPUT_EXT));
        EXPECT_EQ(settings.OutputExt, Text(IDC_OUTPUT_EXT));
        EXPECT_EQ(settings.DeleteSourceFile != 0, Checked(IDC_DELETE_SOURCE));
        EXPECT_EQ(settings.HideOnStartup != 0, Checked(IDC_HIDE_ON_STARTUP));
        EXPECT_EQ(settings.AutoStartConvert != 0, Checked(IDC_AUTOSTART));
        EXPECT_EQ(settings.UseFilterGraph, SelectedGraph());
    }

    // The settings as the registry holds them, defaults for what is missing.
    void ExpectRegistryShown()
    {
        CConverterSettings stored;
        stored.Load();
        app.Settings = stored;
        ExpectStoredValuesShown();
    }

    void ExpectApplyAndCancel(bool enabled)
    {
        EXPECT_EQ(enabled, Enabled(IDC_APPLY));
        EXPECT_EQ(enabled, Enabled(IDC_CANCEL_CHANGES));
    }

    void ExpectWorker(bool running)
    {
        EXPECT_TRUE(WaitUntil([&] { return (app.AutoConvertRunning.load() != 0) == running; }, 10000));
        EXPECT_EQ(!running, Enabled(IDC_START_AUTO));
        EXPECT_EQ(running, Enabled(IDC_STOP_AUTO));
    }

    // Folders that exist, so that a started worker keeps running.
    void UseScratchFolders()
    {
        app.Settings.InputPath = MakeScratchDirectory("ui-input");
        app.Settings.OutputPath = MakeScratchDirectory("ui-output");
    }
};

TEST_F(MainDialog, EditsEnableApplyAndCancelWhichRestoresTheStoredValues)
{
    CreateGraphFile("a.xgr");
    CreateGraphFile("b.xgr");
    app.Settings.UseFilterGraph = "a.xgr";
    app.Settings.DeleteSourceFile = 1;
    Open();

    // A fresh start.
    ExpectStoredValuesShown();
    ExpectApplyAndCancel(false);
    ExpectWorker(false);
    EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
    EXPECT_FALSE(::IsWindowVisible(window)); // until the modal run's first idle moment

    std::vector<std::function<void()>> edits;
    for (int id : {IDC_INPUT_PATH, IDC_OUTPUT_PATH, IDC_INPUT_EXT, IDC_OUTPUT_EXT})
        edits.push_back([this, id] { SetText(id, "X:\\edited"); });
    // The keyboard's way through the list raises the list's own notification.
    edits.push_back([this] { ::SendMessageA(Item(IDC_GRAPH_LIST), WM_KEYDOWN, VK_DOWN, 0); });
    for (int id : kSettingCheckBoxes)
        edits.push_back([this, id] { Click(id); });
    // An edit that puts the stored value back still counts as an edit.
    edits.push_back([this] { SetText(IDC_INPUT_EXT, app.Settings.InputExt); });

    for (size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(i);
        edits[i]();
        ExpectApplyAndCancel(true);
        Click(IDC_CANCEL_CHANGES);
        ExpectStoredValuesShown();
        ExpectApplyAndCancel(false);
    }

    // Configure only says so; the "..." buttons do nothing at all.
    Click(IDC_CONFIGURE);
    Click(IDC_BROWSE_INPUT);
    Click(IDC_BROWSE_OUTPUT);
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ("Not implemented yet", questions[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK), questions[0].type & MB_TYPEMASK);
    ExpectStoredValuesShown();
    ExpectApplyAndCancel(false);
}

TEST_F(MainDialog, ApplyWithoutAWorkerStoresWhatTheControlsShowWithoutAsking)
{
    CreateGraphFile("b.xgr");
    app.Settings.DeleteSourceFile = 1;
    Open();
    SetText(IDC_INPUT_PATH, "X:\\Recorded TV");
    SetText(IDC_OUTPUT_PATH, "Y:\\Converted\\");
    SetText(IDC_INPUT_EXT, "ts");
    SetText(IDC_OUTPUT_EXT, "mpeg");
    ChooseGraph("b.xgr");
    for (int id : kSettingCheckBoxes)
        Click(id);

    Click(IDC_APPLY);

    EXPECT_TRUE(questions.empty());
    ExpectApplyAndCancel(false);
    ExpectWorker(false); // AutoStartConvert now set, but applying starts no worker
    EXPECT_EQ("X:\\Recorded TV", app.Settings.InputPath);
    EXPECT_EQ("b.xgr", app.Settings.UseFilterGraph);
    ExpectStoredValuesShown();
    ExpectRegistryShown();

    // Each check box to its own value: no two of them had the same state in both rounds.
    Click(IDC_HIDE_ON_STARTUP);
    Click(IDC_APPLY);
    ExpectRegistryShown();
    EXPECT_EQ(1u, app.Settings.AutoStartConvert);
}

TEST_F(MainDialog, ApplyWhileTheWorkerRunsAsksAndRestartsItOnlyOnYes)
{
    UseScratchFolders();
    app.Settings.AutoStartConvert = 1;
    Open();
    ExpectWorker(true);
    const std::string storedOutput = app.Settings.OutputPath;
    const std::string newOutput = MakeScratchDirectory("ui-output2");

    // No: nothing applied, the edits and both buttons stay, the worker goes on.
    SetText(IDC_OUTPUT_PATH, newOutput);
    answer = IDNO;
    Click(IDC_APPLY);
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ("Auto Converter is running. It must restart in order to apply. \n\nRestart service?", questions[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), questions[0].type & MB_TYPEMASK);
    EXPECT_EQ(storedOutput, app.Settings.OutputPath);
    std::string stored;
    EXPECT_FALSE(ReadRegistryString(RegistryKey(), "OutputPath", stored));
    EXPECT_EQ(newOutput, Text(IDC_OUTPUT_PATH));
    ExpectApplyAndCancel(true);
    EXPECT_EQ(0, app.AutoConvertStopRequest.load());
    ExpectWorker(true);

    // Yes: the question comes before anything is stopped or stored.
    answer = IDYES;
    bool stopEnabledWhenAsked = false;
    std::string outputWhenAsked;
    LONG runningWhenAsked = 0;
    UniqueHandle stopOfTheAskingWorker;
    onQuestion = [&](const Question&) {
        stopEnabledWhenAsked = Enabled(IDC_STOP_AUTO);
        outputWhenAsked = app.Settings.OutputPath;
        runningWhenAsked = app.AutoConvertRunning.load();
        ::DuplicateHandle(::GetCurrentProcess(), app.AutoConvertStopEvent.Get(), ::GetCurrentProcess(),
                          stopOfTheAskingWorker.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS);
    };
    Click(IDC_APPLY);
    ASSERT_EQ(2u, questions.size());
    EXPECT_TRUE(stopEnabledWhenAsked);
    EXPECT_EQ(storedOutput, outputWhenAsked);
    EXPECT_EQ(1, runningWhenAsked);
    // That worker was stopped; the one running now is a new one.
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(stopOfTheAskingWorker.Get(), 0));

    EXPECT_TRUE(ReadRegistryString(RegistryKey(), "OutputPath", stored));
    EXPECT_EQ(newOutput, stored);
    ExpectApplyAndCancel(false);
    ExpectWorker(true);
}

TEST_F(MainDialog, AutoStartAndTheStartAndStopButtons)
{
    UseScratchFolders();
    app.Settings.AutoStartConvert = 1;
    app.Settings.HideOnStartup = 1;
    Open();
    ExpectWorker(true);
    ExpectApplyAndCancel(false);

    Click(IDC_STOP_AUTO);
    EXPECT_EQ(0, app.AutoConvertRunning.load()); // the stop waits for the worker's end
    ExpectWorker(false);
    Click(IDC_START_AUTO);
    ExpectWorker(true);
}

TEST_F(MainDialog, GraphListHoldsTheInternalEntryAndEveryGraphFileSorted)
{
    for (const char* name : {"zeta.xgr", "Alpha.xgr", "mid.XGR", "notes.txt", "graph.xgr.bak"})
        CreateGraphFile(name);
    ::CreateDirectoryA((programDirectory + "folder.xgr").c_str(), nullptr);
    const std::vector<std::string> expected = {kInternalGraphName, "Alpha.xgr", "mid.XGR", "zeta.xgr"};

    // The list's exact search ignores case; a stored choice no longer listed selects the first entry.
    struct Case {
        const char* stored;
        const char* selected;
    };
    for (Case c :
         {Case{"ALPHA.XGR", "Alpha.xgr"}, Case{"Alpha.xg", kInternalGraphName}, Case{"gone.xgr", kInternalGraphName}}) {
        SCOPED_TRACE(c.stored);
        app.Settings.UseFilterGraph = c.stored;
        Open();
        EXPECT_EQ(expected, GraphList());
        EXPECT_EQ(c.selected, SelectedGraph());
        EXPECT_EQ(c.stored, app.Settings.UseFilterGraph); // replaced only by Apply
        ExpectApplyAndCancel(false);
        // The list is filled once, when the dialog starts.
        CreateGraphFile("late.xgr");
        EXPECT_EQ(expected, GraphList());
        ::DeleteFileA((programDirectory + "late.xgr").c_str());
        Close();
    }
}

TEST_F(MainDialog, SystemMenuEndsWithTheAboutItemWhichRunsTheAboutBoxOverTheMainWindow)
{
    Open();
    HMENU menu = ::GetSystemMenu(window, FALSE);
    int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(0x0010u, ::GetMenuItemID(menu, count - 1));
    char text[64] = {};
    ::GetMenuStringA(menu, count - 1, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ("&About Halvern...", text);
    EXPECT_TRUE(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);

    HWND about = nullptr;
    HWND aboutOwner = nullptr;
    BOOL mainEnabled = TRUE;
    RunSoon([&] {
        about = FindProcessDialog(::GetCurrentProcessId(), "About Halvern", IDOK);
        if (!about)
            return;
        aboutOwner = ::GetWindow(about, GW_OWNER);
        mainEnabled = ::IsWindowEnabled(window);
        ::SendMessageA(::GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    });
    // The low four bits of a system command are the system's; they do not change the command.
    ::SendMessageA(window, WM_SYSCOMMAND, 0x0010 | 0x0003, 0);

    ASSERT_NE(nullptr, about) << "no about box while the command ran";
    EXPECT_EQ(window, aboutOwner);
    EXPECT_FALSE(mainEnabled);
    EXPECT_FALSE(::IsWindow(about)); // its OK closed it and ended the command
    EXPECT_TRUE(::IsWindowEnabled(window));
}

TEST_F(MainDialog, MinimiseHidesTheWindowAndATrayDoubleClickBringsItBackOnTop)
{
    Open();
    ::ShowWindow(window, SW_SHOWNORMAL);
    RECT normal;
    ::GetWindowRect(window, &normal);
    EXPECT_TRUE(::GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW); // its taskbar button

    ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(::IsIconic(window));
    EXPECT_FALSE(::IsWindowVisible(window)); // no window, so no taskbar button either

    // Only the left double-click brings it back.
    for (UINT notification : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDBLCLK, WM_MOUSEMOVE, WM_CONTEXTMENU}) {
        ::SendMessageA(window, WM_TRAY_CALLBACK, 128, notification);
        EXPECT_FALSE(::IsWindowVisible(window)) << notification;
    }

    // Another window of the desktop lies over where the dialog was.
    CWnd other;
    ASSERT_TRUE(other.CreateEx(0, "other", WS_POPUP | WS_VISIBLE, normal.left, normal.top, 200, 200, nullptr, nullptr));
    ::SetWindowPos(other.m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    // The icon's id sits in wParam and only the low word of lParam names the mouse message.
    ::SendMessageA(window, WM_TRAY_CALLBACK, 128, MAKELPARAM(WM_LBUTTONDBLCLK, 0x55));
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_FALSE(::IsIconic(window));
    auto above = [](HWND upper, HWND lower) {
        for (HWND w = ::GetWindow(upper, GW_HWNDNEXT); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
            if (w == lower)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(above(window, other.m_hWnd));

    // A double-click while it is visible keeps it so and brings it to the top again.
    ::SetWindowPos(other.m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ASSERT_TRUE(above(other.m_hWnd, window));
    ::SendMessageA(window, WM_TRAY_CALLBACK, 128, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_TRUE(above(window, other.m_hWnd));
}

// The dialog's own modal run, as the application runs it.
class MainDialogRun : public DialogFixture {
protected:
    INT_PTR Run(std::function<void()> script)
    {
        dialog = std::make_unique<CConverterDlg>();
        app.m_pMainWnd = dialog.get();
        // The first tick comes once the dialog's loop runs (its initialisation takes a while) and
        // sets the second, so the loop finds its idle moment in between.
        RunSoon([this, script] {
            RunSoon([this, script] {
                window = dialog->m_hWnd;
                script();
            }, 500);
        }, 50);
        return dialog->DoModal();
    }
};

TEST_F(MainDialogRun, EnterEscapeAndCloseEndTheRunWhichShowsTheWindowUnlessHiddenAtStart)
{
    struct Case {
        DWORD hideOnStartup;
        UINT message;
        WPARAM wParam;
        INT_PTR result;
    };
    for (Case c : {Case{0, WM_KEYDOWN, VK_RETURN, IDOK}, Case{0, WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
                   Case{1, WM_SYSCOMMAND, SC_CLOSE, IDCANCEL}}) {
        SCOPED_TRACE(c.wParam);
        app.Settings.HideOnStartup = c.hideOnStartup;
        HWND shown = nullptr;
        BOOL visible = FALSE;
        BOOL visibleAfterDoubleClick = FALSE;
        INT_PTR result = Run([&] {
            shown = window;
            visible = ::IsWindowVisible(window);
            ::SendMessageA(window, WM_TRAY_CALLBACK, 128, WM_LBUTTONDBLCLK);
            visibleAfterDoubleClick = ::IsWindowVisible(window);
            // Keys go to an edit box; the close button's command to the window.
            ::PostMessageA(c.message == WM_KEYDOWN ? Item(IDC_INPUT_PATH) : window, c.message, c.wParam, 1);
        });
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.hideOnStartup == 0, visible != FALSE);
        EXPECT_TRUE(visibleAfterDoubleClick);
        EXPECT_FALSE(::IsWindow(shown)); // the run destroys its window
        Close();
    }
}

} // namespace
} // namespace ui_test
