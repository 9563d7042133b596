#pragma once
// What a conversion run tells whoever shows it. The calls come on the run's own thread, in the
// order declared; each returns before the run goes on.

#include <windows.h>

#include <string>

class IConversionObserver {
public:
    virtual ~IConversionObserver() = default;

    // The run is in progress from now until OnConversionFinished; `run` names it to CancelRun.
    virtual void OnConversionStarted(LONG run) = 0;
    // The graph is built and about to run; report is the conversion report so far.
    virtual void OnGraphBuilt(const std::wstring& report) = 0;
    // The length of the media in whole seconds, once the graph runs.
    virtual void OnProgressRange(LONG seconds) = 0;
    virtual void OnProgressPosition(LONG seconds) = 0;
    // The run is over with its report. started is false for a run that ended before it began
    // (no graph manager); such a run came with no OnConversionStarted.
    virtual void OnConversionFinished(bool succeeded, const std::wstring& report, bool started) = 0;
};
