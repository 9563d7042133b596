#include "app/ConverterApp.h"
#include "convert/ConversionRun.h"
#include "convert/OutputName.h"
#include "convert/RunFeedback.h"
#include "res/resource.h"
#include "settings/ConverterSettings.h"
#include "tests/media/RecordingWriter.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;
using Texts = std::vector<std::string>;

namespace {

const char kConvertCaption[] = "Convert Single File...";
const char kCancelCaption[] = "Cancel Conversion!";
const char kBuilt[] = "\nGraph filters added & pins connected! Converting...";
// The length of the recording every test converts, in whole seconds.
constexpr LONG kRecordingSeconds = 3;

// Balloons as "<seconds>s <icon> <title>: <text>"; the runs show them from their own threads.
CriticalSection g_balloonLock;
Texts g_balloons;

Texts Balloons()
{
    CriticalSectionLock lock(g_balloonLock);
    return g_balloons;
}

std::string Plain(const std::string& text) { return "10s 0 : " + text; }
std::string Error(const std::string& text) { return "10s 3 ERROR: " + text; }

// What the runs did to the controls, seen from the window side (the test's main thread).
struct ControlLog {
    std::vector<LONG> ranges;
    std::vector<LONG> positions;
    Texts captions;                    // of 1000
    std::vector<bool> stopAutoEnables; // WM_ENABLE of 1004
} g_controls;

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

INT_PTR CALLBACK TestDialogProc(HWND, UINT msg, WPARAM, LPARAM)
{
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

// One ConvertFile call on a thread of its own, as the conversion threads make them.
class Conversion {
public:
    Conversion(const std::string& inputPath, const std::string& outputPath)
        : Conversion(ConversionRequest{inputPath, outputPath, ConverterApp().Settings.UseFilterGraph, nullptr,
                                       ConverterApp().Settings.OutputPath})
    {
    }
    explicit Conversion(const ConversionRequest& request)
        : thread_([this, request] {
              ScopedComInit com;
              result_ = ConverterApp().ConvertFile(request);
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
        if (thread_.joinable() && WaitUntil([this] { return done_.load(); }, timeoutMs))
            thread_.join();
        return !thread_.joinable();
    }
    BOOL Result() const { return result_.load(); }

private:
    std::atomic<bool> done_{false};
    std::atomic<BOOL> result_{FALSE};
    std::thread thread_;
};

class ConvertFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        com_ = new ScopedComInit;
        ASSERT_EQ(RegisterStandInsInProcess(), S_OK);
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);

        CConverterApp& app = ConverterApp();
        const std::string graphPath = MakeScratchDirectory("convert-run-graph") + "InternalXGR.tmp";
        ASSERT_TRUE(app.InternalGraphFile.Open(graphPath.c_str(), CStdioFile::modeCreate | CStdioFile::modeReadWrite
                                                                    | CStdioFile::shareExclusive | CStdioFile::typeText));
        HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_INTERNAL_XGR), "XGR");
        app.InternalGraphFile.Write(::LockResource(::LoadResource(nullptr, resource)), ::SizeofResource(nullptr, resource));
        app.InternalGraphFile.Flush();

        SetBalloonSinkForTests([](const std::string& text, const char* title, DWORD iconKind, UINT seconds) {
            CriticalSectionLock lock(g_balloonLock);
            g_balloons.push_back(std::to_string(seconds) + "s " + std::to_string(iconKind) + " " + (title ? title : "")
                                 + ": " + text);
        });

        dialog_ = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HALVERN_DIALOG), nullptr,
                                       &TestDialogProc, 0);
        ASSERT_NE(dialog_, nullptr);
        for (int id : {IDC_PROGRESS, IDC_CONVERT_SINGLE, IDC_STOP_AUTO}) {
            HWND control = ::GetDlgItem(dialog_, id);
            ::SetWindowLongPtrA(control, GWLP_USERDATA,
                                ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LoggingProc)));
        }
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
        app.Settings.OutputPath = directory_;
        strcpy(app.ProgramDirectory, directory_.c_str());
        input_ = directory_ + "Show.dvr-ms";
        output_ = directory_ + "Show.MPG";
        report_ = "Converting : " + input_;
        ASSERT_TRUE(CopyRecording(input_));
        ResetControls();
    }

    void TearDown() override
    {
        ConverterApp().ConversionBusy = 0;
        ConverterApp().ProgramDirectory[0] = '\0';
        ConversionTiming() = ConversionTimings();
    }

    static void ResetControls()
    {
        ::SetDlgItemTextA(dialog_, IDC_CONVERT_SINGLE, kConvertCaption);
        ::EnableWindow(::GetDlgItem(dialog_, IDC_CONVERT_SINGLE), TRUE);
        ::EnableWindow(::GetDlgItem(dialog_, IDC_STOP_AUTO), TRUE);
        g_controls = ControlLog();
        CriticalSectionLock lock(g_balloonLock);
        g_balloons.clear();
    }

    // Converts the recording input_ on a thread of its own and waits for the result.
    BOOL Convert(const std::string& output)
    {
        Conversion run(input_, output);
        EXPECT_TRUE(run.Wait(60000)) << "the run must end";
        return run.Result();
    }

    void ExpectIdleControls()
    {
        char caption[64] = {};
        ::GetDlgItemTextA(dialog_, IDC_CONVERT_SINGLE, caption, sizeof(caption));
        EXPECT_STREQ(caption, kConvertCaption);
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog_, IDC_CONVERT_SINGLE)));
    }

    // The cancel command: the button goes grey and the run is cancelled.
    void Cancel()
    {
        ::EnableWindow(::GetDlgItem(dialog_, IDC_CONVERT_SINGLE), FALSE);
        ConverterApp().CancelConversion();
    }

    static ScopedComInit* com_;
    static HWND dialog_;
    static CWnd mainWindow_;
    std::string directory_;
    std::string input_;
    std::string output_;
    std::string report_;
};

