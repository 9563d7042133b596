#include "tests/ui/DialogFixture.h"

#include "framework/Wnd.h"
#include "settings/ConverterSettings.h"
#include "tests/support/TestSupport.h"
#include "tray/SystemTray.h"

namespace ui_test {
namespace {

using namespace testing_support;

const char kRestartQuestion[] =
    "Auto Converter is running. It must restart in order to apply. \n\nRestart service?";

const int kEdits[] = {IDC_INPUT_PATH, IDC_OUTPUT_PATH, IDC_INPUT_EXT, IDC_OUTPUT_EXT};
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
    }

    void ExpectApplyAndCancel(bool enabled)
    {
        EXPECT_EQ(enabled, Enabled(IDC_APPLY));
        EXPECT_EQ(enabled, Enabled(IDC_CANCEL_CHANGES));
    }

    bool WaitForWorker(bool running)
    {
        return WaitUntil([&] { return (app.AutoConvertRunning.load() != 0) == running; }, 10000);
    }
};

TEST_F(MainDialog, FreshStartShowsTheStoredValuesWithApplyAndCancelDisabled)
{
    struct Case {
        DWORD deleteSource, hideOnStartup;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}}) {
        SCOPED_TRACE(c.deleteSource);
        app.Settings.DeleteSourceFile = c.deleteSource;
        app.Settings.HideOnStartup = c.hideOnStartup;
        app.Settings.InputPath = c.deleteSource ? "E:\\TV" : "C:\\Recordings";
        Open();

        ExpectStoredValuesShown();
        EXPECT_EQ(kInternalGraphName, SelectedGraph());
        ExpectApplyAndCancel(false);
        EXPECT_TRUE(Enabled(IDC_START_AUTO));
        EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
        EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
        EXPECT_FALSE(Enabled(IDC_STARTUP_WINDOWS));
        EXPECT_FALSE(Enabled(IDC_SYNC_DIRS));
        EXPECT_FALSE(::IsWindowVisible(window)); // until the modal run's first idle moment
        Close();
    }
}

TEST_F(MainDialog, TypingInAnyEditEnablesApplyAndCancelAndCancelRestoresTheStoredText)
{
    Open();
    for (int id : kEdits) {
        SCOPED_TRACE(id);
        Type(id, "x");
        EXPECT_NE(std::string::npos, Text(id).find('x'));
        ExpectApplyAndCancel(true);

        Click(IDC_CANCEL_CHANGES);
        ExpectStoredValuesShown();
        ExpectApplyAndCancel(false);
    }

    // An edit that puts the stored value back still counts as an edit.
    SetText(IDC_INPUT_EXT, app.Settings.InputExt);
    ExpectApplyAndCancel(true);
    EXPECT_TRUE(questions.empty());
}

