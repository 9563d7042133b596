#include "app/ConverterApp.h"
#include "convert/ConversionRun.h"
#include "convert/RunFeedback.h"
#include "res/resource.h"
#include "settings/ConverterSettings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

const char kConvertCaption[] = "Convert Single File...";
const char kCancelCaption[] = "Cancel Conversion!";
const char kBuilt[] = "\nGraph filters added & pins connected! Converting...";

struct Balloon {
    std::string text;
    bool hasTitle;
    std::string title;
    DWORD iconKind;
    UINT timeoutSeconds;
    LONG busyWhenShown;
};

CriticalSection& BalloonLock()
{
    static CriticalSection lock;
    return lock;
}

std::vector<Balloon>& BalloonLog()
{
    static std::vector<Balloon> balloons;
    return balloons;
}

std::vector<Balloon> Balloons()
{
    CriticalSectionLock lock(BalloonLock());
    return BalloonLog();
}

size_t BalloonCount()
{
    return Balloons().size();
}

// What the conversion threads did to the controls, seen from the window side. Only the
// user-interface thread (the test's main thread) touches it.
struct ControlLog {
    std::vector<LONG> ranges;
    std::vector<LONG> positions;
    std::vector<std::string> captions;   // of 1000
    std::vector<bool> stopAutoEnables;   // WM_ENABLE of 1004
};
ControlLog g_controls;

LRESULT CALLBACK LoggingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const int id = ::GetDlgCtrlID(window);
    if (id == IDC_PROGRESS && msg == PBM_SETRANGE32)
        g_controls.ranges.push_back(static_cast<LONG>(lParam));
    else if (id == IDC_PROGRESS && msg == PBM_SETPOS)
        g_controls.positions.push_back(static_cast<LONG>(wParam));
    else if (id == IDC_CONVERT_SINGLE && msg == WM_SETTEXT)
        g_controls.captions.push_back(reinterpret_cast<const char*>(lParam));
    else if (id == IDC_STOP_AUTO && msg == WM_ENABLE)
        g_controls.stopAutoEnables.push_back(wParam != 0);
    auto previous = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    return ::CallWindowProcA(previous, window, msg, wParam, lParam);
}

void LogControl(HWND dialog, int id)
{
    HWND control = ::GetDlgItem(dialog, id);
    LONG_PTR previous = ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LoggingProc));
    ::SetWindowLongPtrA(control, GWLP_USERDATA, previous);
}

INT_PTR CALLBACK TestDialogProc(HWND, UINT msg, WPARAM, LPARAM)
{
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

std::string InternalGraphBytes()
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource)));
    return std::string(bytes, ::SizeofResource(nullptr, resource));
}

