// The main window's dialog template as the created window shows it: every control in template
// order (which is also the tab order) with its kind, caption and state.

#include "tests/ui/MainWindowFixture.h"

#include <commctrl.h>

namespace ui_test {
namespace {

// The class and the style bits that make a kind of control.
struct Kind {
    const char* windowClass;
    DWORD mask;
    DWORD bits;
};
// The dialog manager may mark the focused push button as the default one.
const Kind kPushButton{"Button", (BS_TYPEMASK & ~BS_DEFPUSHBUTTON) | WS_TABSTOP, BS_PUSHBUTTON | WS_TABSTOP};
const Kind kCheckBox{"Button", BS_TYPEMASK | WS_TABSTOP, BS_AUTOCHECKBOX | WS_TABSTOP};
const Kind kGroupBox{"Button", BS_TYPEMASK, BS_GROUPBOX};
const Kind kEdit{"Edit", ES_AUTOHSCROLL | WS_TABSTOP | ES_MULTILINE, ES_AUTOHSCROLL | WS_TABSTOP};
const Kind kRightText{"Static", SS_TYPEMASK, SS_RIGHT};
const Kind kDropList{"ComboBox", 0x3 | CBS_SORT | WS_TABSTOP, CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP};
const Kind kProgress{PROGRESS_CLASSA, 0, 0};

struct ControlRow {
    int id;
    const Kind& kind;
    const char* caption;
    bool enabled; // after initialisation
};

const ControlRow kControls[] = {
    {IDC_CONVERT_SINGLE, kPushButton, "Convert Single File...", true},
    {IDC_GRAPH_LIST, kDropList, nullptr, true},
    {IDC_STATIC, kRightText, "Filter Graph to use :", true},
    {IDC_START_AUTO, kPushButton, "Start Auto Converter", true},
    {IDC_STOP_AUTO, kPushButton, "Stop Auto Converter", false},
    {IDC_STATIC, kGroupBox, "Options", true},
    {IDC_DELETE_SOURCE, kCheckBox, "Delete original after conversion", true},
    {IDC_OUTPUT_EXT, kEdit, nullptr, true},
    {IDC_STATIC, kRightText, "Output File Extention :", true},
    {IDC_STATIC, kRightText, "Input File Extention :", true},
    {IDC_INPUT_EXT, kEdit, nullptr, true},
    {IDC_INPUT_PATH, kEdit, nullptr, true},
    {IDC_BROWSE_INPUT, kPushButton, "...", true},
    {IDC_STATIC, kRightText, "Input Path :", true},
    {IDC_CONFIGURE, kPushButton, "Configure", true},
    {IDC_OUTPUT_PATH, kEdit, nullptr, true},
    {IDC_BROWSE_OUTPUT, kPushButton, "...", true},
    {IDC_STATIC, kRightText, "Output Path :", true},
    {IDC_STATIC, kGroupBox, "Startup Options", true},
    {IDC_STARTUP_WINDOWS, kCheckBox, "Startup with Windows", false},
    {IDC_HIDE_ON_STARTUP, kCheckBox, "Hide on startup", true},
    {IDC_AUTOSTART, kCheckBox, "AutoStart Auto Converter", true},
    {IDC_PROGRESS, kProgress, nullptr, true},
    {IDC_SYNC_DIRS, kCheckBox, "Sync Input && Output directories", false},
    {IDC_APPLY, kPushButton, "Apply Settings", false},
    {IDC_CANCEL_CHANGES, kPushButton, "Cancel Changes", false},
};

TEST_F(MainWindow, TemplateMakesTheseControlsInTabOrder)
{
    Open();
    HWND control = ::GetWindow(window, GW_CHILD);
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.caption ? row.caption : std::to_string(row.id));
        ASSERT_NE(nullptr, control) << "fewer controls than rows";
        EXPECT_EQ(row.id, static_cast<short>(::GetDlgCtrlID(control))); // IDC_STATIC is stored as 0xFFFF
        char windowClass[64] = {};
        ::GetClassNameA(control, windowClass, sizeof(windowClass));
        EXPECT_STRCASEEQ(row.kind.windowClass, windowClass);
        const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(control, GWL_STYLE));
        EXPECT_EQ(row.kind.bits | WS_VISIBLE, style & (row.kind.mask | WS_VISIBLE));
        if (row.caption) { // the others show what the initialisation put there
            EXPECT_EQ(row.caption, testing_support::WindowText(control));
        }
        EXPECT_EQ(row.enabled, ::IsWindowEnabled(control) != FALSE);
        control = ::GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, control) << "more controls than rows";
}

} // namespace
} // namespace ui_test
