#include "app/ConverterApp.h"
#include "convert/BuildGraph.h"
#include "convert/ConversionRun.h"
#include "convert/OutputName.h"
#include "convert/RunFeedback.h"
#include "convert/WideText.h"
#include "media/MediaErrors.h"
#include "res/resource.h"

#include <commctrl.h>
#include <dshow.h>
#include <wrl/client.h>

#include <process.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kErrorIcon = 3;
// At exit a single-file conversion still running is cancelled and waited for this long at most.
constexpr DWORD kExitWaitMs = 5000;
const char kErrorTitle[] = "ERROR";
const char kOverwritesInput[] = "\nThe output file would replace the input file: nothing was converted.";
const char kNothingWritten[] = "\nNothing was written to the output file.";
const char kNotPublished[] = "\nCould not replace the output file.";
const char kOutsideOutputDirectory[] = "\nThe output file would not lie in the output directory: nothing was converted.";
const char kStalled[] = "\nThe conversion stopped making progress and was cancelled.";

std::atomic<LONG> g_lastClaim{0};

// One run at a time from reading the description to its last window update. A cancelled run that
// is still finishing holds it, so a run that claimed ConversionBusy after the cancel waits here
// instead of sharing the internal-graph stream with it.
CriticalSection& RunLock()
{
    static CriticalSection lock;
    return lock;
}

void ShowControlsRunning()
{
    WithConversionWindow([](HWND window) {
        ::EnableWindow(::GetDlgItem(window, IDC_STOP_AUTO), FALSE);
        ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, "Cancel Conversion!");
    });
}

void ShowControlsIdle(bool autoConverterRunning)
{
    WithConversionWindow([autoConverterRunning](HWND window) {
        ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, "Convert Single File...");
        ::EnableWindow(::GetDlgItem(window, IDC_CONVERT_SINGLE), TRUE);
        if (autoConverterRunning)
            ::EnableWindow(::GetDlgItem(window, IDC_STOP_AUTO), TRUE);
    });
}

void SetProgressRange(LONG top)
{
    WithConversionWindow([top](HWND window) { ::SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETRANGE32, 0, top); });
}

void SetProgressPosition(LONG position)
{
    WithConversionWindow([position](HWND window) {
        ::SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        ::UpdateWindow(::GetDlgItem(window, IDC_PROGRESS));
    });
}

// Looks through the events that came in for those that end a stream; result is the first failure
// among them, else S_OK. Wine's graph manager ends WaitForCompletion only when every renderer has
// completed, also after a source reported an error and ended its streams, so an error shows up only
// here.
bool TakeEndOfStream(IMediaEvent* events, HRESULT& result)
{
    bool ended = false;
    result = S_OK;
    long code = 0;
    LONG_PTR first = 0;
    LONG_PTR second = 0;
    while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
        const HRESULT reported = static_cast<HRESULT>(first);
        HRESULT outcome = S_OK;
        bool ends = true;
        switch (code) {
        case EC_COMPLETE:
            outcome = FAILED(reported) ? reported : S_OK;
            break;
        case EC_USERABORT:
            outcome = E_ABORT;
            break;
        case EC_ERRORABORT:
        case EC_ERRORABORTEX:
        case EC_STREAM_ERROR_STOPPED:
            outcome = FAILED(reported) ? reported : E_FAIL;
            break;
        default:
            ends = false;
            break;
        }
        events->FreeEventParams(code, first, second);
        ended = ended || ends;
        if (FAILED(outcome) && SUCCEEDED(result))
            result = outcome;
    }
    return ended;
}

// True when the run's claim is gone. A cancel event left set by the cancel of an earlier run is
// reset here; the flag is looked at again after the reset, so a cancel that comes meanwhile is
// never lost.
bool RunCancelled(CConverterApp& app, LONG claim)
{
    if (app.ConversionBusy.load() != claim)
        return true;
    ::ResetEvent(app.ConversionCancelEvent.Get());
    return app.ConversionBusy.load() != claim;
}

ULONGLONG FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Notices when the output stops growing. Under Wine the playing position follows the graph's
// clock whether or not anything flows, so the output's size is the measure of progress.
class StallWatch {
public:
    explicit StallWatch(const std::string& path) : path_(path), size_(FileSize(path)), since_(::GetTickCount()) {}

    bool Stalled()
    {
        const ULONGLONG size = FileSize(path_);
        const DWORD now = ::GetTickCount();
        if (size != size_) {
            size_ = size;
            since_ = now;
        }
        return now - since_ >= ConversionTiming().StallMs;
    }

private:
    const std::string path_;
    ULONGLONG size_;
    DWORD since_;
};

