// The stand-ins inside Wine's own Filter Graph Manager, connected as the internal graph.

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/standins/GraphTestSupport.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace standin_tests;
using testing_support::ReadFileBytes;

namespace {

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        directory_ = testing_support::MakeScratchDirectory("standin-graph");
        recordingPath_ = directory_ + "Show.dvr-ms";
        outputPath_ = directory_ + "Show.mpg";
    }

    void TearDown() override
    {
        if (graph_.control)
            graph_.control->Stop();
        for (ULONG count : graph_.Release())
            EXPECT_EQ(0u, count);
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    void BuildFor(const StandInRecording& recording)
    {
        WriteStandInRecording(recordingPath_, recording);
        ASSERT_EQ(S_OK, graph_.Build(recordingPath_, outputPath_));
    }

    // The name of the source pin that feeds the video decrypter.
    std::wstring VideoSourcePin()
    {
        ComPtr<IBaseFilter> decrypter;
        ComPtr<IPin> input, peer;
        PIN_INFO info = {};
        if (FAILED(graph_.graph->FindFilterByName(L"Decrypt/Tag_0003", &decrypter)) ||
            FAILED(decrypter->FindPin(L"In(Enc/Tag)", &input)) || FAILED(input->ConnectedTo(&peer)) ||
            FAILED(peer->QueryPinInfo(&info)))
            return std::wstring();
        info.pFilter->Release();
        return info.achName;
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_, recordingPath_, outputPath_;
    InternalGraph graph_;
};

int CountOf(const std::vector<GraphEvent>& events, long code)
{
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const GraphEvent& e) { return e.code == code; }));
}

class GraphPinVariantTest : public GraphTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GraphPinVariantTest, ConvertsToTheExpectedFileAndCompletes)
{
    StandInRecording recording;
    recording.hasPin3 = GetParam();
    recording.durationSeconds = 1.0;
    recording.payload = std::string("variant\r\nwith\0bytes", 19);
    BuildFor(recording);
    EXPECT_EQ(GetParam() ? L"DVR Out - 3" : L"DVR Out - 2", VideoSourcePin());

