// "Convert Single File..." and the window through a run's life, as the runs post it.

#include "tests/ui/MainWindowFixture.h"

#include <commctrl.h>
#include <psapi.h>

#include <memory>
#include <thread>

namespace ui_test {
namespace {

using namespace testing_support;

TEST_F(MainWindow, ConvertButtonReadsCancelFromItsClickUntilTheRunHasEndedAndCancelsItThen)
{
    // A graph that cannot be read ends a started run at once, before any file is touched.
    settings.UseFilterGraph = "missing.xgr";
    chosen = "X:\\Rec\\Show.dvr-ms";
    // Lets the runs go on until the window has shown the end of this many; it then shows no run.
    auto runsOver = [&](int count) {
        runs.Release();
        return WaitForRunsShown(count) && !engine.Busy() && Text(IDC_CONVERT_SINGLE) == "Convert Single File..."
            && Enabled(IDC_CONVERT_SINGLE);
    };
    Open();
    Click(IDC_START_AUTO);
    ASSERT_TRUE(WaitUntil([&] { return autoConverter.AutoConvertRunning(); }, 30000));

    runs.Hold();
    Click(IDC_CONVERT_SINGLE);
    const std::string filter =
        "Input Files (*.DVR-MS)|*.DVR-MS|Recordings (*.dvr-ms;*.wtv)|*.dvr-ms;*.wtv|All Files (*.*)|*.*||";
    // The input path typed without its backslash: the black-box test's.
    EXPECT_EQ(std::vector<std::string>{settings.InputPath + "*.DVR-MS " + filter}, offered);
    // Started: the button cancels from now on, also before the run shows itself, and Stop is off.
    EXPECT_TRUE(engine.Busy());
    EXPECT_EQ("Cancel Conversion!", Text(IDC_CONVERT_SINGLE));
    EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));

    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(1u, offered.size());
    EXPECT_FALSE(engine.Busy());
    EXPECT_FALSE(Enabled(IDC_CONVERT_SINGLE)) << "until the cancelled run has ended";
    ASSERT_TRUE(runsOver(1));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO)); // the Auto Converter still runs

    // A run that has claimed the engine but not shown itself is not cancelled by a click on
    // "Convert Single File...": the file chosen then is refused, and the user told so.
    runs.Hold();
    ASSERT_EQ(engine.StartSingleConversion({chosen, settings.OutputPath + "Show.MPG", settings.UseFilterGraph,
                                            settings.OutputPath}),
              SingleStart::Started);
    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(2u, offered.size());
    EXPECT_EQ(std::vector<std::string>{"Another conversion is in progress. Try again when it has finished."}, messages);
    EXPECT_TRUE(engine.Busy());
    ASSERT_TRUE(runsOver(2));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));

    // The progress bar takes a run's length and position in whole seconds.
    runs.OnProgressRange(3);
    runs.OnProgressPosition(2);
    runs.OnConversionFinished(true, "Done!", true);
    ASSERT_TRUE(WaitForRunsShown(3));
    EXPECT_EQ("|0|Done!", balloons.shown.back());
    EXPECT_EQ(3, ::SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(2, ::SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

// A run that cannot get going on its thread (no graph manager there) still ends as a failure that
// puts the button back and lets the engine go, so that the command keeps working.
TEST_F(MainWindow, ASingleFileRunThatCannotGetGoingPutsTheControlsBack)
{
    // An activation context comes before the registry, also on the run's thread, which inherits it:
    // the graph manager is looked for in a library that is not there.
    const std::string manifest = MakeScratchDirectory("ui-no-graph-manager") + "NoGraphManager.manifest";
    WriteFileBytes(manifest,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                   "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
                   "<assemblyIdentity type=\"win32\" name=\"Halvern.NoGraphManager\" version=\"1.0.0.0\"/>"
                   "<file name=\"halvern-missing-quartz.dll\">"
                   "<comClass clsid=\"{E436EBB3-524F-11CE-9F53-0020AF0BA770}\" threadingModel=\"Both\"/>"
                   "</file></assembly>");
    ACTCTXA context = {};
    context.cbSize = sizeof(context);
    context.lpSource = manifest.c_str();
    HANDLE handle = ::CreateActCtxA(&context);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(::ActivateActCtx(handle, &cookie));
    ::ReleaseActCtx(handle);
    const auto deactivate = [](ULONG_PTR* activated) { ::DeactivateActCtx(0, *activated); };
    std::unique_ptr<ULONG_PTR, decltype(deactivate)> active(&cookie, deactivate);
    chosen = "X:\\Rec\\Show.dvr-ms";
    Open();
    Click(IDC_CONVERT_SINGLE);
    ASSERT_TRUE(WaitForRunsShown(1));
    EXPECT_FALSE(engine.Busy());
    EXPECT_EQ("Convert Single File...", Text(IDC_CONVERT_SINGLE));
    EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
    EXPECT_EQ(std::vector<std::string>{"ERROR|3|ERROR - Could not create the Filter Graph Manager."}, balloons.shown);
}

// A stop, by its button or by "Apply Settings" answered Yes, lets the worker's conversion finish: the
// window goes on answering meanwhile, Stop reads "Stopping..." with both buttons off, and once the
// worker has ended Start comes back, or a new worker starts.
TEST_F(MainWindow, AStopWaitsForTheConversionWhileTheWindowGoesOn)
{
    // Listed, so that "Apply Settings" keeps it; each run fails at once and is tried again by a new worker.
    settings.UseFilterGraph = "broken.xgr";
    WriteFileBytes(programDirectory + settings.UseFilterGraph,
                   "<GRAPH><FILTER ID=\"none\" clsid=\"{00000000-0000-0000-0000-000000000001}\"></FILTER></GRAPH>");
    WriteFileBytes(settings.InputPath + "Show.DVR-MS", "x");
    const struct {
        const char* name;
        int button;
        bool restarts;
    } cases[] = {{"Stop Auto Converter", IDC_STOP_AUTO, false}, {"Apply Settings", IDC_APPLY, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        runs.Hold(); // the worker's conversion, once claimed, goes on only when let
        const int finished = runs.Finished.load();
        Open();
        Click(IDC_START_AUTO);
        ASSERT_TRUE(WaitUntil([&] { return engine.Busy(); }, 30000));
        if (c.button == IDC_APPLY)
            ::SetWindowTextA(Item(IDC_OUTPUT_EXT), "mpeg");
        Click(c.button);
        EXPECT_EQ("Stopping...", Text(IDC_STOP_AUTO));
        EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
        EXPECT_FALSE(Enabled(IDC_START_AUTO));
        EXPECT_TRUE(autoConverter.AutoConvertRunning()) << "the worker waits for its conversion";
        EXPECT_EQ(c.restarts ? 1u : 0u, messages.size());

        runs.Release();
        ASSERT_TRUE(WaitUntil([&] { return Text(IDC_STOP_AUTO) == "Stop Auto Converter"; }, 30000));
        EXPECT_LE(finished + 1, runs.Finished.load()) << "the conversion ended first";
        // The new worker's first conversion turns Stop off for a moment.
        EXPECT_TRUE(WaitUntil([&] { return Enabled(IDC_START_AUTO) != c.restarts && Enabled(IDC_STOP_AUTO) == c.restarts; },
                              30000));
        EXPECT_TRUE(WaitUntil([&] { return autoConverter.AutoConvertRunning() == c.restarts; }, 30000));
        EXPECT_EQ(c.restarts ? "mpeg" : "MPG", settings.OutputExt);
        autoConverter.StopAutoConvert();
        dialog.reset();
        messages.clear();
    }
}

SIZE_T CommittedBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)) ? counters.PagefileUsage : 0;
}

