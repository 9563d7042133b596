#include "convert/ConversionEngine.h"
#include "convert/InternalGraph.h"
#include "convert/OutputName.h"
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

const char kBuilt[] = "\nGraph filters added & pins connected! Converting...";

// What the runs reported, one text per call, from whichever thread made it; outcomes carry a report.
class RecordingObserver : public IConversionObserver {
public:
    void OnConversionStarted() override { Add("started"); }
    void OnGraphBuilt(const std::string& report) override { Add("built: " + report); }
    void OnProgressRange(LONG seconds) override { Add("range " + std::to_string(seconds)); }
    void OnProgressPosition(LONG seconds) override { Add("at " + std::to_string(seconds)); }
    void OnConversionFinished(bool succeeded, const std::string& report, bool started) override
    {
        Add(std::string(succeeded ? "done" : "failed") + (started ? "" : " unstarted") + ": " + report);
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
        ASSERT_EQ(OpenInternalGraph((directory_ + kInternalGraphFileName).c_str(), graphFile, graphs_.InternalGraph),
                  InternalGraphOpen::Opened);
        graphs_.ProgramDirectory = directory_;
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

    ConversionRequest Request(const std::string& output, const std::string& graph = kInternalGraphName)
    {
        return ConversionRequest{input_, output, graph, directory_};
    }

    // Makes the input a recording of the MPEG-2 video vector by the test-side writer, as `set` says.
    ::testing::AssertionResult WriteInput(const std::function<void(test_recordings::RecordingOptions&)>& set)
    {
        test_recordings::RecordingOptions options;
        options.videoPath = VectorPath("es\\video.m2v");
        set(options);
        test_recordings::WrittenRecording written;
        std::string error;
        if (!test_recordings::WriteRecording(input_, options, written, error))
            return ::testing::AssertionFailure() << error;
        return ::testing::AssertionSuccess();
    }

    // Converts on a single-file conversion thread and waits for the run to end; true for a success.
    // The observer holds this run's reports alone.
    bool Convert(const ConversionRequest& request)
    {
        observer_.Clear();
        EXPECT_EQ(engine_->StartSingleConversion(request), SingleStart::Started);
        EXPECT_TRUE(WaitUntil([&] { return observer_.finished == 1 && !engine_->Busy(); }, 60000));
        return observer_.Outcomes().back().compare(0, 5, "done:") == 0;
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

// The 3-second recording takes about a minute.
const char kSlow[] = "pace=0.05";

} // namespace

// Progress in a longer run is the black-box test's; captioned recordings are the end-to-end test's.
TEST_F(ConvertFileTest, ASuccessfulRunReportsItsStepsAndProgressInWholeSeconds)
{
    EXPECT_TRUE(Convert(Request(output_)));
    // Done within the first wait: one position (the end), then back to 0.
    EXPECT_EQ(observer_.Events(), (Texts{"started", "built: " + report_ + kBuilt, "range 3", "at 3", "at 0",
                                         "done: " + report_ + kBuilt + "\nDone!"}));
    EXPECT_TRUE(IsProgramStream(output_));
}

// The bar follows what the source has delivered, not the graph's clock (wall time under Wine): in a
// run slower than the recording's own time it neither runs ahead of the data nor past its range,
// and it moves through the range on the way to its end.
TEST_F(ConvertFileTest, ProgressFollowsTheDataDeliveredNotTheClock)
{
    ConversionTimings timings;
    timings.ProgressStepMs = 250;
    MakeEngine(timings);
    ScopedDecrypterFault slow("pace=0.5"); // the 3-second recording in 6 seconds
    ASSERT_TRUE(Convert(Request(output_)));
    const Texts events = observer_.Events();
    ASSERT_EQ(events[2], "range 3");
    std::vector<long> positions;
    for (const std::string& event : events)
        if (event.compare(0, 3, "at ") == 0)
            positions.push_back(std::stol(event.substr(3)));
    ASSERT_GE(positions.size(), 4u);
    EXPECT_EQ(0, positions.back()) << "reset at the end";
    positions.pop_back();
    EXPECT_EQ(3, positions.back()) << "the whole recording at the end";
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << ::testing::PrintToString(positions);
    EXPECT_TRUE(std::count(positions.begin(), positions.end(), 1) && std::count(positions.begin(), positions.end(), 2))
        << ::testing::PrintToString(positions);
}

TEST_F(ConvertFileTest, FailedRunsReportWhatWentWrong)
{
    EXPECT_FALSE(Convert(Request(output_, "Missing Graph.xgr")));
    EXPECT_EQ(observer_.Events(), (Texts{"started", "failed: " + report_ + "Could not open \"Missing Graph.xgr\""}));

    EXPECT_FALSE(Convert(Request(directory_ + "SHOW.DVR-MS")));
    EXPECT_EQ(observer_.Outcomes(),
              Texts{"failed: " + report_ + "\nThe output file would replace the input file: nothing was converted."});
    EXPECT_EQ(ReadFileBytes(input_), ReadFileBytes(VectorPath("plain-mp2.asf")));

    // The writer has its output name before the source its input: a missing folder fails at the writer.
    ConversionRequest nowhere = Request(directory_ + "no folder\\Show.MPG");
    nowhere.outputDirectory = directory_ + "no folder";
    nowhere.inputPath = input_ + ".gone";
    EXPECT_FALSE(Convert(nowhere));
    EXPECT_EQ(observer_.Outcomes(), Texts{"failed: " + report_ + ".goneCould not open output file"});

    // The writer cannot open a file that someone holds unshared, so the graph never runs.
    UniqueFileHandle holder(::CreateFileA(PartialOutputPath(output_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(Convert(Request(output_)));
    EXPECT_EQ(observer_.Outcomes(), (Texts{"built: " + report_ + kBuilt, "failed: " + report_ + kBuilt}));
}

// The shipped graph converts every layout the recording source reads: one to four audio streams,
// with or without captions, into video and every audio stream.
TEST_F(ConvertFileTest, TheShippedGraphConvertsEveryStreamLayout)
{
    const std::string shipped = "Built-in DVR-MS to MPEG.xgr";
    ASSERT_TRUE(::CopyFileA((ModuleDirectory() + shipped).c_str(), (directory_ + shipped).c_str(), FALSE));
    for (unsigned audioStreams = 1; audioStreams <= 4; ++audioStreams) {
        for (bool captions : {false, true}) {
            SCOPED_TRACE(std::to_string(audioStreams) + (captions ? " audio streams and captions" : " audio streams"));
            ASSERT_TRUE(WriteInput([&](auto& o) {
                o.audioPath = VectorPath("es\\audio.mp2");
                o.audioStreams = audioStreams;
                o.captions = captions;
            }));
            EXPECT_EQ(engine_->ConvertFile(Request(output_, shipped)), ConversionResult::Converted);
            ToolOutput streams;
            ASSERT_TRUE(RunLinuxTool("/usr/bin/ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 '"
                                         + UnixPath(output_) + "' | /usr/bin/sort",
                                     streams));
            // DVD-sized: ffprobe lists the navigation packs as a data stream.
            std::string expected = "dvd_nav_packet\n";
            for (unsigned i = 0; i < audioStreams; ++i)
                expected += "mp2\n";
            EXPECT_EQ(expected + "mpeg2video\n", streams.out) << streams.err;
            ASSERT_TRUE(::DeleteFileA(output_.c_str()));
        }
    }
    // That the streams are the recording's, byte for byte, is the end-to-end test's.
}

// The result tells a recording at fault, which fails the same way until it changes, from a failure
// that may pass; the report names what the recording source found wrong with the recording.
TEST_F(ConvertFileTest, TheResultTellsARecordingAtFaultFromAFailureThatMayPass)
{
    enum Recording { Sound, NotARecording, Protected, H264Video };
    const struct {
        const char* name;
        Recording recording;
        const char* fault;
        const char* outputDirectory; // within the test's directory
        ConversionResult expected;
        const char* says = nullptr; // after "Could not open input file"
    } cases[] = {
        {"sound", Sound, "", "", ConversionResult::Converted},
        {"not a recording", NotARecording, "", "", ConversionResult::RecordingAtFault, "The input file is not a recording."},
        {"protected", Protected, "", "", ConversionResult::RecordingAtFault,
         "The recording is protected: it cannot be converted."},
        {"H.264 video (WTV)", H264Video, "", "", ConversionResult::RecordingAtFault,
         "The recording's video is H.264, which Halvern cannot put into an MPEG-2 program stream: it is kept as it is."},
        {"output directory missing", Sound, "", "gone\\", ConversionResult::Failed},
        {"stream error part-way", Sound, "abort=1", "", ConversionResult::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(CopyRecording(input_));
        if (c.recording == NotARecording)
            WriteFileBytes(input_, std::string(4096, 'x'));
        if (c.recording == Protected) {
            ASSERT_TRUE(WriteInput([](auto& o) { o.protection = test_recordings::Protection::EncryptionObject; }));
        }
        if (c.recording == H264Video) {
            ASSERT_TRUE(::CopyFileA(VectorPath("wtv\\h264-ac3.wtv").c_str(), input_.c_str(), FALSE));
        }
        ScopedDecrypterFault fault(c.fault);
        ConversionRequest request = Request(directory_ + c.outputDirectory + "Out.MPG");
        request.outputDirectory = directory_ + c.outputDirectory;
        observer_.Clear();
        EXPECT_EQ(engine_->ConvertFile(request), c.expected);
        if (c.says) {
            EXPECT_EQ(observer_.Outcomes(), Texts{"failed: " + report_ + "Could not open input file\n" + c.says});
        }
    }
}

// The output appears only whole and only inside the output directory: an earlier one survives every
// failure, and nothing of a failed run stays behind under either name.
TEST_F(ConvertFileTest, OnlyAVerifiedSuccessPublishesTheOutput)
{
    const struct {
        const char* fault;
        bool succeeds;
        const char* ending;
    } cases[] = {
        {"", true, "\nDone!"},
        {"abort=1", false, ""}, // the graph reports an error part-way
        // Part-way, the graph takes no more without a word of error, and completes.
        {"refuse=1", false, "\nThe recording was not read to its end."},
        {"drop", false, "\nNothing was written to the output file."},
    };
    const std::string partial = PartialOutputPath(output_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        WriteFileBytes(output_, "an earlier output");
        WriteFileBytes(partial, "left by a killed run");
        ScopedDecrypterFault fault(c.fault);
        EXPECT_EQ(Convert(Request(output_)), c.succeeds);
        if (c.succeeds)
            EXPECT_TRUE(IsProgramStream(output_));
        else
            EXPECT_TRUE(ReadFileBytes(output_) == "an earlier output") << "the earlier output was replaced";
        EXPECT_FALSE(FileExists(partial));
        EXPECT_EQ(observer_.Outcomes().back(), (c.succeeds ? "done: " : "failed: ") + report_ + kBuilt + c.ending);
    }

    const std::string elsewhere = MakeScratchDirectory("convert-run-elsewhere");
    ::DeleteFileA((directory_ + "..\\escaped").c_str()); // shared by every run of this program
    for (const std::string& output : {directory_ + "Show.MPG\\..\\..\\escaped", directory_ + "Show.MPG:stream",
                                      directory_ + "Show.M*G", directory_ + "Show.MPG/x", elsewhere + "Show.MPG"}) {
        SCOPED_TRACE(output);
        EXPECT_FALSE(Convert(Request(output)));
        EXPECT_EQ(observer_.Outcomes(),
                  Texts{"failed: " + report_ + "\nThe output file would not lie in the output directory: nothing was converted."});
    }
    EXPECT_FALSE(FileExists(directory_ + "..\\escaped"));
    EXPECT_FALSE(FileExists(elsewhere + "Show.MPG"));
}

// Cancelled, stuck or finished at exit, a run ends at once and leaves nothing behind. The exit waits
// for it as long as a stalled run is given, and tells when a run stuck in a filter outlasts that.
TEST_F(ConvertFileTest, ACancelAStallOrTheExitEndsTheRunPromptly)
{
    bool finished = false;
    const struct {
        const char* name;
        const char* fault;
        std::function<void()> end; // null: the stall ends it
        const char* ending;
    } cases[] = {
        {"cancel", kSlow, [this] { engine_->CancelConversion(); }, ""},
        {"stall", "never-end", nullptr, "\nThe conversion stopped making progress and was cancelled."},
        {"exit", kSlow, [&] { finished = engine_->FinishSingleConversion() && observer_.finished == 1; }, ""},
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
        ASSERT_TRUE(WaitUntil([&] { return observer_.Events().size() >= 3 && FileExists(PartialOutputPath(output_)); }, 30000));
        if (c.end)
            c.end();
        EXPECT_TRUE(finished) << "the exit did not wait for the run, or did not tell that it is stuck";
        ASSERT_TRUE(WaitUntil([this] { return observer_.finished == 1; }, c.end ? 30000 : 50000));
        EXPECT_EQ(observer_.Outcomes().back(), "failed: " + report_ + kBuilt + c.ending);
        EXPECT_EQ(observer_.Events().end()[-2], "at 0");
        EXPECT_FALSE(FileExists(output_));
        EXPECT_FALSE(FileExists(PartialOutputPath(output_)));
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
    next.inputPath = nextInput;
    ASSERT_EQ(engine_->StartSingleConversion(next), SingleStart::Started);
    ASSERT_TRUE(WaitUntil([this] { return observer_.finished == 2; }, 60000));
    EXPECT_TRUE(IsProgramStream(directory_ + "Next.MPG"));
    const std::string nextReport = "Converting : " + nextInput + kBuilt;
    EXPECT_EQ(observer_.Outcomes(), (Texts{"built: " + report_ + kBuilt, "failed: " + report_ + kBuilt,
                                           "built: " + nextReport, "done: " + nextReport + "\nDone!"}));
}
