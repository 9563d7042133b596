// The filter base at work: state changes, connections, allocators, streaming, completion,
// errors, stopping and seeking.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "filters/Adopt.h"
#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/filters/TestFilters.h"

using Microsoft::WRL::ComPtr;
using namespace filter_tests;

namespace {

class FilterStreamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        baseline_ = ModuleLockCount();
        graph_ = Adopt(new CFakeGraph());
    }

    void TearDown() override
    {
        if (source_)
            source_->Stop();
        if (sink_)
            sink_->Stop();
        if (source_ && sink_ && source_->Pin(0)->IsConnected()) {
            source_->Pin(0)->Disconnect();
            sink_->Pin()->Disconnect();
        }
        if (source_) {
            EXPECT_EQ(0u, source_.Reset());
        }
        if (sink_) {
            EXPECT_EQ(0u, sink_.Reset());
        }
        EXPECT_EQ(0u, graph_.Reset());
        EXPECT_EQ(baseline_, ModuleLockCount());
    }

    // A source and a renderer in the fake graph, connected.
    void MakeConnectedPair(const SourceOptions& options = SourceOptions())
    {
        source_ = Adopt(CTestSource::Create(options));
        sink_ = Adopt(CTestSink::Create());
        ASSERT_EQ(S_OK, source_->JoinFilterGraph(graph_.Get(), L"Source"));
        ASSERT_EQ(S_OK, sink_->JoinFilterGraph(graph_.Get(), L"Sink"));
        ASSERT_EQ(S_OK, source_->Pin(0)->Connect(sink_->Pin(), nullptr));
    }

    // As a graph manager does: downstream first.
    void RunBoth()
    {
        ASSERT_EQ(S_OK, sink_->Run(0));
        ASSERT_EQ(S_OK, source_->Run(0));
    }

    int Count(long code)
    {
        int count = 0;
        for (const NotifiedEvent& event : graph_->Events())
            count += event.code == code;
        return count;
    }

    ScopedComInit com_;
    LONG baseline_ = 0;
    ComPtr<CFakeGraph> graph_;
    ComPtr<CTestSource> source_;
    ComPtr<CTestSink> sink_;
};

FILTER_STATE StateOf(IBaseFilter* filter)
{
    FILTER_STATE state = static_cast<FILTER_STATE>(-1);
    EXPECT_EQ(S_OK, filter->GetState(0, &state));
    return state;
}

TEST_F(FilterStreamingTest, StateChangesRunTheHooksInOrder)
{
    source_ = Adopt(CTestSource::Create());
    EXPECT_EQ(State_Stopped, StateOf(source_.Get()));
    ASSERT_EQ(S_OK, source_->Pause());
    EXPECT_EQ(State_Paused, StateOf(source_.Get()));
    ASSERT_EQ(S_OK, source_->Run(1234));
    EXPECT_EQ(State_Running, StateOf(source_.Get()));
    EXPECT_EQ(1234, source_->StreamStart());
    ASSERT_EQ(S_OK, source_->Run(1234));
    ASSERT_EQ(S_OK, source_->Pause());
    EXPECT_EQ(State_Paused, StateOf(source_.Get()));
    ASSERT_EQ(S_OK, source_->Stop());
    ASSERT_EQ(S_OK, source_->Stop());
    EXPECT_EQ(State_Stopped, StateOf(source_.Get()));
    // Run straight from stopped passes through pause.
    ASSERT_EQ(S_OK, source_->Run(0));
    ASSERT_EQ(S_OK, source_->Stop());
    const std::vector<std::string> expected = {"start", "run", "pause", "stop", "start", "run", "stop"};
    EXPECT_EQ(expected, source_->Hooks());
}

