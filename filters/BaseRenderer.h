#pragma once
// A filter at the end of a stream (input pins only). It tells the graph it is a renderer, answers
// seeking from upstream, and reports EC_COMPLETE once all its inputs have ended while running:
// the graph manager completes when every renderer has done so.

#include <windows.h>
#include <dshow.h>

#include "filters/BaseFilter.h"
#include "filters/InputPin.h"
#include "filters/SeekingPassThrough.h"
#include "base/ScopedWin.h"

class CBaseRenderer : public CBaseFilter {
public:
    // For the input pins, after a pin has ended (with the streaming lock held). Sends
    // EC_COMPLETE now when running and every input has ended, else when Run comes.
    // The pins of a renderer are fixed once it is built.
    void InputEnded();

protected:
    explicit CBaseRenderer(const CLSID& classId);

    // Seeking goes to the peer of this pin; call once from the constructor.
    void SetSeekingPin(CBaseInputPin* pin) { seeking_.SetInputPin(pin); }

    ULONG MiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    // Renderers that override these call the base first.
    HRESULT OnStartStreaming() override;
    void OnStopStreaming() override;
    HRESULT OnRun(REFERENCE_TIME start) override;
    HRESULT OnPauseFromRun() override;

private:
    bool AllInputsEnded();
    void CompleteIfDue();

    CSeekingPassThrough seeking_;
    // Apart from the state lock, which Stop holds while it waits for the streaming lock.
    CriticalSection completionLock_;
    bool running_ = false;
    bool completed_ = false;
};