// The outcome of a graph that ended: only a stream that completed without an error counts.
HRESULT EndedStatus(HRESULT completion, long code, bool ended, HRESULT queued)
{
    if (completion == E_ABORT)
        return ended ? queued : E_ABORT;
    if (FAILED(completion))
        return completion;
    if (code != EC_COMPLETE)
        return code == EC_USERABORT ? E_ABORT : E_FAIL;
    return queued;
}

// Waits until the graph ends, the run is cancelled or stopped, or its output stalls. The graph's
// event handle and the cancel and stop events end the wait at once; the progress bar moves every
// progress step.
HRESULT WaitForGraph(CConverterApp& app, LONG claim, const ConversionRequest& request, IMediaEvent* events,
                     IMediaPosition* position, const std::string& partialPath, std::string& report)
{
    HANDLE handles[3] = {};
    DWORD count = 0;
    OAEVENT graphEvent = 0;
    if (SUCCEEDED(events->GetEventHandle(&graphEvent)) && graphEvent)
        handles[count++] = reinterpret_cast<HANDLE>(graphEvent);
    const DWORD cancelIndex = count;
    handles[count++] = app.ConversionCancelEvent.Get();
    const DWORD stopIndex = count;
    if (request.stopEvent)
        handles[count++] = request.stopEvent;

    StallWatch stall(partialPath);
    HRESULT status = S_OK;
    DWORD stepStart = ::GetTickCount();
    for (;;) {
        const DWORD step = ConversionTiming().ProgressStepMs;
        const DWORD elapsed = ::GetTickCount() - stepStart;
        const DWORD woke = ::WaitForMultipleObjects(count, handles, FALSE, elapsed >= step ? 0 : step - elapsed);
        const bool stopped = request.stopEvent && woke == WAIT_OBJECT_0 + stopIndex;
        if (stopped || (woke == WAIT_OBJECT_0 + cancelIndex && RunCancelled(app, claim))) {
            status = E_ABORT;
            break;
        }
        long code = 0;
        const HRESULT completion = events->WaitForCompletion(0, &code);
        HRESULT queued = S_OK;
        const bool ended = TakeEndOfStream(events, queued);
        if (completion != E_ABORT || ended) {
            status = EndedStatus(completion, code, ended, queued);
            break;
        }
        if (app.ConversionBusy.load() != claim) {
            status = E_ABORT; // cancelled by the flag alone
            break;
        }
        if (woke == WAIT_FAILED)
            ::Sleep(step / 10); // never spin
        if (::GetTickCount() - stepStart < step)
            continue;
        stepStart = ::GetTickCount();
        REFTIME now = 0;
        position->get_CurrentPosition(&now);
        SetProgressPosition(WholeSeconds(now));
        if (stall.Stalled()) {
            report += kStalled;
            status = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            break;
        }
    }
    REFTIME end = 0;
    position->get_CurrentPosition(&end);
    SetProgressPosition(WholeSeconds(end));
    SetProgressPosition(0);
    return status;
}

// When one filter refuses to pause, Wine's graph manager counts the graph as stopped but leaves
// the other filters paused; it then neither stops them nor can release them. Stopping each filter
// as well is harmless where the graph did its job.
void StopEveryFilter(IGraphBuilder* graph)
{
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(&filters)))
        return;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        filter->Stop();
}

// What Halvern's own recording source found wrong with the recording, as one more line of the
// report; nothing for other failures, which the report already tells as well as it can.
const char* FailureCause(HRESULT status)
{
    switch (status) {
    case HALVERN_E_PROTECTED:
        return "\nThe recording is protected: it cannot be converted.";
    case HALVERN_E_NOT_RECORDING:
        return "\nThe input file is not a recording.";
    case HALVERN_E_BAD_HEADER:
        return "\nThe recording's header is damaged.";
    case HALVERN_E_NO_STREAMS:
        return "\nThe recording holds no MPEG-2 video and no audio that can be converted.";
    case HALVERN_E_DAMAGED:
        return "\nThe recording is damaged.";
    default:
        return "";
    }
}

