// Dialog template 102 as the created window shows it: the dialog's frame and font, and every
// control in template order (which is also the tab order) with its kind, caption, place and state.

#include "tests/ui/DialogFixture.h"

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

std::string ClassOf(HWND window)
{
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof(name));
    return name;
}

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
    {"ComboBox", 0x3 | WS_TABSTOP, CBS_DROPDOWNLIST | WS_TABSTOP}, // sorted: the graph list's order shows it
    {PROGRESS_CLASSA, 0, 0},
};

class MainDialogTemplate : public DialogFixture {};

TEST_F(MainDialogTemplate, WindowIsCreatedHiddenAtTheScreenCornerInItsDesignedSizeAndFont)
{
    Open();
    EXPECT_EQ("Halvern", WindowText(window));
    EXPECT_EQ("#32770", ClassOf(window));
    EXPECT_FALSE(::IsWindowVisible(window));
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE));
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_CENTER));
    EXPECT_TRUE(::GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    RECT frame;
    ::GetWindowRect(window, &frame);
    EXPECT_EQ(0, frame.left);
    EXPECT_EQ(0, frame.top);
    RECT size = {0, 0, 268, 194};
    ::MapDialogRect(window, &size);
    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_EQ(size.right, client.right);
    EXPECT_EQ(size.bottom, client.bottom);

    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0));
    LOGFONTA logFont = {};
    ASSERT_TRUE(font && ::GetObjectA(font, sizeof(logFont), &logFont));
    EXPECT_STREQ("MS Shell Dlg", logFont.lfFaceName);
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(-::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72), logFont.lfHeight);
    ::ReleaseDC(nullptr, screen);

    // No OK or Cancel button: Enter and Escape reach the dialog as commands of their own.
    EXPECT_EQ(nullptr, Item(IDOK));
    EXPECT_EQ(nullptr, Item(IDCANCEL));
}

TEST_F(MainDialogTemplate, ControlsAppearInTemplateOrderWithKindCaptionPlaceAndState)
{
    Open();
    HWND control = ::GetWindow(window, GW_CHILD);
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.caption ? row.caption : std::to_string(row.id));
        ASSERT_NE(nullptr, control) << "fewer controls than rows";
        EXPECT_EQ(row.id, static_cast<short>(::GetDlgCtrlID(control))); // IDC_STATIC is stored as 0xFFFF
        const KindStyle& kind = kKindStyles[static_cast<int>(row.kind)];
        EXPECT_STRCASEEQ(kind.windowClass, ClassOf(control).c_str());
        const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(control, GWL_STYLE));
        EXPECT_EQ(kind.bits, style & kind.mask);
        if (row.kind == Kind::Edit) { // an edit box turns its border into a client edge
            EXPECT_TRUE((style & WS_BORDER) || (::GetWindowLongPtrA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        }
        EXPECT_TRUE(style & WS_VISIBLE);
        if (row.caption) { // the others show what the initialisation put there
            EXPECT_EQ(row.caption, WindowText(control));
        }
        EXPECT_EQ(row.enabled, ::IsWindowEnabled(control) != FALSE);

        // The dialog manager converts position and size each on its own, as MapDialogRect does
        // with each of its four fields.
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

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

TEST_F(MainDialogTemplate, AboutBoxTemplateHasItsCaptionAndAnOkButton)
{
    HWND about = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr,
                                      &IgnoreMessages, 0);
    ASSERT_NE(nullptr, about);
    EXPECT_EQ("About Halvern", WindowText(about));
    EXPECT_EQ("OK", WindowText(::GetDlgItem(about, IDOK)));
    ::DestroyWindow(about);
}

} // namespace
} // namespace ui_test