// Runs post what they do and never wait for the window, also while nobody takes its messages. What
// they posted and the window never took goes with the window, unseen and freed, and what they post
// after it is gone is dropped at once.
TEST_F(MainWindow, RunsNeverWaitForTheWindowAndWhatItNeverTookGoesWithIt)
{
    const std::string report(64 * 1024, 'r');
    constexpr int kEvents = 1000;     // 64 MiB of reports a round, kept for good were they leaked
    std::vector<SIZE_T> committed;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        Open();
        UniqueHandle posted(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        std::thread run([&] {
            for (int i = 0; i < kEvents; ++i)
                runs.OnConversionFinished(false, report, true);
            ::SetEvent(posted.Get());
        });
        // Not a wait that handles messages: the window takes nothing meanwhile.
        const bool ended = ::WaitForSingleObject(posted.Get(), 30000) == WAIT_OBJECT_0;
        EXPECT_TRUE(ended) << "a run waited for the window";
        dialog.reset();
        run.join();
        runs.OnGraphBuilt(report);
        committed.push_back(CommittedBytes());
    }
    EXPECT_TRUE(balloons.shown.empty());
    // The first round sets up the heap; freed events leave the later rounds nothing to add, where
    // leaked ones would add a round's reports each.
    EXPECT_LT(committed.back(), committed[1] + kEvents * report.size()) << committed[1] << " " << committed.back();
}

} // namespace
} // namespace ui_test
