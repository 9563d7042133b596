#include "tests/ui/DialogFixture.h"

#include "tests/support/TestSupport.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

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

// The main dialog's controls in template order, which is also the tab order.
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

// The parts of an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items) that
// the checks below read.
struct TemplateItem {
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string windowClass; // the predefined classes by name; class names ignore case
    std::string title;
};

struct DialogTemplate {
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    WORD pointSize = 0;
    std::string typeface;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}

    template <typename T>
    T Read()
    {
        T value;
        memcpy(&value, p_, sizeof(T));
        p_ += sizeof(T);
        return value;
    }

    std::string ReadText()
    {
        std::string text;
        for (WORD c = Read<WORD>(); c != 0; c = Read<WORD>())
            text += static_cast<char>(c); // the templates here are plain ASCII
        return text;
    }

    // A name or, after 0xFFFF, an ordinal; the predefined control classes become their names.
    std::string ReadNameOrOrdinal()
    {
        WORD first;
        memcpy(&first, p_, sizeof(first));
        if (first != 0xFFFF)
            return ReadText();
        p_ += sizeof(WORD);
        switch (Read<WORD>()) {
        case 0x0080: return "Button";
        case 0x0081: return "Edit";
        case 0x0082: return "Static";
        case 0x0083: return "ListBox";
        case 0x0084: return "ScrollBar";
        case 0x0085: return "ComboBox";
        default: return "#ordinal";
        }
    }

    void AlignToDword(const BYTE* start)
    {
        while ((p_ - start) % 4 != 0)
            ++p_;
    }

private:
    const BYTE* p_;
};

bool LoadDialogTemplate(UINT id, DialogTemplate& result)
{
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC resource = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    HGLOBAL loaded = resource ? ::LoadResource(module, resource) : nullptr;
    const BYTE* start = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    if (!start)
        return false;
    TemplateReader reader(start);
    if (reader.Read<WORD>() != 1 || reader.Read<WORD>() != 0xFFFF)
        return false; // not an extended template
    reader.Read<DWORD>(); // help id
    result.exStyle = reader.Read<DWORD>();
    result.style = reader.Read<DWORD>();
    WORD count = reader.Read<WORD>();
    result.x = reader.Read<short>();
    result.y = reader.Read<short>();
    result.cx = reader.Read<short>();
    result.cy = reader.Read<short>();
    reader.ReadNameOrOrdinal(); // menu
    reader.ReadNameOrOrdinal(); // class
    result.title = reader.ReadText();
    if (result.style & (DS_SETFONT | DS_SHELLFONT)) {
        result.pointSize = reader.Read<WORD>();
        reader.Read<WORD>(); // weight
        reader.Read<BYTE>(); // italic
        reader.Read<BYTE>(); // character set
        result.typeface = reader.ReadText();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignToDword(start);
        TemplateItem item;
        reader.Read<DWORD>(); // help id
        item.exStyle = reader.Read<DWORD>();
        item.style = reader.Read<DWORD>();
        item.x = reader.Read<short>();
        item.y = reader.Read<short>();
        item.cx = reader.Read<short>();
        item.cy = reader.Read<short>();
        item.id = static_cast<int>(reader.Read<DWORD>());
        item.windowClass = reader.ReadNameOrOrdinal();
        item.title = reader.ReadNameOrOrdinal();
        WORD extra = reader.Read<WORD>();
        for (WORD e = 0; e < extra; ++e)
            reader.Read<BYTE>();
        result.items.push_back(item);
    }
    return true;
}

