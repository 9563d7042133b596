#pragma once
// Halvern's recording source: reads a media-centre recording (DVR-MS or WTV, told apart by their
// first bytes) or a plain ASF file and pushes each
// stream it can deliver on a pin named as the media centre's own source names them, so graph
// descriptions written for that source connect unchanged: "DVR Out - 1" for the first audio
// stream, then further audio and caption streams, the video stream last. FindPin also knows each pin
// by what it carries, whatever the layout: "Video", "Audio 1" to "Audio N", "Captions".

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "filters/BaseFilter.h"
#include "filters/SourceSeeking.h"
#include "framework/ScopedWin.h"
#include "media/RecordingReader.h"

class CRecordingSourcePin;

class CRecordingSource : public CBaseFilter, public IFileSourceFilter, public IAMFilterMiscFlags {
public:
    static HRESULT Create(IUnknown** object);

    // IUnknown, for every interface
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IBaseFilter: a pin's name, or what it carries.
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    // IMediaFilter: the streaming thread starts once the pins are active.
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    // IFileSourceFilter. Load fails with HALVERN_E_NOT_RECORDING, _BAD_HEADER, _PROTECTED,
    // _NO_STREAMS, _H264_VIDEO, or the system's code when the file cannot be opened, and then
    // holds nothing.
    STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;
    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    int PinCount() override;
    CBasePin* PinAt(int index) override;

protected:
    HRESULT QueryFilterInterface(REFIID iid, void** object) override;
    void OnStopStreaming() override;

private:
    CRecordingSource();
    ~CRecordingSource() override;

    HRESULT StartStreaming();
    static unsigned __stdcall ThreadProc(void* context);
    void Stream();

    std::wstring fileName_;
    std::unique_ptr<media::RecordingReader> reader_;
    std::vector<std::unique_ptr<CRecordingSourcePin>> pins_;
    // Reader stream index -> pin, null for streams without one.
    std::vector<CRecordingSourcePin*> pinOfStream_;
    UniqueHandle thread_;
    std::atomic<bool> stopping_{false};
    // IMediaSeeking of the filter: how many bytes of the recording have been read and delivered,
    // of how many, for a conversion's progress (the graph's clock is wall time under Wine).
    CSourceSeeking progress_{static_cast<IBaseFilter*>(this), TIME_FORMAT_BYTE};
};
