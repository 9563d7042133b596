#include "app/ConverterApp.h"

#include "convert/InternalGraph.h"
#include "framework/MessageBox.h"
#include "ui/ConverterDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace {

const char kMaker[] = "Morrowick";
const char kSecondInstanceText[] = "Program can't have 2 instances";
const char kGraphNotWrittenText[] = "Could not write the internal graph to its temporary file.";
const char kFinishingTip[] = "Halvern is finishing a conversion...";
// At exit a conversion is waited for while it makes progress; one that has made none for this long
// is cancelled, and what has not ended this long after that is stuck in a filter.
constexpr DWORD kExitStallMs = 30000;
constexpr DWORD kExitStuckMs = 10000;

// Waits up to `ms`, answering the thread's messages meanwhile: the tray's window gets the shell's
// broadcasts.
void PauseAnswering(DWORD ms)
{
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT) != WAIT_OBJECT_0)
        return;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&msg);
}

// The directory of the running executable with its trailing backslash; false when the
// module path cannot be had whole.
bool QueryProgramDirectory(char (&directory)[MAX_PATH])
{
    directory[0] = '\0';
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    char* slash = strrchr(path, '\\');
    if (!slash)
        return false;
    slash[1] = '\0';
    strcpy(directory, path);
    return true;
}

// The temporary directory followed by the internal graph's file name; false when it does not fit.
bool QueryInternalGraphPath(char (&path)[MAX_PATH])
{
    path[0] = '\0';
    char directory[MAX_PATH];
    DWORD length = ::GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH || length + strlen(kInternalGraphFileName) + 1 > MAX_PATH)
        return false;
    strcpy(path, directory);
    strcat(path, kInternalGraphFileName);
    return true;
}

} // namespace

CConverterApp::CConverterApp()
{
    ProgramDirectory[0] = '\0';
    InternalGraphPath[0] = '\0';
}

// The parts go before the tray icon they show balloons on.
CConverterApp::~CConverterApp() = default;

// The worker's conversion in progress finishes and is published first, while it makes progress; a
// single-file conversion still running is cancelled and waited for. False when something is still
// going after the bounds: stuck in a filter.
bool CConverterApp::EndConversions()
{
    engine_->LimitStall(kExitStallMs);
    autoConverter_->RequestStop();
    if (engine_->Busy() || autoConverter_->AutoConvertRunning())
        Tray.KeepWhileClosing(kFinishingTip);
    const DWORD start = ::GetTickCount();
    while (!autoConverter_->FinishStop()) {
        const DWORD idle = std::min(::GetTickCount() - start, engine_->SinceProgressMs());
        if (idle >= kExitStallMs + kExitStuckMs)
            return false;
        PauseAnswering(100);
    }
    return engine_->FinishSingleConversion();
}

BOOL CConverterApp::InitInstance()
{
    // Only the progress bar: without a version-6 manifest Windows refuses flags it does not know.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();

    if (!QueryProgramDirectory(ProgramDirectory)) {
        AfxMessageBox("The program's directory path is too long.");
        return FALSE;
    }
    // A temporary directory that cannot hold the lock file is reported like a running instance:
    // either way this start cannot take the lock.
    if (!QueryInternalGraphPath(InternalGraphPath)) {
        AfxMessageBox(kSecondInstanceText);
        return FALSE;
    }
    switch (OpenInternalGraph(InternalGraphPath, InternalGraphFile, graphs_.InternalGraph)) {
    case InternalGraphOpen::Opened:
        break;
    case InternalGraphOpen::Locked:
        AfxMessageBox(kSecondInstanceText);
        return FALSE;
    case InternalGraphOpen::NotWritten:
        AfxMessageBox(kGraphNotWrittenText);
        return FALSE;
    }
    graphs_.ProgramDirectory = ProgramDirectory;

    SetRegistryKey(kMaker);
    Settings = CConverterSettings::Defaults();
    Settings.Load(*this);

    engine_ = std::make_unique<CConversionEngine>(graphs_, runPoster_);
    autoConverter_ = std::make_unique<CAutoConverter>(*engine_);
    {
        CConverterDlg dialog(MainDialogParts{*this, Settings, *engine_, *autoConverter_, Tray, Tray, runPoster_,
                                             ProgramDirectory, SystemPrompts()});
        m_pMainWnd = &dialog;
        dialog.DoModal();

        Settings.Save(*this);
        // The window has gone; the icon stays, saying why, while the conversions end.
        const bool runsEnded = EndConversions();
        Tray.RemoveFromTray();

        InternalGraphFile.Close();
        ::DeleteFileA(InternalGraphPath);
        m_pMainWnd = nullptr;
        if (!runsEnded) {
            // A run stuck in a filter uses the objects the program would now destroy: the process
            // ends with it instead.
            ::TerminateProcess(::GetCurrentProcess(), 0);
        }
    }
    return FALSE;
}
