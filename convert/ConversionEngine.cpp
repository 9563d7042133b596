#include "convert/ConversionEngine.h"
#include "base/CaptionFileSink.h"

#include "base/MediaErrors.h"
#include "convert/AfterConversion.h"
#include "convert/BuildGraph.h"
#include "convert/ComThread.h"
#include "convert/ConversionProgress.h"
#include "convert/OutputName.h"
#include "convert/PathText.h"

#include <dshow.h>
#include <wrl/client.h>

#include <cstdio>
#include <exception>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t OverwritesInput[] = L"\nThe output file would replace the input file: nothing was converted.";
const wchar_t NothingWritten[] = L"\nNothing was written to the output file.";
const wchar_t NotPublished[] = L"\nCould not replace the output file.";
const wchar_t OutsideOutputDirectory[] = L"\nThe output file would not lie in the output directory: nothing was converted.";
const wchar_t StalledText[] = L"\nThe conversion stopped making progress and was cancelled.";
const wchar_t NotReadToEnd[] = L"\nThe recording was not read to its end.";
const wchar_t RecordingCut[] = L"\nThe recording ends cut off in the middle of its data: it is kept.";

// Looks through the events that came in for those that end a stream; result is the first failure
// among them, else S_OK. Wine's graph manager ends WaitForCompletion only when every renderer has
// completed, also after a source reported an error and ended its streams, so an error shows up only
// here. Halvern's recording source also tells here that the recording's file ends cut off.
bool TakeEndOfStream(IMediaEvent* events, HRESULT& result, bool& recordingCut)
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
        case HALVERN_EC_RECORDING_CUT:
            recordingCut = true;
            ends = false;
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

ULONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Notices when the output stops growing. Under Wine the playing position follows the graph's
// clock whether or not anything flows, so the output's size is the measure of progress. The limit
// may shrink while the run goes on (at exit); each growth is stamped for whoever waits at exit.
class StallWatch {
public:
    StallWatch(const std::wstring& path, const std::atomic<DWORD>& limitMs, std::atomic<DWORD>& progressTick)
        : path_(path), limitMs_(limitMs), progressTick_(progressTick), size_(FileSize(path))
    {
        progressTick_ = ::GetTickCount();
    }