TEST_F(MainDialog, ANewGraphChoiceOrAClickOnAnEnabledCheckBoxEnablesApplyAndCancel)
{
    CreateGraphFile("b.xgr");
    Open();

    // The keyboard's way through the list raises the list's own notification.
    ::SendMessageA(Item(IDC_GRAPH_LIST), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ("b.xgr", SelectedGraph());
    ExpectApplyAndCancel(true);
    Click(IDC_CANCEL_CHANGES);
    EXPECT_EQ(kInternalGraphName, SelectedGraph());
    ExpectApplyAndCancel(false);

    for (int id : kSettingCheckBoxes) {
        SCOPED_TRACE(id);
        Click(id);
        EXPECT_TRUE(Checked(id));
        ExpectApplyAndCancel(true);
        Click(IDC_CANCEL_CHANGES);
        EXPECT_FALSE(Checked(id));
        ExpectApplyAndCancel(false);
    }

    // "Startup with Windows" is disabled and stores nothing, but a click on it counts as an edit
    // should it ever be enabled.
    ::EnableWindow(Item(IDC_STARTUP_WINDOWS), TRUE);
    Click(IDC_STARTUP_WINDOWS);
    ExpectApplyAndCancel(true);
}

TEST_F(MainDialog, CancelChangesPutsBackEveryStoredValueAtOnce)
{
    CreateGraphFile("b.xgr");
    app.Settings.UseFilterGraph = "b.xgr";
    app.Settings.DeleteSourceFile = 1;
    Open();
    EXPECT_EQ("b.xgr", SelectedGraph());

    SetText(IDC_INPUT_PATH, "X:\\in");
    SetText(IDC_OUTPUT_PATH, "X:\\out");
    SetText(IDC_INPUT_EXT, "ts");
    SetText(IDC_OUTPUT_EXT, "mkv");
    ChooseGraph(kInternalGraphName);
    for (int id : kSettingCheckBoxes)
        Click(id);

    Click(IDC_CANCEL_CHANGES);
    ExpectStoredValuesShown();
    EXPECT_EQ("b.xgr", SelectedGraph());
    ExpectApplyAndCancel(false);
}

TEST_F(MainDialog, ApplyWithoutAWorkerStoresWhatTheControlsShowWithoutAsking)
{
    CreateGraphFile("b.xgr");
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
    EXPECT_TRUE(Enabled(IDC_START_AUTO));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
    EXPECT_EQ(0, app.AutoConvertRunning.load()); // applying starts no worker

    const CConverterSettings& settings = app.Settings;
    EXPECT_EQ("X:\\Recorded TV", settings.InputPath);
    EXPECT_EQ("Y:\\Converted\\", settings.OutputPath);
    EXPECT_EQ("ts", settings.InputExt);
    EXPECT_EQ("mpeg", settings.OutputExt);
    EXPECT_EQ("b.xgr", settings.UseFilterGraph);
    EXPECT_EQ(1u, settings.DeleteSourceFile);
    EXPECT_EQ(1u, settings.HideOnStartup);
    EXPECT_EQ(1u, settings.AutoStartConvert);

    struct StringValue {
        const char* name;
        const char* expected;
    };
    for (StringValue v : {StringValue{"InputPath", "X:\\Recorded TV"}, StringValue{"OutputPath", "Y:\\Converted\\"},
                          StringValue{"InputExt", "ts"}, StringValue{"OutputExt", "mpeg"},
                          StringValue{"UseFilterGraph", "b.xgr"}}) {
        std::string stored;
        EXPECT_TRUE(ReadRegistryString(RegistryKey(), v.name, stored)) << v.name;
        EXPECT_EQ(v.expected, stored) << v.name;
    }
    for (const char* name : {"DeleteSourceFile", "HideOnStartup", "AutoStartConvert"}) {
        DWORD stored = 7;
        EXPECT_TRUE(ReadRegistryDword(RegistryKey(), name, stored)) << name;
        EXPECT_EQ(1u, stored) << name;
    }

    // Unchecking is stored as 0, and the internal graph under its own name.
    Click(IDC_DELETE_SOURCE);
    ChooseGraph(kInternalGraphName);
    Click(IDC_APPLY);
    DWORD deleteSource = 7;
    EXPECT_TRUE(ReadRegistryDword(RegistryKey(), "DeleteSourceFile", deleteSource));
    EXPECT_EQ(0u, deleteSource);
    std::string graph;
    EXPECT_TRUE(ReadRegistryString(RegistryKey(), "UseFilterGraph", graph));
    EXPECT_EQ(kInternalGraphName, graph);
    EXPECT_TRUE(questions.empty());
}

TEST_F(MainDialog, GraphListHoldsTheInternalEntryAndEveryGraphFileSorted)
{
    CreateGraphFile("zeta.xgr");
    CreateGraphFile("Alpha.xgr");
    CreateGraphFile("mid.XGR");
    CreateGraphFile("notes.txt");
    CreateGraphFile("graph.xgr.bak");
    ::CreateDirectoryA((programDirectory + "folder.xgr").c_str(), nullptr);
    app.Settings.UseFilterGraph = "ALPHA.XGR"; // the list's exact search ignores case
    Open();

    std::vector<std::string> expected = {kInternalGraphName, "Alpha.xgr", "mid.XGR", "zeta.xgr"};
    EXPECT_EQ(expected, GraphList());
    EXPECT_EQ("Alpha.xgr", SelectedGraph());

    // The list is filled once, when the dialog starts.
    CreateGraphFile("late.xgr");
    EXPECT_EQ(expected, GraphList());
}

TEST_F(MainDialog, AStoredGraphChoiceNoLongerListedSelectsTheFirstEntry)
{
    struct Case {
        const char* stored;
        bool withFiles;
    };
    for (Case c : {Case{"gone.xgr", true}, Case{"b.xg", true}, Case{"gone.xgr", false}}) {
        SCOPED_TRACE(c.stored);
        if (c.withFiles) {
            CreateGraphFile("a.xgr");
            CreateGraphFile("b.xgr");
        } else {
            programDirectory = MakeScratchDirectory("ui-program");
        }
        app.Settings.UseFilterGraph = c.stored;
        Open();
        std::vector<std::string> list = GraphList();
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list.front(), SelectedGraph());
        EXPECT_EQ(c.withFiles ? 3u : 1u, list.size());
        EXPECT_EQ(c.stored, app.Settings.UseFilterGraph); // replaced only by Apply
        ExpectApplyAndCancel(false);
        Close();
    }
}

