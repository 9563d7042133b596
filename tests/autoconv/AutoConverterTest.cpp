// The Auto Converter against the real file system, converting real recordings in this process with
// the built-in filters standing in for the internal graph's outside filters.

#include "autoconv/AutoConverter.h"
#include "convert/InternalGraph.h"
#include "convert/OutputName.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>

using namespace testing_support;

namespace {

const char kWaiting[] = "\nWaiting for new recording...\n";

// The worker's text, as written.
class CapturedOutput {
public:
    void Append(const char* text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ += text;
    }
    std::string Text()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    size_t Count(const std::string& piece)
    {
        const std::string text = Text();
        size_t count = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
            ++count;
        return count;
    }

private:
    std::mutex mutex_;
    std::string text_;
};

// The runs' reports are not what these tests look at.
class SilentObserver : public IConversionObserver {
public:
    void OnConversionStarted() override {}
    void OnGraphBuilt(const std::string&) override {}
    void OnProgressRange(LONG) override {}
    void OnProgressPosition(LONG) override {}
    void OnConversionFinished(bool, const std::string&, bool) override {}
};

class AutoConverterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ::CoInitialize(nullptr);
        ASSERT_HRESULT_SUCCEEDED(RegisterStandInsInProcess());
        const std::string lock = MakeScratchDirectory("auto-graph") + kInternalGraphFileName;
        ASSERT_EQ(OpenInternalGraph(lock.c_str(), *graphFile_, graphs_->InternalGraph), InternalGraphOpen::Opened);
    }

    static void TearDownTestSuite()
    {
        graphFile_->Close();
        RevokeStandIns();
        ::CoUninitialize();
    }

    void SetUp() override
    {
        input_ = MakeScratchDirectory("auto-in");
        output_ = MakeScratchDirectory("auto-out");
        settings_.InputPath = input_;
        settings_.OutputPath = output_;
        settings_.InputExt = "dvr-ms";
        settings_.OutputExt = "MPG";
        settings_.UseFilterGraph = kInternalGraphName;
        engine_ = std::make_unique<CConversionEngine>(*graphs_, observer_);
        MakeAutoConverter(60000);
    }

    void TearDown() override
    {
        engine_->CancelConversion(); // a failed test must not leave a long conversion running
        autoConverter_.reset();
        engine_.reset();
    }

    void MakeAutoConverter(DWORD scanWaitMs)
    {
        CAutoConverter::Options options;
        options.Output = [this](const char* text) { output.Append(text); };
        options.ScanWaitMs = scanWaitMs;
        options.PassDone = [this] { ++passes; };
        autoConverter_ = std::make_unique<CAutoConverter>(*engine_, options);
    }

    void Start() { autoConverter_->StartAutoConvert(settings_); }
    void Stop() { autoConverter_->StopAutoConvert(); }

    // Recordings that convert in about 30 seconds while the object lives.
    static std::string Slow() { return "pace=0.1"; }

    bool WaitForText(const std::string& piece, size_t count, DWORD timeoutMs = 20000)
    {
        return WaitUntil([&] { return output.Count(piece) >= count; }, timeoutMs);
    }

    static std::unique_ptr<CStdioFile> graphFile_;
    static std::unique_ptr<GraphSource> graphs_;
    SilentObserver observer_;
    std::unique_ptr<CConversionEngine> engine_;
    std::unique_ptr<CAutoConverter> autoConverter_;
    CConverterSettings settings_;
    std::string input_;
    std::string output_;
    CapturedOutput output;
    std::atomic<int> passes{0};
};

std::unique_ptr<CStdioFile> AutoConverterTest::graphFile_ = std::make_unique<CStdioFile>();
std::unique_ptr<GraphSource> AutoConverterTest::graphs_ = std::make_unique<GraphSource>();

} // namespace

