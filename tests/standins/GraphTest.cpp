// The stand-ins inside Wine's own Filter Graph Manager, connected as the internal graph.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "filters/ModuleLock.h"
#include "framework/ScopedWin.h"
#include "tests/standins/StandInClasses.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using testing_support::ReadFileBytes;

namespace {

struct GraphEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

// Through the filters' own Create functions, so that this program's module count sees them.
HRESULT Create(const CLSID& classId, ComPtr<IBaseFilter>& filter)
{
    for (const StandInClass& standIn : StandInClasses) {
        ComPtr<IUnknown> created;
        if (*standIn.classId == classId && SUCCEEDED(standIn.create(&created)))
            return created.As(&filter);
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT Connect(IGraphBuilder* graph, const wchar_t* const (&names)[4])
{
    ComPtr<IBaseFilter> from, to;
    ComPtr<IPin> output, input;
    HRESULT hr = graph->FindFilterByName(names[0], &from);
    if (FAILED(hr))
        return hr;
    hr = graph->FindFilterByName(names[2], &to);
    if (FAILED(hr))
        return hr;
    hr = to->FindPin(names[3], &input);
    if (FAILED(hr))
        return hr;
    hr = from->FindPin(names[1], &output);
    // Recordings without a third stream carry the video on the second.
    if (FAILED(hr) && std::wstring(names[1]) == L"DVR Out - 3")
        hr = from->FindPin(L"DVR Out - 2", &output);
    return FAILED(hr) ? hr : graph->ConnectDirect(output.Get(), input.Get(), nullptr);
}

int CountOf(const std::vector<GraphEvent>& events, long code)
{
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const GraphEvent& e) { return e.code == code; }));
}

