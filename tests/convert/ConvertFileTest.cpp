#include "convert/ConversionEngine.h"
#include "convert/InternalGraph.h"
#include "convert/OutputName.h"
#include "convert/ConversionRequest.h"
#include "settings/ConverterSettings.h"
#include "tests/media/RecordingWriter.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace testing_support;
using Texts = std::vector<std::string>;

namespace {

const char BuiltText[] = "\nGraph filters added & pins connected! Converting...";

// What the runs reported, one text per call, from whichever thread made it; outcomes carry a report.
class RecordingObserver : public IConversionObserver {
public:
    void OnConversionStarted(LONG) override { Add("started"); }
    void OnGraphBuilt(const std::wstring& report) override { Add("built: " + Utf8(report)); }
    void OnProgressRange(LONG seconds) override { Add("range " + std::to_string(seconds)); }
    void OnProgressPosition(LONG seconds) override { Add("at " + std::to_string(seconds)); }
    void OnConversionFinished(bool succeeded, const std::wstring& report, bool started) override
    {
        Add(std::string(succeeded ? "done" : "failed") + (started ? "" : " unstarted") + ": " + Utf8(report));
        ++finished;
    }

    Texts Events(bool outcomesOnly = false)
    {
        CriticalSectionLock lock(lock_);
        Texts events;
        std::copy_if(events_.begin(), events_.end(), std::back_inserter(events),
                     [&](const std::string& event) { return !outcomesOnly || event.find(':') != std::string::npos; });
        return events;
    }
    Texts Outcomes() { return Events(true); }
    void Clear()
    {
        CriticalSectionLock lock(lock_);
        events_.clear();
        finished = 0;
    }

    std::atomic<size_t> finished{0};

private:
    void Add(const std::string& event)
    {
        CriticalSectionLock lock(lock_);
        events_.push_back(event);
    }

    CriticalSection lock_;
    Texts events_;
};

class ConvertFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegisterStandInsInProcess(), S_OK);
        directory_ = MakeScratchDirectory("convert-run");
        CStdioFile graphFile;
        ASSERT_EQ(OpenInternalGraph((Wide(directory_) + InternalGraphFileName).c_str(), graphFile, graphs_.InternalGraph),
                  InternalGraphOpen::Opened);
        graphs_.ProgramDirectory = Wide(ModuleDirectory());
        input_ = directory_ + "Show.dvr-ms";
        output_ = directory_ + "Show.MPG";
        report_ = "Converting : " + input_;
        ASSERT_TRUE(CopyRecording(input_));
        MakeEngine(ConversionTimings());
    }

    void TearDown() override
    {
        engine_.reset();
        RevokeStandIns();
    }

    void MakeEngine(const ConversionTimings& timings)
    {
        engine_.reset();
        engine_ = std::make_unique<CConversionEngine>(graphs_, observer_, timings);
        observer_.Clear();
    }

    // Paths in UTF-8, as the test holds them.
    ConversionRequest Request(const std::string& output, const std::string& graph = Utf8(InternalGraphName))
    {
        return ConversionRequest{Wide(input_), Wide(output), Wide(graph), Wide(directory_)};
    }

    // Makes the input a recording of the MPEG-2 video vector by the test-side writer, as `set` says.
    void WriteInput(const std::function<void(test_recordings::RecordingOptions&)>& set)
    {
        test_recordings::RecordingOptions options;
        options.videoPath = VectorPath("es\\video.m2v");
        set(options);
        test_recordings::WrittenRecording written;
        std::string error;
        ASSERT_TRUE(test_recordings::WriteRecording(input_, options, written, error)) << error;
    }

    ScopedComInit com_;
    GraphSource graphs_;
    RecordingObserver observer_;
    std::unique_ptr<CConversionEngine> engine_;
    std::string directory_;
    std::string input_;
    std::string output_;
    std::string report_;
};

const char ShippedGraph[] = "Built-in DVR-MS to MPEG.xgr"; // beside the test programs