    bool Stalled()
    {
        const ULONGLONG size = FileSize(path_);
        const DWORD now = ::GetTickCount();
        if (size != size_) {
            size_ = size;
            progressTick_ = now;
        }
        return now - progressTick_.load() >= limitMs_.load();
    }

private:
    const std::wstring path_;
    const std::atomic<DWORD>& limitMs_;
    std::atomic<DWORD>& progressTick_;
    ULONGLONG size_;
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

// What Halvern's own recording source found wrong with the recording: one more line of the report,
// and whether the same recording would fail the same way again (kept, not retried until it
// changes). Other failures get neither; the report already tells them as well as it can.
struct FailureCause {
    const wchar_t* text = L"";
    bool recordingAtFault = false;
};

FailureCause CauseOf(HRESULT status)
{
    switch (status) {
    case HALVERN_E_PROTECTED:
        return {L"\nThe recording is protected: it cannot be converted.", true};
    case HALVERN_E_NOT_RECORDING:
        return {L"\nThe input file is not a recording.", true};
    case HALVERN_E_BAD_HEADER:
        return {L"\nThe recording's header is damaged.", true};
    case HALVERN_E_NO_STREAMS:
        return {L"\nThe recording holds no MPEG-2 video and no audio that can be converted.", true};
    case HALVERN_E_DAMAGED:
        return {L"\nThe recording is damaged.", true};
    case HALVERN_E_SHRANK:
        // Something cut the file while it was read: the next look may find it whole.
        return {L"\nThe recording became shorter while it was read.", false};
    case HALVERN_E_H264_VIDEO:
        return {L"\nThe recording's video is H.264, which an MPEG-2 program stream cannot carry: convert it with the "
                L"graph description \"Built-in recording to MPEG-TS.xgr\". The recording is kept as it is.",
                true};
    case HALVERN_E_AVC1_VIDEO:
        return {L"\nThe recording's video is H.264 stored without start codes, which Halvern does not read: it is "
                L"kept as it is.",
                true};
    case HALVERN_E_AUDIO_NOT_IN_PS:
        return {L"\nThe recording's sound is AAC or E-AC-3, which an MPEG-2 program stream cannot carry: convert it "
                L"with the graph description \"Built-in recording to MPEG-TS.xgr\". The recording is kept as it is.",
                true};
    default:
        return {};
    }
}

// A graph that ran and wrote nothing failed; its output place did not.
const HRESULT NothingWrittenStatus = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

// Failures of writing a file where it was to go, whichever filter met them.
bool IsWriteError(HRESULT status)
{
    const DWORD errors[] = {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_PATH_NOT_FOUND,
                            ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT, ERROR_WRITE_FAULT};
    for (const DWORD error : errors) {
        if (status == HRESULT_FROM_WIN32(error))
            return true;
    }
    return false;
}

// Gives the finished file its output name, replacing an earlier output only now. A graph whose
// writer wrote nothing, or wrote under another name, has produced no output.
HRESULT PublishOutput(const std::wstring& partialPath, const std::wstring& outputPath, std::wstring& report)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(partialPath.c_str(), GetFileExInfoStandard, &data)
        || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)) {
        report += NothingWritten;
        return NothingWrittenStatus;
    }
    if (!::MoveFileExW(partialPath.c_str(), outputPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const HRESULT failure = HRESULT_FROM_WIN32(::GetLastError());
        report += NotPublished;
        return failure;
    }
    return S_OK;
}


// Every filter of the graph that can write the captions is told where.
void HandCaptionFile(IGraphBuilder* graph, const std::wstring& path)
{
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(&filters)))
        return;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<ICaptionFileSink> sink;
        if (SUCCEEDED(filter.As(&sink)))
            sink->SetCaptionFile(path.c_str());
    }
}