HRESULT BuildAndRun(CConverterApp& app, LONG claim, IGraphBuilder* graph, const ConversionRequest& request,
                    const std::string& partialPath, std::string& report)
{
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaPosition> position;
    HRESULT status = graph->QueryInterface(IID_PPV_ARGS(&control));
    if (FAILED(status))
        return status;
    // MinGW's headers give these two no __uuidof, hence the explicit identifiers.
    status = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf()));
    if (FAILED(status))
        return status;
    status = graph->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(position.GetAddressOf()));
    if (FAILED(status))
        return status;

    // Left by a run that was killed; the writer may not truncate what it finds.
    ::DeleteFileA(partialPath.c_str());

    status = BuildGraph(graph, request.graphChoice, request.inputPath, partialPath, report);
    if (SUCCEEDED(status)) {
        report += "\nGraph filters added & pins connected! Converting...";
        ShowRunBalloon(report, nullptr, 0);
        status = control->Run();
        if (SUCCEEDED(status)) {
            REFTIME duration = 0;
            position->get_Duration(&duration);
            SetProgressRange(WholeSeconds(duration));
            status = WaitForGraph(app, claim, request, events.Get(), position.Get(), partialPath, report);
        }
    }
    control->Stop(); // also when it never ran
    StopEveryFilter(graph);
    if (FAILED(status))
        report += FailureCause(status);
    return status;
}

// Gives the finished file its output name, replacing an earlier output only now. A graph whose
// writer wrote nothing, or wrote under another name, has produced no output.
HRESULT PublishOutput(const std::string& partialPath, const std::string& outputPath, std::string& report)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(partialPath.c_str(), GetFileExInfoStandard, &data)
        || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)) {
        report += kNothingWritten;
        return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    }
    if (!::MoveFileExA(partialPath.c_str(), outputPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const HRESULT failure = HRESULT_FROM_WIN32(::GetLastError());
        report += kNotPublished;
        return failure;
    }
    return S_OK;
}

BOOL RunConversion(CConverterApp& app, LONG claim, const ConversionRequest& request)
{
    CriticalSectionLock runLock(RunLock());
    app.InternalGraphFile.SeekToBegin();
    const std::string& inputPath = request.inputPath;
    const std::string& outputPath = request.outputPath;
    std::string report = "Converting : " + inputPath;

    ComPtr<IGraphBuilder> graph;
    HRESULT status = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (FAILED(status)) {
        ReleaseConversionClaim(app, claim);
        ShowRunBalloon("ERROR - Could not create the Filter Graph Manager.", kErrorTitle, kErrorIcon);
        return FALSE;
    }
    ShowControlsRunning();

    // The graph writes beside the output and the output appears only whole.
    const std::string partialPath = PartialOutputPath(outputPath);
    if (!LiesDirectlyIn(outputPath, request.outputDirectory)) {
        // An extension with a path in it, or a name that is no plain file name.
        report += kOutsideOutputDirectory;
        status = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    } else if (NamesSameFile(inputPath, outputPath) || NamesSameFile(inputPath, partialPath)) {
        report += kOverwritesInput;
        status = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    } else {
        // A description too large to hold, or any other shortage, fails this run alone.
        try {
            status = BuildAndRun(app, claim, graph.Get(), request, partialPath, report);
        } catch (const std::exception&) {
            status = E_OUTOFMEMORY;
        }
        graph.Reset(); // the filters go with it, closing the file before it is looked at
        if (SUCCEEDED(status))
            status = PublishOutput(partialPath, outputPath, report);
        if (FAILED(status))
            ::DeleteFileA(partialPath.c_str());
    }

    if (SUCCEEDED(status)) {
        report += "\nDone!";
        ShowRunBalloon(report, nullptr, 0);
    } else {
        ShowRunBalloon(report, kErrorTitle, kErrorIcon);
    }
    ReleaseConversionClaim(app, claim);
    ShowControlsIdle(app.AutoConvertRunning.load() != 0);
    return SUCCEEDED(status) ? TRUE : FALSE;
}

// Single-file conversion threads not yet waited for; touched on the user-interface thread only.
std::vector<UniqueHandle>& SingleThreads()
{
    static std::vector<UniqueHandle> threads;
    return threads;
}

void ForgetEndedThreads(std::vector<UniqueHandle>& threads)
{
    for (auto it = threads.begin(); it != threads.end();) {
        if (::WaitForSingleObject(it->Get(), 0) == WAIT_OBJECT_0)
            it = threads.erase(it);
        else
            ++it;
    }
}

std::wstring FullPath(const std::string& path)
{
    const DWORD size = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::string full(size, '\0');
    const DWORD length = ::GetFullPathNameA(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size)
        return std::wstring();
    full.resize(length);
    return ToWide(full, CP_ACP); // the file system's ANSI functions use the process code page
}

bool QueryFileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.Get(), &info);
}

} // namespace

