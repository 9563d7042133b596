// The filter base at work: state changes, connections, allocators, streaming, completion,
// errors, stopping and seeking.

#include "tests/filters/TestFilters.h"

using namespace filter_tests;

namespace {

using FilterStreamingTest = FilterTest;

FILTER_STATE StateOf(IBaseFilter* filter)
{
    FILTER_STATE state = static_cast<FILTER_STATE>(-1);
    EXPECT_EQ(S_OK, filter->GetState(0, &state));
    return state;
}

TEST_F(FilterStreamingTest, StateChangesRunTheHooksInOrder)
{
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

TEST_F(FilterStreamingTest, ConnectionsThatCannotWorkAreRefused)
{
    SourceOptions audio;
    audio.majorType = MEDIATYPE_Audio;
    source_ = Adopt(new CTestSource(audio));
    IPin* output = source_->Pin(0);
    IPin* input = sink_->InputPin();
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, output->Connect(input, nullptr));
    EXPECT_FALSE(sink_->InputPin()->IsConnected());
    CMediaType video(MEDIATYPE_Video, MEDIASUBTYPE_None);
    EXPECT_EQ(S_OK, input->QueryAccept(&video.Get()));
    EXPECT_EQ(S_FALSE, output->QueryAccept(&video.Get()));
    // A fully given type is tried as it is, and this output does not make video.
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, output->Connect(input, &video.Get()));

    ComPtr<CTestSource> other = Adopt(new CTestSource());
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, other->Pin(0)->Connect(output, nullptr));
    EXPECT_EQ(E_UNEXPECTED, input->Connect(output, nullptr));
    ASSERT_EQ(S_OK, other->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, other->Pin(0)->Connect(input, nullptr));
    ASSERT_EQ(S_OK, other->Stop());
    EXPECT_EQ(0u, other.Reset());
}

TEST_F(FilterStreamingTest, SamplesArriveInOrderInTheInputsAllocatorAndTheRendererCompletesOnce)
{
    MakeConnectedPair();
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(S_OK, sink_->InputPin()->ConnectionMediaType(&type));
    EXPECT_EQ(MEDIATYPE_Video, type.majortype);
    FreeMediaTypeContent(type);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, source_->Pin(0)->Connect(sink_->InputPin(), nullptr));
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, sink_->InputPin()->GetAllocator(&allocator));
    ALLOCATOR_PROPERTIES properties = {};
    ASSERT_EQ(S_OK, allocator->GetProperties(&properties));
    EXPECT_EQ(2, properties.cBuffers); // what the output asked for, in the allocator the input offered
    EXPECT_GE(properties.cbBuffer, 64);
    allocator.Reset();
    EXPECT_EQ(S_OK, sink_->InputPin()->ReceiveCanBlock());

    RunBoth();
    ASSERT_TRUE(WaitForComplete());
    std::vector<std::string> expected;
    for (int i = 0; i < 5; ++i)
        expected.push_back("sample " + std::to_string(i) + " " + std::to_string(i * 1000) + "-" + std::to_string(i * 1000 + 1000));
    expected.push_back("end");
    EXPECT_EQ(expected, sink_->Received());
    ::Sleep(50);
    ASSERT_EQ(1, graph_->Count(EC_COMPLETE));
    const NotifiedEvent complete = graph_->Events().front();
    EXPECT_EQ(S_OK, complete.param1);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink_.Get())), complete.param2);

    // Once stopped, a new run starts the stream again and completes again.
    ASSERT_EQ(S_OK, source_->Stop());
    ASSERT_EQ(S_OK, sink_->Stop());
    RunBoth();
    ASSERT_TRUE(WaitForComplete(2));
    EXPECT_EQ(12u, sink_->Received().size());
}

TEST_F(FilterStreamingTest, CompletionWaitsForRunAndNeedsNoInputWhenUnconnected)
{
    MakeConnectedPair();
    ASSERT_EQ(S_OK, sink_->Pause());
    ASSERT_EQ(S_OK, source_->Pause());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return sink_->Received().size() == 6; }, 5000)); // five samples, the end
    ::Sleep(50);
    EXPECT_EQ(0, graph_->Count(EC_COMPLETE)); // ended while paused: completes at run
    RunBoth();
    EXPECT_TRUE(WaitForComplete());

    ComPtr<CTestSink> lonely = Adopt(new CTestSink());
    ASSERT_EQ(S_OK, lonely->JoinFilterGraph(graph_.Get(), L"Lonely"));
    ASSERT_EQ(S_OK, lonely->Run(0));
    EXPECT_EQ(2, graph_->Count(EC_COMPLETE));
    lonely->Stop();
    EXPECT_EQ(0u, lonely.Reset());
}