    ASSERT_EQ(S_OK, graph_.control->Run());
    long code = 0;
    ASSERT_EQ(S_OK, graph_.WaitForCompletion(10000, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    const std::vector<GraphEvent> events = graph_.DrainEvents();
    EXPECT_EQ(1, CountOf(events, EC_COMPLETE));
    EXPECT_EQ(0, CountOf(events, EC_ERRORABORT));
    // EC_COMPLETE comes after the writer closed the file, so it is whole now.
    EXPECT_EQ(ExpectedStandInOutput(recording), ReadFileBytes(outputPath_));
}

INSTANTIATE_TEST_SUITE_P(BothPinSets, GraphPinVariantTest, ::testing::Bool());

TEST_F(GraphTest, OutputIsTheSameOnEveryConversion)
{
    // A new graph per conversion, as Halvern builds it, writing over the same file each time.
    StandInRecording recording;
    recording.durationSeconds = 3.0;
    WriteStandInRecording(recordingPath_, recording);
    const std::string expected = ExpectedStandInOutput(recording);
    for (int run = 0; run < 4; ++run) {
        ASSERT_EQ(S_OK, graph_.Build(recordingPath_, outputPath_));
        ASSERT_EQ(S_OK, graph_.control->Run());
        long code = 0;
        ASSERT_EQ(S_OK, graph_.WaitForCompletion(10000, &code)) << "run " << run;
        ASSERT_EQ(expected, ReadFileBytes(outputPath_)) << "run " << run;
        ASSERT_EQ(S_OK, graph_.control->Stop());
        for (ULONG count : graph_.Release())
            ASSERT_EQ(0u, count);
    }
}

TEST_F(GraphTest, DurationComesFromTheRecordingAndPositionAdvances)
{
    StandInRecording recording;
    recording.durationSeconds = 1.2;
    recording.pace = 1.0;
    BuildFor(recording);
    double duration = 0;
    ASSERT_EQ(S_OK, graph_.position->get_Duration(&duration));
    EXPECT_DOUBLE_EQ(1.2, duration);

    const ULONGLONG started = ::GetTickCount64();
    ASSERT_EQ(S_OK, graph_.control->Run());
    std::vector<double> positions;
    long code = 0;
    HRESULT hr = E_ABORT;
    while ((hr = graph_.events->WaitForCompletion(250, &code)) == E_ABORT && ::GetTickCount64() - started < 10000) {
        double position = -1;
        ASSERT_EQ(S_OK, graph_.position->get_CurrentPosition(&position));
        positions.push_back(position);
    }
    const ULONGLONG took = ::GetTickCount64() - started;
    ASSERT_EQ(S_OK, hr);
    ASSERT_GE(positions.size(), 3u);
    for (size_t i = 1; i < positions.size(); ++i)
        EXPECT_GT(positions[i], positions[i - 1]);
    EXPECT_GE(positions.front(), 0.0);
    EXPECT_LE(positions.back(), 1.2);
    // At one media second per second, the stream takes its own length.
    EXPECT_GE(took, 1100u);
    EXPECT_LT(took, 5000u);
    double end = 0;
    ASSERT_EQ(S_OK, graph_.position->get_CurrentPosition(&end));
    EXPECT_DOUBLE_EQ(1.2, end);
    EXPECT_EQ(ExpectedStandInOutput(recording), ReadFileBytes(outputPath_));
}

TEST_F(GraphTest, FasterPaceTakesLessTime)
{
    StandInRecording recording;
    recording.durationSeconds = 2.0;
    recording.pace = 4.0;
    BuildFor(recording);
    const ULONGLONG started = ::GetTickCount64();
    ASSERT_EQ(S_OK, graph_.control->Run());
    long code = 0;
    ASSERT_EQ(S_OK, graph_.WaitForCompletion(10000, &code));
    const ULONGLONG took = ::GetTickCount64() - started;
    EXPECT_GE(took, 400u);
    EXPECT_LT(took, 1800u);
    EXPECT_EQ(ExpectedStandInOutput(recording), ReadFileBytes(outputPath_));
}

TEST_F(GraphTest, FailingRecordingReportsTheErrorBeforeItCompletes)
{
    StandInRecording recording;
    recording.durationSeconds = 1.0;
    recording.failAtSeconds = 0.5;
    BuildFor(recording);
    ASSERT_EQ(S_OK, graph_.control->Run());
    long code = 0;
    // Wine's graph manager ends the wait on EC_COMPLETE only; the error waits in the queue.
    ASSERT_EQ(S_OK, graph_.WaitForCompletion(10000, &code));
    const std::vector<GraphEvent> events = graph_.DrainEvents();
    const auto abort = std::find_if(events.begin(), events.end(), [](const GraphEvent& e) { return e.code == EC_ERRORABORT; });
    const auto complete = std::find_if(events.begin(), events.end(), [](const GraphEvent& e) { return e.code == EC_COMPLETE; });
    ASSERT_NE(events.end(), abort);
    EXPECT_EQ(StandInStreamError, static_cast<HRESULT>(abort->param1));
    EXPECT_EQ(1, CountOf(events, EC_ERRORABORT));
    EXPECT_LT(abort - events.begin(), complete - events.begin());
    // What came before the error was written, and nothing after it.
    EXPECT_EQ(ExpectedStandInOutput(recording), ReadFileBytes(outputPath_));
    StandInRecording whole = recording;
    whole.failAtSeconds = -1;
    EXPECT_LT(ReadFileBytes(outputPath_).size(), ExpectedStandInOutput(whole).size());
}

TEST_F(GraphTest, StopPartWayEndsTheRunAtOnce)
{
    StandInRecording recording;
    recording.durationSeconds = 30.0;
    recording.pace = 1.0;
    BuildFor(recording);
    ASSERT_EQ(S_OK, graph_.control->Run());
    long code = 0;
    EXPECT_EQ(E_ABORT, graph_.events->WaitForCompletion(400, &code));
    const ULONGLONG stopping = ::GetTickCount64();
    ASSERT_EQ(S_OK, graph_.control->Stop());
    EXPECT_LT(::GetTickCount64() - stopping, 1000u);
    EXPECT_EQ(VFW_E_WRONG_STATE, graph_.events->WaitForCompletion(0, &code));
    EXPECT_EQ(0, CountOf(graph_.DrainEvents(), EC_COMPLETE));

    // The file holds the beginning of the conversion and was closed by the stop.
    const std::string written = ReadFileBytes(outputPath_);
    const std::string expected = ExpectedStandInOutput(recording);
    EXPECT_GT(written.size(), 100u);
    EXPECT_LT(written.size(), expected.size() / 4);
    EXPECT_EQ(expected.substr(0, written.size()), written);
    UniqueFileHandle exclusive(::CreateFileA(outputPath_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(exclusive.IsValid());
}

TEST_F(GraphTest, RunFailsWhenTheOutputFileCannotBeCreated)
{
    StandInRecording recording;
    BuildFor(recording);
    testing_support::WriteFileBytes(outputPath_, "held");
    UniqueFileHandle held(::CreateFileA(outputPath_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), graph_.control->Run());
    for (ULONG count : graph_.Release())
        EXPECT_EQ(0u, count);
    held.Reset();
    EXPECT_EQ("held", ReadFileBytes(outputPath_));
}

} // namespace
