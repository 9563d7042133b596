// "Convert Single File..." and the window through a run's life, as the run view shows it.

#include "tests/ui/MainWindowFixture.h"

#include <thread>

namespace ui_test {
namespace {

using namespace testing_support;

TEST_F(MainWindow, ConvertButtonReadsCancelFromItsClickUntilTheRunHasEndedAndCancelsItThen)
{
    // A graph that cannot be read ends a started run at once, before any file is touched.
    settings.UseFilterGraph = "missing.xgr";
    settings.InputPath.pop_back(); // as typed, without the trailing backslash
    chosen = "X:\\Rec\\Show.dvr-ms";
    // Lets the runs go on until the run view has shown the end of this many; the window then shows no run.
    auto runsOver = [&](int runs) {
        runView.Release();
        return WaitUntil([&] { return runView.Finished.load() == runs; }, 30000) && !engine.Busy()
            && Text(IDC_CONVERT_SINGLE) == "Convert Single File..." && Enabled(IDC_CONVERT_SINGLE);
    };
    Open();
    Click(IDC_START_AUTO);
    ASSERT_TRUE(WaitUntil([&] { return autoConverter.AutoConvertRunning(); }, 30000));

    runView.Hold();
    Click(IDC_CONVERT_SINGLE);
    const std::string filter = "Input Files (*.DVR-MS)|*.DVR-MS|All Files (*.*)|*.*||";
    EXPECT_EQ(std::vector<std::string>{settings.InputPath + "\\*.DVR-MS " + filter}, offered);
    // Started: the button cancels from now on, also before the run shows itself.
    EXPECT_TRUE(engine.Busy());
    EXPECT_EQ("Cancel Conversion!", Text(IDC_CONVERT_SINGLE));
    EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));

    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(1u, offered.size());
    EXPECT_FALSE(engine.Busy());
    ASSERT_TRUE(runsOver(1));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO)); // the Auto Converter still runs
    ASSERT_EQ(1u, balloons.shown.size());
    EXPECT_EQ(0u, balloons.shown[0].find("ERROR|3|Converting : X:\\Rec\\Show.dvr-ms")) << balloons.shown[0];

    // A run that has claimed the engine but not shown itself is not cancelled by a click on
    // "Convert Single File...", whose open-file dialog is then cancelled.
    runView.Hold();
    ASSERT_TRUE(engine.StartSingleConversion({chosen, settings.OutputPath + "Show.MPG", settings.UseFilterGraph,
                                              nullptr, settings.OutputPath}));
    chosen.clear();
    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(2u, offered.size());
    EXPECT_TRUE(engine.Busy());
    ASSERT_TRUE(runsOver(2));
    EXPECT_TRUE(Enabled(IDC_STOP_AUTO));

    // Without an Auto Converter the Stop button stays off after a run.
    Click(IDC_STOP_AUTO);
    chosen = "X:\\Rec\\Show.dvr-ms";
    settings.InputPath += '\\';
    Click(IDC_CONVERT_SINGLE);
    EXPECT_EQ(0u, offered[2].find(settings.InputPath + "*.DVR-MS "));
    ASSERT_TRUE(runsOver(3));
    EXPECT_FALSE(Enabled(IDC_STOP_AUTO));
    dialog.reset(); // a run that ends after the window has gone shows nothing, not even its balloon
    runView.OnConversionFinished(false, "late", true);
    EXPECT_EQ(3u, balloons.shown.size());
}

// A run in the middle of an update holds the link and waits for the window's thread to take its
// message while that thread closes the window: the detach must take the message meanwhile, or both hang.
TEST_F(MainWindow, ClosingTheWindowHandlesTheMessagesOfAnUpdateInProgress)
{
    Open();
    std::thread run([&] { runView.OnProgressPosition(5); });
    EXPECT_EQ(WAIT_OBJECT_0, ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 30000, QS_SENDMESSAGE));
    dialog.reset();
    run.join();
}

} // namespace
} // namespace ui_test