// The style bits that make each kind of control, as the template must carry them.
void ExpectTemplateKind(const TemplateItem& item, Kind kind)
{
    const DWORD style = item.style;
    switch (kind) {
    case Kind::PushButton:
        EXPECT_STRCASEEQ("Button", item.windowClass.c_str());
        EXPECT_EQ(static_cast<DWORD>(BS_PUSHBUTTON), style & BS_TYPEMASK);
        EXPECT_TRUE(style & WS_TABSTOP);
        break;
    case Kind::CheckBox:
        EXPECT_STRCASEEQ("Button", item.windowClass.c_str());
        EXPECT_EQ(static_cast<DWORD>(BS_AUTOCHECKBOX), style & BS_TYPEMASK);
        EXPECT_TRUE(style & WS_TABSTOP);
        break;
    case Kind::GroupBox:
        EXPECT_STRCASEEQ("Button", item.windowClass.c_str());
        EXPECT_EQ(static_cast<DWORD>(BS_GROUPBOX), style & BS_TYPEMASK);
        break;
    case Kind::Edit:
        EXPECT_STRCASEEQ("Edit", item.windowClass.c_str());
        EXPECT_EQ(static_cast<DWORD>(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
                  style & (ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | ES_MULTILINE));
        break;
    case Kind::RightText:
        EXPECT_STRCASEEQ("Static", item.windowClass.c_str());
        EXPECT_EQ(static_cast<DWORD>(SS_RIGHT), style & SS_TYPEMASK);
        break;
    case Kind::DropList:
        EXPECT_STRCASEEQ("ComboBox", item.windowClass.c_str());
        EXPECT_EQ(static_cast<DWORD>(CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP),
                  style & (0x3 | CBS_SORT | WS_VSCROLL | WS_TABSTOP));
        break;
    case Kind::Progress:
        EXPECT_STRCASEEQ(PROGRESS_CLASSA, item.windowClass.c_str());
        EXPECT_TRUE(style & WS_BORDER);
        break;
    }
}

TEST(MainDialogResource, TemplateMatchesTheWindowAsDesigned)
{
    DialogTemplate dialog;
    ASSERT_TRUE(LoadDialogTemplate(IDD_HALVERN_DIALOG, dialog));
    EXPECT_EQ("Halvern", dialog.title);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              dialog.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_VISIBLE
                              | DS_CENTER | DS_MODALFRAME));
    EXPECT_TRUE(dialog.exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(0, dialog.x);
    EXPECT_EQ(0, dialog.y);
    EXPECT_EQ(268, dialog.cx);
    EXPECT_EQ(194, dialog.cy);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("MS Shell Dlg", dialog.typeface);

    ASSERT_EQ(sizeof(kControls) / sizeof(kControls[0]), dialog.items.size());
    for (size_t i = 0; i < dialog.items.size(); ++i) {
        const ControlRow& row = kControls[i];
        const TemplateItem& item = dialog.items[i];
        SCOPED_TRACE(row.caption ? row.caption : std::to_string(row.id));
        EXPECT_EQ(row.id, static_cast<short>(item.id)); // IDC_STATIC is stored as 0xFFFF
        ExpectTemplateKind(item, row.kind);
        EXPECT_EQ(row.caption ? row.caption : "", item.title);
        EXPECT_EQ(row.x, item.x);
        EXPECT_EQ(row.y, item.y);
        EXPECT_EQ(row.width, item.cx);
        EXPECT_EQ(row.height, item.cy);
        EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_VISIBLE), item.style & (WS_CHILD | WS_VISIBLE));
        // Apply and Cancel Changes are enabled in the template; the initialisation disables them.
        const bool templateEnabled = row.enabled || row.id == IDC_APPLY || row.id == IDC_CANCEL_CHANGES;
        EXPECT_EQ(!templateEnabled, (item.style & WS_DISABLED) != 0);
        EXPECT_NE(static_cast<DWORD>(BS_DEFPUSHBUTTON), item.style & BS_TYPEMASK);
    }
}

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

class MainDialogTemplate : public DialogFixture {};

TEST_F(MainDialogTemplate, WindowIsCreatedHiddenAtTheScreenCornerInItsDesignedSize)
{
    Open();
    EXPECT_EQ("Halvern", WindowText(window));
    EXPECT_EQ("#32770", ClassOf(window));
    EXPECT_FALSE(::IsWindowVisible(window));
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

    // No OK or Cancel button: Enter and Escape reach the dialog as commands of their own.
    EXPECT_EQ(nullptr, Item(IDOK));
    EXPECT_EQ(nullptr, Item(IDCANCEL));
}

TEST_F(MainDialogTemplate, ControlsAppearInTemplateOrderWithCaptionPlaceAndState)
{
    Open();
    HWND control = ::GetWindow(window, GW_CHILD);
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.caption ? row.caption : std::to_string(row.id));
        ASSERT_NE(nullptr, control) << "fewer controls than rows";
        EXPECT_EQ(row.id, ::GetDlgCtrlID(control));
        if (row.caption) {
            EXPECT_EQ(row.caption, WindowText(control));
        }
        EXPECT_TRUE(::GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE);
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

TEST_F(MainDialogTemplate, AboutBoxTemplateHasItsCaptionAndAnOkButton)
{
    Open();
    HWND about = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), window,
                                      &IgnoreMessages, 0);
    ASSERT_NE(nullptr, about);
    EXPECT_EQ("About Halvern", WindowText(about));
    EXPECT_EQ("OK", WindowText(::GetDlgItem(about, IDOK)));
    ::DestroyWindow(about);

    char text[64] = {};
    ::LoadStringA(::GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof(text));
    EXPECT_STREQ("&About Halvern...", text);
}

} // namespace
} // namespace ui_test