// The first pass runs at once: it converts every recording without an output of its name (letter
// case aside) and writes the banner and a line for each.
TEST_F(AutoConverterTest, TheFirstPassConvertsWhatHasNoOutputAndReportsEach)
{
    settings_.OutputPath = output_.substr(0, output_.size() - 1); // no trailing backslash
    settings_.InputExt = "DVR-MS";
    for (const char* name : {"News.2005.03.28.dvr-ms", "LOUD.DVR-MS", "Done.dvr-ms", "Broken.dvr-ms", "Other.txt"})
        ASSERT_TRUE(CopyRecording(input_ + name));
    WriteFileBytes(output_ + "done.mpg", "");                 // any size, any case: already converted
    WriteFileBytes(output_ + "Broken.MPG", "made by someone");
    WriteFileBytes(output_ + "LOUD.MPG.partial", "left by a killed run"); // not an output

    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 30000)) << output.Text();
    EXPECT_EQ(output.Count(" - Done.\n"), 2u);
    EXPECT_EQ(output.Count(" - Failed.\n"), 0u);
    EXPECT_TRUE(FileExists(output_ + "News.2005.03.28.MPG"));
    EXPECT_TRUE(IsProgramStream(output_ + "LOUD.MPG"));
    EXPECT_TRUE(FileExists(input_ + "LOUD.DVR-MS")) << "kept without DeleteSourceFile";
    EXPECT_EQ(ReadFileBytes(output_ + "done.mpg"), "");
    EXPECT_EQ(ReadFileBytes(output_ + "Broken.MPG"), "made by someone");
    EXPECT_FALSE(FileExists(output_ + "Other.MPG"));
    EXPECT_FALSE(FileExists(output_ + "LOUD.MPG.partial"));

    const std::string text = output.Text();
    EXPECT_EQ(text.find("Halvern"), 0u) << "the banner comes first";
    EXPECT_NE(text.find("Place in direcotry of recorded TV, together with \"FilterGraph.xgr\", this XGR file is an "
                        "export of the graphedit tool by microsoft. As soon as MCE deletes a DVR-MS file, its "
                        "corresponding MPG will also be deleted. If there are any unconverted files in your "
                        "directory when program starts, they will start to convert after about 60 seconds.\n\n"),
              std::string::npos);
    EXPECT_NE(text.find(std::string(kWaiting) + " - Done.\n" + kWaiting + " - Done.\n" + kWaiting), std::string::npos)
        << text;
    EXPECT_TRUE(autoConverter_->AutoConvertRunning());
}

TEST_F(AutoConverterTest, RecordingHeldOpenIsSkippedUntilItIsClosed)
{
    MakeAutoConverter(1000);
    std::string path = input_ + "Recording.dvr-ms";
    ASSERT_TRUE(CopyRecording(path));
    HANDLE recorder = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(recorder, INVALID_HANDLE_VALUE);

    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 3; }, 10000));
    EXPECT_FALSE(FileExists(output_ + "Recording.MPG"));
    EXPECT_EQ(output.Count(" - Done.\n") + output.Count(" - Failed.\n"), 0u);

    ::CloseHandle(recorder);
    ASSERT_TRUE(WaitForText(" - Done.\n", 1)) << output.Text();
    EXPECT_TRUE(FileExists(output_ + "Recording.MPG"));
}