ScopedComInit* ConvertFileTest::com_ = nullptr;
HWND ConvertFileTest::dialog_ = nullptr;
CWnd ConvertFileTest::mainWindow_;

// The 3-second recording takes about a minute.
const char kSlow[] = "pace=0.05";

} // namespace

TEST_F(ConvertFileTest, ASuccessfulRunShowsTwoBalloonsAndWritesTheOutput)
{
    // Twice, so the second run has to read the internal graph again.
    for (LONG autoConverterRunning : {0, 1}) {
        SCOPED_TRACE(autoConverterRunning);
        ResetControls();
        ::DeleteFileA(output_.c_str());
        ConverterApp().AutoConvertRunning = autoConverterRunning;
        EXPECT_TRUE(Convert(output_));
        EXPECT_EQ(Balloons(), (Texts{Plain(report_ + kBuilt), Plain(report_ + kBuilt + "\nDone!")}));
        EXPECT_TRUE(IsProgramStream(output_));
        EXPECT_EQ(g_controls.captions, (Texts{kCancelCaption, kConvertCaption}));
        ExpectIdleControls();
        // Stop Auto Converter is greyed for the run and comes back only while the worker runs.
        const std::vector<bool> stopEnables = autoConverterRunning ? std::vector<bool>{false, true} : std::vector<bool>{false};
        EXPECT_EQ(g_controls.stopAutoEnables, stopEnables);
        // Done within the first wait: one position (the end), then back to 0.
        EXPECT_EQ(g_controls.ranges, std::vector<LONG>{kRecordingSeconds});
        EXPECT_EQ(g_controls.positions, (std::vector<LONG>{kRecordingSeconds, 0}));
        EXPECT_EQ(ConverterApp().ConversionBusy.load(), 0);
    }
}

