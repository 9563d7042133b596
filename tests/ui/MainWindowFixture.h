#pragma once
// The real main window, created modeless on the test's thread with the program's own engine, Auto
// Converter and run view; the profile, the prompts, the balloons and the tray's shell are the test's.

#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/ConverterDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace ui_test {

// Read only once the run view has counted the end of the runs, which comes after their balloons.
struct RecordedBalloons : IBalloonNotices {
    BOOL ShowBalloonNotice(const char* text, const char* title, DWORD iconKind, UINT) override
    {
        shown.push_back(std::string(title ? title : "") + "|" + std::to_string(iconKind) + "|" + text);
        return TRUE;
    }
    std::vector<std::string> shown;
};

// The program's run view, through which a test can hold a run that has claimed the engine before
// it shows itself.
class HeldRunView : public CRunView {
public:
    using CRunView::CRunView;
    void Hold() { ::ResetEvent(go_.Get()); }
    void Release() { ::SetEvent(go_.Get()); }
    void OnConversionStarted() override
    {
        ::WaitForSingleObject(go_.Get(), 60000);
        CRunView::OnConversionStarted();
    }
    void OnConversionFinished(bool succeeded, const std::string& report, bool started) override
    {
        CRunView::OnConversionFinished(succeeded, report, started);
        ++Finished;
    }
    std::atomic<int> Finished{0}; // runs whose end has been shown

private:
    UniqueHandle go_{::CreateEventA(nullptr, TRUE, TRUE, nullptr)};
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        profile.SetRegistryKey("Morrowick");
        testing_support::DeleteRegistryTree(registryKey);
        settings = CConverterSettings::Defaults();
        // Directories that exist, so that a started worker keeps running.
        settings.InputPath = testing_support::MakeScratchDirectory("ui-input");
        settings.OutputPath = testing_support::MakeScratchDirectory("ui-output");
    }
    // The window goes first, then the worker and the runs, which have no window to update then.
    void TearDown() override { runView.Release(); }

    void Open()
    {
        UserPrompts prompts;
        prompts.Message = [this](const char*, UINT) { return ++questions, IDYES; };
        prompts.ChooseFile = [this](const std::string& initialName, const std::string& filter, std::string& path) {
            offered.push_back(initialName + " " + filter);
            path = chosen;
            return !chosen.empty();
        };
        dialog = std::make_unique<CConverterDlg>(
            MainDialogParts{profile, settings, engine, autoConverter, tray, runView, programDirectory, prompts});
        ASSERT_TRUE(dialog->Create());
        window = dialog->m_hWnd;
    }

    HWND Item(int id) const { return ::GetDlgItem(window, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    std::string Text(int id) const { return testing_support::WindowText(Item(id)); }
    void Click(int id) { ::SendMessageA(Item(id), BM_CLICK, 0, 0); }

    CWinApp profile;
    const std::string registryKey = "Software\\Morrowick\\" + profile.m_appName;
    CConverterSettings settings;
    const std::string programDirectory = testing_support::MakeScratchDirectory("ui-program");
    GraphSource graphs{{}, programDirectory};
    RecordedBalloons balloons;
    HeldRunView runView{balloons, [this] { return autoConverter.AutoConvertRunning(); }};
    CConversionEngine engine{graphs, runView};
    CAutoConverter autoConverter{engine, CAutoConverter::Options{[](const char*) {}, 60000, {}}};
    // The shell is never asked: Wine's own tray would come and go with every test's icon.
    CSystemTray tray{CSystemTray::Platform{[](DWORD, NOTIFYICONDATAA*) { return TRUE; }, {}, {}, CP_ACP}};

    int questions = 0; // message boxes shown
    std::vector<std::string> offered;   // "initial name filter" of each open-file dialog
    std::string chosen;                 // the open-file dialog's choice; empty for Cancel
    std::unique_ptr<CConverterDlg> dialog;
    HWND window = nullptr;
};

} // namespace ui_test
