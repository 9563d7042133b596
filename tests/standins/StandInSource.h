#pragma once
// Stand-in for the DVR-MS recording source: reads a stand-in recording (IFileSourceFilter) and
// pushes its audio on "DVR Out - 1" and its video on "DVR Out - 3" or "DVR Out - 2".

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "filters/BaseFilter.h"
#include "framework/ScopedWin.h"
#include "tests/standins/StandIns.h"

class CStandInSourcePin;

class CStandInSource : public CBaseFilter, public IFileSourceFilter {
public:
    static HRESULT Create(IUnknown** object);

    // IUnknown, for both interfaces
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IFileSourceFilter
    STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // For the pins.
    const StandInRecording& Recording() const { return recording_; }
    // Wall milliseconds spent running since streaming started; pausing holds it.
    ULONGLONG RunningMilliseconds();
    // True for the first pin to fail, so the graph hears of the error once.
    bool ClaimErrorReport() { return !errorReported_.exchange(true); }

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** object) override;
    HRESULT OnStartStreaming() override;
    HRESULT OnRun(REFERENCE_TIME start) override;
    HRESULT OnPauseFromRun() override;

private:
    CStandInSource();
    ~CStandInSource() override;

    std::wstring fileName_;
    StandInRecording recording_;
    std::vector<std::unique_ptr<CStandInSourcePin>> pins_;
    std::atomic<bool> errorReported_{false};

    CriticalSection clockLock_;
    ULONGLONG runningBefore_ = 0;
    ULONGLONG runningSince_ = 0;
    bool running_ = false;
};
