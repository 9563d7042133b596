// "Convert Single File..." and the window through a run's life, as the run view shows it.

#include "tests/ui/MainWindowFixture.h"

namespace ui_test {
namespace {

using namespace testing_support;

const char kConvertCaption[] = "Convert Single File...";
const char kCancelCaption[] = "Cancel Conversion!";

class ConvertButton : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        // A graph that cannot be read ends a started run at once, before any file is touched.
        settings.UseFilterGraph = "missing.xgr";
        chosen = "X:\\Rec\\Show.dvr-ms";
    }

    bool WaitUntilHeld() { return WaitUntil([&] { return runView.Held.load() == 1; }, 30000); }

    // The run view has shown the end of this many runs; the window is as the last one left it.
    bool RunsOver(int runs)
    {
        runView.Release();
        return WaitUntil([&] { return runView.Finished.load() == runs; }, 30000) && !engine.Busy()
            && Text(IDC_CONVERT_SINGLE) == kConvertCaption && Enabled(IDC_CONVERT_SINGLE);
    }
};

TEST_F(ConvertButton, ReadsCancelFromItsClickUntilTheRunHasEndedAndCancelsItThen)
{
    settings.InputPath.pop_back(); // as typed, without the trailing backslash
    Open();
    Click(IDC_START_AUTO);
    ASSERT_TRUE(WaitForWorker(true));

    runView.Hold();
    Click(IDC_CONVERT_SINGLE);
    ASSERT_EQ(1u, offered.size());
    EXPECT_EQ(settings.InputPath + "\\*.DVR-MS Input Files (*.DVR-MS)|*.DVR-MS|All Files (*.*)|*.*||", offered[0]);
    // Started: the button cancels from now on, also before the run shows itself.
    ASSERT_TRUE(WaitUntilHeld());
    EXPECT_TRUE(engine.Busy());
    EXPECT_EQ(kCancelCaption, Text(IDC_CONVERT_SINGLE));
    EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO)); // no Auto Converter stop in the middle of a run

    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(1u, offered.size());
    EXPECT_FALSE(engine.Busy());
    EXPECT_FALSE(Enabled(IDC_CONVERT_SINGLE)); // until the run has ended
    ASSERT_TRUE(RunsOver(1));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO)); // the Auto Converter still runs
    ASSERT_EQ(1u, balloons.shown.size());
    EXPECT_EQ(0u, balloons.shown[0].find("ERROR|3|Converting : X:\\Rec\\Show.dvr-ms")) << balloons.shown[0];

    // A run that has claimed the engine but not shown itself is not cancelled by a click on the
    // button that still reads "Convert Single File...", whose open-file dialog is then cancelled.
    runView.Hold();
    ASSERT_TRUE(engine.StartSingleConversion({chosen, settings.OutputPath + "Show.MPG", settings.UseFilterGraph,
                                              nullptr, settings.OutputPath}));
    ASSERT_TRUE(WaitUntilHeld());
    chosen.clear();
    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(2u, offered.size());
    EXPECT_TRUE(engine.Busy());
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));
    ASSERT_TRUE(RunsOver(2));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));

    // Without an Auto Converter the Stop button stays off after a run.
    Click(IDC_STOP_AUTO);
    chosen = "X:\\Rec\\Show.dvr-ms";
    settings.InputPath += '\\';
    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(0u, offered[2].find(settings.InputPath + "*.DVR-MS "));
    ASSERT_TRUE(RunsOver(3));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
    EXPECT_EQ(3u, balloons.shown.size());
}

TEST_F(ConvertButton, ARunEndingAfterTheWindowIsGoneShowsNothing)
{
    Open();
    runView.Hold();
    Click(IDC_CONVERT_SINGLE);
    ASSERT_TRUE(WaitUntilHeld());
    Close();
    runView.Release();
    ASSERT_TRUE(WaitUntil([&] { return runView.Finished.load() == 1; }, 30000));
    EXPECT_TRUE(balloons.shown.empty());
}

} // namespace
} // namespace ui_test