// One ConvertFile call on a thread of its own, as the conversion threads make them.
class Conversion {
public:
    Conversion(const std::string& inputPath, const std::string& outputPath)
        : thread_([this, inputPath, outputPath] {
              ScopedComInit com;
              result_ = ConverterApp().ConvertFile(inputPath, outputPath);
              endTick_ = ::GetTickCount();
              done_ = true;
          })
    {
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    ~Conversion() { Wait(120000); }

    // Handles the main thread's messages meanwhile, as the dialog's loop would.
    bool Wait(DWORD timeoutMs)
    {
        if (!thread_.joinable())
            return true;
        if (!WaitUntil([this] { return done_.load(); }, timeoutMs))
            return false;
        thread_.join();
        return true;
    }
    bool Done() const { return done_.load(); }
    BOOL Result() const { return result_.load(); }
    DWORD EndTick() const { return endTick_.load(); }

private:
    std::atomic<bool> done_{false};
    std::atomic<BOOL> result_{FALSE};
    std::atomic<DWORD> endTick_{0};
    std::thread thread_;
};

class ConvertFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        com_ = new ScopedComInit;
        ASSERT_EQ(RegisterStandInsInProcess(), S_OK);
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);

        CConverterApp& app = ConverterApp();
        const std::string graphPath = MakeScratchDirectory("convert-run-graph") + "InternalXGR.tmp";
        ASSERT_TRUE(app.InternalGraphFile.Open(graphPath.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                                    | CStdioFile::shareExclusive | CStdioFile::typeText));
        const std::string bytes = InternalGraphBytes();
        app.InternalGraphFile.Write(bytes.data(), bytes.size());
        app.InternalGraphFile.Flush();

        SetBalloonSinkForTests([](const std::string& text, const char* title, DWORD iconKind, UINT timeoutSeconds) {
            CriticalSectionLock lock(BalloonLock());
            BalloonLog().push_back(Balloon{text, title != nullptr, title ? title : "", iconKind, timeoutSeconds,
                                           ConverterApp().ConversionBusy.load()});
        });

        dialog_ = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HALVERN_DIALOG), nullptr,
                                       &TestDialogProc, 0);
        ASSERT_NE(dialog_, nullptr);
        for (int id : {IDC_PROGRESS, IDC_CONVERT_SINGLE, IDC_STOP_AUTO})
            LogControl(dialog_, id);
        mainWindow_.m_hWnd = dialog_;
        app.m_pMainWnd = &mainWindow_;
    }

    static void TearDownTestSuite()
    {
        CConverterApp& app = ConverterApp();
        app.m_pMainWnd = nullptr;
        mainWindow_.m_hWnd = nullptr;
        ::DestroyWindow(dialog_);
        SetBalloonSinkForTests(nullptr);
        app.InternalGraphFile.Close();
        RevokeStandIns();
        delete com_;
    }

    void SetUp() override
    {
        CConverterApp& app = ConverterApp();
        app.ConversionBusy = 0;
        app.AutoConvertRunning = 0;
        app.Settings.UseFilterGraph = kInternalGraphName;
        directory_ = MakeScratchDirectory("convert-run");
        strcpy(app.ProgramDirectory, directory_.c_str());
        input_ = directory_ + "Show.dvr-ms";
        output_ = directory_ + "Show.MPG";
        ::SetDlgItemTextA(dialog_, IDC_CONVERT_SINGLE, kConvertCaption);
        ::EnableWindow(::GetDlgItem(dialog_, IDC_CONVERT_SINGLE), TRUE);
        ::EnableWindow(::GetDlgItem(dialog_, IDC_STOP_AUTO), TRUE);
        ClearLogs();
    }

    void TearDown() override
    {
        ConverterApp().ConversionBusy = 0;
        ConverterApp().ProgramDirectory[0] = '\0';
    }

    static void ClearLogs()
    {
        g_controls = ControlLog();
        CriticalSectionLock lock(BalloonLock());
        BalloonLog().clear();
    }

    std::string Report(const std::string& input) const { return "Converting : " + input; }

    void ExpectIdleControls()
    {
        char caption[64] = {};
        ::GetDlgItemTextA(dialog_, IDC_CONVERT_SINGLE, caption, sizeof(caption));
        EXPECT_STREQ(caption, kConvertCaption);
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog_, IDC_CONVERT_SINGLE)));
    }

    // The cancel command: the button goes grey and the flag is cleared.
    void Cancel()
    {
        ::EnableWindow(::GetDlgItem(dialog_, IDC_CONVERT_SINGLE), FALSE);
        ConverterApp().ConversionBusy = 0;
    }

    static ScopedComInit* com_;
    static HWND dialog_;
    static CWnd mainWindow_;
    std::string directory_;
    std::string input_;
    std::string output_;
};

ScopedComInit* ConvertFileTest::com_ = nullptr;
HWND ConvertFileTest::dialog_ = nullptr;
CWnd ConvertFileTest::mainWindow_;

} // namespace

