// "Convert Single File..." and the window through a run's life, as the runs post it.

#include "tests/ui/MainWindowFixture.h"

#include <commctrl.h>

#include <thread>

namespace ui_test {
namespace {

using namespace testing_support;

// With the Auto Converter running; a graph that cannot be read ends a started run at once, before
// any file is touched.
class ConvertButton : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        settings.UseFilterGraph = L"missing.xgr";
        chosen = L"X:\\Rec\\Show.dvr-ms";
        Open();
        Click(IDC_START_AUTO);
        ASSERT_TRUE(WaitUntil([&] { return autoConverter.AutoConvertRunning(); }, 30000));
    }

    // Lets the runs go on until the window has shown the end of this many; it then shows no run.
    bool RunsOver(int count)
    {
        runs.Release();
        return WaitForRunsShown(count) && !engine.Busy() && Text(IDC_CONVERT_SINGLE) == L"Convert Single File..." &&
               Enabled(IDC_CONVERT_SINGLE);
    }

    // A run of the chosen file started as the button starts it, its id in `id`.
    SingleStart Start(LONG* id = nullptr)
    {
        return engine.StartSingleConversion({chosen, settings.OutputPath + L"Show.MPG", settings.UseFilterGraph, settings.OutputPath}, id);
    }
};

TEST_F(ConvertButton, CancelsTheRunItStarted)
{
    runs.Hold();
    Click(IDC_CONVERT_SINGLE);
    const std::wstring filter =
        L"Input Files (*.DVR-MS)|*.DVR-MS|Recordings (*.dvr-ms;*.wtv)|*.dvr-ms;*.wtv|All Files (*.*)|*.*||";
    // The input path typed without its backslash: the black-box test's.
    EXPECT_EQ(std::vector<std::wstring>{settings.InputPath + L"*.DVR-MS " + filter}, offered);
    // Started: the button cancels from now on, also before the run shows itself, and Stop is off.
    EXPECT_TRUE(engine.Busy());
    EXPECT_EQ(L"Cancel Conversion!", Text(IDC_CONVERT_SINGLE));
    EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));

    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(1u, offered.size());
    EXPECT_FALSE(engine.Busy());
    EXPECT_FALSE(Enabled(IDC_CONVERT_SINGLE)) << "until the cancelled run has ended";
    ASSERT_TRUE(RunsOver(1));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO)); // the Auto Converter still runs
    // The failure's balloon carries the error title and icon.
    EXPECT_EQ(std::vector<std::wstring>{L"ERROR|3|Converting : " + chosen + L"Could not open \"missing.xgr\""},
              balloons.shown);
}

// A run that has claimed the engine but not shown itself is not cancelled by a click on
// "Convert Single File...": the file chosen then is refused, and the user told so.
TEST_F(ConvertButton, AClickDuringARunNotYetShownIsRefused)
{
    runs.Hold();
    ASSERT_EQ(SingleStart::Started, Start());
    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(1u, offered.size());
    EXPECT_EQ(std::vector<std::wstring>{L"Another conversion is in progress. Try again when it has finished."}, messages);
    EXPECT_TRUE(engine.Busy());
    ASSERT_TRUE(RunsOver(1));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));
}

// A click that comes late, for a run that has ended while the window still shows it, cancels no
// other run: here the next, which has claimed the engine and not shown itself yet.
TEST_F(ConvertButton, ALateClickCancelsNoOtherRun)
{
    ASSERT_EQ(SingleStart::Started, Start());
    ASSERT_TRUE(RunsOver(1));
    runs.Hold();
    LONG next = 0;
    ASSERT_EQ(SingleStart::Started, Start(&next));
    runs.CRunPoster::OnConversionStarted(next - 1); // the run before, whose end is still on its way
    ASSERT_TRUE(WaitUntil([&] { return Text(IDC_CONVERT_SINGLE) == L"Cancel Conversion!"; }, 10000));
    Click(IDC_CONVERT_SINGLE);
    EXPECT_TRUE(engine.Busy()) << "the late click cancelled the next run";
    runs.OnConversionFinished(false, L"ended", true);
    ASSERT_TRUE(RunsOver(3));
    EXPECT_TRUE(offered.empty());
}

