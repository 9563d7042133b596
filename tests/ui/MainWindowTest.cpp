#include "tests/ui/MainWindowFixture.h"

#include <functional>

namespace ui_test {
namespace {

using namespace testing_support;

class MainWindowSettings : public MainWindow {
protected:
    void ExpectShown(const CConverterSettings& shown)
    {
        EXPECT_EQ(shown.InputPath, Text(IDC_INPUT_PATH));
        EXPECT_EQ(shown.OutputPath, Text(IDC_OUTPUT_PATH));
        EXPECT_EQ(shown.InputExt, Text(IDC_INPUT_EXT));
        EXPECT_EQ(shown.OutputExt, Text(IDC_OUTPUT_EXT));
        EXPECT_EQ(shown.UseFilterGraph, Text(IDC_GRAPH_LIST)); // a drop-down list's text is its selection
        const DWORD checks[] = {shown.DeleteSourceFile, shown.HideOnStartup, shown.AutoStartConvert};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(checks[i] ? BST_CHECKED : BST_UNCHECKED, ::IsDlgButtonChecked(window, kCheckBoxes[i])) << i;
    }

    CConverterSettings Stored()
    {
        CConverterSettings stored;
        stored.Load(profile);
        return stored;
    }

    void ExpectPending(bool pending)
    {
        EXPECT_EQ(pending, Enabled(IDC_APPLY));
        EXPECT_EQ(pending, Enabled(IDC_CANCEL_CHANGES));
    }

    void ExpectWorker(bool running)
    {
        EXPECT_TRUE(WaitForWorker(running));
        EXPECT_EQ(!running, Enabled(IDC_START_AUTO));
        EXPECT_EQ(running, Enabled(IDC_STOP_AUTO));
    }

    void CreateGraphFile(const std::string& name) { WriteFileBytes(programDirectory + name, "<GRAPH/>"); }
    // The keyboard's way through the list raises the list's own notification.
    void NextGraph() { ::SendMessageA(Item(IDC_GRAPH_LIST), WM_KEYDOWN, VK_DOWN, 0); }

