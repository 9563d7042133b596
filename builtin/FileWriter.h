#pragma once
// Halvern's file writer: IFileSinkFilter, one pin "Input" that takes a byte stream and appends it
// to the named file. The file is made when the graph first pauses, and flushed and closed before
// EC_COMPLETE goes out; a failed write or flush aborts the run instead of completing it.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <string>

#include "builtin/WriteBehindFile.h"
#include "filters/BaseRenderer.h"
#include "filters/CurrentFile.h"
#include "filters/FilterObject.h"

class CFileWriterInputPin;

class CFileWriter : public CFilterObject<CFileWriter, CBaseRenderer, IFileSinkFilter> {
public:
    CFileWriter();

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // For the pin, with the streaming lock held.
    HRESULT Write(IMediaSample* sample);
    HRESULT Finish();

protected:
    HRESULT OnStartStreaming() override;
    void OnStopStreaming() override;
    HRESULT OnRun(REFERENCE_TIME start) override;

private:
    // Only Release deletes it.
    ~CFileWriter() override;

    // Tells the graph once, and refuses everything after, so the run ends as failed.
    HRESULT Fail(HRESULT hr);

    std::unique_ptr<CFileWriterInputPin> input_;
    // Under the state lock.
    CCurrentFile file_;
    // Under the streaming lock.
    CWriteBehindFile output_;
    // The failure of this streaming run, S_OK while there is none.
    std::atomic<HRESULT> failure_{S_OK};
};
