#include "app/ConverterApp.h"

#include "app/CommandConversion.h"
#include "app/CommandLine.h"
#include "convert/InternalGraph.h"
#include "framework/MessageBox.h"
#include "ui/ConverterDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace {

const wchar_t Maker[] = L"Morrowick";
const wchar_t SecondInstanceText[] = L"Program can't have 2 instances";
const wchar_t GraphNotWrittenText[] = L"Could not write the internal graph to its temporary file.";
const wchar_t FinishingTip[] = L"Halvern is finishing a conversion...";
// At exit a conversion is waited for while it makes progress; one that has made none for this long
// is cancelled, and what has not ended this long after that is stuck in a filter.
constexpr DWORD ExitStallMs = 30000;
constexpr DWORD ExitStuckMs = 10000;

// Waits up to `ms`, answering the thread's messages meanwhile: the tray's window gets the shell's
// broadcasts.
void PauseAnswering(DWORD ms)
{
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT) != WAIT_OBJECT_0)
        return;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&msg);
}

// The directory of the running executable with its trailing backslash; false when the
// module path cannot be had whole.
bool QueryProgramDirectory(std::wstring& directory)
{
    directory.clear();
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0 || path.size() >= 32768)
            return false;
        if (length < path.size()) {
            const std::wstring module(path.data(), length);
            const size_t slash = module.rfind(L'\\');
            if (slash == std::wstring::npos)
                return false;
            directory = module.substr(0, slash + 1);
            return true;
        }
        path.resize(path.size() * 2);
    }
}

// The temporary directory followed by the internal graph's file name; false when it cannot be had.
bool QueryInternalGraphPath(std::wstring& path)
{
    path.clear();
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH)
        return false;
    path = std::wstring(directory, length) + InternalGraphFileName;
    return true;
}

} // namespace

CConverterApp::CConverterApp() = default;

// The parts go before the tray icon they show balloons on.
CConverterApp::~CConverterApp() = default;

// The worker's conversion in progress finishes and is published first, while it makes progress; a
// single-file conversion still running is cancelled and waited for. False when something is still
// going after the bounds: stuck in a filter.
bool CConverterApp::EndConversions()
{
    engine_->LimitStall(ExitStallMs);
    autoConverter_->RequestStop();
    if (engine_->Busy() || autoConverter_->AutoConvertRunning())
        Tray.KeepWhileClosing(FinishingTip);
    const DWORD start = ::GetTickCount();
    while (!autoConverter_->FinishStop()) {
        const DWORD idle = std::min(::GetTickCount() - start, engine_->SinceProgressMs());
        if (idle >= ExitStallMs + ExitStuckMs)
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
        AfxMessageBox(L"The program's directory path is too long.");
        return FALSE;
    }
    // A conversion for a script takes no lock and shows nothing but its console lines.
    const CommandLine line = ParseCommandLine(ProgramArguments());
    if (line.mode == CommandLine::Mode::Convert) {
        SetRegistryKey(Maker);
        exitCode_ = static_cast<int>(RunCommandConversion(line, *this, ProgramDirectory));
        return FALSE;
    }
    if (line.mode != CommandLine::Mode::Window) {
        exitCode_ = static_cast<int>(ShowCommandUsage(line));
        return FALSE;
    }
    // A temporary directory that cannot hold the lock file is reported like a running instance:
    // either way this start cannot take the lock.
    if (!QueryInternalGraphPath(InternalGraphPath)) {
        AfxMessageBox(SecondInstanceText);
        return FALSE;
    }
    switch (OpenInternalGraph(InternalGraphPath.c_str(), InternalGraphFile, graphs_.InternalGraph)) {
    case InternalGraphOpen::Opened:
        break;
    case InternalGraphOpen::Locked:
        AfxMessageBox(SecondInstanceText);
        return FALSE;
    case InternalGraphOpen::NotWritten:
        AfxMessageBox(GraphNotWrittenText);
        return FALSE;
    }
    graphs_.ProgramDirectory = ProgramDirectory;

    SetRegistryKey(Maker);
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
        ::DeleteFileW(InternalGraphPath.c_str());
        m_pMainWnd = nullptr;
        if (!runsEnded) {
            // A run stuck in a filter uses the objects the program would now destroy: the process
            // ends with it instead.
            ::TerminateProcess(::GetCurrentProcess(), 0);
        }
    }
    return FALSE;
}