TEST_F(FilterStreamingTest, ConnectionIsRecordedOnBothSidesAndUndone)
{
    MakeConnectedPair();
    IPin* output = source_->Pin(0);
    IPin* input = sink_->Pin();

    ComPtr<IPin> peer;
    ASSERT_EQ(S_OK, output->ConnectedTo(&peer));
    EXPECT_EQ(input, peer.Get());
    ASSERT_EQ(S_OK, input->ConnectedTo(&peer));
    EXPECT_EQ(output, peer.Get());
    peer.Reset();
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(S_OK, input->ConnectionMediaType(&type));
    EXPECT_EQ(MEDIATYPE_Video, type.majortype);
    FreeMediaTypeContent(type);

    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, output->Connect(input, nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, input->ReceiveConnection(output, &sink_->Pin()->ConnectedType().Get()));

    ASSERT_EQ(S_OK, sink_->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, input->Disconnect());
    ASSERT_EQ(S_OK, sink_->Stop());

    ASSERT_EQ(S_OK, output->Disconnect());
    ASSERT_EQ(S_OK, input->Disconnect());
    EXPECT_EQ(S_FALSE, input->Disconnect());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, input->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer.Get());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, input->ConnectionMediaType(&type));
}

TEST_F(FilterStreamingTest, ConnectionsThatCannotWorkAreRefused)
{
    SourceOptions audio;
    audio.majorType = MEDIATYPE_Audio;
    source_ = Adopt(CTestSource::Create(audio));
    sink_ = Adopt(CTestSink::Create());
    IPin* output = source_->Pin(0);
    IPin* input = sink_->Pin();

    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, output->Connect(input, nullptr));
    EXPECT_FALSE(source_->Pin(0)->IsConnected());
    EXPECT_FALSE(sink_->Pin()->IsConnected());

    CMediaType video(MEDIATYPE_Video, MEDIASUBTYPE_None);
    EXPECT_EQ(S_OK, input->QueryAccept(&video.Get()));
    EXPECT_EQ(S_FALSE, output->QueryAccept(&video.Get()));
    // A fully given type is tried as it is, and this output does not make video.
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, output->Connect(input, &video.Get()));

    ComPtr<CTestSource> other;
    other = Adopt(CTestSource::Create());
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, other->Pin(0)->Connect(output, nullptr));
    EXPECT_EQ(E_UNEXPECTED, input->Connect(output, nullptr));
    ASSERT_EQ(S_OK, other->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, other->Pin(0)->Connect(input, nullptr));
    ASSERT_EQ(S_OK, other->Stop());
    EXPECT_EQ(0u, other.Reset());
}

TEST_F(FilterStreamingTest, OutputUsesTheAllocatorTheInputOffers)
{
    MakeConnectedPair();
    ComPtr<IMemInputPin> input;
    ASSERT_EQ(S_OK, sink_->Pin()->QueryInterface(IID_PPV_ARGS(&input)));
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, input->GetAllocator(&allocator));
    ALLOCATOR_PROPERTIES properties = {};
    ASSERT_EQ(S_OK, allocator->GetProperties(&properties));
    EXPECT_EQ(2, properties.cBuffers);
    EXPECT_GE(properties.cbBuffer, 64);
    EXPECT_EQ(S_OK, input->ReceiveCanBlock()); // pins may block unless they say otherwise
}

TEST_F(FilterStreamingTest, SamplesArriveInOrderAndTheRendererCompletesOnce)
{
    MakeConnectedPair();
    RunBoth();
    ASSERT_TRUE(graph_->WaitForEvent(EC_COMPLETE, 5000));
    const std::vector<ReceivedSample> received = sink_->Received();
    ASSERT_EQ(5u, received.size());
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ("sample " + std::to_string(i), received[i].data);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * TestSampleLength, received[i].start);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * TestSampleLength, received[i].stop);
    }
    EXPECT_EQ(1, sink_->EndsOfStream());
    ::Sleep(50);
    ASSERT_EQ(1, Count(EC_COMPLETE));
    const NotifiedEvent complete = graph_->Events().front();
    EXPECT_EQ(S_OK, complete.param1);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink_.Get())), complete.param2);

    // Once stopped, a new run starts the stream again and completes again.
    ASSERT_EQ(S_OK, source_->Stop());
    ASSERT_EQ(S_OK, sink_->Stop());
    RunBoth();
    ASSERT_TRUE(WaitFor([&] { return Count(EC_COMPLETE) == 2; }, 5000));
    EXPECT_EQ(10u, sink_->Received().size());
}