TEST_F(MainDialog, SystemMenuEndsWithASeparatorAndTheAboutItem)
{
    Open();
    HMENU menu = ::GetSystemMenu(window, FALSE);
    ASSERT_NE(nullptr, menu);
    int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);

    EXPECT_EQ(0x0010u, ::GetMenuItemID(menu, count - 1));
    char text[64] = {};
    ::GetMenuStringA(menu, count - 1, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ("&About Halvern...", text);

    MENUITEMINFOA separator = {};
    separator.cbSize = sizeof(separator);
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(::GetMenuItemInfoA(menu, count - 2, TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
}

TEST_F(MainDialog, AboutItemRunsTheAboutBoxModallyOverTheMainWindow)
{
    Open();
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

TEST_F(MainDialog, ConfigureSaysNotImplementedAndTheBrowseButtonsDoNothing)
{
    Open();
    Click(IDC_CONFIGURE);
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ("Not implemented yet", questions[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK), questions[0].type & MB_TYPEMASK);

    Click(IDC_BROWSE_INPUT);
    Click(IDC_BROWSE_OUTPUT);
    EXPECT_EQ(1u, questions.size());
    ExpectStoredValuesShown();
    ExpectApplyAndCancel(false);
}

TEST_F(MainDialog, QueryDragIconGivesTheWindowIcon)
{
    Open();
    HICON big = reinterpret_cast<HICON>(::SendMessageA(window, WM_GETICON, ICON_BIG, 0));
    HICON small = reinterpret_cast<HICON>(::SendMessageA(window, WM_GETICON, ICON_SMALL, 0));
    HICON drag = reinterpret_cast<HICON>(::SendMessageA(window, WM_QUERYDRAGICON, 0, 0));
    EXPECT_NE(nullptr, big);
    EXPECT_EQ(big, small);
    EXPECT_EQ(big, drag);
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
    RECT restored;
    ::GetWindowRect(window, &restored);
    EXPECT_TRUE(::EqualRect(&normal, &restored));
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

    // Other sizes leave it alone.
    ::SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10));
    EXPECT_TRUE(::IsWindowVisible(window));
}

TEST_F(MainDialog, StartAndStopButtonsAlternate)
{
    app.Settings.InputPath = MakeScratchDirectory("ui-input");
    app.Settings.OutputPath = MakeScratchDirectory("ui-output");
    Open();

    Click(IDC_START_AUTO);
    EXPECT_FALSE(Enabled(IDC_START_AUTO));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));
    ASSERT_TRUE(WaitForWorker(true));

    Click(IDC_STOP_AUTO);
    // The stop waits for the worker's end.
    EXPECT_EQ(0, app.AutoConvertRunning.load());
    EXPECT_TRUE(Enabled(IDC_START_AUTO));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
}

TEST_F(MainDialog, AutoStartSettingStartsTheWorkerDuringInitialisation)
{
    app.Settings.InputPath = MakeScratchDirectory("ui-input");
    app.Settings.OutputPath = MakeScratchDirectory("ui-output");
    app.Settings.AutoStartConvert = 1;
    app.Settings.HideOnStartup = 1;
    Open();
    EXPECT_FALSE(Enabled(IDC_START_AUTO));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));
    EXPECT_TRUE(WaitForWorker(true));
    ExpectApplyAndCancel(false);
}

