#include "tests/ui/DialogFixture.h"

#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "settings/ConverterSettings.h"
#include "tray/SystemTray.h"

#include <cstring>

namespace ui_test {

using namespace testing_support;

namespace {

std::function<void()> g_pendingScript;

void CALLBACK RunPendingScript(HWND, UINT, UINT_PTR timer, DWORD)
{
    ::KillTimer(nullptr, timer);
    std::function<void()> script = std::move(g_pendingScript);
    g_pendingScript = nullptr;
    if (script)
        script();
}

// Wine's tray, with no desktop tray to dock into, is a window of its own that hides when its last
// icon goes, and hiding waits two seconds for a window manager that Xvfb lacks. Every test's dialog
// adds an icon and leaves it behind for a dead window; one icon held for the whole program keeps
// the tray from ever emptying.
class TrayOccupant : public ::testing::Environment {
public:
    void SetUp() override
    {
        owner_.CreateEx(0, "ui_test", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr);
        tray_.AddToTray(&owner_, WM_APP, "ui_test", ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), 1);
    }
    void TearDown() override { tray_.RemoveFromTray(); }

private:
    CWnd owner_;
    CSystemTray tray_;
};

const auto* const g_trayOccupant = ::testing::AddGlobalTestEnvironment(new TrayOccupant);

} // namespace

void RunSoon(std::function<void()> script, UINT delayMs)
{
    g_pendingScript = std::move(script);
    ::SetTimer(nullptr, 0, delayMs, &RunPendingScript);
}

void DialogFixture::SetUp()
{
    app.SetRegistryKey("Morrowick");
    DeleteRegistryTree(RegistryKey());

    programDirectory = MakeScratchDirectory("ui-program");
    ASSERT_LT(programDirectory.size(), sizeof(app.ProgramDirectory));
    strcpy(app.ProgramDirectory, programDirectory.c_str());

    CConverterSettings& settings = app.Settings;
    settings.InputPath = "C:\\Recordings";
    settings.OutputPath = "D:\\Video";
    settings.InputExt = "DVR-MS";
    settings.OutputExt = "MPG";
    settings.UseFilterGraph = kInternalGraphName;
    settings.DeleteSourceFile = 0;
    settings.HideOnStartup = 0;
    settings.AutoStartConvert = 0;
    app.ConversionBusy = 0;

    SetMessageBoxHandler([this](const char* text, UINT type) {
        questions.push_back({text, type});
        if (onQuestion)
            onQuestion(questions.back());
        return answer;
    });
}

void DialogFixture::TearDown()
{
    app.FinishSingleConversion();
    Close();
    app.StopAutoConvert();
    SetMessageBoxHandler(nullptr);
    SetFileDialogHandler(nullptr);
    DeleteRegistryTree(RegistryKey());
}

void DialogFixture::Open()
{
    dialog = std::make_unique<CConverterDlg>();
    app.m_pMainWnd = dialog.get();
    ASSERT_TRUE(dialog->Create());
    window = dialog->m_hWnd;
}

void DialogFixture::Close()
{
    if (dialog) {
        dialog->DestroyWindow();
        dialog.reset();
    }
    app.m_pMainWnd = nullptr;
    window = nullptr;
}

void DialogFixture::ChooseGraph(const std::string& name)
{
    HWND list = Item(IDC_GRAPH_LIST);
    LRESULT index = ::SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>(name.c_str()));
    ASSERT_NE(CB_ERR, index) << name;
    ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_GRAPH_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::vector<std::string> DialogFixture::GraphList() const
{
    std::vector<std::string> names;
    HWND list = Item(IDC_GRAPH_LIST);
    LRESULT count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[MAX_PATH] = {};
        ::SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        names.push_back(text);
    }
    return names;
}

std::string DialogFixture::SelectedGraph() const
{
    LRESULT index = ::SendMessageA(Item(IDC_GRAPH_LIST), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? "(none)" : GraphList()[static_cast<size_t>(index)];
}

} // namespace ui_test