// The caption file, when the graph wrote one, takes its name as the output did. It is no part of
// the output: a caption file that cannot be published costs the conversion nothing.
void PublishCaptions(const std::wstring& partialPath, const std::wstring& captionPath)
{
    if (::GetFileAttributesW(partialPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    if (!::MoveFileExW(partialPath.c_str(), captionPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ::DeleteFileW(partialPath.c_str());
}

// Caption pairs a multiplexer could not carry into the video: the conversion stands, and the
// report says how many.
void ReportLostCaptions(IGraphBuilder* graph, std::wstring& report)
{
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(&filters)))
        return;
    ULONG lost = 0;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<ICaptionFileSink> sink;
        ULONG count = 0;
        if (SUCCEEDED(filter.As(&sink)) && SUCCEEDED(sink->GetCaptionPairsLost(&count)))
            lost += count;
    }
    if (lost > 0)
        report += L"\n" + std::to_wstring(lost) + (lost == 1 ? L" caption pair" : L" caption pairs") +
                  L" of the recording could not be carried into the video.";
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

} // namespace

// One conversion from its graph manager to its report.
struct CConversionEngine::Run {
    CConversionEngine& engine;
    const LONG claim;
    const ConversionRequest& request;
    const std::wstring partialPath;
    const std::wstring partialCaptionPath;
    std::wstring report;
    bool recordingCut = false;
    bool stalled = false;

    HRESULT BuildAndRun(IGraphBuilder* graph);
    HRESULT WaitForGraph(IMediaEvent* events, const CConversionProgress& progress);
};

// Waits until the graph ends, the run is cancelled, or its output stalls. The graph's event handle
// and the cancel event end the wait at once; the progress moves every progress step.
HRESULT CConversionEngine::Run::WaitForGraph(IMediaEvent* events, const CConversionProgress& progress)
{
    HANDLE handles[2] = {};
    DWORD count = 0;
    OAEVENT graphEvent = 0;
    if (SUCCEEDED(events->GetEventHandle(&graphEvent)) && graphEvent)
        handles[count++] = reinterpret_cast<HANDLE>(graphEvent);
    const DWORD cancelIndex = count;
    handles[count++] = engine.cancelEvent_.Get();

    const DWORD step = engine.timings_.ProgressStepMs;
    StallWatch stall(partialPath, engine.stallMs_, engine.progressTick_);
    HRESULT status = S_OK;
    DWORD stepStart = ::GetTickCount();
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - stepStart;
        const DWORD woke = ::WaitForMultipleObjects(count, handles, FALSE, elapsed >= step ? 0 : step - elapsed);
        if (woke == WAIT_OBJECT_0 + cancelIndex && engine.Cancelled(claim)) {
            status = E_ABORT;
            break;
        }
        long code = 0;
        const HRESULT completion = events->WaitForCompletion(0, &code);
        HRESULT queued = S_OK;
        const bool ended = TakeEndOfStream(events, queued, recordingCut);
        if (completion != E_ABORT || ended) {
            status = EndedStatus(completion, code, ended, queued);
            break;
        }
        if (engine.busy_.load() != claim) {
            status = E_ABORT; // cancelled by the flag alone
            break;
        }
        if (woke == WAIT_FAILED)
            ::Sleep(step / 10); // never spin
        if (::GetTickCount() - stepStart < step)
            continue;
        stepStart = ::GetTickCount();
        engine.observer_.OnProgressPosition(progress.PositionSeconds());
        if (stall.Stalled()) {
            stalled = true;
            report += StalledText;
            status = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            break;
        }
    }
    engine.observer_.OnProgressPosition(progress.PositionSeconds());
    engine.observer_.OnProgressPosition(0);
    return status;
}

HRESULT CConversionEngine::Run::BuildAndRun(IGraphBuilder* graph)
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
    ::DeleteFileW(partialPath.c_str());

    status = BuildGraph(graph, engine.graphs_, request.graphChoice, request.inputPath, partialPath, report);
    if (SUCCEEDED(status)) {
        report += L"\nGraph filters added & pins connected! Converting...";
        engine.observer_.OnGraphBuilt(report);
        if (!partialCaptionPath.empty()) {
            ::DeleteFileW(partialCaptionPath.c_str());
            HandCaptionFile(graph, partialCaptionPath);
        }
        status = control->Run();
        if (SUCCEEDED(status)) {
            const CConversionProgress progress(graph, position.Get());
            engine.observer_.OnProgressRange(progress.RangeSeconds());
            status = WaitForGraph(events.Get(), progress);
            // A source that stopped early and still ended its streams leaves an output that
            // lacks the rest: it must not count as the recording's conversion.
            if (SUCCEEDED(status) && !progress.SourceReadToEnd()) {
                report += NotReadToEnd;
                status = E_FAIL;
            }
        }
    }
    control->Stop(); // also when it never ran
    StopEveryFilter(graph);
    if (SUCCEEDED(status))
        ReportLostCaptions(graph, report);
    if (FAILED(status))
        report += CauseOf(status).text;
    return status;
}

CConversionEngine::CConversionEngine(const GraphSource& graphs, IConversionObserver& observer, ConversionTimings timings)
    : graphs_(graphs), observer_(observer), timings_(timings), stallMs_(timings.StallMs),
      cancelEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

void CConversionEngine::LimitStall(DWORD ms)
{
    for (DWORD current = stallMs_.load(); ms < current && !stallMs_.compare_exchange_weak(current, ms);) {
    }
}

DWORD CConversionEngine::SinceProgressMs() const
{
    return ::GetTickCount() - progressTick_.load();
}