TEST_F(ConvertFileTest, ASuccessfulRunShowsTwoBalloonsAndWritesTheOutput)
{
    StandInRecording recording;
    WriteStandInRecording(input_, recording);
    Conversion run(input_, output_);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_TRUE(run.Result());

    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 2u);
    EXPECT_EQ(balloons[0].text, Report(input_) + kBuilt);
    EXPECT_FALSE(balloons[0].hasTitle);
    EXPECT_EQ(balloons[0].iconKind, 0u);
    EXPECT_EQ(balloons[0].timeoutSeconds, 10u);
    EXPECT_EQ(balloons[1].text, Report(input_) + kBuilt + "\nDone!");
    EXPECT_FALSE(balloons[1].hasTitle);
    EXPECT_EQ(balloons[1].iconKind, 0u);
    EXPECT_EQ(balloons[1].timeoutSeconds, 10u);
    EXPECT_EQ(ReadFileBytes(output_), ExpectedStandInOutput(recording));

    EXPECT_EQ(g_controls.captions, (std::vector<std::string>{kCancelCaption, kConvertCaption}));
    ExpectIdleControls();
    // Disabled for the run and left so, as no Auto Converter runs.
    EXPECT_EQ(g_controls.stopAutoEnables, std::vector<bool>{false});
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog_, IDC_STOP_AUTO)));
    // Done within the first wait: one position (the end), then back to 0.
    EXPECT_EQ(g_controls.ranges, std::vector<LONG>{2});
    EXPECT_EQ(g_controls.positions, (std::vector<LONG>{2, 0}));
    EXPECT_EQ(ConverterApp().ConversionBusy.load(), 0);
}

TEST_F(ConvertFileTest, EveryRunRereadsTheInternalGraphAndFindsTheSecondStream)
{
    StandInRecording recording;
    recording.hasPin3 = false;
    recording.payload = "second stream only";
    WriteStandInRecording(input_, recording);
    for (int round = 0; round < 2; ++round) {
        ClearLogs();
        ::DeleteFileA(output_.c_str());
        Conversion run(input_, output_);
        ASSERT_TRUE(run.Wait(60000));
        EXPECT_TRUE(run.Result()) << "round " << round;
        ASSERT_EQ(BalloonCount(), 2u);
        EXPECT_EQ(Balloons()[1].text, Report(input_) + kBuilt + "\nDone!");
        EXPECT_EQ(ReadFileBytes(output_), ExpectedStandInOutput(recording));
    }
}

TEST_F(ConvertFileTest, TheStopButtonComesBackWhileTheAutoConverterRuns)
{
    ConverterApp().AutoConvertRunning = 1;
    WriteStandInRecording(input_, StandInRecording());
    Conversion run(input_, output_);
    ASSERT_TRUE(run.Wait(60000));
    ConverterApp().AutoConvertRunning = 0;
    EXPECT_TRUE(run.Result());
    EXPECT_EQ(g_controls.stopAutoEnables, (std::vector<bool>{false, true}));
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog_, IDC_STOP_AUTO)));
}

TEST_F(ConvertFileTest, AMissingGraphFileGivesOneErrorBalloon)
{
    ConverterApp().Settings.UseFilterGraph = "Missing Graph.xgr";
    WriteStandInRecording(input_, StandInRecording());
    Conversion run(input_, output_);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_FALSE(run.Result());

    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].text, Report(input_) + "Could not open \"Missing Graph.xgr\"");
    EXPECT_TRUE(balloons[0].hasTitle);
    EXPECT_EQ(balloons[0].title, "ERROR");
    EXPECT_EQ(balloons[0].iconKind, 3u);
    EXPECT_EQ(balloons[0].timeoutSeconds, 10u);
    EXPECT_TRUE(g_controls.ranges.empty()); // never started
    EXPECT_FALSE(FileExists(output_));
    ExpectIdleControls();
    EXPECT_EQ(ConverterApp().ConversionBusy.load(), 0);
}

TEST_F(ConvertFileTest, ARunWhileBusyDoesNothingAtAll)
{
    CConverterApp& app = ConverterApp();
    const LONG claim = ClaimConversion(app);
    ASSERT_NE(claim, 0);
    WriteStandInRecording(input_, StandInRecording());
    Conversion run(input_, output_);
    ASSERT_TRUE(run.Wait(10000));
    EXPECT_FALSE(run.Result());
    EXPECT_EQ(BalloonCount(), 0u);
    EXPECT_TRUE(g_controls.captions.empty());
    EXPECT_TRUE(g_controls.stopAutoEnables.empty());
    EXPECT_EQ(app.ConversionBusy.load(), claim);
    EXPECT_FALSE(FileExists(output_));
}

