#pragma once
// The real main window, created modeless on the test's thread with the program's own engine, Auto
// Converter and run poster; the profile, the prompts, the balloons and the tray's shell are the test's.

#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/ConverterDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace ui_test {

constexpr int CheckBoxes[3] = {IDC_DELETE_SOURCE, IDC_HIDE_ON_STARTUP, IDC_AUTOSTART};

// Read only once the window has shown the end of the runs (WaitForRunsShown), which comes with their balloons.
struct RecordedBalloons : IBalloonNotices {
    BOOL ShowBalloonNotice(const wchar_t* text, const wchar_t* title, DWORD iconKind, UINT) override
    {
        shown.push_back(std::wstring(title ? title : L"") + L"|" + std::to_wstring(iconKind) + L"|" + text);
        return TRUE;
    }
    std::vector<std::wstring> shown;
};

// A worker whose lines go nowhere.
inline CAutoConverter::Options QuietWorker()
{
    CAutoConverter::Options options;
    options.Output = [](const wchar_t*) {};
    return options;
}

// The main window made modeless, so the test drives it from its own thread's loop.
class CModelessConverterDlg : public CConverterDlg {
public:
    using CConverterDlg::CConverterDlg;
    bool Create()
    {
        return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), nullptr,
                                    &StaticDialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
    }
};

// The program's run poster, able to hold a run that has claimed the engine before it shows itself.
class HeldRunPoster : public CRunPoster {
public:
    void Hold() { ::ResetEvent(go_.Get()); }
    void Release() { ::SetEvent(go_.Get()); }
    void OnConversionStarted(LONG run) override
    {
        ::WaitForSingleObject(go_.Get(), 60000);
        CRunPoster::OnConversionStarted(run);
    }
    void OnConversionFinished(bool succeeded, const std::wstring& report, bool started) override
    {
        CRunPoster::OnConversionFinished(succeeded, report, started);
        ++Finished;
    }
    std::atomic<int> Finished{0}; // runs whose end has been posted

private:
    UniqueHandle go_{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        profile.SetRegistryKey(L"Morrowick");
        testing_support::DeleteRegistryTree("Software\\Morrowick\\" + testing_support::Utf8(profile.m_appName));
        // Directories that exist, so that a started worker keeps running.
        settings.InputPath = testing_support::Wide(testing_support::MakeScratchDirectory("ui-input"));
        settings.OutputPath = testing_support::Wide(testing_support::MakeScratchDirectory("ui-output"));
    }
    // The window goes first, then the worker and the runs, which have no window to update then.
    void TearDown() override { runs.Release(); }

    void Open()
    {
        UserPrompts prompts;
        prompts.Message = [this](const wchar_t* text, UINT) { return messages.push_back(text), IDYES; };
        prompts.ChooseFile = [this](const std::wstring& initialName, const std::wstring& filter, std::wstring& path) {
            offered.push_back(initialName + L" " + filter);
            path = chosen;
            return !chosen.empty();
        };
        dialog = std::make_unique<CModelessConverterDlg>(
            MainDialogParts{profile, settings, engine, autoConverter, tray, balloons, runs, programDirectory, prompts});
        ASSERT_TRUE(dialog->Create());
        window = dialog->m_hWnd;
    }

    HWND Item(int id) const { return ::GetDlgItem(window, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    std::wstring Text(int id) const
    {
        wchar_t text[1024] = {};
        ::GetWindowTextW(Item(id), text, ARRAYSIZE(text));
        return text;
    }
    void Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
    // Waits until this many runs have posted their end, then lets the window take what they posted.
    bool WaitForRunsShown(int count)
    {
        if (!testing_support::WaitUntil([&] { return runs.Finished.load() == count; }, 30000))
            return false;
        for (MSG msg; ::PeekMessageW(&msg, window, WM_RUN_EVENT, WM_RUN_EVENT, PM_REMOVE);)
            ::DispatchMessageW(&msg);
        return true;
    }
    void ExpectShown(const CConverterSettings& shown)
    {
        // A drop-down list's text is its selection.
        const std::pair<int, std::wstring> texts[] = {{IDC_INPUT_PATH, shown.InputPath}, {IDC_OUTPUT_PATH, shown.OutputPath},
            {IDC_INPUT_EXT, shown.InputExt}, {IDC_OUTPUT_EXT, shown.OutputExt}, {IDC_GRAPH_LIST, shown.UseFilterGraph}};
        for (const auto& [id, text] : texts)
            EXPECT_EQ(text, Text(id)) << id;
        const DWORD checks[] = {shown.DeleteSourceFile, shown.HideOnStartup, shown.AutoStartConvert};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(checks[i] ? BST_CHECKED : BST_UNCHECKED, ::IsDlgButtonChecked(window, CheckBoxes[i])) << i;
    }
    void ExpectPending(bool pending)
    {
        EXPECT_EQ(pending, Enabled(IDC_APPLY));
        EXPECT_EQ(pending, Enabled(IDC_CANCEL_CHANGES));
    }
    void CreateGraphFile(const std::wstring& name) { testing_support::WriteFileBytes(programDirectory + name, "<GRAPH/>"); }

    CWinApp profile;
    CConverterSettings settings = CConverterSettings::Defaults();
    const std::wstring programDirectory = testing_support::Wide(testing_support::MakeScratchDirectory("ui-program"));
    GraphSource graphs{{}, programDirectory};
    RecordedBalloons balloons;
    HeldRunPoster runs;
    CConversionEngine engine{graphs, runs};
    CAutoConverter autoConverter{engine, QuietWorker()};
    // The shell is never asked: Wine's own tray would come and go with every test's icon.
    CSystemTray tray{CSystemTray::Platform{[](DWORD, NOTIFYICONDATAW*) { return TRUE; }, {}, {}}};

    std::vector<std::wstring> messages; // texts of the message boxes shown, each answered Yes
    std::vector<std::wstring> offered; // "initial name filter" of each open-file dialog
    std::wstring chosen;               // the open-file dialog's choice; empty for Cancel
    std::unique_ptr<CModelessConverterDlg> dialog;
    HWND window = nullptr;
};

} // namespace ui_test
