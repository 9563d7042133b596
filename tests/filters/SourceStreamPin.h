#pragma once
// An output pin with a streaming thread of its own, for push sources. The thread runs from pause
// to stop and asks FillSample for one sample after another.

#include <windows.h>

#include "filters/OutputPin.h"
#include "base/ScopedWin.h"

class CSourceStreamPin : public CBaseOutputPin {
public:
    ~CSourceStreamPin() override;

    HRESULT Active() override;
    void Inactive() override;

protected:
    CSourceStreamPin(CBaseFilter* filter, const wchar_t* name);

    // Called on the streaming thread. S_OK delivers the sample, S_FALSE ends the stream,
    // a failure ends it with an error (OnStreamError). After Stop, whatever it returns is dropped.
    virtual HRESULT FillSample(IMediaSample* sample) = 0;
    // On the streaming thread, before the first and after the last FillSample.
    virtual HRESULT OnThreadStart() { return S_OK; }
    virtual void OnThreadEnd() {}
    // The stream failed: tells the graph with EC_ERRORABORT first, then ends the stream downstream,
    // so the error is queued before the renderers can report completion.
    virtual void OnStreamError(HRESULT error);

    // For waits inside FillSample: false when Stop came first.
    bool WaitUnlessStopping(DWORD milliseconds);
    bool StopRequested() const;

private:
    static unsigned __stdcall ThreadProc(void* context);
    void StreamLoop();
    void EndThread();

    UniqueHandle stopEvent_;
    UniqueHandle thread_;
};
