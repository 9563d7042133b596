#include "app/ConverterApp.h"

#include "framework/MessageBox.h"
#include "res/resource.h"
#include "ui/ConverterDlg.h"

#include <commctrl.h>

#include <cstring>

const char kInternalGraphFileName[] = "InternalXGR.tmp";

namespace {

const char kMaker[] = "Morrowick";
const char kSecondInstanceText[] = "Program can't have 2 instances";
const char kGraphNotWrittenText[] = "Could not write the internal graph to its temporary file.";

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
    if (length == 0 || length >= MAX_PATH || length + sizeof(kInternalGraphFileName) > MAX_PATH)
        return false;
    strcpy(path, directory);
    strcat(path, kInternalGraphFileName);
    return true;
}

} // namespace

bool WriteInternalGraph(CStdioFile& file)
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
    const void* graph = loaded ? ::LockResource(loaded) : nullptr;
    if (!graph)
        return false;
    return file.Write(graph, ::SizeofResource(nullptr, resource)) && file.Flush();
}

CConverterApp::CConverterApp() : ConversionCancelEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    ProgramDirectory[0] = '\0';
    InternalGraphPath[0] = '\0';
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

    // Left behind by a run that ended abnormally; a running instance holds it and it stays.
    ::DeleteFileA(InternalGraphPath);

    if (!InternalGraphFile.Open(InternalGraphPath, CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                       | CStdioFile::shareExclusive | CStdioFile::typeText)) {
        AfxMessageBox(kSecondInstanceText);
        return FALSE;
    }
    // Every conversion with the internal graph reads it from here; a file that did not take it
    // whole would fail them all later, each with a misleading message.
    if (!WriteInternalGraph(InternalGraphFile)) {
        InternalGraphFile.Close();
        ::DeleteFileA(InternalGraphPath);
        AfxMessageBox(kGraphNotWrittenText);
        return FALSE;
    }

    SetRegistryKey(kMaker);
    Settings.Load();

    {
        CConverterDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();

        Settings.Save();
        StopAutoConvert();
        // A single-file conversion still running is cancelled and waited for: it must not be
        // cut off with the internal graph's stream closed under it.
        FinishSingleConversion();

        InternalGraphFile.Close();
        ::DeleteFileA(InternalGraphPath);
        m_pMainWnd = nullptr;
    }
    return FALSE;
}
