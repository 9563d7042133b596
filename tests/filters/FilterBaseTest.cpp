// The filter base under the system's graph manager, through a small source on it and Halvern's file writer.

#include "tests/filters/GraphFixture.h"

#include <cstdio>

#include "builtin/FileWriter.h"
#include "filters/Adopt.h"
#include "filters/ClassFactory.h"
#include "tests/filters/SourceStreamPin.h"

namespace {

using Microsoft::WRL::ComPtr;

const CLSID TestSourceClsid = {0x7e1c6a10, 0x3b52, 0x4c0e, {0x9d, 0x55, 0x2a, 0x61, 0xf3, 0xb0, 0xc0, 0x01}};

// Pushes five samples, "sample <n>", from each start.
class CTestSourcePin : public CSourceStreamPin {
public:
    explicit CTestSourcePin(CBaseFilter* source) : CSourceStreamPin(source, L"Out") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int index, CMediaType& type) override { type = CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_None); return index == 0 ? S_OK : VFW_S_NO_MORE_ITEMS; }
    HRESULT Active() override { next_ = 0; return CSourceStreamPin::Active(); }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override { properties = {2, 64, 1, 0}; }
    HRESULT FillSample(IMediaSample* sample) override
    {
        if (next_ == 5)
            return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        return sample->SetActualDataLength(std::sprintf(reinterpret_cast<char*>(data), "sample %d", next_++));
    }

private:
    int next_ = 0;
};

// Logs the base's hooks.
class CTestSource : public CBaseFilter {
public:
    CTestSource() : CBaseFilter(TestSourceClsid), pin(this) {}
    int PinCount() override { return 1; }
    CBasePin* PinAt(int) override { return &pin; }

    CTestSourcePin pin;
    std::string hooks;

protected:
    HRESULT OnStartStreaming() override { return Hook("start "); }
    // Once the state is paused, so a thread started here sees it.
    HRESULT OnActive() override { return Hook(State() == State_Paused ? "active " : "active-while-stopped "); }
    void OnStopStreaming() override { Hook("stop "); }
    HRESULT OnRun(REFERENCE_TIME) override { return Hook("run "); }
    HRESULT OnPauseFromRun() override { return Hook("pause "); }

private:
    HRESULT Hook(const char* name) { hooks += name; return S_OK; }
};

ULONG RefCount(IUnknown* object) { object->AddRef(); return object->Release(); }

class FilterBaseTest : public GraphTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(GraphTest::SetUp());
        source_ = Adopt(new CTestSource());
        IUnknown* writer = nullptr; // the renderer: what it received is in its file
        ASSERT_EQ(S_OK, CFileWriter::Create(&writer));
        sink_ = Adopt(static_cast<CFileWriter*>(static_cast<IBaseFilter*>(writer)));
        const std::string path = directory_ + "received";
        ASSERT_EQ(S_OK, sink_->SetFileName(std::wstring(path.begin(), path.end()).c_str(), nullptr));
    }

    void TearDown() override
    {
        ReleaseGraph();
        EXPECT_EQ(0u, source_.Reset());
        EXPECT_EQ(0u, sink_.Reset());
        GraphTest::TearDown();
    }

    // The source and the renderer, in the graph, connected.
    void Connect()
    {
        ASSERT_EQ(S_OK, MakeGraph({source_.Get(), sink_.Get()}));
        // Each renderer's EC_COMPLETE as it is sent, not the graph's summary of them.
        ASSERT_EQ(S_OK, events_->CancelDefaultHandling(EC_COMPLETE));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(&source_->pin, &Input(), nullptr));
    }

    CBaseInputPin& Input() { return *static_cast<CBaseInputPin*>(sink_->PinAt(0)); }
    std::string Received() const { return testing_support::ReadFileBytes(directory_ + "received"); }

    ComPtr<CTestSource> source_;
    ComPtr<CFileWriter> sink_;
};

const char FiveSamples[] = "sample 0sample 1sample 2sample 3sample 4";

TEST_F(FilterBaseTest, InterfacesAreOfferedAsDeclared)
{
    IUnknown* source = static_cast<IBaseFilter*>(source_.Get());
    IUnknown* sink = static_cast<IBaseFilter*>(sink_.Get());
    IPin* input = &Input();
    const struct { IUnknown* object; const IID& iid; bool offered; } cases[] = {
        {source, IID_IMediaFilter, true}, {sink, IID_IAMFilterMiscFlags, true}, {sink, IID_IMediaSeeking, true}, {input, IID_IMemInputPin, true},
        {source, IID_IAMFilterMiscFlags, false}, {source, IID_IPin, false}, {&source_->pin, IID_IMemInputPin, false}, {input, IID_IBaseFilter, false},
    };
    for (const auto& c : cases) {
        ComPtr<IUnknown> found;
        EXPECT_EQ(c.offered ? S_OK : E_NOINTERFACE, c.object->QueryInterface(c.iid, reinterpret_cast<void**>(found.GetAddressOf())));
        EXPECT_EQ(c.offered, found != nullptr);
    }
    // Every interface leads back to the same object, and holding a pin holds its filter.
    ComPtr<IUnknown> fromPin;
    const ULONG before = RefCount(sink);
    ASSERT_EQ(S_OK, static_cast<IMemInputPin*>(&Input())->QueryInterface(IID_PPV_ARGS(&fromPin)));
    EXPECT_EQ(static_cast<IUnknown*>(input), fromPin.Get());
    EXPECT_EQ(before + 1, RefCount(sink));
}