TEST_F(FilterStreamingTest, StreamErrorIsReportedBeforeTheStreamEnds)
{
    SourceOptions failing;
    failing.failAt = 2;
    MakeConnectedPair(failing);
    RunBoth();
    ASSERT_TRUE(WaitForComplete());
    const std::vector<NotifiedEvent> events = graph_->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(EC_ERRORABORT, events[0].code);
    EXPECT_EQ(TestStreamError, static_cast<HRESULT>(events[0].param1));
    EXPECT_EQ(EC_COMPLETE, events[1].code);
    EXPECT_EQ((std::vector<std::string>{"sample 0 0-1000", "sample 1 1000-2000", "end"}), sink_->Received());
}

TEST_F(FilterStreamingTest, StopEndsAWaitingStreamPromptlyAndReleaseStopsFirst)
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
    EXPECT_EQ(0, graph_->Count(EC_COMPLETE));
    EXPECT_TRUE(sink_->Received().empty()); // not even an end of stream

    RunBoth();
    source_->Pin(0)->Disconnect(); // refused while running: the pair stays connected
    EXPECT_TRUE(source_->Pin(0)->IsConnected());
    CTestSource* source = source_.Detach(); // the sink's reference holds it still ...
    ASSERT_EQ(S_OK, sink_->Stop());
    ASSERT_EQ(S_OK, sink_->InputPin()->Disconnect());
    EXPECT_EQ(S_FALSE, sink_->InputPin()->Disconnect());
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, sink_->InputPin()->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer.Get());
    EXPECT_EQ(0u, source->Release()); // ... and now its own: its thread must end before it goes
}

TEST_F(FilterStreamingTest, InputRefusesSamplesWhenItCannotTakeThem)
{
    MakeConnectedPair();
    IMemInputPin* input = sink_->InputPin();
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, input->GetAllocator(&allocator));
    ASSERT_EQ(S_OK, allocator->Commit());
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    sample->SetActualDataLength(0);

    EXPECT_EQ(VFW_E_WRONG_STATE, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->Pause());
    EXPECT_EQ(S_OK, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->InputPin()->BeginFlush());
    EXPECT_EQ(S_FALSE, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->InputPin()->EndFlush());
    EXPECT_EQ(S_OK, input->Receive(sample.Get()));
    ASSERT_EQ(S_OK, sink_->InputPin()->EndOfStream());
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, input->Receive(sample.Get()));
    long processed = -1;
    IMediaSample* samples[] = {sample.Get()};
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, input->ReceiveMultiple(samples, 1, &processed));
    EXPECT_EQ(0, processed);
    // A flush ends the end of stream.
    ASSERT_EQ(S_OK, sink_->InputPin()->BeginFlush());
    ASSERT_EQ(S_OK, sink_->InputPin()->EndFlush());
    EXPECT_EQ(S_OK, input->Receive(sample.Get()));
    EXPECT_EQ(4u, sink_->Received().size()); // three samples and the end
    ASSERT_EQ(S_OK, sink_->Stop());
    sample.Reset();
    allocator->Decommit();
}

TEST_F(FilterStreamingTest, RendererSeekingAsksTheSourcePin)
{
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, sink_.As(&seeking));
    LONGLONG duration = -1;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, seeking->GetDuration(&duration));

    SourceOptions options;
    options.samples = 7;
    MakeConnectedPair(options);
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(7 * TestSampleLength, duration);
    EXPECT_EQ(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
    LONGLONG start = 2 * TestSampleLength, stop = 5 * TestSampleLength;
    ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning));
    LONGLONG current = -1, end = -1;
    ASSERT_EQ(S_OK, source_->Pin(0)->Seeking().GetPositions(&current, &end));
    EXPECT_EQ(start, current);
    EXPECT_EQ(stop, end);

    RunBoth();
    ASSERT_TRUE(WaitForComplete());
    ASSERT_EQ(S_OK, seeking->GetCurrentPosition(&current));
    EXPECT_EQ(7 * TestSampleLength, current); // the test source plays all seven samples regardless
}

TEST_F(FilterStreamingTest, SourceSeekingKeepsPositionsInsideTheMedia)
{
    CSourceSeeking& seeking = source_->Pin(0)->Seeking();
    const DWORD absolute = AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime;
    LONGLONG current = 2000, stop = 10 * TestSampleLength;
    ASSERT_EQ(S_OK, seeking.SetPositions(&current, absolute, &stop, absolute));
    EXPECT_EQ(5 * TestSampleLength, stop); // held to the end
    LONGLONG step = 1000;
    ASSERT_EQ(S_OK, seeking.SetPositions(&step, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime, nullptr,
                                         AM_SEEKING_NoPositioning));
    EXPECT_EQ(3000, seeking.StartPosition());
    LONGLONG late = 4500, early = 4000;
    EXPECT_EQ(E_INVALIDARG, seeking.SetPositions(&late, absolute, &early, absolute));
    EXPECT_EQ(3000, seeking.StartPosition());
    EXPECT_EQ(E_INVALIDARG, seeking.SetTimeFormat(&TIME_FORMAT_FRAME));
    EXPECT_EQ(E_NOTIMPL, seeking.SetRate(2.0));
}

} // namespace