// Only a converted recording is deleted; a failed one stays and is tried again only once it changes
// or a new worker starts.
TEST_F(AutoConverterTest, FailedRecordingsStayAndAreTriedAgainOnlyWhenChangedOrRestarted)
{
    MakeAutoConverter(300);
    settings_.DeleteSourceFile = 1;
    ASSERT_TRUE(CopyRecording(input_ + "Good.dvr-ms"));
    const std::string bad = input_ + "Bad.dvr-ms";
    WriteFileBytes(bad, NotARecording);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return output.Count(" - Done.\n") + output.Count(" - Failed.\n") >= 2; }, 30000))
        << output.Text();
    EXPECT_EQ(output.Count(" - Done.\n"), 1u);
    EXPECT_EQ(output.Count(" - Failed.\n"), 1u) << "a recording that cannot be read is a failed conversion";
    EXPECT_FALSE(FileExists(input_ + "Good.dvr-ms"));
    EXPECT_TRUE(FileExists(bad));
    EXPECT_FALSE(FileExists(output_ + "Bad.MPG.partial"));
    const int seen = passes;
    ASSERT_TRUE(WaitUntil([&] { return passes >= seen + 3; }, 10000));
    EXPECT_EQ(output.Count(" - Failed.\n"), 1u) << "not again while unchanged";

    WriteFileBytes(bad, std::string(NotARecording) + ", rewritten by the recorder");
    ASSERT_TRUE(WaitForText(" - Failed.\n", 2)) << "a changed recording is tried again";
    Stop();
    Start();
    ASSERT_TRUE(WaitForText(" - Failed.\n", 3)) << "a new start forgets the failures";
}

// An input extension that is empty, or that holds a path or a wildcard, matches no file at all.
TEST_F(AutoConverterTest, AnUnusableInputExtensionMatchesNothing)
{
    MakeAutoConverter(300);
    ASSERT_TRUE(CopyRecording(input_ + "Show.dvr-ms"));
    ASSERT_TRUE(CopyRecording(input_ + "NoExtension"));
    for (const char* extension : {"", "*", "dvr-ms\\..\\*", "dvr-ms:x"}) {
        SCOPED_TRACE(extension);
        settings_.InputExt = extension;
        const int seen = passes;
        Start();
        ASSERT_TRUE(WaitUntil([&] { return passes >= seen + 2; }, 10000));
        Stop();
    }
    EXPECT_EQ(output.Count("ERROR - The input extension is empty or not a plain extension: nothing is converted.\n"), 4u);
    EXPECT_EQ(output.Count(" - Done.\n") + output.Count(" - Failed.\n"), 0u) << output.Text();
    EXPECT_FALSE(FileExists(output_ + "Show.MPG"));
    EXPECT_FALSE(FileExists(output_ + "MPG"));
}

TEST(AutoConverterOutput, OnlyANonEmptyOutputFileLetsTheRecordingGo)
{
    std::string directory = MakeScratchDirectory("auto-usable");
    EXPECT_FALSE(HasUsableOutput(directory + "Missing.MPG"));
    WriteFileBytes(directory + "Empty.MPG", "");
    EXPECT_FALSE(HasUsableOutput(directory + "Empty.MPG"));
    ::CreateDirectoryA((directory + "Folder.MPG").c_str(), nullptr);
    EXPECT_FALSE(HasUsableOutput(directory + "Folder.MPG"));
    WriteFileBytes(directory + "Show.MPG", "x");
    EXPECT_TRUE(HasUsableOutput(directory + "Show.MPG"));
    EXPECT_TRUE(HasUsableOutput(directory + "show.mpg"));
}

// One worker at a time; a stop ends it at once from its wait, also one requested before the worker
// began to run.
TEST_F(AutoConverterTest, StartAndStopKeepOneWorkerAndStopReturnsPromptly)
{
    Start();
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 10000)); // into the 60-second wait
    EXPECT_EQ(output.Count("Place in direcotry"), 1u) << "one worker only";
    EXPECT_TRUE(autoConverter_->AutoConvertRunning());

    const DWORD start = ::GetTickCount();
    Stop();
    EXPECT_LT(::GetTickCount() - start, 10000u) << "the stop waited out the 60 seconds";
    EXPECT_FALSE(autoConverter_->AutoConvertRunning());

    ASSERT_TRUE(CopyRecording(input_ + "Show.dvr-ms"));
    for (int i = 0; i < 5; ++i) {
        Start();
        Stop();
        EXPECT_FALSE(autoConverter_->AutoConvertRunning());
    }
    const size_t banners = output.Count("Place in direcotry");
    Start(); // a worker left running would make this start do nothing
    ASSERT_TRUE(WaitForText("Place in direcotry", banners + 1));
}

