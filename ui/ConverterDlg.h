#pragma once
// The main window: settings, graph choice, the commands and the conversion's progress.

#include "autoconv/AutoConverter.h"
#include "convert/ConversionEngine.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "settings/ConverterSettings.h"
#include "tray/BalloonNotices.h"
#include "tray/SystemTray.h"
#include "ui/RunPoster.h"
#include "ui/UserPrompts.h"

#include <string>

// The system-menu command of the about box; the low four bits are the system's own.
constexpr UINT IDM_ABOUTBOX = 0x0010;

// What the main window works with; all of it outlives the window.
struct MainDialogParts {
    CWinApp& Profile; // where the settings are saved
    CConverterSettings& Settings;
    CConversionEngine& Engine;
    CAutoConverter& AutoConverter;
    CSystemTray& Tray;
    IBalloonNotices& Balloons; // the runs' reports
    CRunPoster& Runs;          // the engine's observer, which posts to this window
    std::wstring ProgramDirectory; // ends with a backslash; the graph list is read from it
    UserPrompts Prompts;
};

class CConverterDlg : public CDialog {
public:
    explicit CConverterDlg(MainDialogParts parts);
    // Takes a window that is still there (a modeless one) with it while the handlers still exist.
    ~CConverterDlg() override;

    // Shows the window at the first idle moment only when HideOnStartup is 0.
    INT_PTR DoModal() override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

    bool OnSysCommand(UINT command);
    bool OnPaint();
    HICON OnQueryDragIcon() const { return m_hIcon; }
    void OnSize(UINT sizeType, int width, int height);
    void OnDestroy();
    void OnCommand(int id, UINT code);
    void OnTimer(UINT_PTR id);
    void OnTrayNotify(UINT mouseMessage);
    void OnRunEvent(const RunEvent& event);

    // What the runs post, shown in the controls and in balloons.
    void OnRunStarted(LONG run);
    void OnGraphBuilt(const std::wstring& report);
    void OnProgressRange(LONG seconds);
    void OnProgressPosition(LONG seconds);
    void OnRunFinished(bool succeeded, const std::wstring& report);

    void OnConfigure();
    void OnStartAutoConvert();
    void OnStopAutoConvert();
    void OnConvertSingleFile();
    void OnSettingsChanged();
    void OnApplySettings();
    void OnCancelChanges();

    HICON m_hIcon;

private:
    MainDialogParts parts_;
    // A stop asked of the worker is pending: it finishes its conversion first. The window goes on
    // meanwhile and looks for the worker's end every 100 milliseconds.
    bool stopPending_ = false;
    // "Apply Settings" stopped a running worker: a new one starts once the old one has ended.
    bool restartPending_ = false;
    // The run shown as in progress, which "Cancel Conversion!" cancels; 0 while none is.
    LONG shownRun_ = 0;

    void OnAutoConvertStopped();

    void FillGraphList();
    void SelectGraph(const std::wstring& name);
    std::wstring SelectedGraph();

    struct CommandRoute {
        int id;
        UINT code;
        void (CConverterDlg::*handler)();
    };
    static const CommandRoute CommandRoutes[];
};
