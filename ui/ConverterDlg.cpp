#include "ui/ConverterDlg.h"

#include "convert/ConversionRequest.h"
#include "convert/InputExtensions.h"
#include "convert/OutputRecord.h"
#include "convert/PathText.h"
#include "convert/SettingsCheck.h"
#include "framework/FileFind.h"
#include "res/resource.h"
#include "ui/AboutDlg.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {

const wchar_t ConvertCaption[] = L"Convert Single File...";
const wchar_t CancelCaption[] = L"Cancel Conversion!";
const wchar_t StopCaption[] = L"Stop Auto Converter";
const wchar_t StoppingCaption[] = L"Stopping...";
const wchar_t RefusedBusy[] = L"Another conversion is in progress. Try again when it has finished.";
const wchar_t RefusedNotStarted[] = L"The conversion could not be started.";
constexpr UINT_PTR StopPollTimer = 1;
constexpr UINT StopPollMs = 100;
constexpr UINT BalloonSeconds = 10;
constexpr DWORD ErrorIcon = 3;
const wchar_t ErrorTitle[] = L"ERROR";
const wchar_t RestartQuestion[] =
    L"Auto Converter is running. It must restart in order to apply. \n\nRestart service?";

} // namespace

const CConverterDlg::CommandRoute CConverterDlg::CommandRoutes[] = {
    {IDC_CONFIGURE, BN_CLICKED, &CConverterDlg::OnConfigure},
    {IDC_START_AUTO, BN_CLICKED, &CConverterDlg::OnStartAutoConvert},
    {IDC_STOP_AUTO, BN_CLICKED, &CConverterDlg::OnStopAutoConvert},
    {IDC_CONVERT_SINGLE, BN_CLICKED, &CConverterDlg::OnConvertSingleFile},
    {IDC_GRAPH_LIST, CBN_SELCHANGE, &CConverterDlg::OnSettingsChanged},
    {IDC_INPUT_PATH, EN_CHANGE, &CConverterDlg::OnSettingsChanged},
    {IDC_OUTPUT_PATH, EN_CHANGE, &CConverterDlg::OnSettingsChanged},
    {IDC_INPUT_EXT, EN_CHANGE, &CConverterDlg::OnSettingsChanged},
    {IDC_OUTPUT_EXT, EN_CHANGE, &CConverterDlg::OnSettingsChanged},
    {IDC_DELETE_SOURCE, BN_CLICKED, &CConverterDlg::OnSettingsChanged},
    {IDC_STARTUP_WINDOWS, BN_CLICKED, &CConverterDlg::OnSettingsChanged},
    {IDC_HIDE_ON_STARTUP, BN_CLICKED, &CConverterDlg::OnSettingsChanged},
    {IDC_AUTOSTART, BN_CLICKED, &CConverterDlg::OnSettingsChanged},
    {IDC_APPLY, BN_CLICKED, &CConverterDlg::OnApplySettings},
    {IDC_CANCEL_CHANGES, BN_CLICKED, &CConverterDlg::OnCancelChanges},
    // The two "..." buttons (IDC_BROWSE_INPUT, IDC_BROWSE_OUTPUT) have no command yet.
};

CConverterDlg::CConverterDlg(MainDialogParts parts)
    : CDialog(IDD_HALVERN_DIALOG),
      m_hIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      parts_(std::move(parts))
{
}

CConverterDlg::~CConverterDlg()
{
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

INT_PTR CConverterDlg::DoModal()
{
    return RunOwnModal(parts_.Settings.HideOnStartup == 0);
}

BOOL CConverterDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    // Conversion runs post what they do to this window from their own threads.
    parts_.Runs.AttachWindow(m_hWnd);

    wchar_t aboutText[256] = {};
    ::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, aboutText, 256);
    HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE);
    if (systemMenu && aboutText[0] != L'\0') {
        ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    FillGraphList();
    OnCancelChanges();

    parts_.Tray.AddToTray(this, WM_TRAY_CALLBACK, L"Halvern", m_hIcon, IDR_MAINFRAME);

    if (parts_.Settings.AutoStartConvert)
        OnStartAutoConvert();
    return TRUE;
}

