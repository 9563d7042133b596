#include "tests/ui/MainWindowFixture.h"

#include <functional>

namespace ui_test {
namespace {

class MainWindowEdits : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        CreateGraphFile(L"a.xgr");
        CreateGraphFile(L"b.xgr");
        settings.UseFilterGraph = L"a.xgr";
        settings.DeleteSourceFile = 1;
        Open();
    }

    // Each field changed as the user changes it: a new text raises EN_CHANGE as typing does; the
    // keyboard's way through the list, its own notification.
    std::vector<std::function<void()>> Edits()
    {
        std::vector<std::function<void()>> edits;
        for (int id : {IDC_INPUT_PATH, IDC_OUTPUT_PATH, IDC_INPUT_EXT, IDC_OUTPUT_EXT}) {
            EXPECT_TRUE(::GetWindowLongPtrA(Item(id), GWL_STYLE) & ES_AUTOHSCROLL) << "a long path is typed whole";
            const bool extension = id == IDC_INPUT_EXT || id == IDC_OUTPUT_EXT;
            const std::wstring text = (extension ? L"E" : L"X:\\Видео ") + std::to_wstring(id);
            edits.push_back([this, id, text] { ::SetWindowTextW(Item(id), text.c_str()); });
        }
        edits.push_back([this] { ::SendMessageA(Item(IDC_GRAPH_LIST), WM_KEYDOWN, VK_DOWN, 0); });
        for (int id : CheckBoxes)
            edits.push_back([this, id] { Click(id); });
        return edits;
    }
};

TEST_F(MainWindowEdits, CancelChangesUndoesEachEdit)
{
    ExpectShown(settings);
    ExpectPending(false);
    const auto edits = Edits();
    for (size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(i);
        edits[i]();
        ExpectPending(true);
        Click(IDC_CANCEL_CHANGES);
        ExpectShown(settings);
        ExpectPending(false);
    }
}

TEST_F(MainWindowEdits, ApplyStoresEveryEditWithoutStartingAWorker)
{
    for (auto& edit : Edits())
        edit();
    Click(IDC_APPLY);
    EXPECT_TRUE(messages.empty());
    ExpectPending(false);
    EXPECT_EQ(L"b.xgr", settings.UseFilterGraph);
    EXPECT_EQ((std::vector<DWORD>{0, 1, 1}),
              (std::vector<DWORD>{settings.DeleteSourceFile, settings.HideOnStartup, settings.AutoStartConvert}))
        << "each click toggles its box";
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

TEST_F(MainWindow, GraphListSortsGraphFilesAfterTheInternalEntry)
{
    for (const wchar_t* name : {L"zeta.xgr", L"Alpha.xgr", L"mid.XGR", L"notes.txt", L"graph.xgr.bak"})
        CreateGraphFile(name);
    ::CreateDirectoryW((programDirectory + L"folder.xgr").c_str(), nullptr);

    // A stored choice not listed selects the first entry: the search is exact, not by prefix.
    settings.UseFilterGraph = L"Alpha.xg";
    Open();
    std::vector<std::wstring> listed(::SendMessageW(Item(IDC_GRAPH_LIST), CB_GETCOUNT, 0, 0));
    for (size_t i = 0; i < listed.size(); ++i) {
        wchar_t text[MAX_PATH] = {};
        ::SendMessageW(Item(IDC_GRAPH_LIST), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        listed[i] = text;
    }
    // Sorted whatever order the directory gives, and chosen from, not typed into.
    EXPECT_EQ((std::vector<std::wstring>{InternalGraphName, L"Alpha.xgr", L"mid.XGR", L"zeta.xgr"}), listed);
    const LONG_PTR style = ::GetWindowLongPtrA(Item(IDC_GRAPH_LIST), GWL_STYLE);
    EXPECT_EQ(CBS_DROPDOWNLIST | CBS_SORT, style & (CBS_DROPDOWNLIST | CBS_SORT));
    EXPECT_EQ(InternalGraphName, Text(IDC_GRAPH_LIST));
    EXPECT_EQ(L"Alpha.xg", settings.UseFilterGraph); // replaced only by Apply
    ExpectPending(false);
}

TEST_F(MainWindow, SystemMenuEndsWithAbout)
{
    Open();
    HMENU menu = ::GetSystemMenu(window, FALSE);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), ::GetMenuItemID(menu, ::GetMenuItemCount(menu) - 1));
}

// Minimised is hidden, with no taskbar button; a double-click on the icon brings it back.
TEST_F(MainWindow, TrayDoubleClickRestoresTheMinimisedWindow)
{
    Open();
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(::IsIconic(window));
    EXPECT_FALSE(::IsWindowVisible(window));
    ::SendMessageA(window, WM_TRAY_CALLBACK, IDR_MAINFRAME, MAKELPARAM(WM_LBUTTONDBLCLK, 0x55)); // the low word tells
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_FALSE(::IsIconic(window));
}

TEST_F(MainWindow, TrayDoubleClickBringsTheWindowOnTop)
{
    Open();
    ::ShowWindow(window, SW_SHOWNORMAL);
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