TEST_F(FilterStreamingTest, EndOfStreamWhilePausedCompletesAtRun)
{
    MakeConnectedPair();
    ASSERT_EQ(S_OK, sink_->Pause());
    ASSERT_EQ(S_OK, source_->Pause());
    ASSERT_TRUE(WaitFor([&] { return sink_->EndsOfStream() == 1; }, 5000));
    ::Sleep(50);
    EXPECT_EQ(0, Count(EC_COMPLETE));
    RunBoth();
    EXPECT_TRUE(graph_->WaitForEvent(EC_COMPLETE, 5000));
}

TEST_F(FilterStreamingTest, UnconnectedRendererCompletesAtOnce)
{
    sink_ = Adopt(CTestSink::Create());
    ASSERT_EQ(S_OK, sink_->JoinFilterGraph(graph_.Get(), L"Sink"));
    ASSERT_EQ(S_OK, sink_->Run(0));
    EXPECT_EQ(1, Count(EC_COMPLETE));
}

TEST_F(FilterStreamingTest, StreamErrorIsReportedBeforeTheStreamEnds)
{
    SourceOptions failing;
    failing.failAt = 2;
    MakeConnectedPair(failing);
    RunBoth();
    ASSERT_TRUE(graph_->WaitForEvent(EC_COMPLETE, 5000));
    const std::vector<NotifiedEvent> events = graph_->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(EC_ERRORABORT, events[0].code);
    EXPECT_EQ(TestStreamError, static_cast<HRESULT>(events[0].param1));
    EXPECT_EQ(EC_COMPLETE, events[1].code);
    EXPECT_EQ(2u, sink_->Received().size());
}

TEST_F(FilterStreamingTest, StopEndsAWaitingStreamPromptly)
{
    SourceOptions holding;
    holding.holdUntilStop = true;
    MakeConnectedPair(holding);
    RunBoth();
    ::Sleep(50);
    const ULONGLONG before = ::GetTickCount64();
    ASSERT_EQ(S_OK, source_->Stop());
    ASSERT_EQ(S_OK, sink_->Stop());
    EXPECT_LT(::GetTickCount64() - before, 2000u);
    EXPECT_EQ(0, Count(EC_COMPLETE));
    EXPECT_EQ(0, sink_->EndsOfStream());
}

TEST_F(FilterStreamingTest, ReleasedWhileRunningStopsFirst)
{
    SourceOptions holding;
    holding.holdUntilStop = true;
    MakeConnectedPair(holding);
    RunBoth();
    source_->Pin(0)->Disconnect(); // refused while running: the pair stays connected
    EXPECT_TRUE(source_->Pin(0)->IsConnected());
    // Dropping the source's last reference (the sink's holds it still) ...
    CTestSource* source = source_.Detach();
    ASSERT_EQ(S_OK, sink_->Stop());
    ASSERT_EQ(S_OK, sink_->Pin()->Disconnect());
    // ... and now the source's own: its thread must end before it goes.
    EXPECT_EQ(0u, source->Release());
}

TEST_F(FilterStreamingTest, InputRefusesSamplesWhenItCannotTakeThem)
{
    MakeConnectedPair();
    ComPtr<IMemInputPin> input;
    ASSERT_EQ(S_OK, sink_->Pin()->QueryInterface(IID_PPV_ARGS(&input)));
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, input->GetAllocator(&allocator));
    ASSERT_EQ(S_OK, allocator->Commit());
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    sample->SetActualDataLength(0);

    EXPECT_EQ(VFW_E_WRONG_STATE, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Pause());
    EXPECT_EQ(S_OK, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Pin()->BeginFlush());
    EXPECT_EQ(S_FALSE, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Pin()->EndFlush());
    EXPECT_EQ(S_OK, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Pin()->EndOfStream());
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, input->Receive(sample.Get()));
    long processed = -1;
    IMediaSample* samples[] = {sample.Get()};
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, input->ReceiveMultiple(samples, 1, &processed));
    EXPECT_EQ(0, processed);
    // A flush ends the end of stream.
    ASSERT_EQ(S_OK, sink_->Pin()->BeginFlush());
    ASSERT_EQ(S_OK, sink_->Pin()->EndFlush());
    EXPECT_EQ(S_OK, input->Receive(sample.Get()));
    EXPECT_EQ(2u + 1u, sink_->Received().size());
    ASSERT_EQ(S_OK, sink_->Stop());
    sample.Reset();
    allocator->Decommit();
}

