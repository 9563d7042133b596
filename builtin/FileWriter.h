#pragma once
// Halvern's file writer: IFileSinkFilter, one pin "Input" that takes a byte stream and appends it
// to the named file. The file is made when the graph first pauses, and flushed and closed before
// EC_COMPLETE goes out; a failed write or flush aborts the run instead of completing it.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <string>

#include "filters/BaseRenderer.h"
#include "filters/MediaType.h"
#include "base/ScopedWin.h"

// A file written front to back through one large buffer: small samples cost a copy, and the disk
// (or network share) sees few large sequential writes.
class CBufferedFileOutput {
public:
    static constexpr DWORD BufferSize = 1 << 20;

    CBufferedFileOutput() = default;
    CBufferedFileOutput(const CBufferedFileOutput&) = delete;
    CBufferedFileOutput& operator=(const CBufferedFileOutput&) = delete;

    // Creates the file, replacing one that exists; others may read it meanwhile, but not write.
    HRESULT Open(const std::wstring& path);
    bool IsOpen() const { return file_.IsValid(); }
    HRESULT Append(const BYTE* data, DWORD length);
    // Writes what is buffered, flushes it to the disk and closes; the file is closed either way.
    HRESULT Finish();
    // Writes what is buffered as far as it can, and closes.
    void Close();

private:
    HRESULT WriteThrough(const BYTE* data, DWORD length);
    HRESULT WriteBuffer();

    UniqueFileHandle file_;
    std::unique_ptr<BYTE[]> buffer_;
    DWORD used_ = 0;
};

class CFileWriterInputPin;

class CFileWriter : public CBaseRenderer, public IFileSinkFilter {
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
    HRESULT OnRun(REFERENCE_TIME start) override;

private:
    CFileWriter();
    ~CFileWriter() override;

    // Tells the graph once, and refuses everything after, so the run ends as failed.
    HRESULT Fail(HRESULT hr);

    std::unique_ptr<CFileWriterInputPin> input_;
    // Under the state lock.
    std::wstring fileName_;
    CMediaType fileType_;
    // Under the streaming lock.
    CBufferedFileOutput output_;
    // The failure of this streaming run, S_OK while there is none.
    std::atomic<HRESULT> failure_{S_OK};
};