TEST_F(MainDialog, ApplyWhileTheWorkerRunsAsksAndRestartsItOnlyOnYes)
{
    app.Settings.InputPath = MakeScratchDirectory("ui-input");
    app.Settings.OutputPath = MakeScratchDirectory("ui-output");
    app.Settings.AutoStartConvert = 1;
    Open();
    ASSERT_TRUE(WaitForWorker(true));
    const std::string storedOutput = app.Settings.OutputPath;
    const std::string newOutput = MakeScratchDirectory("ui-output2");

    // No: nothing applied, the edits and both buttons stay, the worker goes on.
    SetText(IDC_OUTPUT_PATH, newOutput);
    answer = IDNO;
    Click(IDC_APPLY);
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ(kRestartQuestion, questions[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), questions[0].type & MB_TYPEMASK);
    EXPECT_EQ(storedOutput, app.Settings.OutputPath);
    std::string stored;
    EXPECT_FALSE(ReadRegistryString(RegistryKey(), "OutputPath", stored));
    EXPECT_EQ(newOutput, Text(IDC_OUTPUT_PATH));
    ExpectApplyAndCancel(true);
    EXPECT_EQ(1, app.AutoConvertRunning.load());
    EXPECT_EQ(0, app.AutoConvertStopRequest.load());
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));

    // Yes: the question comes before anything is stopped or stored.
    answer = IDYES;
    bool stopStillEnabled = false;
    std::string outputWhenAsked;
    LONG runningWhenAsked = 0;
    onQuestion = [&](const Question&) {
        stopStillEnabled = Enabled(IDC_STOP_AUTO);
        outputWhenAsked = app.Settings.OutputPath;
        runningWhenAsked = app.AutoConvertRunning.load();
    };
    Click(IDC_APPLY);
    ASSERT_EQ(2u, questions.size());
    EXPECT_TRUE(stopStillEnabled);
    EXPECT_EQ(storedOutput, outputWhenAsked);
    EXPECT_EQ(1, runningWhenAsked);

    EXPECT_EQ(newOutput, app.Settings.OutputPath);
    EXPECT_TRUE(ReadRegistryString(RegistryKey(), "OutputPath", stored));
    EXPECT_EQ(newOutput, stored);
    ExpectApplyAndCancel(false);
    EXPECT_FALSE(Enabled(IDC_START_AUTO));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));
    EXPECT_TRUE(WaitForWorker(true));
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

TEST_F(MainDialogRun, EnterInAnEditBoxOrEscapeEndsTheRun)
{
    struct Case {
        WPARAM key;
        INT_PTR result;
    };
    for (Case c : {Case{VK_RETURN, IDOK}, Case{VK_ESCAPE, IDCANCEL}}) {
        SCOPED_TRACE(c.key);
        HWND shown = nullptr;
        BOOL visible = FALSE;
        INT_PTR result = Run([&] {
            shown = window;
            visible = ::IsWindowVisible(window);
            ::PostMessageA(Item(IDC_INPUT_PATH), WM_KEYDOWN, c.key, 1);
        });
        EXPECT_EQ(c.result, result);
        EXPECT_TRUE(visible);
        EXPECT_FALSE(::IsWindow(shown)); // the run destroys its window
        Close();
    }
}

TEST_F(MainDialogRun, HiddenStartStaysHiddenUntilTheTrayDoubleClick)
{
    app.Settings.HideOnStartup = 1;
    BOOL visibleAtStart = TRUE;
    BOOL visibleAfterDoubleClick = FALSE;
    INT_PTR result = Run([&] {
        visibleAtStart = ::IsWindowVisible(window);
        ::SendMessageA(window, WM_TRAY_CALLBACK, 128, WM_LBUTTONDBLCLK);
        visibleAfterDoubleClick = ::IsWindowVisible(window);
        ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(IDCANCEL, result); // the close button is Cancel
    EXPECT_FALSE(visibleAtStart);
    EXPECT_TRUE(visibleAfterDoubleClick);
}

} // namespace
} // namespace ui_test
