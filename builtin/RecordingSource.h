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
#include "filters/CurrentFile.h"
#include "filters/FilterObject.h"
#include "filters/SourceSeeking.h"
#include "base/ScopedWin.h"
#include "media/RecordingReader.h"

class CRecordingSourcePin;

class CRecordingSource : public CFilterObject<CRecordingSource, CBaseFilter, IFileSourceFilter> {
public:
    CRecordingSource();

    // IBaseFilter: a pin's name, or what it carries.
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    // IFileSourceFilter. Load fails with HALVERN_E_NOT_RECORDING, _BAD_HEADER, _PROTECTED,
    // _NO_STREAMS, _AVC1_VIDEO, or the system's code when the file cannot be opened, and then
    // holds nothing.
    STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;

    int PinCount() override;
    CBasePin* PinAt(int index) override;

protected:
    ULONG MiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }
    // The streaming thread starts once the pins are active.
    HRESULT OnActive() override;
    void OnStopStreaming() override;

private:
    // Only Release deletes it.
    ~CRecordingSource() override;

    static unsigned __stdcall ThreadProc(void* context);
    void Stream();

    CCurrentFile file_;
    std::unique_ptr<media::IRecordingReader> reader_;
    std::vector<std::unique_ptr<CRecordingSourcePin>> pins_;
    // Reader stream index -> pin, null for streams without one.
    std::vector<CRecordingSourcePin*> pinOfStream_;
    UniqueHandle thread_;
    std::atomic<bool> stopping_{false};
    // IMediaSeeking of the filter: how many bytes of the recording have been read and delivered,
    // of how many, for a conversion's progress (the graph's clock is wall time under Wine).
    CSourceSeeking progress_{static_cast<IBaseFilter*>(this), TIME_FORMAT_BYTE};
};