TEST_F(ConvertFileTest, AnOutputThatNamesTheInputIsRefused)
{
    StandInRecording recording;
    WriteStandInRecording(input_, recording);
    const std::string before = ReadFileBytes(input_);
    std::string sameFile = directory_ + "SHOW.DVR-MS";
    Conversion run(input_, sameFile);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_FALSE(run.Result());
    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].text,
              Report(input_) + "\nThe output file would replace the input file: nothing was converted.");
    EXPECT_EQ(balloons[0].title, "ERROR");
    EXPECT_EQ(balloons[0].iconKind, 3u);
    EXPECT_EQ(ReadFileBytes(input_), before);
    ExpectIdleControls();
}

TEST_F(ConvertFileTest, AGraphThatCannotStartFailsWithoutHanging)
{
    StandInRecording recording;
    WriteStandInRecording(input_, recording);
    // The writer cannot open an output that someone holds unshared, so the graph refuses to run.
    HANDLE holder = ::CreateFileA(output_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Conversion run(input_, output_);
    const bool ended = run.Wait(30000);
    ::CloseHandle(holder);
    ASSERT_TRUE(ended && run.Wait(30000)) << "the run must end although its graph never ran";
    EXPECT_FALSE(run.Result());
    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 2u);
    EXPECT_EQ(balloons[1].text, Report(input_) + kBuilt);
    EXPECT_EQ(balloons[1].title, "ERROR");
    ExpectIdleControls();
}

TEST_F(ConvertFileTest, AStreamThatEndsWithAnErrorIsAFailure)
{
    StandInRecording recording;
    recording.failAtSeconds = 1.0;
    WriteStandInRecording(input_, recording);
    Conversion run(input_, output_);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_FALSE(run.Result());
    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 2u);
    EXPECT_EQ(balloons[1].text, Report(input_) + kBuilt);
    EXPECT_EQ(balloons[1].title, "ERROR");
    EXPECT_EQ(balloons[1].iconKind, 3u);
    ExpectIdleControls();
}

TEST_F(ConvertFileTest, ACancelEndsTheRunAtTheNextWait)
{
    StandInRecording recording;
    recording.durationSeconds = 60.0;
    recording.pace = 1.0;
    WriteStandInRecording(input_, recording);
    Conversion run(input_, output_);
    ASSERT_TRUE(WaitUntil([] { return BalloonCount() >= 1; }, 30000));
    ::Sleep(500);
    Cancel();
    const DWORD cancelTick = ::GetTickCount();
    ASSERT_TRUE(run.Wait(30000));
    EXPECT_FALSE(run.Result());
    EXPECT_LE(run.EndTick() - cancelTick, 8000u); // one wait of five seconds, and the finish

    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 2u);
    EXPECT_EQ(balloons[1].text, Report(input_) + kBuilt);
    EXPECT_EQ(balloons[1].title, "ERROR");
    ExpectIdleControls(); // enabled again after the cancel greyed it
    EXPECT_EQ(g_controls.positions.back(), 0);
}

TEST_F(ConvertFileTest, ProgressIsInWholeSeconds)
{
    StandInRecording recording;
    recording.durationSeconds = 59.9;
    recording.pace = 6.0; // about ten seconds: two waits time out
    WriteStandInRecording(input_, recording);
    Conversion run(input_, output_);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_TRUE(run.Result());
    EXPECT_EQ(g_controls.ranges, std::vector<LONG>{59});
    ASSERT_GE(g_controls.positions.size(), 3u);
    EXPECT_EQ(g_controls.positions.back(), 0);
    // The end of the media, 59.9 seconds, shows as 59.
    EXPECT_EQ(g_controls.positions[g_controls.positions.size() - 2], 59);
    for (size_t i = 0; i + 1 < g_controls.positions.size(); ++i) {
        EXPECT_GE(g_controls.positions[i], 0);
        EXPECT_LE(g_controls.positions[i], 59);
        if (i > 0) {
            EXPECT_GE(g_controls.positions[i], g_controls.positions[i - 1]);
        }
    }
}

