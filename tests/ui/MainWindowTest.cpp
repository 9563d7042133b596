#include "tests/ui/MainWindowFixture.h"

#include <commctrl.h>

#include <functional>

namespace ui_test {
namespace {

using namespace testing_support;

// The template as the created window shows it: every control but the labels and frames, in template
// (and tab) order, with its class, style bits it must have, caption (null: set at start) and state.
constexpr DWORD kTab = WS_TABSTOP;
constexpr DWORD kCheckBox = BS_AUTOCHECKBOX | WS_TABSTOP;
const struct { int id; const char* windowClass; DWORD style; const char* caption; bool enabled; } kControls[] = {
    {IDC_CONVERT_SINGLE, "Button", kTab, "Convert Single File...", true},
    {IDC_GRAPH_LIST, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | kTab, nullptr, true},
    {IDC_START_AUTO, "Button", kTab, "Start Auto Converter", true},
    {IDC_STOP_AUTO, "Button", kTab, "Stop Auto Converter", false},
    {IDC_DELETE_SOURCE, "Button", kCheckBox, "Delete original after conversion", true},
    {IDC_OUTPUT_EXT, "Edit", ES_AUTOHSCROLL | kTab, nullptr, true},
    {IDC_INPUT_EXT, "Edit", ES_AUTOHSCROLL | kTab, nullptr, true},
    {IDC_INPUT_PATH, "Edit", ES_AUTOHSCROLL | kTab, nullptr, true},
    {IDC_BROWSE_INPUT, "Button", kTab, "...", true},
    {IDC_CONFIGURE, "Button", kTab, "Configure", true},
    {IDC_OUTPUT_PATH, "Edit", ES_AUTOHSCROLL | kTab, nullptr, true},
    {IDC_BROWSE_OUTPUT, "Button", kTab, "...", true},
    {IDC_STARTUP_WINDOWS, "Button", kCheckBox, "Startup with Windows", false},
    {IDC_HIDE_ON_STARTUP, "Button", kCheckBox, "Hide on startup", true},
    {IDC_AUTOSTART, "Button", kCheckBox, "AutoStart Auto Converter", true},
    {IDC_PROGRESS, PROGRESS_CLASSA, 0, nullptr, true},
    {IDC_SYNC_DIRS, "Button", kCheckBox, "Sync Input && Output directories", false},
    {IDC_APPLY, "Button", kTab, "Apply Settings", false},
    {IDC_CANCEL_CHANGES, "Button", kTab, "Cancel Changes", false},
};

TEST_F(MainWindow, EditsWaitForApplyWhichStoresThemWithoutAWorkerOrCancelChangesWhichUndoesThem)
{
    CreateGraphFile("a.xgr");
    CreateGraphFile("b.xgr");
    settings.UseFilterGraph = "a.xgr";
    settings.DeleteSourceFile = 1;
    Open();
    ExpectShown(settings);
    ExpectPending(false);

    // A new text raises EN_CHANGE as typing does; the keyboard's way through the list, its own notification.
    std::vector<std::function<void()>> edits;
    for (int id : {IDC_INPUT_PATH, IDC_OUTPUT_PATH, IDC_INPUT_EXT, IDC_OUTPUT_EXT})
        edits.push_back([this, id] { ::SetWindowTextA(Item(id), ("X:\\" + std::to_string(id)).c_str()); });
    edits.push_back([this] { ::SendMessageA(Item(IDC_GRAPH_LIST), WM_KEYDOWN, VK_DOWN, 0); });
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
    EXPECT_TRUE(messages.empty());
    ExpectPending(false);
    EXPECT_TRUE(Enabled(IDC_START_AUTO)); // AutoStartConvert is set now, but applying starts no worker
    ExpectShown(settings);
    CConverterSettings stored;
    stored.Load(profile);
    ExpectShown(stored);
    // Each check box to its own setting: no two of them had the same state in both rounds.
    Click(IDC_HIDE_ON_STARTUP);
    Click(IDC_APPLY);
    stored.Load(profile);
    ExpectShown(stored);
}

TEST_F(MainWindow, GraphListHoldsTheInternalEntryAndEveryGraphFileSorted)
{
    for (const char* name : {"zeta.xgr", "Alpha.xgr", "mid.XGR", "notes.txt", "graph.xgr.bak"})
        CreateGraphFile(name);
    ::CreateDirectoryA((programDirectory + "folder.xgr").c_str(), nullptr);

    // The list's exact search ignores case; a stored choice not listed selects the first entry.
    const std::pair<const char*, const char*> cases[] = {
        {"ALPHA.XGR", "Alpha.xgr"}, {"Alpha.xg", kInternalGraphName}};
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
        dialog.reset();
    }
}

TEST_F(MainWindow, SystemMenuAboutItemAndTheTrayIconThatBringsTheMinimisedWindowBackOnTop)
{
    Open();
    HMENU menu = ::GetSystemMenu(window, FALSE);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(menu, ::GetMenuItemCount(menu) - 1));

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

TEST_F(MainWindow, TemplateMakesTheseControlsInTabOrder)
{
    Open();
    std::vector<HWND> controls;
    for (HWND control = ::GetWindow(window, GW_CHILD); control; control = ::GetWindow(control, GW_HWNDNEXT))
        if (static_cast<short>(::GetDlgCtrlID(control)) != IDC_STATIC)
            controls.push_back(control);
    ASSERT_EQ(std::size(kControls), controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        const auto& row = kControls[i];
        SCOPED_TRACE(row.id);
        EXPECT_EQ(row.id, ::GetDlgCtrlID(controls[i]));
        char windowClass[64] = {};
        ::GetClassNameA(controls[i], windowClass, sizeof(windowClass));
        EXPECT_STRCASEEQ(row.windowClass, windowClass);
        const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(controls[i], GWL_STYLE));
        EXPECT_EQ(row.style | WS_VISIBLE, style & (row.style | WS_VISIBLE));
        const std::string caption = WindowText(controls[i]);
        EXPECT_EQ(row.caption ? row.caption : caption, caption);
        EXPECT_EQ(row.enabled, ::IsWindowEnabled(controls[i]) != FALSE);
    }
}

} // namespace
} // namespace ui_test
