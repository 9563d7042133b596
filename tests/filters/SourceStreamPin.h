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

    // Called on the streaming thread. S_OK delivers the sample, anything else ends the stream.
    // After Stop, whatever it returns is dropped.
    virtual HRESULT FillSample(IMediaSample* sample) = 0;
    // On the streaming thread, after the last FillSample.
    virtual void OnThreadEnd() {}

    // For waits inside FillSample: false when Stop came first.
    bool WaitUnlessStopping(DWORD milliseconds);

private:
    static unsigned __stdcall ThreadProc(void* context);
    void StreamLoop();
    void EndThread();
    bool StopRequested() const;

    UniqueHandle stopEvent_;
    UniqueHandle thread_;
};
