#pragma once
// A small source and renderer built on the filter base, a stand-in graph that keeps the events it
// is told of, and the fixture that checks every reference and module lock is gone afterwards.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filters/Adopt.h"
#include "filters/BaseRenderer.h"
#include "filters/InputPin.h"
#include "filters/ModuleLock.h"
#include "filters/SourceSeeking.h"
#include "filters/SourceStreamPin.h"
#include "framework/ScopedWin.h"
#include "tests/support/TestSupport.h"

namespace filter_tests {

using Microsoft::WRL::ComPtr;

const CLSID TestSourceClsid = {0x7e1c6a10, 0x3b52, 0x4c0e, {0x9d, 0x55, 0x2a, 0x61, 0xf3, 0xb0, 0xc0, 0x01}};
const CLSID TestSinkClsid = {0x7e1c6a10, 0x3b52, 0x4c0e, {0x9d, 0x55, 0x2a, 0x61, 0xf3, 0xb0, 0xc0, 0x02}};
constexpr HRESULT TestStreamError = HRESULT_FROM_WIN32(ERROR_CRC);
constexpr REFERENCE_TIME TestSampleLength = 1000;

struct SourceOptions {
    int samples = 5;
    int failAt = -1;            // >= 0: FillSample fails with TestStreamError at this sample
    bool holdUntilStop = false; // FillSample waits for Stop instead of giving samples
    GUID majorType = MEDIATYPE_Video;
};

// Pushes "sample <n>", each TestSampleLength long, and keeps its seeking position up to date.
class CTestSourcePin : public CSourceStreamPin {
public:
    CTestSourcePin(CBaseFilter* source, const wchar_t* name, const SourceOptions& options)
        : CSourceStreamPin(source, name), options_(options), seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetDuration(options.samples * TestSampleLength);
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return type.majortype == options_.majorType ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index != 0)
            return VFW_S_NO_MORE_ITEMS;
        type = CMediaType(options_.majorType, MEDIASUBTYPE_None);
        return S_OK;
    }
    CSourceSeeking& Seeking() { return seeking_; }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IMediaSeeking)
            return E_NOINTERFACE;
        *object = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties.cBuffers = 2;
        properties.cbBuffer = 64;
        properties.cbAlign = 1;
    }
    HRESULT OnThreadStart() override
    {
        next_ = 0;
        return S_OK;
    }
    HRESULT FillSample(IMediaSample* sample) override
    {
        if (options_.holdUntilStop) {
            WaitUnlessStopping(INFINITE);
            return S_FALSE;
        }
        if (next_ == options_.failAt)
            return TestStreamError;
        if (next_ >= options_.samples)
            return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        sample->SetActualDataLength(std::sprintf(reinterpret_cast<char*>(data), "sample %d", next_));
        REFERENCE_TIME start = next_ * TestSampleLength;
        REFERENCE_TIME stop = start + TestSampleLength;
        sample->SetTime(&start, &stop);
        seeking_.SetCurrentPosition(stop);
        ++next_;
        return S_OK;
    }

private:
    const SourceOptions options_;
    CSourceSeeking seeking_;
    int next_ = 0;
};

class CTestSource : public CBaseFilter {
public:
    explicit CTestSource(const SourceOptions& options = SourceOptions()) : CBaseFilter(TestSourceClsid), options_(options)
    {
        AddPin(L"Out");
    }

    int PinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* PinAt(int index) override { return pins_[static_cast<size_t>(index)].get(); }
    CTestSourcePin* Pin(int index) { return pins_[static_cast<size_t>(index)].get(); }
    // A further output pin, as a filter whose pins depend on its input would add one.
    void AddPin(const wchar_t* name)
    {
        CriticalSectionLock lock(StateLock());
        pins_.push_back(std::make_unique<CTestSourcePin>(this, name, options_));
        PinsChanged();
    }
    std::vector<std::string> Hooks()
    {
        CriticalSectionLock lock(StateLock());
        return hooks_;
    }

protected:
    HRESULT OnStartStreaming() override { return Hook("start"); }
    void OnStopStreaming() override { Hook("stop"); }
    HRESULT OnRun(REFERENCE_TIME) override { return Hook("run"); }
    HRESULT OnPauseFromRun() override { return Hook("pause"); }

private:
    HRESULT Hook(const char* name)
    {
        hooks_.push_back(name);
        return S_OK;
    }

    const SourceOptions options_;
    std::vector<std::unique_ptr<CTestSourcePin>> pins_;
    std::vector<std::string> hooks_;
};