    static constexpr int kCheckBoxes[3] = {IDC_DELETE_SOURCE, IDC_HIDE_ON_STARTUP, IDC_AUTOSTART};
};

TEST_F(MainWindowSettings, EditsWaitForApplyWhichStoresThemWithoutAWorkerOrCancelChangesWhichUndoesThem)
{
    CreateGraphFile("a.xgr");
    CreateGraphFile("b.xgr");
    settings.UseFilterGraph = "a.xgr";
    settings.DeleteSourceFile = 1;
    Open();
    ExpectShown(settings);
    ExpectPending(false);
    ExpectWorker(false);

    std::vector<std::function<void()>> edits;
    for (int id : {IDC_INPUT_PATH, IDC_OUTPUT_PATH, IDC_INPUT_EXT, IDC_OUTPUT_EXT})
        edits.push_back([this, id] { SetText(id, "X:\\" + std::to_string(id)); });
    edits.push_back([this] { NextGraph(); });
    for (int id : kCheckBoxes)
        edits.push_back([this, id] { Click(id); });
    for (size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(i);
        edits[i]();
        ExpectPending(true);
        Click(IDC_CANCEL_CHANGES);
        ExpectShown(settings);
        ExpectPending(false);
    }
    for (auto& edit : edits)
        edit();
    Click(IDC_APPLY);
    EXPECT_TRUE(questions.empty());
    ExpectPending(false);
    ExpectWorker(false); // AutoStartConvert is set now, but applying starts no worker
    ExpectShown(settings);
    ExpectShown(Stored());
    // Each check box to its own setting: no two of them had the same state in both rounds.
    Click(IDC_HIDE_ON_STARTUP);
    Click(IDC_APPLY);
    ExpectShown(Stored());

    Click(IDC_CONFIGURE); // only says so
    EXPECT_EQ(std::vector<std::string>{std::to_string(MB_OK) + " Not implemented yet"}, questions);
}

TEST_F(MainWindowSettings, WorkerButtonsAndTheRestartQuestionOfApply)
{
    settings.AutoStartConvert = 1;
    Open();
    ExpectWorker(true);
    const std::string storedOutput = settings.OutputPath;
    SetText(IDC_OUTPUT_PATH, "Y:\\Converted");

    // No: nothing applied, the edit stays pending, the same worker goes on.
    answer = IDNO;
    Click(IDC_APPLY);
    const std::string question = std::to_string(MB_YESNO)
        + " Auto Converter is running. It must restart in order to apply. \n\nRestart service?";
    EXPECT_EQ(std::vector<std::string>{question}, questions);
    EXPECT_EQ(storedOutput, settings.OutputPath);
    EXPECT_EQ("", Stored().OutputPath);
    ExpectPending(true);
    ExpectWorker(true);

    // Yes: stored, with a new worker.
    answer = IDYES;
    Click(IDC_APPLY);
    EXPECT_EQ(2u, questions.size());
    EXPECT_EQ("Y:\\Converted", Stored().OutputPath);
    ExpectPending(false);
    ExpectWorker(true);
    EXPECT_EQ(2, workerStarts.load());

    Click(IDC_STOP_AUTO); // waits for the worker's end
    EXPECT_FALSE(autoConverter.AutoConvertRunning());
    ExpectWorker(false);
}

TEST_F(MainWindowSettings, GraphListHoldsTheInternalEntryAndEveryGraphFileSorted)
{
    for (const char* name : {"zeta.xgr", "Alpha.xgr", "mid.XGR", "notes.txt", "graph.xgr.bak"})
        CreateGraphFile(name);
    ::CreateDirectoryA((programDirectory + "folder.xgr").c_str(), nullptr);

    // The list's exact search ignores case; a stored choice no longer listed selects the first entry.
    const std::pair<const char*, const char*> cases[] = {
        {"ALPHA.XGR", "Alpha.xgr"}, {"Alpha.xg", kInternalGraphName}, {"gone.xgr", kInternalGraphName}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        settings.UseFilterGraph = c.first;
        Open();
        std::vector<std::string> listed(::SendMessageA(Item(IDC_GRAPH_LIST), CB_GETCOUNT, 0, 0));
        for (size_t i = 0; i < listed.size(); ++i) {
            char text[MAX_PATH] = {};
            ::SendMessageA(Item(IDC_GRAPH_LIST), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            listed[i] = text;
        }
        EXPECT_EQ((std::vector<std::string>{kInternalGraphName, "Alpha.xgr", "mid.XGR", "zeta.xgr"}), listed);
        EXPECT_EQ(c.second, Text(IDC_GRAPH_LIST));
        EXPECT_EQ(c.first, settings.UseFilterGraph); // replaced only by Apply
        ExpectPending(false);
        Close();
    }
}

TEST_F(MainWindow, SystemMenuAboutItemAndTheTrayIconThatBringsTheMinimisedWindowBackOnTop)
{
    Open();
    HMENU menu = ::GetSystemMenu(window, FALSE);
    const int last = ::GetMenuItemCount(menu) - 1;
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(menu, last));
    char text[64] = {};
    ::GetMenuStringA(menu, last, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ("&About Halvern...", text);

    // Minimised is hidden, with no taskbar button; only a double-click on the icon brings it back.
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(::IsIconic(window));
    EXPECT_FALSE(::IsWindowVisible(window));
    ::SendMessageA(window, WM_TRAY_CALLBACK, IDR_MAINFRAME, WM_RBUTTONDBLCLK);
    EXPECT_FALSE(::IsWindowVisible(window));
    ::SendMessageA(window, WM_TRAY_CALLBACK, IDR_MAINFRAME, MAKELPARAM(WM_LBUTTONDBLCLK, 0x55)); // the low word tells
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_FALSE(::IsIconic(window));
    // Shown already, it comes on top of a window that came over it.
    HWND other = ::CreateWindowExA(0, "Static", "", WS_POPUP | WS_VISIBLE, 0, 0, 99, 99, nullptr, nullptr, nullptr, 0);
    ::SendMessageA(window, WM_TRAY_CALLBACK, IDR_MAINFRAME, WM_LBUTTONDBLCLK);
    HWND below = window;
    while (below && below != other)
        below = ::GetWindow(below, GW_HWNDNEXT);
    EXPECT_EQ(other, below) << "the window did not come on top";
    ::DestroyWindow(other);
}

} // namespace
} // namespace ui_test