void CConverterDlg::FillGraphList()
{
    // The list sorts itself (CBS_SORT), so the search order does not matter.
    SendDlgItemMessage(IDC_GRAPH_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(InternalGraphName));
    std::wstring pattern = parts_.ProgramDirectory + L"*.xgr";
    CFileFind find;
    for (bool found = find.FindFile(pattern.c_str()); found; found = find.FindNextFile()) {
        if (find.IsDirectory())
            continue;
        std::wstring name = find.GetFileName();
        SendDlgItemMessage(IDC_GRAPH_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    SendDlgItemMessage(IDC_GRAPH_LIST, CB_SETCURSEL, 0);
}

void CConverterDlg::SelectGraph(const std::wstring& name)
{
    // The exact-match search ignores case, as file names do.
    LRESULT index = SendDlgItemMessage(IDC_GRAPH_LIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(name.c_str()));
    SendDlgItemMessage(IDC_GRAPH_LIST, CB_SETCURSEL, index == CB_ERR ? 0 : static_cast<WPARAM>(index));
}

std::wstring CConverterDlg::SelectedGraph()
{
    LRESULT index = SendDlgItemMessage(IDC_GRAPH_LIST, CB_GETCURSEL);
    if (index == CB_ERR)
        return std::wstring();
    LRESULT length = SendDlgItemMessage(IDC_GRAPH_LIST, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendDlgItemMessage(IDC_GRAPH_LIST, CB_GETLBTEXT, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text;
}

bool CConverterDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    switch (msg) {
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam));
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        // One of the few messages whose dialog-procedure result is the answer itself.
        result = reinterpret_cast<INT_PTR>(OnQueryDragIcon());
        return true;
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return false;
    case WM_DESTROY:
        OnDestroy();
        return false;
    case WM_COMMAND:
        OnCommand(GET_WM_COMMAND_ID(wParam, lParam), GET_WM_COMMAND_CMD(wParam, lParam));
        return true;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return true;
    case WM_TRAY_CALLBACK:
        OnTrayNotify(LOWORD(lParam));
        return true;
    case WM_RUN_EVENT:
        OnRunEvent(*TakeRunEvent(lParam));
        return true;
    default:
        return false;
    }
}

void CConverterDlg::OnCommand(int id, UINT code)
{
    for (const CommandRoute& route : CommandRoutes) {
        if (route.id == id && route.code == code) {
            (this->*route.handler)();
            return;
        }
    }
}

bool CConverterDlg::OnSysCommand(UINT command)
{
    if ((command & 0xFFF0) != IDM_ABOUTBOX)
        return false; // minimise, move, close and the rest: the system's own handling
    CAboutDlg about(this);
    about.DoModal();
    return true;
}

bool CConverterDlg::OnPaint()
{
    if (!::IsIconic(m_hWnd))
        return false;
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
    return true;
}

void CConverterDlg::OnSize(UINT sizeType, int, int)
{
    // Minimised means gone to the tray: hidden, taskbar button included.
    if (sizeType == SIZE_MINIMIZED)
        ShowWindow(SW_HIDE);
}

void CConverterDlg::OnDestroy()
{
    // A conversion may outlive the window (the Auto Converter finishing at exit); from here on what
    // it tells goes unseen.
    parts_.Runs.DetachWindow();
}

void CConverterDlg::OnTrayNotify(UINT mouseMessage)
{
    if (mouseMessage != WM_LBUTTONDBLCLK)
        return;
    ShowWindow(SW_SHOW);
    ShowWindow(SW_RESTORE);
    ::BringWindowToTop(m_hWnd);
}

void CConverterDlg::OnRunEvent(const RunEvent& event)
{
    switch (event.kind) {
    case RunEvent::Kind::Started:
        OnRunStarted(event.run);
        break;
    case RunEvent::Kind::GraphBuilt:
        OnGraphBuilt(event.report);
        break;
    case RunEvent::Kind::ProgressRange:
        OnProgressRange(event.seconds);
        break;
    case RunEvent::Kind::ProgressPosition:
        OnProgressPosition(event.seconds);
        break;
    case RunEvent::Kind::Finished:
        OnRunFinished(event.succeeded, event.report);
        break;
    }
}

void CConverterDlg::OnRunStarted(LONG run)
{
    shownRun_ = run;
    EnableDlgItem(IDC_STOP_AUTO, FALSE);
    SetDlgItemText(IDC_CONVERT_SINGLE, CancelCaption);
}

void CConverterDlg::OnGraphBuilt(const std::wstring& report)
{
    parts_.Balloons.ShowBalloonNotice(report.c_str(), nullptr, 0, BalloonSeconds);
}

void CConverterDlg::OnProgressRange(LONG seconds)
{
    SendDlgItemMessage(IDC_PROGRESS, PBM_SETRANGE32, 0, seconds);
}

void CConverterDlg::OnProgressPosition(LONG seconds)
{
    SendDlgItemMessage(IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(seconds));
    ::UpdateWindow(::GetDlgItem(m_hWnd, IDC_PROGRESS));
}

// The controls come back also after a run that never started: the single-file command has shown it
// as running already.
void CConverterDlg::OnRunFinished(bool succeeded, const std::wstring& report)
{
    shownRun_ = 0;
    if (succeeded)
        parts_.Balloons.ShowBalloonNotice(report.c_str(), nullptr, 0, BalloonSeconds);
    else
        parts_.Balloons.ShowBalloonNotice(report.c_str(), ErrorTitle, ErrorIcon, BalloonSeconds);
    SetDlgItemText(IDC_CONVERT_SINGLE, ConvertCaption);
    EnableDlgItem(IDC_CONVERT_SINGLE, TRUE);
    // A worker stopping, or stopped, keeps Stop off: its end brings back Start instead.
    if (parts_.AutoConverter.RunsUnstopped())
        EnableDlgItem(IDC_STOP_AUTO, TRUE);
}

void CConverterDlg::OnConfigure()
{
    parts_.Prompts.Message(L"Not implemented yet", MB_OK);
}

void CConverterDlg::OnStartAutoConvert()
{
    EnableDlgItem(IDC_START_AUTO, FALSE);
    parts_.AutoConverter.StartAutoConvert(parts_.Settings);
    EnableDlgItem(IDC_STOP_AUTO, TRUE);
}

// The worker ends once its conversion in progress, if any, has finished and been handled; the
// window keeps working meanwhile, with both buttons off and Stop telling of the pending stop.
void CConverterDlg::OnStopAutoConvert()
{
    EnableDlgItem(IDC_STOP_AUTO, FALSE);
    parts_.AutoConverter.RequestStop();
    if (parts_.AutoConverter.FinishStop()) {
        OnAutoConvertStopped();
        return;
    }
    if (!stopPending_) {
        stopPending_ = true;
        SetDlgItemText(IDC_STOP_AUTO, StoppingCaption);
        ::SetTimer(m_hWnd, StopPollTimer, StopPollMs, nullptr);
    }
}

void CConverterDlg::OnTimer(UINT_PTR id)
{
    if (id == StopPollTimer && parts_.AutoConverter.FinishStop())
        OnAutoConvertStopped();
}

void CConverterDlg::OnAutoConvertStopped()
{
    if (stopPending_) {
        ::KillTimer(m_hWnd, StopPollTimer);
        stopPending_ = false;
        SetDlgItemText(IDC_STOP_AUTO, StopCaption);
    }
    EnableDlgItem(IDC_START_AUTO, TRUE);
    if (restartPending_) {
        restartPending_ = false;
        OnStartAutoConvert();
    }
}

void CConverterDlg::OnConvertSingleFile()
{
    // While a run is shown the button cancels that run and no other: not one that has claimed the
    // engine but not yet shown itself (queued behind a cancelled run that is finishing), nor the
    // next one when the click comes late.
    if (shownRun_ != 0) {
        // The conversion enables the button again when it has stopped.
        EnableDlgItem(IDC_CONVERT_SINGLE, FALSE);
        parts_.Engine.CancelRun(shownRun_);
        return;
    }

    // Stored values that cannot work fall back to their defaults for this run.
    std::wstring notes;
    const CConverterSettings settings = UsableSettings(parts_.Settings, CConverterSettings::Defaults(), notes);
    // The input extension first, as the Auto Converter looks for it; then both kinds of recording
    // the recording source reads, whatever that extension says.
    std::wstring patterns;
    for (const std::wstring& extension : InputExtensions(settings.InputExt))
        patterns += (patterns.empty() ? L"*." : L";*.") + extension;
    if (patterns.empty())
        patterns = L"*.*";
    std::wstring filter = L"Input Files (" + patterns + L")|" + patterns
        + L"|Recordings (*.dvr-ms;*.wtv)|*.dvr-ms;*.wtv|All Files (*.*)|*.*||";
    const std::wstring initialName = WithTrailingBackslash(settings.InputPath) + patterns.substr(0, patterns.find(L';'));

    std::wstring inputPath;
    if (!parts_.Prompts.ChooseFile(initialName, filter, inputPath))
        return;

    LONG run = 0;
    switch (parts_.Engine.StartSingleConversion(MakeNamedRequest(settings, inputPath, settings.OutputPath), &run)) {
    case SingleStart::Started:
        shownRun_ = run;
        // Shown as running, and cancellable, from now on, also while the run waits for its turn;
        // the run's end, even one that never got going, puts the controls back.
        EnableDlgItem(IDC_STOP_AUTO, FALSE);
        SetDlgItemText(IDC_CONVERT_SINGLE, CancelCaption);
        break;
    case SingleStart::Busy:
        // A conversion began while the file dialog was open (the Auto Converter's).
        parts_.Prompts.Message(RefusedBusy, MB_OK);
        break;
    case SingleStart::NotStarted:
        parts_.Prompts.Message(RefusedNotStarted, MB_OK);
        break;
    }
}

void CConverterDlg::OnSettingsChanged()
{
    EnableDlgItem(IDC_APPLY, TRUE);
    EnableDlgItem(IDC_CANCEL_CHANGES, TRUE);
}

void CConverterDlg::OnApplySettings()
{
    // Settings that cannot work are refused before anything is stopped or stored.
    CConverterSettings entered = parts_.Settings;
    entered.InputPath = GetDlgItemText(IDC_INPUT_PATH);
    entered.OutputPath = GetDlgItemText(IDC_OUTPUT_PATH);
    entered.InputExt = GetDlgItemText(IDC_INPUT_EXT);
    entered.OutputExt = GetDlgItemText(IDC_OUTPUT_EXT);
    const std::wstring unusable = UnusableSetting(entered);
    if (!unusable.empty()) {
        parts_.Prompts.Message(unusable.c_str(), MB_OK);
        return;
    }

    // A worker stopping for an earlier "Apply Settings" counts as running; one stopped by its button
    // does not.
    const bool wasRunning = restartPending_ || parts_.AutoConverter.RunsUnstopped();
    if (wasRunning && parts_.Prompts.Message(RestartQuestion, MB_YESNO) != IDYES)
        return;

    // The worker works on its own copy of the settings, taken as it starts: the new worker starts
    // after the save, once the old one has finished its conversion, if any, and ended.
    restartPending_ = false;
    OnStopAutoConvert();

    CConverterSettings& settings = parts_.Settings;
    settings.InputPath = GetDlgItemText(IDC_INPUT_PATH);
    settings.OutputPath = GetDlgItemText(IDC_OUTPUT_PATH);
    settings.InputExt = GetDlgItemText(IDC_INPUT_EXT);
    settings.OutputExt = GetDlgItemText(IDC_OUTPUT_EXT);
    settings.UseFilterGraph = SelectedGraph();
    settings.DeleteSourceFile = IsDlgButtonChecked(IDC_DELETE_SOURCE) == BST_CHECKED ? 1 : 0;
    settings.HideOnStartup = IsDlgButtonChecked(IDC_HIDE_ON_STARTUP) == BST_CHECKED ? 1 : 0;
    settings.AutoStartConvert = IsDlgButtonChecked(IDC_AUTOSTART) == BST_CHECKED ? 1 : 0;
    settings.Save(parts_.Profile);

    EnableDlgItem(IDC_APPLY, FALSE);
    EnableDlgItem(IDC_CANCEL_CHANGES, FALSE);

    if (!wasRunning)
        return;
    if (stopPending_)
        restartPending_ = true;
    else
        OnStartAutoConvert();
}

void CConverterDlg::OnCancelChanges()
{
    const CConverterSettings& settings = parts_.Settings;
    SetDlgItemText(IDC_INPUT_PATH, settings.InputPath.c_str());
    SetDlgItemText(IDC_OUTPUT_PATH, settings.OutputPath.c_str());
    SetDlgItemText(IDC_INPUT_EXT, settings.InputExt.c_str());
    SetDlgItemText(IDC_OUTPUT_EXT, settings.OutputExt.c_str());
    CheckDlgButton(IDC_DELETE_SOURCE, settings.DeleteSourceFile ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_HIDE_ON_STARTUP, settings.HideOnStartup ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_AUTOSTART, settings.AutoStartConvert ? BST_CHECKED : BST_UNCHECKED);
    SelectGraph(settings.UseFilterGraph);
    // The texts set above raised EN_CHANGE and enabled both buttons; the values are the stored ones.
    EnableDlgItem(IDC_APPLY, FALSE);
    EnableDlgItem(IDC_CANCEL_CHANGES, FALSE);
}