// A renderer with one video input that logs "<data> <start>-<stop>" for each sample and "end" for
// each end of stream.
class CTestSink : public CBaseRenderer {
public:
    class Pin : public CBaseInputPin {
    public:
        explicit Pin(CTestSink* sink) : CBaseInputPin(sink, L"In"), sink_(sink) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE; }

    protected:
        HRESULT OnReceive(IMediaSample* sample) override
        {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            REFERENCE_TIME start = -1, stop = -1;
            sample->GetTime(&start, &stop);
            sink_->Log(std::string(reinterpret_cast<char*>(data), sample->GetActualDataLength()) + " "
                       + std::to_string(start) + "-" + std::to_string(stop));
            return S_OK;
        }
        HRESULT OnEndOfStream() override
        {
            sink_->Log("end");
            sink_->InputEnded();
            return S_OK;
        }

    private:
        CTestSink* const sink_;
    };

    CTestSink() : CBaseRenderer(TestSinkClsid), pin_(this) { SetSeekingPin(&pin_); }
    int PinCount() override { return 1; }
    CBasePin* PinAt(int) override { return &pin_; }
    Pin* InputPin() { return &pin_; }
    std::vector<std::string> Received()
    {
        CriticalSectionLock lock(logLock_);
        return log_;
    }

private:
    void Log(const std::string& entry)
    {
        CriticalSectionLock lock(logLock_);
        log_.push_back(entry);
    }

    Pin pin_;
    CriticalSection logLock_;
    std::vector<std::string> log_;
};

struct NotifiedEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

// Just enough of a graph for a filter: it takes events and keeps them.
class CFakeGraph : public IFilterGraph, public IMediaEventSink {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IFilterGraph)
            *object = static_cast<IFilterGraph*>(this);
        else if (iid == IID_IMediaEventSink)
            *object = static_cast<IMediaEventSink*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG remaining = --references_;
        if (remaining == 0)
            delete this;
        return remaining;
    }
    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
    STDMETHODIMP Notify(long code, LONG_PTR param1, LONG_PTR param2) override
    {
        CriticalSectionLock lock(lock_);
        events_.push_back({code, param1, param2});
        return S_OK;
    }

    std::vector<NotifiedEvent> Events()
    {
        CriticalSectionLock lock(lock_);
        return events_;
    }
    int Count(long code)
    {
        int count = 0;
        for (const NotifiedEvent& event : Events())
            count += event.code == code;
        return count;
    }
    ULONG References() const { return references_.load(); }

private:
    virtual ~CFakeGraph() = default;

    std::atomic<ULONG> references_{1};
    CriticalSection lock_;
    std::vector<NotifiedEvent> events_;
};

// The current count of an object, without changing it.
inline ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        baseline_ = ModuleLockCount();
        graph_ = Adopt(new CFakeGraph());
        source_ = Adopt(new CTestSource());
        sink_ = Adopt(new CTestSink());
    }

    void TearDown() override
    {
        if (source_)
            source_->Stop();
        sink_->Stop();
        if (source_ && source_->Pin(0)->IsConnected()) {
            source_->Pin(0)->Disconnect();
            sink_->InputPin()->Disconnect();
        }
        // Nothing a test did may leave a reference behind.
        if (source_) {
            EXPECT_EQ(0u, source_.Reset());
        }
        EXPECT_EQ(0u, sink_.Reset());
        EXPECT_EQ(0u, graph_.Reset());
        EXPECT_EQ(baseline_, ModuleLockCount());
    }

    // A source made with these options and the renderer, both in the fake graph, connected.
    void MakeConnectedPair(const SourceOptions& options = SourceOptions())
    {
        source_ = Adopt(new CTestSource(options));
        ASSERT_EQ(S_OK, source_->JoinFilterGraph(graph_.Get(), L"Source"));
        ASSERT_EQ(S_OK, sink_->JoinFilterGraph(graph_.Get(), L"Sink"));
        ASSERT_EQ(S_OK, source_->Pin(0)->Connect(sink_->InputPin(), nullptr));
    }

    // As a graph manager does: downstream first.
    void RunBoth()
    {
        ASSERT_EQ(S_OK, sink_->Run(0));
        ASSERT_EQ(S_OK, source_->Run(0));
    }

    bool WaitForComplete(int count = 1)
    {
        return testing_support::WaitUntil([&] { return graph_->Count(EC_COMPLETE) >= count; }, 5000);
    }

    ScopedComInit com_;
    LONG baseline_ = 0;
    ComPtr<CFakeGraph> graph_;
    ComPtr<CTestSource> source_;
    ComPtr<CTestSink> sink_;
};

} // namespace filter_tests