// The internal graph's five stand-ins in Wine's Filter Graph Manager, built by hand the way
// Halvern builds it: created, file names handed over, added under their names, joined directly.
class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        const std::string directory = testing_support::MakeScratchDirectory("standin-graph");
        recordingPath_ = directory + "Show.dvr-ms";
        outputPath_ = directory + "Show.mpg";
    }

    void TearDown() override
    {
        ReleaseGraph();
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    HRESULT Build()
    {
        HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_));
        if (FAILED(hr))
            return hr;
        // control.h declares no __uuidof for IMediaEventEx, so IID_PPV_ARGS cannot name it.
        hr = graph_.As(&control_);
        if (SUCCEEDED(hr))
            hr = graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events_.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        const std::pair<const wchar_t*, const CLSID*> entries[] = {
            {L"Dump", &StandInDumpClsid},
            {L"CyberLink_MPEG_Muxer", &StandInMuxerClsid},
            {L"Decrypt/Tag_0003", &StandInDecrypterClsid},
            {L"Decrypt/Tag", &StandInDecrypterClsid},
            {L"DVR_Source_0", &StandInSourceClsid},
        };
        for (const auto& entry : entries) {
            ComPtr<IBaseFilter> filter;
            hr = Create(*entry.second, filter);
            if (FAILED(hr))
                return hr;
            ComPtr<IFileSourceFilter> source;
            ComPtr<IFileSinkFilter> sink;
            if (SUCCEEDED(filter.As(&source)))
                hr = source->Load(std::wstring(recordingPath_.begin(), recordingPath_.end()).c_str(), nullptr);
            else if (SUCCEEDED(filter.As(&sink)))
                hr = sink->SetFileName(std::wstring(outputPath_.begin(), outputPath_.end()).c_str(), nullptr);
            if (SUCCEEDED(hr))
                hr = graph_->AddFilter(filter.Get(), entry.first);
            if (FAILED(hr))
                return hr;
            filters_.push_back(filter);
        }
        const wchar_t* const connections[][4] = {
            {L"DVR_Source_0", L"DVR Out - 1", L"Decrypt/Tag", L"In(Enc/Tag)"},
            {L"DVR_Source_0", L"DVR Out - 3", L"Decrypt/Tag_0003", L"In(Enc/Tag)"},
            {L"Decrypt/Tag_0003", L"Out", L"CyberLink_MPEG_Muxer", L"Video In"},
            {L"Decrypt/Tag", L"Out", L"CyberLink_MPEG_Muxer", L"Audio In"},
            {L"CyberLink_MPEG_Muxer", L"Output", L"Dump", L"Input"},
        };
        for (const auto& connection : connections) {
            hr = Connect(graph_.Get(), connection);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

    void BuildAndRun(const StandInRecording& recording)
    {
        WriteStandInRecording(recordingPath_, recording);
        ASSERT_EQ(S_OK, Build());
        ASSERT_EQ(S_OK, control_->Run());
    }

    // Every event queued so far, freed as it is read.
    std::vector<GraphEvent> DrainEvents()
    {
        std::vector<GraphEvent> drained;
        GraphEvent event;
        while (events_->GetEvent(&event.code, &event.param1, &event.param2, 0) == S_OK) {
            drained.push_back(event);
            events_->FreeEventParams(event.code, event.param1, event.param2);
        }
        return drained;
    }

    void ReleaseGraph()
    {
        if (control_)
            control_->Stop();
        // After a Run that failed part-way, Wine's graph manager takes itself for stopped while the
        // filters that did pause stay paused; its destructor then loops for ever on pins that refuse
        // to disconnect. Stopping each filter first keeps a failed test from hanging.
        for (ComPtr<IBaseFilter>& filter : filters_)
            filter->Stop();
        events_.Reset();
        control_.Reset();
        graph_.Reset();
        for (ComPtr<IBaseFilter>& filter : filters_)
            EXPECT_EQ(0u, filter.Reset());
        filters_.clear();
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string recordingPath_;
    std::string outputPath_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
    std::vector<ComPtr<IBaseFilter>> filters_;
};

TEST_F(GraphTest, BothPinSetsConvertToTheExpectedFile)
{
    for (bool hasPin3 : {true, false}) {
        StandInRecording recording;
        recording.hasPin3 = hasPin3;
        recording.durationSeconds = 1.0;
        recording.payload = std::string("variant\r\nwith\0bytes", 19);
        BuildAndRun(recording);
        long code = 0;
        ASSERT_EQ(S_OK, events_->WaitForCompletion(10000, &code));
        EXPECT_EQ(EC_COMPLETE, code);
        const std::vector<GraphEvent> events = DrainEvents();
        EXPECT_EQ(1, CountOf(events, EC_COMPLETE));
        EXPECT_EQ(0, CountOf(events, EC_ERRORABORT));
        // EC_COMPLETE comes after the writer closed the file, so it is whole now.
        EXPECT_EQ(ExpectedStandInOutput(recording), ReadFileBytes(outputPath_)) << hasPin3;
        ReleaseGraph();
    }
}

TEST_F(GraphTest, FailingRecordingReportsTheErrorBeforeItCompletes)
{
    StandInRecording recording;
    recording.durationSeconds = 1.0;
    recording.failAtSeconds = 0.5;
    BuildAndRun(recording);
    long code = 0;
    // Wine's graph manager ends the wait on EC_COMPLETE only; the error waits in the queue.
    ASSERT_EQ(S_OK, events_->WaitForCompletion(10000, &code));
    const std::vector<GraphEvent> events = DrainEvents();
    const auto isAbort = [](const GraphEvent& e) { return e.code == EC_ERRORABORT; };
    const auto isComplete = [](const GraphEvent& e) { return e.code == EC_COMPLETE; };
    const auto abort = std::find_if(events.begin(), events.end(), isAbort);
    ASSERT_NE(events.end(), abort);
    EXPECT_EQ(StandInStreamError, static_cast<HRESULT>(abort->param1));
    EXPECT_EQ(1, CountOf(events, EC_ERRORABORT));
    EXPECT_LT(abort, std::find_if(events.begin(), events.end(), isComplete));
    // What came before the error was written, and nothing after it.
    EXPECT_EQ(ExpectedStandInOutput(recording), ReadFileBytes(outputPath_));
    recording.failAtSeconds = -1;
    EXPECT_LT(ReadFileBytes(outputPath_).size(), ExpectedStandInOutput(recording).size());
}

TEST_F(GraphTest, StopPartWayEndsTheRunAtOnce)
{
    StandInRecording recording;
    recording.durationSeconds = 30.0;
    recording.pace = 1.0;
    BuildAndRun(recording);
    long code = 0;
    EXPECT_EQ(E_ABORT, events_->WaitForCompletion(400, &code));
    const ULONGLONG stopping = ::GetTickCount64();
    ASSERT_EQ(S_OK, control_->Stop());
    EXPECT_LT(::GetTickCount64() - stopping, 1000u);
    EXPECT_EQ(0, CountOf(DrainEvents(), EC_COMPLETE));

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

} // namespace