// A cancelled conversion fails and the worker goes on with the next recording of the pass; a stop
// cancels the conversion too, at once, and the recordings stay for a later start.
TEST_F(AutoConverterTest, CancelGoesOnWithTheNextRecordingAndStopEndsTheConversionAtOnce)
{
    settings_.DeleteSourceFile = 1;
    ScopedDecrypterFault slow(Slow());
    ASSERT_TRUE(CopyRecording(input_ + "A.dvr-ms"));
    ASSERT_TRUE(CopyRecording(input_ + "B.dvr-ms"));
    Start();
    ASSERT_TRUE(WaitUntil([this] { return engine_->Busy(); }, 10000));
    engine_->CancelConversion(); // what "Cancel Conversion!" does
    ASSERT_TRUE(WaitForText(" - Failed.\n", 1)) << output.Text();
    // The next entry of the same pass begins, and is stopped while its graph runs.
    ASSERT_TRUE(WaitUntil([&] {
        return FileExists(PartialOutputPath(output_ + "A.MPG")) || FileExists(PartialOutputPath(output_ + "B.MPG"));
    }, 20000));
    const DWORD start = ::GetTickCount();
    Stop();
    EXPECT_LT(::GetTickCount() - start, 10000u) << "the stop waited for the conversion";
    EXPECT_FALSE(engine_->Busy());
    EXPECT_EQ(output.Count(" - Done.\n"), 0u) << output.Text();
    for (const char* name : {"A", "B"}) {
        EXPECT_TRUE(FileExists(input_ + name + ".dvr-ms"));
        EXPECT_FALSE(FileExists(output_ + name + ".MPG"));
        EXPECT_FALSE(FileExists(output_ + name + ".MPG.partial"));
    }
}

TEST_F(AutoConverterTest, SingleFileConversionInProgressMakesTheWorkerSkipThePass)
{
    MakeAutoConverter(1000);
    std::string single = MakeScratchDirectory("auto-single");
    ScopedDecrypterFault slow("pace=1"); // about 3 seconds each
    ASSERT_TRUE(CopyRecording(single + "Single.dvr-ms"));
    ASSERT_TRUE(engine_->StartSingleConversion(
        ConversionRequest{single + "Single.dvr-ms", output_ + "Single.MPG", kInternalGraphName, nullptr, output_}));
    ASSERT_TRUE(WaitUntil([this] { return engine_->Busy(); }, 10000));

    ASSERT_TRUE(CopyRecording(input_ + "Show.dvr-ms"));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 10000));
    EXPECT_TRUE(engine_->Busy()) << "the single-file conversion outlasted the pass";
    EXPECT_FALSE(FileExists(output_ + "Show.MPG")) << "skipped while the single-file conversion runs";
    EXPECT_EQ(output.Count(" - Failed.\n"), 0u) << "skipped, not attempted";

    ASSERT_TRUE(WaitForText(" - Done.\n", 1)) << output.Text();
    EXPECT_TRUE(FileExists(output_ + "Single.MPG"));
    EXPECT_TRUE(FileExists(output_ + "Show.MPG"));
}

// A missing input directory is scanned once per wait, not without pause, and watched once it appears.
TEST_F(AutoConverterTest, MissingInputDirectoryIsWatchedOnceItAppears)
{
    MakeAutoConverter(1000);
    std::string later = input_ + "later\\";
    settings_.InputPath = later;
    const DWORD start = ::GetTickCount();
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 3; }, 20000));
    EXPECT_GE(::GetTickCount() - start, 1800u) << "the worker waits between passes";

    ASSERT_TRUE(::CreateDirectoryA(later.c_str(), nullptr));
    ASSERT_TRUE(CopyRecording(later + "Show.dvr-ms"));
    ASSERT_TRUE(WaitForText(" - Done.\n", 1)) << output.Text();
    EXPECT_TRUE(FileExists(output_ + "Show.MPG"));
}