TEST_F(ConvertFileTest, ACancelledRunThatIsStillFinishingLeavesTheNextRunAlone)
{
    StandInRecording slow;
    slow.durationSeconds = 60.0;
    slow.pace = 1.0;
    WriteStandInRecording(input_, slow);
    StandInRecording next;
    next.durationSeconds = 12.0;
    next.pace = 2.0; // needs a second wait, which a lost claim would end as a cancel
    next.payload = "the next run";
    const std::string nextInput = directory_ + "Next.dvr-ms";
    const std::string nextOutput = directory_ + "Next.MPG";
    WriteStandInRecording(nextInput, next);

    Conversion first(input_, output_);
    ASSERT_TRUE(WaitUntil([] { return BalloonCount() >= 1; }, 30000));
    Cancel();
    Conversion second(nextInput, nextOutput);
    ASSERT_TRUE(first.Wait(30000));
    ASSERT_TRUE(second.Wait(60000));
    EXPECT_FALSE(first.Result());
    EXPECT_TRUE(second.Result());
    EXPECT_EQ(ReadFileBytes(nextOutput), ExpectedStandInOutput(next));

    // The second run waited for the first to finish, and kept its claim meanwhile.
    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 4u);
    EXPECT_EQ(balloons[1].text, Report(input_) + kBuilt);
    EXPECT_EQ(balloons[1].title, "ERROR");
    EXPECT_EQ(balloons[2].text, Report(nextInput) + kBuilt);
    EXPECT_NE(balloons[2].busyWhenShown, 0);
    EXPECT_EQ(balloons[3].text, Report(nextInput) + kBuilt + "\nDone!");
    EXPECT_EQ(ConverterApp().ConversionBusy.load(), 0);
    ExpectIdleControls();
}

TEST_F(ConvertFileTest, StartSingleConversionRefusesWhileBusy)
{
    CConverterApp& app = ConverterApp();
    app.SingleInputPath = "kept input";
    app.SingleOutputPath = "kept output";
    const LONG claim = ClaimConversion(app);
    ASSERT_NE(claim, 0);
    EXPECT_FALSE(app.StartSingleConversion(input_, output_));
    EXPECT_EQ(app.SingleInputPath, "kept input");
    EXPECT_EQ(app.SingleOutputPath, "kept output");
    EXPECT_EQ(app.ConversionBusy.load(), claim);
    app.ConversionBusy = 0;

    StandInRecording recording;
    WriteStandInRecording(input_, recording);
    ASSERT_TRUE(app.StartSingleConversion(input_, output_));
    EXPECT_EQ(app.SingleInputPath, input_);
    EXPECT_EQ(app.SingleOutputPath, output_);
    // The claim is made at once, so nothing else can start in between.
    EXPECT_FALSE(app.StartSingleConversion(input_, output_));
    ASSERT_TRUE(WaitUntil([] { return BalloonCount() >= 2 && ConverterApp().ConversionBusy.load() == 0; }, 60000));
    EXPECT_EQ(Balloons()[1].text, Report(input_) + kBuilt + "\nDone!");
    EXPECT_EQ(ReadFileBytes(output_), ExpectedStandInOutput(recording));
    app.FinishSingleConversion();
    ExpectIdleControls();
}

