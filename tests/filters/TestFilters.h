#pragma once
// Small filters built on the base, and a stand-in graph, for testing the base itself.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "filters/BaseRenderer.h"
#include "filters/InputPin.h"
#include "filters/SourceSeeking.h"
#include "filters/SourceStreamPin.h"
#include "framework/ScopedWin.h"

namespace filter_tests {

extern const CLSID TestSourceClsid;
extern const CLSID TestSinkClsid;
constexpr HRESULT TestStreamError = HRESULT_FROM_WIN32(ERROR_CRC);
constexpr REFERENCE_TIME TestSampleLength = 1000;

struct SourceOptions {
    int samples = 5;
    // >= 0: FillSample fails with TestStreamError when it gets to this sample.
    int failAt = -1;
    // FillSample waits for Stop instead of giving samples.
    bool holdUntilStop = false;
    GUID majorType = MEDIATYPE_Video;
};

class CTestSource;

class CTestSourcePin : public CSourceStreamPin {
public:
    CTestSourcePin(CTestSource* source, const wchar_t* name, const SourceOptions& options);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int index, CMediaType& type) override;
    CSourceSeeking& Seeking() { return seeking_; }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** object) override;
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override;
    HRESULT OnThreadStart() override;
    HRESULT FillSample(IMediaSample* sample) override;

private:
    const SourceOptions options_;
    CSourceSeeking seeking_;
    int next_ = 0;
};

class CTestSource : public CBaseFilter {
public:
    // One reference, the caller's.
    static CTestSource* Create(const SourceOptions& options = SourceOptions());

    int PinCount() override;
    CBasePin* PinAt(int index) override;
    CTestSourcePin* Pin(int index) { return pins_[static_cast<size_t>(index)].get(); }
    // A further output pin, as a filter whose pins depend on its input would add one.
    void AddPin(const wchar_t* name);
    // The state hooks in the order they ran: "start", "run", "pause", "stop".
    std::vector<std::string> Hooks();

protected:
    HRESULT OnStartStreaming() override;
    void OnStopStreaming() override;
    HRESULT OnRun(REFERENCE_TIME start) override;
    HRESULT OnPauseFromRun() override;

private:
    explicit CTestSource(const SourceOptions& options);

    SourceOptions options_;
    std::vector<std::unique_ptr<CTestSourcePin>> pins_;
    std::vector<std::string> hooks_;
};

struct ReceivedSample {
    std::string data;
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
};

class CTestSink;

class CTestSinkPin : public CBaseInputPin {
public:
    explicit CTestSinkPin(CTestSink* sink);
    // Takes video only, so that other types are refused.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;

protected:
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    CTestSink* const sink_;
};

class CTestSink : public CBaseRenderer {
public:
    static CTestSink* Create();

    int PinCount() override { return 1; }
    CBasePin* PinAt(int) override { return &pin_; }
    CTestSinkPin* Pin() { return &pin_; }

    std::vector<ReceivedSample> Received();
    int EndsOfStream();
    void Record(const ReceivedSample& sample);
    void RecordEnd();

private:
    CTestSink();

    CTestSinkPin pin_;
    CriticalSection recordLock_;
    std::vector<ReceivedSample> received_;
    int endsOfStream_ = 0;
};

struct NotifiedEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

// Just enough of a graph for a filter: it takes events and keeps them.
class CFakeGraph : public IFilterGraph, public IMediaEventSink {
public:
    CFakeGraph();
    CFakeGraph(const CFakeGraph&) = delete;
    CFakeGraph& operator=(const CFakeGraph&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }

    STDMETHODIMP Notify(long code, LONG_PTR param1, LONG_PTR param2) override;

    std::vector<NotifiedEvent> Events();
    // Waits until an event with this code came; false when the time ran out.
    bool WaitForEvent(long code, DWORD timeoutMs);
    ULONG References() const { return references_.load(); }

private:
    virtual ~CFakeGraph() = default;

    std::atomic<ULONG> references_{1};
    CriticalSection lock_;
    std::vector<NotifiedEvent> events_;
};

// The current count of an object, without changing it.
ULONG RefCount(IUnknown* object);
// Polls until the condition holds; false when the time ran out.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() > deadline)
            return false;
        ::Sleep(5);
    }
    return true;
}

} // namespace filter_tests