// A built graph says so in a balloon; the progress bar takes a run's length and position in whole seconds.
TEST_F(ConvertButton, TheWindowShowsTheGraphBuiltAndTheProgress)
{
    ASSERT_EQ(SingleStart::Started, Start());
    ASSERT_TRUE(RunsOver(1));
    const std::wstring built = L"Converting : " + chosen + L"\nGraph filters added & pins connected! Converting...";
    runs.OnGraphBuilt(built);
    runs.OnProgressRange(3);
    runs.OnProgressPosition(2);
    runs.OnConversionFinished(true, L"Done!", true);
    ASSERT_TRUE(WaitForRunsShown(2));
    ASSERT_GE(balloons.shown.size(), 2u);
    EXPECT_EQ(L"|0|" + built, balloons.shown[balloons.shown.size() - 2]);
    EXPECT_EQ(L"|0|Done!", balloons.shown.back());
    EXPECT_EQ(3, ::SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(2, ::SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

// A run's balloon names the recording as it is, in any script.
TEST_F(MainWindow, ABalloonNamesTheRecordingInItsOwnScript)
{
    settings.UseFilterGraph = L"Граф \U0001F4FA.xgr";
    const std::wstring names[] = {L"X:\\Записи\\Новости дня.dvr-ms", L"X:\\録画\\日本のニュース.dvr-ms",
                                  L"X:\\\U0001F4FA\\TV \U0001F4FA.dvr-ms"};
    Open();
    for (const std::wstring& name : names) {
        chosen = name;
        Click(IDC_CONVERT_SINGLE);
        ASSERT_TRUE(WaitForRunsShown(static_cast<int>(balloons.shown.size()) + 1));
        EXPECT_EQ(L"ERROR|3|Converting : " + name + L"Could not open \"Граф \U0001F4FA.xgr\"", balloons.shown.back());
    }
}

// A stop lets the worker's conversion finish: the window goes on answering meanwhile, Stop reads
// "Stopping..." with both buttons off, and once the worker has ended Start comes back. ("Apply
// Settings" answered Yes stops the same way and then starts a new worker: the black-box test's.)
TEST_F(MainWindow, AStopWaitsForTheConversionInProgress)
{
    // Each run fails at once and is tried again by a new worker.
    settings.UseFilterGraph = L"broken.xgr";
    WriteFileBytes(programDirectory + settings.UseFilterGraph,
                   "<GRAPH><FILTER ID=\"none\" clsid=\"{00000000-0000-0000-0000-000000000001}\"></FILTER></GRAPH>");
    WriteFileBytes(settings.InputPath + L"Show.DVR-MS", "x");
    runs.Hold(); // the worker's conversion, once claimed, goes on only when let
    Open();
    Click(IDC_START_AUTO);
    ASSERT_TRUE(WaitUntil([&] { return engine.Busy(); }, 30000));
    Click(IDC_STOP_AUTO);
    EXPECT_EQ(L"Stopping...", Text(IDC_STOP_AUTO));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
    EXPECT_FALSE(Enabled(IDC_START_AUTO));
    EXPECT_TRUE(autoConverter.AutoConvertRunning()) << "the worker waits for its conversion";

    runs.Release();
    ASSERT_TRUE(WaitUntil([&] { return Text(IDC_STOP_AUTO) == L"Stop Auto Converter"; }, 30000));
    EXPECT_LE(1, runs.Finished.load()) << "the conversion ended first";
    EXPECT_TRUE(Enabled(IDC_START_AUTO));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
    EXPECT_FALSE(autoConverter.AutoConvertRunning());
}

// Runs post what they do and never wait for the window, also while nobody takes its messages.
TEST_F(MainWindow, RunsNeverWaitForTheWindow)
{
    const std::wstring report(64 * 1024, L'r');
    Open();
    UniqueHandle posted(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread run([&] {
        for (int i = 0; i < 1000; ++i)
            runs.OnConversionFinished(false, report, true);
        ::SetEvent(posted.Get());
    });
    // Not a wait that handles messages: the window takes nothing meanwhile.
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(posted.Get(), 30000)) << "a run waited for the window";
    // What they posted and the window never took goes with the window, unseen, and what they post
    // after it is gone is dropped at once.
    dialog.reset();
    run.join();
    runs.OnGraphBuilt(report);
    EXPECT_TRUE(balloons.shown.empty());
}

} // namespace
} // namespace ui_test