LONG WholeSeconds(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    if (seconds >= static_cast<double>(LONG_MAX))
        return LONG_MAX;
    if (seconds <= static_cast<double>(LONG_MIN))
        return LONG_MIN;
    return static_cast<LONG>(seconds); // toward zero
}

bool NamesSameFile(const std::string& first, const std::string& second)
{
    const std::wstring firstFull = FullPath(first);
    const std::wstring secondFull = FullPath(second);
    if (!firstFull.empty()
        && ::CompareStringOrdinal(firstFull.c_str(), -1, secondFull.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    // Short names and links reach one file under another path.
    BY_HANDLE_FILE_INFORMATION firstInfo;
    BY_HANDLE_FILE_INFORMATION secondInfo;
    return QueryFileIdentity(first, firstInfo) && QueryFileIdentity(second, secondInfo)
        && firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber
        && firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh && firstInfo.nFileIndexLow == secondInfo.nFileIndexLow;
}

LONG ClaimConversion(CConverterApp& app)
{
    LONG claim = 0;
    while (claim == 0) // 0 means idle, so the mark skips it when the counter wraps
        claim = static_cast<LONG>(static_cast<ULONG>(g_lastClaim.fetch_add(1)) + 1u);
    LONG idle = 0;
    return app.ConversionBusy.compare_exchange_strong(idle, claim) ? claim : 0;
}

void ReleaseConversionClaim(CConverterApp& app, LONG claim)
{
    app.ConversionBusy.compare_exchange_strong(claim, 0);
}

ConversionTimings& ConversionTiming()
{
    static ConversionTimings timings;
    return timings;
}

BOOL CConverterApp::ConvertFile(const ConversionRequest& request)
{
    const LONG claim = ClaimConversion(*this);
    if (!claim)
        return FALSE;
    return RunConversion(*this, claim, request);
}

BOOL CConverterApp::ConvertFile(const std::string& inputPath, const std::string& outputPath)
{
    return ConvertFile(ConversionRequest{inputPath, outputPath, Settings.UseFilterGraph, nullptr, Settings.OutputPath});
}

void CConverterApp::CancelConversion()
{
    ConversionBusy = 0;
    ::SetEvent(ConversionCancelEvent.Get());
}

unsigned __stdcall SingleConvertThread(void* parameter)
{
    std::unique_ptr<SingleConversionJob> job(static_cast<SingleConversionJob*>(parameter));
    ScopedComInit com;
    if (!com.Succeeded()) {
        fputs("ERROR - Could not initialize COM library", stdout);
        fflush(stdout);
        ReleaseConversionClaim(*job->app, job->claim);
        return 0;
    }
    try {
        RunConversion(*job->app, job->claim, job->request);
    } catch (const std::exception&) {
        // Nothing may leave the thread; the run has given up its claim and locks by now.
    }
    return 0;
}

BOOL CConverterApp::StartSingleConversion(const std::string& inputPath, const std::string& outputPath)
{
    // Claimed here rather than on the thread, so that no other run can slip in between.
    const LONG claim = ClaimConversion(*this);
    if (!claim)
        return FALSE;
    SingleInputPath = inputPath;
    SingleOutputPath = outputPath;

    auto job = std::make_unique<SingleConversionJob>(
        SingleConversionJob{this, ConversionRequest{inputPath, outputPath, Settings.UseFilterGraph, nullptr, Settings.OutputPath},
                            claim});
    const uintptr_t thread = _beginthreadex(nullptr, 0, SingleConvertThread, job.get(), 0, nullptr);
    if (!thread) {
        ReleaseConversionClaim(*this, claim);
        return FALSE;
    }
    job.release(); // the thread owns it now

    std::vector<UniqueHandle>& threads = SingleThreads();
    ForgetEndedThreads(threads);
    threads.emplace_back(reinterpret_cast<HANDLE>(thread));
    return TRUE;
}

void CConverterApp::FinishSingleConversion()
{
    std::vector<UniqueHandle>& threads = SingleThreads();
    ForgetEndedThreads(threads);
    if (threads.empty())
        return;
    CancelConversion();
    // The runs may still be sending updates to windows of this thread. A run that does not end in
    // time is left to the end of the process.
    const DWORD start = ::GetTickCount();
    for (UniqueHandle& thread : threads) {
        const DWORD elapsed = ::GetTickCount() - start;
        WaitPumpingSentMessages(thread.Get(), elapsed >= kExitWaitMs ? 0 : kExitWaitMs - elapsed);
    }
    threads.clear();
}
