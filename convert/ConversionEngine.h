#pragma once
// The conversion engine: runs one conversion at a time, on the caller's thread or on a
// single-file conversion thread of its own, and reports through its observer.

#include "base/ScopedWin.h"
#include "convert/ConversionObserver.h"
#include "convert/ConversionRequest.h"
#include "convert/GraphDescription.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

// The waits of a run. The program keeps these; tests and measurements shorten them.
struct ConversionTimings {
    DWORD ProgressStepMs = 5000;
    // A graph whose output has not grown for this long is taken for stuck and cancelled.
    DWORD StallMs = 10 * 60 * 1000;
};

// How a conversion run ended. ConvertedCut: converted as far as the recording's file goes, which
// ends cut off in the middle of its data (a recorder that crashed, or one still writing it). A
// recording at fault fails the same way until it changes; any other failure (a missing or full
// output directory, a graph that broke off) may pass. Cancelled: by the user, or because the run
// stopped making progress; the same recording would do the same again. OutputFailed: the output
// could not be written or published where it was to go (a missing, full or read-only directory),
// which may pass like Failed.
enum class ConversionResult { Converted, ConvertedCut, Failed, OutputFailed, RecordingAtFault, Cancelled, Busy };

// Whether StartSingleConversion started a run.
enum class SingleStart { Started, Busy, NotStarted };

class CConversionEngine {
public:
    CConversionEngine(const GraphSource& graphs, IConversionObserver& observer, ConversionTimings timings = {});
    ~CConversionEngine();
    CConversionEngine(const CConversionEngine&) = delete;
    CConversionEngine& operator=(const CConversionEngine&) = delete;

    // The conversion run; blocks the calling thread, whose COM must be initialised. Busy at once,
    // with nothing shown, while another run is in progress. A converted run then runs the request's
    // after-conversion command, if any, waiting for it at most as long as a stall (StallMs, or the
    // LimitStall value) or until a cancel; `afterConversion` (when given) receives its line of the
    // report, which also ends the report.
    ConversionResult ConvertFile(const ConversionRequest& request, std::wstring* afterConversion = nullptr);
    // Runs the conversion on a thread of its own; `run` (when given) receives what names it to
    // CancelRun. A run that cannot get going there still ends with OnConversionFinished.
    SingleStart StartSingleConversion(const ConversionRequest& request, LONG* run = nullptr);
    // The cancel command for the run shown as `run`: it ends at once, as cancelled. A click that
    // comes late, once that run has ended, touches no other run.
    void CancelRun(LONG run);
    // Whatever run is in progress ends at once, as cancelled (at exit).
    void CancelConversion();
    // At exit: cancels a single-file conversion still running and waits for its end, for as long as
    // a stalled run is given (StallMs). False when a run is still going after that: it is stuck, and
    // nothing it uses may be destroyed.
    bool FinishSingleConversion();
    // At exit: from now on a run is given up after this long without progress (and the wait of
    // FinishSingleConversion is as long).
    void LimitStall(DWORD ms);
    // How long ago a run last made progress (its output grew) or began.
    DWORD SinceProgressMs() const;

    bool Busy() const { return busy_.load() != 0; }

private:
    struct Run;

    LONG Claim();
    void Release(LONG claim);
    bool Cancelled(LONG claim);
    ConversionResult RunConversion(LONG claim, const ConversionRequest& request, std::wstring* afterConversion = nullptr);

    const GraphSource& graphs_;
    IConversionObserver& observer_;
    const ConversionTimings timings_;
    std::atomic<DWORD> stallMs_;
    std::atomic<DWORD> progressTick_{::GetTickCount()};
    // The run in progress, by its claim's mark; 0 when idle. A cancel clears it, and a run that
    // started after the cancel has put its own mark there.
    std::atomic<LONG> busy_{0};
    std::atomic<LONG> lastClaim_{0};
    UniqueHandle cancelEvent_; // manual reset; a run that was not cancelled resets it
    // One run at a time from reading the description to its last report. A cancelled run that is
    // still finishing holds it, so a run that claimed after the cancel waits here.
    CriticalSection runLock_;
    // Single-file conversion threads not yet waited for; touched on the user-interface thread only.
    std::vector<UniqueHandle> singleThreads_;
};