CConversionEngine::~CConversionEngine()
{
    FinishSingleConversion();
}

LONG CConversionEngine::Claim()
{
    LONG claim = 0;
    while (claim == 0) // 0 means idle, so the mark skips it when the counter wraps
        claim = static_cast<LONG>(static_cast<ULONG>(lastClaim_.fetch_add(1)) + 1u);
    LONG idle = 0;
    return busy_.compare_exchange_strong(idle, claim) ? claim : 0;
}

void CConversionEngine::Release(LONG claim)
{
    busy_.compare_exchange_strong(claim, 0);
}

// True when the run's claim is gone. A cancel event left set by the cancel of an earlier run is
// reset here; the flag is looked at again after the reset, so a cancel that comes meanwhile is
// never lost.
bool CConversionEngine::Cancelled(LONG claim)
{
    if (busy_.load() != claim)
        return true;
    ::ResetEvent(cancelEvent_.Get());
    return busy_.load() != claim;
}

ConversionResult CConversionEngine::RunConversion(LONG claim, const ConversionRequest& request,
                                                  std::wstring* afterConversion)
{
    // The claim goes back however the run ends, a throw included; where it ends normally it has
    // gone back already, before the end is told.
    struct ClaimRelease {
        CConversionEngine& engine;
        const LONG claim;
        ~ClaimRelease() { engine.Release(claim); }
    } claimRelease{*this, claim};
    CriticalSectionLock runLock(runLock_);
    const std::wstring& inputPath = request.inputPath;
    const std::wstring& outputPath = request.outputPath;
    // The graph writes beside the output and the output appears only whole.
    // A caption file never takes the place of the output or the recording (an output extension of "srt").
    const std::wstring captionPath =
        NamesSameFile(request.captionPath, outputPath) || NamesSameFile(request.captionPath, inputPath) ? L"" : request.captionPath;
    Run run{*this, claim, request, PartialOutputPath(outputPath), captionPath.empty() ? L"" : PartialOutputPath(captionPath),
            L"Converting : " + inputPath};

    ComPtr<IGraphBuilder> graph;
    HRESULT status = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (FAILED(status)) {
        Release(claim);
        observer_.OnConversionFinished(false, L"ERROR - Could not create the Filter Graph Manager.", false);
        return ConversionResult::Failed;
    }
    observer_.OnConversionStarted(claim);

    const std::wstring& partialPath = run.partialPath;
    bool outputAtFault = false;
    if (!LiesDirectlyIn(outputPath, request.outputDirectory)) {
        // An extension with a path in it, or a name that is no plain file name.
        run.report += OutsideOutputDirectory;
        status = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        outputAtFault = true;
    } else if (NamesSameFile(inputPath, outputPath) || NamesSameFile(inputPath, partialPath)) {
        run.report += OverwritesInput;
        status = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        outputAtFault = true;
    } else {
        // A description too large to hold, or any other shortage, fails this run alone.
        try {
            status = run.BuildAndRun(graph.Get());
        } catch (const std::exception&) {
            status = E_OUTOFMEMORY;
        }
        graph.Reset(); // the filters go with it, closing the file before it is looked at
        outputAtFault = IsWriteError(status);
        if (SUCCEEDED(status)) {
            status = PublishOutput(partialPath, outputPath, run.report);
            outputAtFault = FAILED(status) && status != NothingWrittenStatus;
        }
        if (FAILED(status))
            ::DeleteFileW(partialPath.c_str());
        if (SUCCEEDED(status) && !captionPath.empty())
            PublishCaptions(run.partialCaptionPath, captionPath);
        else if (!captionPath.empty())
            ::DeleteFileW(run.partialCaptionPath.c_str());
    }

    if (SUCCEEDED(status) && run.recordingCut)
        run.report += RecordingCut;
    if (SUCCEEDED(status))
        run.report += L"\nDone!";
    // Before the run is over, so the Auto Converter deletes the recording only after it. A cancel
    // that came before ends the wait at once; one left by an earlier run's cancel is reset.
    if (SUCCEEDED(status) && !request.afterConversion.empty()) {
        const bool cancelledAlready = Cancelled(claim);
        if (cancelledAlready)
            ::SetEvent(cancelEvent_.Get());
        progressTick_ = ::GetTickCount(); // the exit's wait counts the command's time from its start
        const std::wstring line = RunAfterConversion(
            AfterConversionCommandLine(request.afterConversion, outputPath, inputPath), stallMs_, cancelEvent_.Get());
        run.report += L"\n" + line;
        if (afterConversion)
            *afterConversion = line;
    }
    const bool cancelled = busy_.load() != claim || run.stalled;
    Release(claim);
    observer_.OnConversionFinished(SUCCEEDED(status), run.report, true);
    if (SUCCEEDED(status))
        return run.recordingCut ? ConversionResult::ConvertedCut : ConversionResult::Converted;
    if (cancelled)
        return ConversionResult::Cancelled;
    if (outputAtFault)
        return ConversionResult::OutputFailed;
    // A recording that shrank while it was read is being rewritten: worth another look as it is.
    return CauseOf(status).recordingAtFault ? ConversionResult::RecordingAtFault : ConversionResult::Failed;
}