TEST_F(FilterStreamingTest, RendererSeekingAsksTheSourcePin)
{
    sink_ = Adopt(CTestSink::Create());
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, sink_.As(&seeking));
    LONGLONG duration = -1;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, seeking->GetDuration(&duration));
    sink_.Reset();
    seeking.Reset();

    SourceOptions options;
    options.samples = 7;
    MakeConnectedPair(options);
    ASSERT_EQ(S_OK, sink_.As(&seeking));
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(7 * TestSampleLength, duration);
    EXPECT_EQ(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));

    LONGLONG start = 2 * TestSampleLength, stop = 5 * TestSampleLength;
    ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                          AM_SEEKING_AbsolutePositioning));
    LONGLONG current = -1, end = -1;
    ASSERT_EQ(S_OK, source_->Pin(0)->Seeking().GetPositions(&current, &end));
    EXPECT_EQ(start, current);
    EXPECT_EQ(stop, end);

    RunBoth();
    ASSERT_TRUE(graph_->WaitForEvent(EC_COMPLETE, 5000));
    ASSERT_EQ(S_OK, seeking->GetCurrentPosition(&current));
    // The test source reads no positions back, so it plays all seven samples.
    EXPECT_EQ(7 * TestSampleLength, current);
    seeking.Reset();
}

TEST_F(FilterStreamingTest, SourceSeekingKeepsPositionsInsideTheMedia)
{
    source_ = Adopt(CTestSource::Create());
    CSourceSeeking& seeking = source_->Pin(0)->Seeking();
    const LONGLONG duration = 5 * TestSampleLength;

    DWORD capabilities = AM_SEEKING_CanGetDuration | AM_SEEKING_CanSeekAbsolute;
    EXPECT_EQ(S_OK, seeking.CheckCapabilities(&capabilities));
    capabilities = AM_SEEKING_CanGetDuration | AM_SEEKING_CanDoSegments;
    EXPECT_EQ(S_FALSE, seeking.CheckCapabilities(&capabilities));
    EXPECT_EQ(static_cast<DWORD>(AM_SEEKING_CanGetDuration), capabilities);
    capabilities = AM_SEEKING_CanPlayBackwards;
    EXPECT_EQ(E_FAIL, seeking.CheckCapabilities(&capabilities));

    EXPECT_EQ(S_OK, seeking.SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(E_INVALIDARG, seeking.SetTimeFormat(&TIME_FORMAT_FRAME));
    LONGLONG converted = 0;
    EXPECT_EQ(S_OK, seeking.ConvertTimeFormat(&converted, nullptr, 42, &TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(42, converted);
    EXPECT_EQ(E_INVALIDARG, seeking.ConvertTimeFormat(&converted, &TIME_FORMAT_FRAME, 42, nullptr));

    LONGLONG current = 2000, stop = duration * 2;
    ASSERT_EQ(S_OK, seeking.SetPositions(&current, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop,
                                         AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime));
    EXPECT_EQ(2000, current);
    EXPECT_EQ(duration, stop); // clamped to the end
    LONGLONG step = 1000;
    ASSERT_EQ(S_OK, seeking.SetPositions(&step, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime, nullptr,
                                         AM_SEEKING_NoPositioning));
    EXPECT_EQ(3000, step);
    EXPECT_EQ(3000, seeking.StartPosition());
    LONGLONG late = 4500, early = 4000;
    EXPECT_EQ(E_INVALIDARG, seeking.SetPositions(&late, AM_SEEKING_AbsolutePositioning, &early,
                                                 AM_SEEKING_AbsolutePositioning));
    EXPECT_EQ(3000, seeking.StartPosition());
    EXPECT_EQ(E_POINTER, seeking.SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));

    EXPECT_EQ(S_OK, seeking.SetRate(1.0));
    EXPECT_EQ(E_NOTIMPL, seeking.SetRate(2.0));
    EXPECT_EQ(E_INVALIDARG, seeking.SetRate(0.0));
    LONGLONG earliest = -1, latest = -1;
    ASSERT_EQ(S_OK, seeking.GetAvailable(&earliest, &latest));
    EXPECT_EQ(0, earliest);
    EXPECT_EQ(duration, latest);
}

} // namespace