TEST_F(FilterBaseTest, FactoryRefusesAggregationAndCountsLocks)
{
    ComPtr<IClassFactory> factory = Adopt<IClassFactory>(new CFilterClassFactory(&CFileWriter::Create));
    ComPtr<IBaseFilter> made;
    void** into = reinterpret_cast<void**>(made.GetAddressOf());
    const LONG locks = ModuleLockCount();
    IUnknown* outer = static_cast<IBaseFilter*>(sink_.Get());
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IBaseFilter, into));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IFileSourceFilter, into));
    EXPECT_EQ(locks, ModuleLockCount()); // the refused objects are gone again
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(locks + 1, ModuleLockCount());
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, factory.Reset());
}

TEST_F(FilterBaseTest, StateChangesRunTheHooksInOrder)
{
    ComPtr<IReferenceClock> clock; // held until another is given
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&clock)));
    const ULONG clockCount = RefCount(clock.Get());
    ASSERT_EQ(S_OK, source_->SetSyncSource(clock.Get()));
    EXPECT_EQ(clockCount + 1, RefCount(clock.Get()));
    FILTER_STATE state = State_Stopped;
    // Pause, run, run again, pause, stop, stop again, run from stopped, stop.
    for (const char step : std::string("prrpssrs")) {
        ASSERT_EQ(S_OK, step == 'p' ? source_->Pause() : step == 'r' ? source_->Run(1234) : source_->Stop());
        ASSERT_EQ(S_OK, source_->GetState(0, &state));
        EXPECT_EQ(step == 'p' ? State_Paused : step == 'r' ? State_Running : State_Stopped, state) << step;
    }
    EXPECT_EQ("start active run pause stop start active run stop ", source_->hooks); // from stopped, run passes through pause
    ASSERT_EQ(S_OK, source_->SetSyncSource(nullptr));
    EXPECT_EQ(clockCount, RefCount(clock.Get()));
}

TEST_F(FilterBaseTest, ConnectionsThatCannotWorkAreRefused)
{
    IPin* input = &Input();
    const CMediaType audio(MEDIATYPE_Audio, GUID_NULL); // partial: neither pin offers such a type
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, source_->pin.Connect(input, &audio.Get()));
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, source_->pin.Connect(&source_->pin, nullptr));
    EXPECT_EQ(E_UNEXPECTED, input->Connect(&source_->pin, nullptr));
    ASSERT_EQ(S_OK, source_->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, source_->pin.Connect(input, nullptr));
    ASSERT_EQ(S_OK, source_->Stop());
    Connect();
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, source_->pin.Connect(input, nullptr));
    ASSERT_EQ(S_OK, control_->Run());
    EXPECT_EQ(VFW_E_NOT_STOPPED, source_->pin.Disconnect());
}

// The samples arrive in order at pause (the writer's file is whole once the end of stream came).
// Ended while paused, the renderer completes at run; once stopped, a new run starts the stream
// again and completes again, once.
TEST_F(FilterBaseTest, RendererCompletesOncePerRun)
{
    Connect();
    ASSERT_EQ(S_OK, control_->Pause());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return Received() == FiveSamples; }, 10000)) << Received();
    EXPECT_FALSE(WaitForEvent({EC_COMPLETE}, 200));
    ASSERT_EQ(S_OK, control_->Run());
    EXPECT_TRUE(WaitForEvent({EC_COMPLETE}));
    ASSERT_EQ(S_OK, control_->Stop());
    ASSERT_EQ(S_OK, control_->Run());
    EXPECT_TRUE(WaitForEvent({EC_COMPLETE}));
    EXPECT_FALSE(WaitForEvent({EC_COMPLETE}, 200));
    EXPECT_EQ(FiveSamples, Received());
}

TEST_F(FilterBaseTest, RendererRefusesSamplesWhenStoppedFlushingOrEnded)
{
    Connect();
    CBaseInputPin& input = Input();
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, input.GetAllocator(&allocator));
    ASSERT_EQ(S_OK, allocator->Commit());
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    sample->SetActualDataLength(0);
    EXPECT_EQ(VFW_E_WRONG_STATE, input.Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Pause());
    EXPECT_EQ(S_OK, input.Receive(sample.Get()));
    ASSERT_EQ(S_OK, input.BeginFlush());
    EXPECT_EQ(S_FALSE, input.Receive(sample.Get()));
    ASSERT_EQ(S_OK, input.EndFlush());
    ASSERT_EQ(S_OK, input.EndOfStream());
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, input.Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Stop());
}

} // namespace