ConversionResult CConversionEngine::ConvertFile(const ConversionRequest& request, std::wstring* afterConversion)
{
    const LONG claim = Claim();
    if (!claim)
        return ConversionResult::Busy;
    return RunConversion(claim, request, afterConversion);
}

void CConversionEngine::CancelConversion()
{
    busy_ = 0;
    ::SetEvent(cancelEvent_.Get());
}

void CConversionEngine::CancelRun(LONG run)
{
    if (run != 0 && busy_.compare_exchange_strong(run, 0))
        ::SetEvent(cancelEvent_.Get());
}

SingleStart CConversionEngine::StartSingleConversion(const ConversionRequest& request, LONG* run)
{
    // Claimed here rather than on the thread, so that no other run can slip in between.
    const LONG claim = Claim();
    if (!claim)
        return SingleStart::Busy;
    if (run)
        *run = claim;
    UniqueHandle thread = StartComThread(ComThreadJob{
        [this, claim, request] { RunConversion(claim, request); },
        [this, claim] {
            const char failure[] = "ERROR - Could not initialize COM library";
            fputs(failure, stdout);
            fflush(stdout);
            Release(claim);
            // Whoever started the run may show it as running already: its end is told all the same.
            observer_.OnConversionFinished(false, L"ERROR - Could not initialize COM library", false);
        },
        [this, claim] {
            // Out of memory: the run gave its claim back as it unwound; the window learns it is over.
            Release(claim);
            try {
                observer_.OnConversionFinished(false, L"ERROR - Out of memory", false);
            } catch (const std::exception&) {
                // Nothing more can be told; nothing may leave the thread.
            }
        },
    });
    if (!thread) {
        Release(claim);
        return SingleStart::NotStarted;
    }
    ForgetEndedThreads(singleThreads_);
    singleThreads_.push_back(std::move(thread));
    return SingleStart::Started;
}

bool CConversionEngine::FinishSingleConversion()
{
    ForgetEndedThreads(singleThreads_);
    if (singleThreads_.empty())
        return true;
    CancelConversion();
    // A cancelled run ends within moments; one that has not ended when a stalled graph would be
    // given up is stuck in a filter.
    const DWORD start = ::GetTickCount();
    const DWORD bound = stallMs_.load();
    for (UniqueHandle& thread : singleThreads_) {
        const DWORD elapsed = ::GetTickCount() - start;
        ::WaitForSingleObject(thread.Get(), elapsed >= bound ? 0 : bound - elapsed);
    }
    ForgetEndedThreads(singleThreads_);
    return singleThreads_.empty();
}
