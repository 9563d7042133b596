#pragma once
// Stand-in for the "Dump" writer: IFileSinkFilter, one pin "Input", writes every byte it receives
// to the named file. The file is created (or truncated) when streaming starts, and closed before
// EC_COMPLETE goes out, so whoever waits for completion can read it.
//
// Faults for tests, chosen by the environment variable HALVERN_DUMP_FAULT when streaming starts
// (it reaches the filter in this process and in a started Halvern.exe alike):
//   "ignore-name"  writes nothing anywhere, yet completes;
//   "abort"        refuses the second sample with EC_ERRORABORT, the first one written;
//   "hang"         never reports the end of its stream, so the graph never completes.

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <string>

#include "filters/BaseRenderer.h"
#include "framework/ScopedWin.h"

class CDumpInputPin;

class CStandInDump : public CBaseRenderer, public IFileSinkFilter {
public:
    static HRESULT Create(IUnknown** object);

    // IUnknown, for all interfaces
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // For the pin, with the streaming lock held.
    HRESULT Write(IMediaSample* sample);
    HRESULT Finish();

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** object) override;
    HRESULT OnStartStreaming() override;
    void OnStopStreaming() override;

private:
    CStandInDump();
    ~CStandInDump() override;

    std::unique_ptr<CDumpInputPin> input_;
    enum class Fault { None, IgnoreName, Abort, Hang };

    std::wstring fileName_;
    UniqueFileHandle file_;
    Fault fault_ = Fault::None;
    unsigned samplesWritten_ = 0;
};