TEST_F(ConvertFileTest, FinishingASingleConversionCancelsAndWaitsForIt)
{
    CConverterApp& app = ConverterApp();
    StandInRecording recording;
    recording.durationSeconds = 60.0;
    recording.pace = 1.0;
    WriteStandInRecording(input_, recording);
    ASSERT_TRUE(app.StartSingleConversion(input_, output_));
    ASSERT_TRUE(WaitUntil([] { return BalloonCount() >= 1; }, 30000));

    // Waits on this thread, which owns the window the run updates: it must handle those updates.
    const DWORD start = ::GetTickCount();
    app.FinishSingleConversion();
    EXPECT_LE(::GetTickCount() - start, 9000u);
    const std::vector<Balloon> balloons = Balloons();
    ASSERT_EQ(balloons.size(), 2u);
    EXPECT_EQ(balloons[1].title, "ERROR");
    EXPECT_EQ(g_controls.captions.back(), kConvertCaption);
    EXPECT_EQ(app.ConversionBusy.load(), 0);

    // With nothing running it returns at once and cancels nothing.
    const LONG claim = ClaimConversion(app);
    app.FinishSingleConversion();
    EXPECT_EQ(app.ConversionBusy.load(), claim);
}

TEST_F(ConvertFileTest, ADetachedWindowIsNeverTouched)
{
    DetachConversionWindow();
    WriteStandInRecording(input_, StandInRecording());
    {
        Conversion run(input_, output_);
        ASSERT_TRUE(run.Wait(60000));
        EXPECT_TRUE(run.Result());
    }
    EXPECT_EQ(BalloonCount(), 2u); // the balloons still come
    EXPECT_TRUE(g_controls.captions.empty());
    EXPECT_TRUE(g_controls.ranges.empty());
    EXPECT_TRUE(g_controls.positions.empty());
    EXPECT_TRUE(g_controls.stopAutoEnables.empty());

    // An attached window is used whatever the main window pointer says.
    AttachConversionWindow(dialog_);
    ConverterApp().m_pMainWnd = nullptr;
    ClearLogs();
    {
        Conversion run(input_, output_);
        ASSERT_TRUE(run.Wait(60000));
    }
    ConverterApp().m_pMainWnd = &mainWindow_;
    EXPECT_EQ(g_controls.captions, (std::vector<std::string>{kCancelCaption, kConvertCaption}));
}

TEST_F(ConvertFileTest, DetachingHandlesTheUpdateInProgress)
{
    AttachConversionWindow(dialog_);
    UniqueHandle inside(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> delivered{false};
    std::atomic<bool> done{false};
    std::thread updater([&] {
        WithConversionWindow([&](HWND window) {
            ::SetEvent(inside.Get());
            ::Sleep(200); // the user-interface thread is in DetachConversionWindow by now
            ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, "in progress"); // a sent message
            delivered = true;
        });
        done = true;
    });
    ASSERT_EQ(::WaitForSingleObject(inside.Get(), 10000), WAIT_OBJECT_0);
    DetachConversionWindow(); // without handling the sent message this would never return
    EXPECT_TRUE(delivered.load());
    updater.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(g_controls.captions, std::vector<std::string>{"in progress"});

    bool called = false;
    WithConversionWindow([&](HWND) { called = true; });
    EXPECT_FALSE(called);
    AttachConversionWindow(dialog_);
}

TEST_F(ConvertFileTest, ASingleThreadWithoutComOnlyWritesAnError)
{
    CConverterApp& app = ConverterApp();
    const LONG claim = ClaimConversion(app);
    ASSERT_NE(claim, 0);
    const std::string capture = directory_ + "stdout.txt";

    std::thread runner([&] {
        // An apartment of the other kind makes CoInitialize fail on this thread.
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        fflush(stdout);
        const int saved = _dup(1);
        const int file = _open(capture.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
        _dup2(file, 1);
        SingleConvertThread(new SingleConversionJob{&app, input_, output_, claim});
        fflush(stdout);
        _dup2(saved, 1);
        _close(file);
        _close(saved);
        ::CoUninitialize();
    });
    runner.join();

    EXPECT_EQ(ReadFileBytes(capture), "ERROR - Could not initialize COM library");
    EXPECT_EQ(BalloonCount(), 0u);
    EXPECT_TRUE(g_controls.captions.empty());
    EXPECT_EQ(app.ConversionBusy.load(), 0); // the claim made for it is given back
}
