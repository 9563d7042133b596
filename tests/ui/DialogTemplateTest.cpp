// The main window's dialog template as the created window shows it: its frame, and every control
// in template order (which is also the tab order) with its kind, caption, place and state.

#include "tests/ui/MainWindowFixture.h"

#include <commctrl.h>

namespace ui_test {
namespace {

using namespace testing_support;

enum class Kind { PushButton, CheckBox, GroupBox, Edit, RightText, DropList, Progress };

struct ControlRow {
    int id;
    Kind kind;
    const char* caption;
    int x, y, width, height;
    bool enabled; // after initialisation
};

const ControlRow kControls[] = {
    {IDC_CONVERT_SINGLE, Kind::PushButton, "Convert Single File...", 182, 7, 79, 18, true},
    {IDC_GRAPH_LIST, Kind::DropList, nullptr, 95, 56, 109, 144, true},
    {IDC_STATIC, Kind::RightText, "Filter Graph to use :", 19, 57, 66, 9, true},
    {IDC_START_AUTO, Kind::PushButton, "Start Auto Converter", 7, 7, 78, 18, true},
    {IDC_STOP_AUTO, Kind::PushButton, "Stop Auto Converter", 95, 7, 78, 18, false},
    {IDC_STATIC, Kind::GroupBox, "Options", 7, 43, 254, 116, true},
    {IDC_DELETE_SOURCE, Kind::CheckBox, "Delete original after conversion", 15, 131, 113, 8, true},
    {IDC_OUTPUT_EXT, Kind::Edit, nullptr, 95, 111, 33, 12, true},
    {IDC_STATIC, Kind::RightText, "Output File Extention :", 9, 113, 76, 8, true},
    {IDC_STATIC, Kind::RightText, "Input File Extention :", 12, 99, 73, 10, true},
    {IDC_INPUT_EXT, Kind::Edit, nullptr, 95, 98, 33, 13, true},
    {IDC_INPUT_PATH, Kind::Edit, nullptr, 95, 70, 135, 12, true},
    {IDC_BROWSE_INPUT, Kind::PushButton, "...", 234, 70, 14, 12, true},
    {IDC_STATIC, Kind::RightText, "Input Path :", 41, 71, 44, 9, true},
    {IDC_CONFIGURE, Kind::PushButton, "Configure", 207, 55, 41, 13, true},
    {IDC_OUTPUT_PATH, Kind::Edit, nullptr, 95, 84, 135, 12, true},
    {IDC_BROWSE_OUTPUT, Kind::PushButton, "...", 234, 84, 14, 12, true},
    {IDC_STATIC, Kind::RightText, "Output Path :", 41, 84, 44, 9, true},
    {IDC_STATIC, Kind::GroupBox, "Startup Options", 137, 98, 111, 51, true},
    {IDC_STARTUP_WINDOWS, Kind::CheckBox, "Startup with Windows", 146, 114, 88, 8, false},
    {IDC_HIDE_ON_STARTUP, Kind::CheckBox, "Hide on startup", 146, 124, 64, 8, true},
    {IDC_AUTOSTART, Kind::CheckBox, "AutoStart Auto Converter", 146, 134, 95, 8, true},
    {IDC_PROGRESS, Kind::Progress, nullptr, 7, 32, 254, 7, true},
    {IDC_SYNC_DIRS, Kind::CheckBox, "Sync Input && Output directories", 15, 141, 114, 8, false},
    {IDC_APPLY, Kind::PushButton, "Apply Settings", 182, 168, 79, 18, false},
    {IDC_CANCEL_CHANGES, Kind::PushButton, "Cancel Changes", 85, 168, 88, 18, false},
};

// The class and the style bits that make each kind of control, in the order of Kind.
struct KindStyle {
    const char* windowClass;
    DWORD mask;
    DWORD bits;
};
const KindStyle kKindStyles[] = {
    // The dialog manager may mark the focused push button as the default one.
    {"Button", (BS_TYPEMASK & ~BS_DEFPUSHBUTTON) | WS_TABSTOP, BS_PUSHBUTTON | WS_TABSTOP},
    {"Button", BS_TYPEMASK | WS_TABSTOP, BS_AUTOCHECKBOX | WS_TABSTOP},
    {"Button", BS_TYPEMASK, BS_GROUPBOX},
    {"Edit", ES_AUTOHSCROLL | WS_TABSTOP | ES_MULTILINE, ES_AUTOHSCROLL | WS_TABSTOP},
    {"Static", SS_TYPEMASK, SS_RIGHT},
    {"ComboBox", 0x3 | CBS_SORT | WS_TABSTOP, CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP},
    {PROGRESS_CLASSA, 0, 0},
};

TEST_F(MainWindow, TemplateMakesAFixedSizeWindowWithTheseControlsInTabOrder)
{
    Open();
    EXPECT_EQ("Halvern", WindowText(window));
    const DWORD frameStyle = static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE));
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              frameStyle & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    RECT size = {0, 0, 268, 194};
    ::MapDialogRect(window, &size);
    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_EQ(size.right, client.right);
    EXPECT_EQ(size.bottom, client.bottom);

    HWND control = ::GetWindow(window, GW_CHILD);
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.caption ? row.caption : std::to_string(row.id));
        ASSERT_NE(nullptr, control) << "fewer controls than rows";
        EXPECT_EQ(row.id, static_cast<short>(::GetDlgCtrlID(control))); // IDC_STATIC is stored as 0xFFFF
        const KindStyle& kind = kKindStyles[static_cast<int>(row.kind)];
        char windowClass[64] = {};
        ::GetClassNameA(control, windowClass, sizeof(windowClass));
        EXPECT_STRCASEEQ(kind.windowClass, windowClass);
        const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(control, GWL_STYLE));
        EXPECT_EQ(kind.bits | WS_VISIBLE, style & (kind.mask | WS_VISIBLE));
        if (row.caption) { // the others show what the initialisation put there
            EXPECT_EQ(row.caption, WindowText(control));
        }
        EXPECT_EQ(row.enabled, ::IsWindowEnabled(control) != FALSE);

        // The dialog manager converts position and size each on its own, as MapDialogRect does.
        RECT expected = {row.x, row.y, row.width, row.height};
        ::MapDialogRect(window, &expected);
        RECT actual;
        ::GetWindowRect(control, &actual);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left);
        EXPECT_EQ(expected.top, actual.top);
        EXPECT_EQ(expected.right, actual.right - actual.left);
        if (row.kind != Kind::DropList) { // a closed drop-down list is as tall as its text
            EXPECT_EQ(expected.bottom, actual.bottom - actual.top);
        }
        control = ::GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, control) << "more controls than rows";
}

} // namespace
} // namespace ui_test