TEST_F(ConvertFileTest, FailedRunsShowTheReportUnderError)
{
    ConverterApp().Settings.UseFilterGraph = "Missing Graph.xgr";
    EXPECT_FALSE(Convert(output_));
    EXPECT_EQ(Balloons(), Texts{Error(report_ + "Could not open \"Missing Graph.xgr\"")});
    EXPECT_TRUE(g_controls.ranges.empty()); // never started
    EXPECT_FALSE(FileExists(output_));
    ExpectIdleControls();
    EXPECT_EQ(ConverterApp().ConversionBusy.load(), 0);
    ConverterApp().Settings.UseFilterGraph = kInternalGraphName;

    ResetControls();
    EXPECT_FALSE(Convert(directory_ + "SHOW.DVR-MS"));
    EXPECT_EQ(Balloons(), Texts{Error(report_ + "\nThe output file would replace the input file: nothing was converted.")});
    EXPECT_EQ(ReadFileBytes(input_), ReadFileBytes(VectorPath("plain-mp2.asf")));
    ExpectIdleControls();

    // The report names what the recording source found wrong with the recording.
    ResetControls();
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.protection = test_recordings::Protection::EncryptionObject;
    test_recordings::WrittenRecording written;
    std::string error;
    ASSERT_TRUE(test_recordings::WriteRecording(input_, options, written, error)) << error;
    EXPECT_FALSE(Convert(output_));
    WriteFileBytes(input_, std::string(4096, 'x'));
    EXPECT_FALSE(Convert(output_));
    EXPECT_EQ(Balloons(), (Texts{Error(report_ + "Could not open input file\nThe recording is protected: it cannot be converted."),
                                 Error(report_ + "Could not open input file\nThe input file is not a recording.")}));
    ExpectIdleControls();
    ASSERT_TRUE(CopyRecording(input_));

    // The writer cannot open a file that someone holds unshared, so the graph never runs.
    ResetControls();
    UniqueFileHandle holder(::CreateFileA(PartialOutputPath(output_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(Convert(output_));
    EXPECT_EQ(Balloons(), (Texts{Plain(report_ + kBuilt), Error(report_ + kBuilt)}));
    ExpectIdleControls();
}

// The output appears only whole: an earlier one survives every failure, and nothing of a failed
// run stays behind, neither under the output's name nor under the one it was written as.
TEST_F(ConvertFileTest, OnlyAVerifiedSuccessPublishesTheOutput)
{
    const struct {
        const char* fault;
        bool succeeds;
        const char* ending;
    } cases[] = {
        {"", true, "\nDone!"},
        {"abort=1", false, ""}, // the graph reports an error part-way
        {"drop", false, "\nNothing was written to the output file."},
    };
    const std::string partial = PartialOutputPath(output_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ResetControls();
        WriteFileBytes(output_, "an earlier output");
        WriteFileBytes(partial, "left by a killed run");
        ScopedDecrypterFault fault(c.fault);
        EXPECT_EQ(Convert(output_), c.succeeds ? TRUE : FALSE);
        if (c.succeeds)
            EXPECT_TRUE(IsProgramStream(output_));
        else
            EXPECT_TRUE(ReadFileBytes(output_) == "an earlier output") << "the earlier output was replaced";
        EXPECT_FALSE(FileExists(partial));
        const std::string last = report_ + kBuilt + c.ending;
        EXPECT_EQ(Balloons().back(), c.succeeds ? Plain(last) : Error(last));
        ExpectIdleControls();
    }
}

// An output name that leaves the output directory, or is no plain file name, is never written.
TEST_F(ConvertFileTest, OutputsOutsideTheOutputDirectoryAreRefused)
{
    const std::string elsewhere = MakeScratchDirectory("convert-run-elsewhere");
    ::DeleteFileA((directory_ + "..\\escaped").c_str()); // shared by every run of this program
    for (const std::string& output : {directory_ + "Show.MPG\\..\\..\\escaped", directory_ + "Show.MPG:stream",
                                      directory_ + "Show.M*G", directory_ + "Show.MPG/x", elsewhere + "Show.MPG"}) {
        SCOPED_TRACE(output);
        ResetControls();
        EXPECT_FALSE(Convert(output));
        EXPECT_EQ(Balloons(),
                  Texts{Error(report_ + "\nThe output file would not lie in the output directory: nothing was converted.")});
        ExpectIdleControls();
    }
    EXPECT_FALSE(FileExists(directory_ + "..\\escaped"));
    EXPECT_FALSE(FileExists(elsewhere + "Show.MPG"));
}

// Cancelled, stopped or stuck, a run ends at once and leaves nothing behind.
TEST_F(ConvertFileTest, ACancelAStopOrAStallEndsTheRunPromptly)
{
    UniqueHandle stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const struct {
        const char* name;
        const char* fault;
        std::function<void()> end; // null: the stall ends it
        const char* ending;
    } cases[] = {
        {"cancel", kSlow, [this] { Cancel(); }, ""},
        {"stop", kSlow, [&] { ::SetEvent(stop.Get()); }, ""},
        {"stall", "never-end", nullptr, "\nThe conversion stopped making progress and was cancelled."},
    };
    ConversionTiming().StallMs = 1500;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A cancel or stop must not wait for the progress step; the stall is seen at one.
        ConversionTiming().ProgressStepMs = c.end ? 60000 : 200;
        ResetControls();
        ::ResetEvent(stop.Get());
        // The stalled graph writes what it has at once and then never completes.
        ScopedDecrypterFault fault(c.fault);
        Conversion run(ConversionRequest{input_, output_, kInternalGraphName, stop.Get(), directory_});
        ASSERT_TRUE(WaitUntil([&] { return Balloons().size() >= 1 && FileExists(PartialOutputPath(output_)); }, 30000));
        const DWORD endTick = ::GetTickCount();
        if (c.end)
            c.end();
        ASSERT_TRUE(run.Wait(50000));
        if (c.end) {
            EXPECT_LE(::GetTickCount() - endTick, 20000u) << "not left to the next progress step";
        }
        EXPECT_FALSE(run.Result());
        EXPECT_EQ(Balloons().back(), Error(report_ + kBuilt + c.ending));
        EXPECT_FALSE(FileExists(output_));
        EXPECT_FALSE(FileExists(PartialOutputPath(output_)));
        ExpectIdleControls(); // enabled again after the cancel greyed it
        EXPECT_EQ(g_controls.positions.back(), 0);
    }
}

TEST_F(ConvertFileTest, ProgressIsInWholeSeconds)
{
    ScopedDecrypterFault slow("pace=1");
    ConversionTiming().ProgressStepMs = 500; // about three seconds: several waits time out
    EXPECT_TRUE(Convert(output_));
    EXPECT_EQ(g_controls.ranges, std::vector<LONG>{kRecordingSeconds});
    ASSERT_GE(g_controls.positions.size(), 3u);
    EXPECT_EQ(g_controls.positions.back(), 0);
    EXPECT_EQ(g_controls.positions[g_controls.positions.size() - 2], kRecordingSeconds); // the end
    for (size_t i = 1; i + 1 < g_controls.positions.size(); ++i)
        EXPECT_GE(g_controls.positions[i], g_controls.positions[i - 1]);
}

TEST_F(ConvertFileTest, ACancelledRunThatIsStillFinishingLeavesTheNextRunAlone)
{
    // The next run needs a second wait, which a lost claim would end as a cancel.
    ScopedDecrypterFault slow("pace=0.4");
    const std::string nextInput = directory_ + "Next.dvr-ms";
    ASSERT_TRUE(CopyRecording(nextInput));

    Conversion first(input_, output_);
    ASSERT_TRUE(WaitUntil([] { return Balloons().size() >= 1; }, 30000));
    Cancel();
    Conversion second(nextInput, directory_ + "Next.MPG");
    ASSERT_TRUE(first.Wait(30000));
    ASSERT_TRUE(second.Wait(60000));
    EXPECT_FALSE(first.Result());
    EXPECT_TRUE(second.Result());
    EXPECT_TRUE(IsProgramStream(directory_ + "Next.MPG"));
    const std::string nextReport = "Converting : " + nextInput + kBuilt;
    EXPECT_EQ(Balloons(), (Texts{Plain(report_ + kBuilt), Error(report_ + kBuilt), Plain(nextReport),
                                 Plain(nextReport + "\nDone!")}));
    EXPECT_EQ(ConverterApp().ConversionBusy.load(), 0);
    ExpectIdleControls();
}

TEST_F(ConvertFileTest, NothingStartsWhileBusy)
{
    CConverterApp& app = ConverterApp();
    app.SingleInputPath = "kept input";
    app.SingleOutputPath = "kept output";
    const LONG claim = ClaimConversion(app);
    ASSERT_NE(claim, 0);
    EXPECT_FALSE(Convert(output_));
    EXPECT_FALSE(app.StartSingleConversion(input_, output_));
    EXPECT_EQ(app.SingleInputPath, "kept input");
    EXPECT_EQ(app.SingleOutputPath, "kept output");
    EXPECT_EQ(app.ConversionBusy.load(), claim);
    EXPECT_TRUE(Balloons().empty());
    EXPECT_TRUE(g_controls.captions.empty());
    EXPECT_TRUE(g_controls.stopAutoEnables.empty());
    EXPECT_FALSE(FileExists(output_));

    app.ConversionBusy = 0;
    ASSERT_TRUE(app.StartSingleConversion(input_, output_));
    // "Apply Settings" while the run starts: the run keeps the graph it was started with.
    app.Settings.UseFilterGraph = "Missing Graph.xgr";
    EXPECT_EQ(app.SingleInputPath, input_);
    EXPECT_EQ(app.SingleOutputPath, output_);
    EXPECT_FALSE(app.StartSingleConversion(input_, output_)); // claimed at once
    ASSERT_TRUE(WaitUntil([] { return Balloons().size() >= 2 && ConverterApp().ConversionBusy.load() == 0; }, 60000));
    EXPECT_EQ(Balloons()[1], Plain(report_ + kBuilt + "\nDone!"));
    app.FinishSingleConversion();
}

TEST_F(ConvertFileTest, FinishingASingleConversionCancelsAndWaitsForIt)
{
    CConverterApp& app = ConverterApp();
    ScopedDecrypterFault slow(kSlow);
    ASSERT_TRUE(app.StartSingleConversion(input_, output_));
    ASSERT_TRUE(WaitUntil([] { return Balloons().size() >= 1; }, 30000));

    // Waits on this thread, which owns the window the run updates: it must handle those updates.
    const DWORD start = ::GetTickCount();
    app.FinishSingleConversion();
    EXPECT_LE(::GetTickCount() - start, 20000u) << "the run was left to finish";
    EXPECT_EQ(Balloons(), (Texts{Plain(report_ + kBuilt), Error(report_ + kBuilt)}));
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
    EXPECT_TRUE(Convert(output_));
    EXPECT_TRUE(Balloons().empty()); // the program is ending: no balloons either
    EXPECT_TRUE(g_controls.captions.empty());
    EXPECT_TRUE(g_controls.ranges.empty());
    EXPECT_TRUE(g_controls.positions.empty());
    EXPECT_TRUE(g_controls.stopAutoEnables.empty());

    // An attached window is used whatever the main window pointer says.
    AttachConversionWindow(dialog_);
    ConverterApp().m_pMainWnd = nullptr;
    EXPECT_TRUE(Convert(output_));
    ConverterApp().m_pMainWnd = &mainWindow_;
    EXPECT_EQ(g_controls.captions, (Texts{kCancelCaption, kConvertCaption}));
}

TEST_F(ConvertFileTest, DetachingHandlesTheUpdateInProgress)
{
    AttachConversionWindow(dialog_);
    UniqueHandle inside(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread updater([&] {
        WithConversionWindow([&](HWND window) {
            ::SetEvent(inside.Get());
            ::Sleep(200); // the user-interface thread is in DetachConversionWindow by now
            ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, "in progress"); // a sent message
        });
    });
    ASSERT_EQ(::WaitForSingleObject(inside.Get(), 10000), WAIT_OBJECT_0);
    DetachConversionWindow(); // without handling the sent message this would never return
    updater.join();
    EXPECT_EQ(g_controls.captions, Texts{"in progress"});
    bool called = false;
    WithConversionWindow([&](HWND) { called = true; });
    EXPECT_FALSE(called);
    AttachConversionWindow(dialog_);
}

TEST_F(ConvertFileTest, ASingleThreadWithoutComOnlyWritesAnError)
{
    CConverterApp& app = ConverterApp();
    const LONG claim = ClaimConversion(app);
    const std::string capture = directory_ + "stdout.txt";
    std::thread runner([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); // so that CoInitialize fails on this thread
        fflush(stdout);
        const int saved = _dup(1);
        const int file = _open(capture.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
        _dup2(file, 1);
        SingleConvertThread(new SingleConversionJob{&app, ConversionRequest{input_, output_, kInternalGraphName, nullptr, directory_}, claim});
        fflush(stdout);
        _dup2(saved, 1);
        _close(file);
        _close(saved);
        ::CoUninitialize();
    });
    runner.join();
    EXPECT_EQ(ReadFileBytes(capture), "ERROR - Could not initialize COM library");
    EXPECT_TRUE(Balloons().empty());
    EXPECT_TRUE(g_controls.captions.empty());
    EXPECT_EQ(app.ConversionBusy.load(), 0); // the claim made for it is given back
}