// The 3-second recording takes about a minute.
const char Slow[] = "pace=0.05";

} // namespace

// The most streams the recording source reads: four audio streams and captions.
TEST_F(ConvertFileTest, TheShippedGraphConvertsEveryAudioStream)
{
    WriteInput([](auto& o) {
        o.audioPath = VectorPath("es\\audio.mp2");
        o.audioStreams = 4;
        o.captions = true;
    });
    EXPECT_EQ(engine_->ConvertFile(Request(output_, ShippedGraph)), ConversionResult::Converted);
    ToolOutput streams;
    ASSERT_TRUE(RunLinuxTool("/usr/bin/ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 '"
                                 + UnixPath(output_) + "' | /usr/bin/sort",
                             streams));
    // DVD-sized: ffprobe lists the navigation packs as a data stream.
    EXPECT_EQ("dvd_nav_packet\nmp2\nmp2\nmp2\nmp2\nmpeg2video\n", streams.out) << streams.err;
}

// How each run ends: its result tells a recording at fault, which fails the same way until it
// changes, from a failure that may pass (of the output's place, or of the graph). Each is reported,
// only a success replaces the output, none leaves a partial output or touches the recording.
TEST_F(ConvertFileTest, EachEndingHasItsResultAndReplacesOnlyOnSuccess)
{
    using Result = ConversionResult;
    enum Setup { Sound, NotARecording, Protected, H264Video };
    const std::string unreadable = "Could not open input file\n";
    const std::string built = BuiltText;
    const struct Case {
        const char* name;
        Setup setup;
        const char* fault;
        Result result;
        std::string ending; // of the report
        std::string graph = Utf8(InternalGraphName);
        std::string outputDirectory = ""; // within the test's directory
    } cases[] = {
        {"sound", Sound, "", Result::Converted, built + "\nDone!"},
        {"not a recording", NotARecording, "", Result::RecordingAtFault,
         unreadable + "The input file is not a recording."},
        {"protected", Protected, "", Result::RecordingAtFault,
         unreadable + "The recording is protected: it cannot be converted."},
        // The program stream multiplexer refuses to run with it, naming the graph that converts it.
        {"H.264 video (WTV)", H264Video, "", Result::RecordingAtFault,
         built + "\nThe recording's video is H.264, which an MPEG-2 program stream cannot carry: convert it with the "
                 "graph description \"Built-in recording to MPEG-TS.xgr\". The recording is kept as it is.",
         ShippedGraph},
        {"graph missing", Sound, "", Result::Failed, "Could not open \"Missing Graph.xgr\"", "Missing Graph.xgr"},
        {"output directory missing", Sound, "", Result::OutputFailed, "Could not open output file", Utf8(InternalGraphName),
         "gone\\"},
        {"stream error part-way", Sound, "abort=1", Result::Failed, BuiltText},
        // Part-way, the graph takes no more without a word of error, and completes.
        {"refused part-way", Sound, "refuse=1", Result::Failed, built + "\nThe recording was not read to its end."},
        {"nothing written", Sound, "drop", Result::Failed, built + "\nNothing was written to the output file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(CopyRecording(input_));
        if (c.setup == NotARecording)
            WriteFileBytes(input_, std::string(4096, 'x'));
        if (c.setup == Protected)
            WriteInput([](auto& o) { o.protection = test_recordings::Protection::EncryptionObject; });
        if (c.setup == H264Video) {
            ASSERT_TRUE(::CopyFileA(VectorPath("wtv\\h264-ac3.wtv").c_str(), input_.c_str(), FALSE));
        }
        const std::string recording = ReadFileBytes(input_);
        WriteFileBytes(output_, "an earlier output");
        WriteFileBytes(PartialOutputPath(Wide(output_)), "left by a killed run");
        ConversionRequest request = Request(directory_ + c.outputDirectory + "Show.MPG", c.graph);
        request.outputDirectory = Wide(directory_ + c.outputDirectory);
        ScopedDecrypterFault fault(c.fault);
        observer_.Clear();
        EXPECT_EQ(engine_->ConvertFile(request), c.result);
        Texts reported;
        if (c.ending.compare(0, built.size(), built) == 0)
            reported.push_back("built: " + report_ + BuiltText);
        reported.push_back((c.result == Result::Converted ? "done: " : "failed: ") + report_ + c.ending);
        EXPECT_EQ(observer_.Outcomes(), reported);
        EXPECT_EQ(observer_.Events().front(), "started");
        if (c.result == Result::Converted)
            EXPECT_TRUE(IsProgramStream(output_));
        else
            EXPECT_EQ(ReadFileBytes(output_), "an earlier output") << "the earlier output was replaced";
        EXPECT_FALSE(FileExists(PartialOutputPath(request.outputPath)));
        EXPECT_EQ(ReadFileBytes(input_), recording) << "the recording was touched";
    }
}

// The recording under another name, or a path not directly in the output directory: refused before anything is built.
TEST_F(ConvertFileTest, AnOutputOutOfPlaceIsRefused)
{
    const std::string outside = "\nThe output file would not lie in the output directory: nothing was converted.";
    const std::string elsewhere = MakeScratchDirectory("convert-run-elsewhere");
    ::DeleteFileA((directory_ + "..\\escaped").c_str()); // shared by every run of this program
    const std::pair<std::string, std::string> cases[] = {
        {directory_ + "SHOW.DVR-MS", "\nThe output file would replace the input file: nothing was converted."},
        {directory_ + "Show.MPG\\..\\..\\escaped", outside}, {directory_ + "Show.MPG:stream", outside},
        {elsewhere + "Show.MPG", outside},
    };
    for (const auto& [output, says] : cases) {
        SCOPED_TRACE(output);
        observer_.Clear();
        EXPECT_EQ(engine_->ConvertFile(Request(output)), ConversionResult::OutputFailed);
        EXPECT_EQ(observer_.Outcomes(), Texts{"failed: " + report_ + says});
    }
    EXPECT_EQ(ReadFileBytes(input_), ReadFileBytes(VectorPath("plain-mp2.asf")));
    EXPECT_FALSE(FileExists(directory_ + "..\\escaped"));
    EXPECT_FALSE(FileExists(elsewhere + "Show.MPG"));
}

// Leaving nothing behind. The exit waits for a run as long as a stalled run is given, and tells when
// a run stuck in a filter outlasts that.
TEST_F(ConvertFileTest, EveryWayOfStoppingEndsTheRunPromptly)
{
    bool finished = false;
    const struct {
        const char* name;
        const char* fault;
        std::function<void()> end; // null: the stall ends it
        const char* ending;
    } cases[] = {
        {"cancel", Slow, [this] { engine_->CancelConversion(); }, ""},
        {"stall", "never-end", nullptr, "\nThe conversion stopped making progress and was cancelled."},
        {"exit", Slow, [&] { finished = engine_->FinishSingleConversion() && observer_.finished == 1; }, ""},
        {"exit, stuck in a filter's stop", "hang-stop=4", [&] { finished = !engine_->FinishSingleConversion(); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A cancel must not wait for the progress step (a minute here); a stall is seen at one.
        ConversionTimings timings;
        timings.StallMs = 1500;
        timings.ProgressStepMs = c.end ? 60000 : 200;
        MakeEngine(timings);
        finished = std::string(c.name).compare(0, 4, "exit") != 0;
        ScopedDecrypterFault fault(c.fault); // a stalled graph writes all at once, then never completes
        ASSERT_EQ(engine_->StartSingleConversion(Request(output_)), SingleStart::Started);
        ASSERT_TRUE(WaitUntil([&] { return observer_.Events().size() >= 3 && FileExists(PartialOutputPath(Wide(output_))); }, 30000));
        if (c.end)
            c.end();
        EXPECT_TRUE(finished) << "the exit did not wait for the run, or did not tell that it is stuck";
        ASSERT_TRUE(WaitUntil([this] { return observer_.finished == 1; }, c.end ? 30000 : 50000));
        EXPECT_EQ(observer_.Outcomes().back(), "failed: " + report_ + BuiltText + c.ending);
        EXPECT_EQ(observer_.Events().end()[-2], "at 0");
        EXPECT_FALSE(FileExists(output_));
        EXPECT_FALSE(FileExists(PartialOutputPath(Wide(output_))));
    }
}

// A run that claimed the engine after a cancel is not cancelled by the earlier run's end, nor does
// it start before that run has finished; and while a run is in progress nothing else starts.
TEST_F(ConvertFileTest, OneRunAtATime)
{
    // The next run needs a second wait, which a lost claim would end as a cancel.
    ConversionTimings timings;
    timings.ProgressStepMs = 500;
    MakeEngine(timings);
    ScopedDecrypterFault slow("pace=0.4");
    const std::string nextInput = directory_ + "Next.dvr-ms";
    ASSERT_TRUE(CopyRecording(nextInput));

    ASSERT_EQ(engine_->StartSingleConversion(Request(output_)), SingleStart::Started);
    ASSERT_TRUE(WaitUntil([this] { return observer_.Outcomes().size() >= 1; }, 30000));
    EXPECT_EQ(engine_->ConvertFile(Request(output_)), ConversionResult::Busy) << "another run is in progress";
    EXPECT_EQ(engine_->StartSingleConversion(Request(output_)), SingleStart::Busy);
    engine_->CancelConversion();
    ConversionRequest next = Request(directory_ + "Next.MPG");
    next.inputPath = Wide(nextInput);
    ASSERT_EQ(engine_->StartSingleConversion(next), SingleStart::Started);
    ASSERT_TRUE(WaitUntil([this] { return observer_.finished == 2; }, 60000));
    EXPECT_TRUE(IsProgramStream(directory_ + "Next.MPG"));
    const std::string nextReport = "Converting : " + nextInput + BuiltText;
    EXPECT_EQ(observer_.Outcomes(), (Texts{"built: " + report_ + BuiltText, "failed: " + report_ + BuiltText,
                                           "built: " + nextReport, "done: " + nextReport + "\nDone!"}));
}

// A recording, its directory and the graph description; the report names the recording as it is.
TEST_F(ConvertFileTest, NamesInAnyScriptConvert)
{
    const std::string shipped = ReadFileBytes(ModuleDirectory() + ShippedGraph);
    ASSERT_FALSE(shipped.empty());
    const struct {
        const wchar_t* directory;
        const wchar_t* recording;
        const wchar_t* graph;
    } cases[] = {
        {L"Записи", L"Новости дня", L"Встроенный граф.xgr"},
        {L"録画", L"日本のニュース", L"組み込みグラフ.xgr"},
        {L"\U0001F4FA", L"TV \U0001F4FA", L"\U0001F4FA graph.xgr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.recording));
        const std::wstring directory = Wide(directory_) + c.directory + L"\\";
        ASSERT_TRUE(::CreateDirectoryW(directory.c_str(), nullptr));
        const std::wstring recording = directory + c.recording + L".dvr-ms";
        ASSERT_TRUE(CopyRecording(recording));
        WriteFileBytes(directory + c.graph, shipped);
        graphs_.ProgramDirectory = directory;
        CConverterSettings settings;
        settings.OutputPath = directory;
        settings.OutputExt = L"MPG";
        settings.UseFilterGraph = c.graph;
        const ConversionRequest request = MakeConversionRequest(settings, recording);
        EXPECT_EQ(request.outputPath, directory + c.recording + L".MPG");
        observer_.Clear();
        EXPECT_EQ(engine_->ConvertFile(request), ConversionResult::Converted);
        EXPECT_TRUE(IsProgramStream(request.outputPath));
        const std::string report = "Converting : " + Utf8(recording) + BuiltText;
        EXPECT_EQ(observer_.Outcomes(), (Texts{"built: " + report, "done: " + report + "\nDone!"}));
    }
}

// The directory has a blank in it, so the paths must be quoted.
class CommandAfterConversion : public ConvertFileTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ConvertFileTest::SetUp());
        args_ = directory_ + "args.txt";
        hook_ = "cmd /c " + directory_ + "hook.cmd %OUTPUT% %RECORDING%";
        WriteFileBytes(directory_ + "hook.cmd", "@echo %1 %2> \"" + args_ + "\"\r\n@if exist %1 if exist %2 echo both there>> \""
                                                    + args_ + "\"\r\n@exit /b 3\r\n");
        MakeEngine(ConversionTimings{100, 1500});
    }

    // Converts the recording, sound or not, with the command; gives the last report.
    std::string Convert(const std::string& command, bool sound)
    {
        ::DeleteFileA(args_.c_str());
        ::DeleteFileA(mpg_.c_str());
        if (sound)
            EXPECT_TRUE(CopyRecording(recording_));
        else
            WriteFileBytes(recording_, std::string(4096, 'x'));
        observer_.Clear();
        const DWORD start = ::GetTickCount();
        const ConversionResult result = engine_->ConvertFile(
            ConversionRequest{Wide(recording_), Wide(mpg_), InternalGraphName, Wide(blank_), L"", Wide(command)});
        EXPECT_LT(::GetTickCount() - start, 20000u);
        EXPECT_EQ(result, sound ? ConversionResult::Converted : ConversionResult::RecordingAtFault);
        const Texts outcomes = observer_.Outcomes();
        return outcomes.empty() ? "" : outcomes.back();
    }

    const std::string blank_ = MakeScratchDirectory("after conversion");
    const std::string recording_ = blank_ + "My Show.dvr-ms", mpg_ = blank_ + "My Show.MPG";
    std::string args_, hook_;
};

TEST_F(CommandAfterConversion, GetsBothPathsQuotedAndOnlyAfterASuccess)
{
    Convert(hook_, true);
    EXPECT_EQ(ReadFileBytes(args_), "\"" + mpg_ + "\" \"" + recording_ + "\"\r\nboth there\r\n");
    const std::string report = Convert(hook_, false);
    EXPECT_EQ(report.find("The command after conversion"), std::string::npos) << report;
    EXPECT_FALSE(FileExists(args_));
}

// An exit code, no start, or no end within the stall bound (left running): the run stays converted.
TEST_F(CommandAfterConversion, ItsEndEndsTheReport)
{
    const std::wstring pipeName = L"\\\\.\\pipe\\halvern-after-conversion-test";
    // Never written: a `type` of it waits, without using the processor, until it is closed. The
    // test's own end does not wait on it (PIPE_NOWAIT): whether a client holds it is asked once.
    const UniqueHandle pipe(
        ::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0, 0, 0, nullptr));
    ASSERT_NE(pipe.Get(), INVALID_HANDLE_VALUE);
    const std::pair<std::string, std::string> cases[] = {
        {hook_, "\nThe command after conversion ended with exit code 3."},
        {directory_ + "missing.exe %OUTPUT%", "\nThe command after conversion could not be started (error 2)."},
        {"cmd /c type " + Utf8(pipeName),
         "\nThe command after conversion did not end within 1 s: it is left running, and Halvern goes on."},
    };
    for (const auto& [command, lastLine] : cases) {
        SCOPED_TRACE(command);
        const std::string report = Convert(command, true);
        ASSERT_GE(report.size(), lastLine.size());
        EXPECT_EQ(report.substr(report.size() - lastLine.size()), lastLine) << report;
        EXPECT_NE(report.find("\nDone!\n"), std::string::npos) << report;
    }
    // The hanging command was left running: it holds the pipe's one instance until the pipe goes.
    EXPECT_FALSE(::ConnectNamedPipe(pipe.Get(), nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
}
