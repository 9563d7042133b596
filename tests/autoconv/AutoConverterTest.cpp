// The Auto Converter against the real file system, converting real recordings in this process with
// the built-in filters standing in for the internal graph's outside filters.

#include "autoconv/AutoConverter.h"
#include "convert/InternalGraph.h"
#include "convert/OutputName.h"
#include "convert/OutputRecord.h"
#include "convert/PathText.h"
#include "convert/SettingsCheck.h"
#include "tests/convert/ReportObserver.h"
#include "tests/standins/Recordings.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>

using namespace testing_support;

namespace {

class AutoConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        input_ = Wide(MakeScratchDirectory("auto-in"));
        output_ = Wide(MakeScratchDirectory("auto-out"));
        settings_.InputPath = input_;
        settings_.OutputPath = output_;
        settings_.InputExt = L"dvr-ms";
        settings_.OutputExt = L"MPG";
        settings_.UseFilterGraph = InternalGraphName;
        engine_ = std::make_unique<CConversionEngine>(graphs_, observer_);
        MakeAutoConverter(60000);
        ASSERT_HRESULT_SUCCEEDED(RegisterStandInsInProcess());
        CStdioFile graphFile;
        const std::wstring graph = Wide(MakeScratchDirectory("auto-graph")) + InternalGraphFileName;
        ASSERT_EQ(OpenInternalGraph(graph.c_str(), graphFile, graphs_.InternalGraph), InternalGraphOpen::Opened);
    }

    void TearDown() override
    {
        engine_->CancelConversion(); // a failed test must not leave a long conversion running
        autoConverter_.reset();
        engine_.reset();
        RevokeStandIns();
    }

    void MakeAutoConverter(DWORD scanWaitMs, DWORD changeSettleMs = 30000)
    {
        CAutoConverter::Options options;
        options.ChangeSettleMs = changeSettleMs;
        options.Output = [this](const wchar_t* text) {
            std::lock_guard<std::mutex> lock(textLock_);
            text_ += text;
        };
        options.ScanWaitMs = scanWaitMs;
        options.PassDone = [this] { ++passes; };
        autoConverter_ = std::make_unique<CAutoConverter>(*engine_, options);
    }

    void Start() { autoConverter_->StartAutoConvert(settings_); }
    void Stop() { autoConverter_->StopAutoConvert(); }

    // The worker's text so far (UTF-8), and how often it holds `piece`.
    std::string Text()
    {
        std::lock_guard<std::mutex> lock(textLock_);
        return Utf8(text_);
    }
    void ClearText()
    {
        std::lock_guard<std::mutex> lock(textLock_);
        text_.clear();
    }
    size_t Count(const std::wstring& piece) { return CountOf(Text(), Utf8(piece)); }
    bool WaitForText(const std::wstring& piece, size_t count) { return WaitUntil([&] { return Count(piece) >= count; }, 20000); }
    bool WaitForMorePasses(int more) { return WaitUntil([&, seen = passes.load()] { return passes >= seen + more; }, 20000); }
    // A new engine with these timings, and a worker of its own that looks every 300 ms.
    void RemakeEngine(const ConversionTimings& timings)
    {
        autoConverter_.reset();
        engine_ = std::make_unique<CConversionEngine>(graphs_, observer_, timings);
        MakeAutoConverter(300);
    }

    ScopedComInit com_;
    GraphSource graphs_;
    ReportObserver observer_;
    std::unique_ptr<CConversionEngine> engine_;
    std::unique_ptr<CAutoConverter> autoConverter_;
    CConverterSettings settings_;
    std::wstring input_;
    std::wstring output_;
    std::mutex textLock_;
    std::wstring text_;
    std::atomic<int> passes{0};
};

// Appends as a writer on another computer would: the file shared with whoever reads it.
void AppendFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.IsValid() && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

} // namespace

TEST_F(AutoConverterTest, TheFirstPassConvertsWhatHasNoOutputAndReportsEach)
{
    settings_.OutputPath = output_.substr(0, output_.size() - 1); // no trailing backslash
    settings_.InputExt = L"DVR-MS";
    for (const wchar_t* name : {L"News.2005.03.28.dvr-ms", L"LOUD.DVR-MS", L"Done.dvr-ms", L"Broken.dvr-ms", L"Other.txt",
                                L"Kept.dvr-ms"})
        ASSERT_TRUE(CopyRecording(input_ + name));
    // Read-only, as a user may keep a recording: finished all the same.
    ASSERT_TRUE(::SetFileAttributesW((input_ + L"Kept.dvr-ms").c_str(), FILE_ATTRIBUTE_READONLY));
    WriteFileBytes(output_ + L"done.mpg", ""); // any size, any case: already converted
    WriteFileBytes(output_ + L"Broken.MPG", "made by someone");
    WriteFileBytes(output_ + L"LOUD.MPG.partial", "left by a killed run"); // not an output

    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 30000)) << Text();
    ::SetFileAttributesW((input_ + L"Kept.dvr-ms").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Count(L" - Done.\n"), 3u) << Text();
    EXPECT_TRUE(IsProgramStream(output_ + L"Kept.MPG"));
    EXPECT_TRUE(FileExists(output_ + L"News.2005.03.28.MPG"));
    EXPECT_TRUE(IsProgramStream(output_ + L"LOUD.MPG"));
    EXPECT_EQ(ReadFileBytes(output_ + L"done.mpg"), "");
    EXPECT_EQ(ReadFileBytes(output_ + L"Broken.MPG"), "made by someone");
    EXPECT_FALSE(FileExists(output_ + L"Other.MPG"));
    EXPECT_FALSE(FileExists(output_ + L"LOUD.MPG.partial"));
}

// Other failures may pass, so their recordings convert once the cause has gone; only a converted one is deleted.
TEST_F(AutoConverterTest, ARecordingAtFaultWaitsForAChangeWhileOtherFailuresAreTriedAgain)
{
    MakeAutoConverter(300);
    settings_.DeleteSourceFile = 1;
    const std::wstring recording = input_ + L"Show.dvr-ms";
    const std::wstring later = output_ + L"later\\";
    const struct {
        const char* name;
        std::function<void()> inject, mend;
        bool remembered;
    } cases[] = {
        // Which failures may pass is the conversion engine's to tell; the run test checks its table.
        {"output directory missing (a share not yet up)", [&] { settings_.OutputPath = later; },
         [&] { ASSERT_TRUE(::CreateDirectoryW(later.c_str(), nullptr)); }, false},
        {"not a recording", [&] { WriteFileBytes(recording, "not a recording"); },
         [&] { ASSERT_TRUE(CopyRecording(recording)); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings_.OutputPath = output_;
        ::DeleteFileW((output_ + L"Show.MPG").c_str());
        ASSERT_TRUE(CopyRecording(recording));
        c.inject();
        Start();
        ASSERT_TRUE(WaitForText(L" - Failed.\n", 1)) << Text();
        EXPECT_TRUE(FileExists(recording));
        ASSERT_TRUE(WaitForMorePasses(3));
        if (c.remembered) {
            EXPECT_EQ(Count(L" - Failed.\n"), 1u) << "not again while unchanged";
        } else {
            EXPECT_GE(Count(L" - Failed.\n"), 2u) << "tried again in the next pass";
        }
        c.mend();
        ASSERT_TRUE(WaitForText(L" - Done.\n", 1)) << Text();
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(recording); }, 10000)) << "converted, then deleted";
        Stop();
        EXPECT_EQ(Count(L" - Done.\n"), 1u);
        ClearText();
    }
}

// A stop, waited for (exit) or not (the Stop button, "Apply Settings"), lets the conversion in progress
// be published and handled, then ends the worker before the next.
TEST_F(AutoConverterTest, ACancelGoesOnWithTheNextRecordingAndAStopLetsThatOneFinish)
{
    settings_.DeleteSourceFile = 1;
    ScopedDecrypterFault slow("pace=1"); // about 3 seconds each
    for (const wchar_t* name : {L"A.dvr-ms", L"B.dvr-ms", L"C.dvr-ms"})
        ASSERT_TRUE(CopyRecording(input_ + name));
    Start();
    ASSERT_TRUE(WaitUntil([this] { return engine_->Busy(); }, 10000));
    engine_->CancelConversion(); // what "Cancel Conversion!" does
    ASSERT_TRUE(WaitForText(L" - Failed.\n", 1)) << Text();
    ASSERT_TRUE(WaitUntil([this] { return engine_->Busy(); }, 10000)) << "the next recording of the same pass begins";

    autoConverter_->RequestStop();
    EXPECT_FALSE(autoConverter_->FinishStop()) << "the worker ended with its conversion";
    EXPECT_TRUE(autoConverter_->AutoConvertRunning());
    EXPECT_FALSE(autoConverter_->RunsUnstopped());
    ASSERT_TRUE(WaitUntil([this] { return autoConverter_->FinishStop(); }, 30000));
    EXPECT_FALSE(autoConverter_->AutoConvertRunning());
    EXPECT_EQ(Count(L" - Done.\n"), 1u) << Text();
    EXPECT_EQ(Count(L" - Failed.\n"), 1u) << Text();
    size_t converted = 0;
    for (const std::wstring name : {L"A", L"B", L"C"}) {
        SCOPED_TRACE(Utf8(name));
        const bool output = FileExists(output_ + name + L".MPG");
        converted += output;
        EXPECT_NE(FileExists(input_ + name + L".dvr-ms"), output) << "only the converted one goes";
        EXPECT_FALSE(FileExists(PartialOutputPath(output_ + name + L".MPG")));
    }
    EXPECT_EQ(converted, 1u) << "the third was begun, or the second cut short";
}

// Not those a run holds, of other names, or of recordings still there.
TEST_F(AutoConverterTest, APassRemovesUnfinishedOutputsWhoseRecordingHasGone)
{
    MakeAutoConverter(300);
    const struct {
        const wchar_t* name;
        bool stays;
    } partials[] = {
        {L"Gone.MPG.partial", false}, {L"gone too.mpg.PARTIAL", false}, {L"Held.MPG.partial", true},
        {L"Recorded.MPG.partial", true}, {L"Other.txt.partial", true}, {L"Gone.MPG", true},
    };
    for (const auto& partial : partials)
        WriteFileBytes(output_ + partial.name, "left by a killed run");
    UniqueFileHandle run(::CreateFileW((output_ + L"Held.MPG.partial").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    // Still being recorded: skipped, so its conversion does not replace the unfinished output.
    UniqueFileHandle recorder(::CreateFileW((input_ + L"Recorded.dvr-ms").c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, 0, nullptr));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 2; }, 20000));
    for (const auto& partial : partials)
        EXPECT_EQ(FileExists(output_ + partial.name), partial.stays) << Utf8(partial.name);
}

// An unusable input extension matches no file at all; an unusable name pattern falls back to the
// default, which the worker says. (An unusable output extension: the black-box settings test.)
TEST_F(AutoConverterTest, StoredSettingsThatCannotWorkAreReported)
{
    MakeAutoConverter(300);
    ASSERT_TRUE(CopyRecording(input_ + L"Show.dvr-ms"));
    settings_.InputExt = L"*";
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 2; }, 10000));
    EXPECT_EQ(Count(L"ERROR - The input extension is empty or not a plain extension: nothing is converted.\n"), 1u);
    EXPECT_EQ(Count(L" - Done.\n") + Count(L" - Failed.\n"), 0u) << Text();
    Stop();

    settings_.InputExt = L"dvr-ms";
    settings_.OutputName = L"{Title} {Episode}";
    ASSERT_TRUE(CopyRecording(input_ + L"Other.dvr-ms", {{"Title", L"News"}}));
    Start();
    ASSERT_TRUE(WaitForText(L" - Done.\n", 2)) << Text();
    EXPECT_EQ(Count(L"ERROR - The stored setting cannot work: The output name \"{Title} {Episode}\" names a field"), 1u)
        << Text();
    EXPECT_TRUE(IsProgramStream(output_ + L"Other.MPG")) << "named after the recording";
    EXPECT_FALSE(FileExists(output_ + OutputRecordName));
}

// A stop ends the worker at once from its wait, also one requested before the worker began to run.
TEST_F(AutoConverterTest, StartAndStopKeepOneWorkerAndStopReturnsPromptly)
{
    Start();
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 10000)); // into the 60-second wait
    EXPECT_EQ(Count(L"Place in direcotry"), 1u) << "one worker only";
    EXPECT_TRUE(autoConverter_->AutoConvertRunning());

    const DWORD start = ::GetTickCount();
    Stop();
    EXPECT_LT(::GetTickCount() - start, 10000u) << "the stop waited out the 60 seconds";
    EXPECT_FALSE(autoConverter_->AutoConvertRunning());

    ASSERT_TRUE(CopyRecording(input_ + L"Show.dvr-ms"));
    for (int i = 0; i < 5; ++i) {
        Start();
        Stop();
        EXPECT_FALSE(autoConverter_->AutoConvertRunning());
    }
    const size_t banners = Count(L"Place in direcotry");
    Start(); // a worker left running would make this start do nothing
    ASSERT_TRUE(WaitForText(L"Place in direcotry", banners + 1));
}

// Under the program's 60-second wait, the directory's change wakes the worker. A pass that finds a
// single-file conversion running leaves the recordings for the next wake-up, without a word of failure.
TEST_F(AutoConverterTest, ANewRecordingWakesTheWorkerWhichLeavesItWhileASingleFileRuns)
{
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 10000)); // into the 60-second wait
    ASSERT_TRUE(CopyRecording(input_ + L"First.dvr-ms"));
    EXPECT_TRUE(WaitForText(L" - Done.\n", 1)) << "the new recording waited for the 60 seconds";

    const std::wstring single = Wide(MakeScratchDirectory("auto-single")) + L"Single.dvr-ms";
    ASSERT_TRUE(CopyRecording(single));
    {
        ScopedDecrypterFault slow("pace=1");
        ASSERT_EQ(engine_->StartSingleConversion(ConversionRequest{single, output_ + L"Single.MPG", InternalGraphName, output_}),
                  SingleStart::Started);
        const int seen = passes;
        ASSERT_TRUE(CopyRecording(input_ + L"Second.dvr-ms"));
        ASSERT_TRUE(WaitUntil([&] { return passes > seen; }, 10000)) << "the change did not wake the worker";
        EXPECT_TRUE(engine_->Busy());
        EXPECT_EQ(Count(L" - Failed.\n"), 0u) << Text();
        EXPECT_FALSE(FileExists(output_ + L"Second.MPG"));
    }
    ASSERT_TRUE(WaitUntil([&] { return FileExists(output_ + L"Single.MPG"); }, 20000));
    // The next change takes it up.
    ASSERT_TRUE(CopyRecording(input_ + L"Third.dvr-ms"));
    EXPECT_TRUE(WaitForText(L" - Done.\n", 3)) << Text();
    EXPECT_TRUE(FileExists(output_ + L"Second.MPG"));
    EXPECT_EQ(Count(L" - Failed.\n"), 0u) << Text();
}

// Scanned once per wait, not without pause. (A recording the recorder holds: the unfinished-outputs test.)
TEST_F(AutoConverterTest, AMissingInputDirectoryIsWaitedForAndTakenUpOnceItAppears)
{
    MakeAutoConverter(1000);
    const std::wstring later = input_ + L"later\\";
    settings_.InputPath = later;
    const DWORD start = ::GetTickCount();
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 3; }, 20000));
    EXPECT_GE(::GetTickCount() - start, 1800u) << "the worker waits between passes";

    ASSERT_TRUE(::CreateDirectoryW(later.c_str(), nullptr));
    ASSERT_TRUE(CopyRecording(later + L"Show.dvr-ms"));
    ASSERT_TRUE(WaitForText(L" - Done.\n", 1)) << Text();
    EXPECT_TRUE(IsProgramStream(output_ + L"Show.MPG"));
}

// Recordings and directories named beyond the Basic Multilingual Plane too; each converts once, as a
// later pass finds its output.
TEST_F(AutoConverterTest, RecordingsAndDirectoriesOfAnyNameConvertUnderTheirOwnNames)
{
    MakeAutoConverter(300);
    const wchar_t* const names[] = {L"Новости дня", L"日本のニュース", L"TV \U0001F4FA", L"Café"};
    const struct {
        const wchar_t* input;
        const wchar_t* output;
    } directories[] = {{L"Записи", L"Видео\\"}, {L"録画", L"出力\\"}, {L"\U0001F4FA in", L"\U0001F4FA out"}};
    for (const auto& d : directories) {
        SCOPED_TRACE(Utf8(d.input));
        settings_.InputPath = input_ + d.input;
        settings_.OutputPath = output_ + d.output;
        ASSERT_TRUE(::CreateDirectoryW(settings_.InputPath.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(settings_.OutputPath.c_str(), nullptr));
        for (const wchar_t* name : names)
            ASSERT_TRUE(CopyRecording(settings_.InputPath + L"\\" + name + L".dvr-ms"));
        passes = 0;
        Start();
        ASSERT_TRUE(WaitUntil([&] { return passes >= 2; }, 60000)) << Text();
        Stop();
        EXPECT_EQ(Count(L" - Done.\n"), std::size(names)) << Text();
        for (const wchar_t* name : names) {
            const std::wstring output = WithTrailingBackslash(settings_.OutputPath) + name + L".MPG";
            EXPECT_TRUE(IsProgramStream(output));
        }
        ClearText();
    }
}

// With a text file's line ends, so that a name in any script arrives as it was written.
TEST(WorkerOutput, AFileOrAPipeTakesUtf8)
{
    const std::wstring path = Wide(MakeScratchDirectory("auto-stdout")) + L"stdout.txt";
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    UniqueHandle reader, writer;
    ASSERT_TRUE(::CreatePipe(reader.Receive(), writer.Receive(), nullptr, 0));
    const HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
    for (const HANDLE output : {file.Get(), writer.Get()}) {
        ::SetStdHandle(STD_OUTPUT_HANDLE, output);
        WriteToStandardOutput(L"Новости дня - Done.\n");
        WriteToStandardOutput(L"日本のニュース \U0001F4FA - Failed.\n");
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
    file.Reset();
    writer.Reset();
    std::string piped;
    char buffer[256];
    for (DWORD read = 0; ::ReadFile(reader.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0;)
        piped.append(buffer, read);
    const std::string expected = u8"Новости дня - Done.\r\n日本のニュース \U0001F4FA - Failed.\r\n";
    EXPECT_EQ(ReadFileBytes(path), expected) << "file";
    EXPECT_EQ(piped, expected) << "pipe";
}

// Deleted only when unchanged in its conversion. One appended to by a writer Halvern cannot see
// (another computer on a share) is converted again once it has settled, without waiting for the next
// scan, and goes then. (One cut off for good: the black-box run test's.)
TEST_F(AutoConverterTest, ARecordingThatGrowsInItsConversionIsConvertedAgainOnceSettled)
{
    const std::wstring whole = Wide(MakeScratchDirectory("auto-whole")) + L"Whole.dvr-ms";
    ASSERT_TRUE(CopyRecording(whole));
    const std::string bytes = ReadFileBytes(whole);
    const size_t written = bytes.size() * 4 / 10 + 1;
    const std::wstring recording = input_ + L"Show.dvr-ms", output = output_ + L"Show.MPG";
    WriteFileBytes(recording, bytes.substr(0, written));
    settings_.DeleteSourceFile = 1;
    MakeAutoConverter(60000, 1000);
    {
        ScopedDecrypterFault slow("pace=1");
        Start();
        ASSERT_TRUE(WaitUntil([this] { return engine_->Busy(); }, 10000));
        AppendFileBytes(recording, bytes.substr(written));
        ASSERT_TRUE(WaitForText(L" - Done.\n", 1)) << Text();
    }
    EXPECT_TRUE(FileExists(recording)) << "kept after the first conversion";
    EXPECT_TRUE(IsProgramStream(output));
    ASSERT_TRUE(WaitForText(L" - Done.\n", 2)) << Text();
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(recording); }, 10000));
    EXPECT_TRUE(IsSoundProgramStream(Utf8(output)));
    Stop();
    EXPECT_EQ(Count(L" - Done.\n"), 2u) << Text();
}

// Such a recording would do the same at once again.
TEST_F(AutoConverterTest, ACancelledOrStalledRecordingWaitsForAChangeOrARestart)
{
    const struct {
        const char* name;
        const char* fault;
        bool cancel;
    } cases[] = {
        {"cancelled", "pace=1", true},
        {"stalled", "never-end", false},
    };
    const std::wstring recording = input_ + L"Show.dvr-ms";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemakeEngine(ConversionTimings{100, 1500});
        ::DeleteFileW((output_ + L"Show.MPG").c_str());
        ASSERT_TRUE(CopyRecording(recording));
        // Starts a worker whose conversion of the recording fails as the case says, the failures' count then.
        const auto startFailing = [&](size_t failures) {
            Start();
            if (c.cancel) {
                ASSERT_TRUE(WaitUntil([this] { return engine_->Busy(); }, 10000));
                engine_->CancelConversion();
            }
            ASSERT_TRUE(WaitForText(L" - Failed.\n", failures)) << Text();
        };
        {
            ScopedDecrypterFault fault(c.fault);
            ASSERT_NO_FATAL_FAILURE(startFailing(1));
            ASSERT_TRUE(WaitForMorePasses(4));
            EXPECT_EQ(Count(L" - Failed.\n") + Count(L" - Done.\n"), 1u) << "started again while unchanged";
        }
        // Changed: converted (the fault gone); a restart alike.
        AppendFileBytes(recording, std::string(1, '\0'));
        ASSERT_TRUE(WaitForText(L" - Done.\n", 1)) << Text();
        Stop();
        ::DeleteFileW((output_ + L"Show.MPG").c_str());
        {
            ScopedDecrypterFault fault(c.fault);
            ASSERT_NO_FATAL_FAILURE(startFailing(2));
        }
        Stop();
        Start();
        ASSERT_TRUE(WaitForText(L" - Done.\n", 2)) << "a new worker tries it again\n" << Text();
        Stop();
        ClearText();
    }
}

// Blanks and empty entries aside; WTV beside DVR-MS through the shipped graph, which reads both. A list
// is refused only for an entry that is no plain extension, or for no entry.
TEST_F(AutoConverterTest, SeveralInputExtensionsAreLookedForInOnePass)
{
    CConverterSettings list = settings_;
    for (const wchar_t* usable : {L"dvr-ms;wtv", L" dvr-ms ; WTV;;", L"DVR-MS"})
        EXPECT_EQ(L"", UnusableSetting((list.InputExt = usable, list))) << Utf8(usable);
    for (const wchar_t* unusable : {L";", L"dvr-ms;..\\x", L"wtv;*"})
        EXPECT_NE(L"", UnusableSetting((list.InputExt = unusable, list))) << Utf8(unusable);

    graphs_.ProgramDirectory = Wide(ModuleDirectory());
    settings_.UseFilterGraph = L"Built-in DVR-MS to MPEG.xgr";
    settings_.InputExt = L" dvr-ms ; WTV;;dvr-ms";
    ASSERT_TRUE(CopyRecording(input_ + L"First.dvr-ms"));
    ASSERT_TRUE(::CopyFileW(Wide(VectorPath("wtv\\mpeg2-mp2.wtv")).c_str(), (input_ + L"Second.wtv").c_str(), FALSE));
    ASSERT_TRUE(CopyRecording(input_ + L"Third.txt"));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 1; }, 30000)) << Text();
    EXPECT_EQ(Count(L" - Done.\n"), 2u) << Text();
    EXPECT_TRUE(IsProgramStream(output_ + L"First.MPG"));
    EXPECT_TRUE(IsProgramStream(output_ + L"Second.MPG"));
    EXPECT_FALSE(FileExists(output_ + L"Third.MPG"));
}

// Its end is a line of the worker's output. One that fails, or hangs past the stall bound (left
// running), never stops the worker: the next recording converts all the same.
TEST_F(AutoConverterTest, TheCommandAfterConversionRunsBeforeTheDeleteAndNeverStopsTheWorker)
{
    const std::string hooks = MakeScratchDirectory("auto-hook");
    const std::string args = hooks + "args.txt";
    WriteFileBytes(hooks + "hook.cmd", "@echo %1 %2>> \"" + args + "\"\r\n@if exist %2 echo present>> \"" + args + "\"\r\n");
    const std::wstring pipeName = L"\\\\.\\pipe\\halvern-after-conversion-auto";
    // Never written: a `type` of it waits, without using the processor, until it is closed.
    const UniqueHandle pipe(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr));
    const UniqueHandle pipe2(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr));
    ASSERT_NE(pipe2.Get(), INVALID_HANDLE_VALUE);
    const struct {
        const char* name;
        std::string command;
        std::wstring line;
    } cases[] = {
        {"records", "cmd /c " + hooks + "hook.cmd %OUTPUT% %RECORDING%", L"ended with exit code 0.\n"},
        {"fails", "cmd /c exit 5", L"ended with exit code 5.\n"},
        {"hangs", "cmd /c type " + Utf8(pipeName), L"did not end within 1 s: it is left running, and Halvern goes on.\n"},
    };
    settings_.DeleteSourceFile = 1;
    RemakeEngine(ConversionTimings{100, 1500});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings_.AfterConversion = Wide(c.command);
        for (const std::wstring name : {L"A", L"B"}) {
            ::DeleteFileW((output_ + name + L".MPG").c_str());
            ASSERT_TRUE(CopyRecording(input_ + name + L".dvr-ms"));
        }
        Start();
        ASSERT_TRUE(WaitForText(L" - Done.\n", 2)) << Text();
        Stop();
        EXPECT_EQ(Count(L" - Done.\nThe command after conversion " + c.line), 2u) << Text();
        for (const std::wstring name : {L"A", L"B"})
            EXPECT_FALSE(FileExists(input_ + name + L".dvr-ms")) << "deleted after the command";
        ClearText();
    }
    const std::string recorded = ReadFileBytes(args);
    for (const std::wstring name : {L"A", L"B"}) {
        const std::string paths = "\"" + Utf8(output_ + name) + ".MPG\" \"" + Utf8(input_ + name) + ".dvr-ms\"\r\npresent\r\n";
        EXPECT_EQ(CountOf(recorded, paths), 1u) << recorded;
    }
    for (const UniqueHandle* left : {&pipe, &pipe2}) {
        EXPECT_FALSE(::ConnectNamedPipe(left->Get(), nullptr)) << "both hanging commands are left running";
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
    }
}

// The record in the output directory says which recording each output came from. An output named
// after its recording before the pattern was set counts as that recording's; a later recording
// whose name another's output holds (that recording deleted after its conversion) is converted.
TEST_F(AutoConverterTest, APatternNamesOutputsByMetadataAndConvertsEachRecordingOnce)
{
    MakeAutoConverter(300);
    settings_.DeleteSourceFile = 1;
    settings_.OutputName = L"{Title} - {SubTitle}";
    const std::wstring longTitle(300, L'x');
    const struct {
        const wchar_t* recording;
        std::vector<std::pair<std::string, std::wstring>> attributes;
    } recordings[] = {
        {L"A.dvr-ms", {{"Title", L"News"}, {"WM/SubTitle", L"Monday"}}},
        {L"B.dvr-ms", {{"Title", L"News"}, {"WM/SubTitle", L"Monday"}}},
        {L"C.dvr-ms", {{"Title", L"Film: Part 1/2"}}},
        {L"D.dvr-ms", {}},
        {L"E.dvr-ms", {{"Title", longTitle}}},
        {L"F.dvr-ms", {{"Title", L"CON"}}},
    };
    for (const auto& r : recordings)
        ASSERT_TRUE(CopyRecording(input_ + r.recording, r.attributes));
    ASSERT_TRUE(CopyRecording(input_ + L"Old.dvr-ms", {{"Title", L"Old"}}));
    WriteFileBytes(output_ + L"Old.MPG", "converted before the pattern was set");

    Start();
    ASSERT_TRUE(WaitForText(L" - Done.\n", 6)) << Text();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 3; }, 20000));
    Stop();
    MakeAutoConverter(300); // a restart
    passes = 0;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 3; }, 20000));
    EXPECT_EQ(Count(L" - Done.\n"), 6u) << "nothing twice: " << Text();

    // The record, output to recording, each output a whole conversion of its own recording.
    COutputRecord record(output_);
    record.Refresh();
    const std::wstring named[] = {L"News - Monday.MPG", L"News - Monday (2).MPG", L"Film_ Part 1_2.MPG", L"D.MPG", L"_CON.MPG"};
    std::wstring owners;
    for (const std::wstring& output : named) {
        EXPECT_TRUE(IsProgramStream(output_ + output));
        owners += record.RecordingOf(output) + L" ";
    }
    EXPECT_TRUE(owners == L"A.dvr-ms B.dvr-ms C.dvr-ms D.dvr-ms F.dvr-ms " || owners == L"B.dvr-ms A.dvr-ms C.dvr-ms D.dvr-ms F.dvr-ms ")
        << Utf8(owners);
    const std::wstring longOutput = record.OutputOf(L"E.dvr-ms");
    EXPECT_TRUE(longOutput.size() > 100 && longOutput.size() <= MaxPatternNameLength + 4 &&
                longOutput == std::wstring(longOutput.size() - 4, L'x') + L".MPG" &&
                (output_ + longOutput + L" (999).partial").size() < MAX_PATH)
        << Utf8(longOutput);
    EXPECT_TRUE(IsProgramStream(output_ + longOutput));
    EXPECT_EQ(record.OutputOf(L"Old.dvr-ms"), L"Old.MPG");
    EXPECT_EQ(ReadFileBytes(output_ + L"Old.MPG"), "converted before the pattern was set");
    EXPECT_TRUE(FileExists(input_ + L"Old.dvr-ms")) << "not converted, so not deleted";
    for (const auto& r : recordings)
        EXPECT_FALSE(FileExists(input_ + r.recording)) << "deleted after its conversion";

    // A later recording of the same title, with A's name: neither A's output nor its name is its.
    ASSERT_TRUE(CopyRecording(input_ + L"A.dvr-ms", {{"Title", L"News"}, {"WM/SubTitle", L"Monday"}}));
    ASSERT_TRUE(WaitForText(L" - Done.\n", 7)) << Text();
    ASSERT_TRUE(WaitForMorePasses(3));
    Stop();
    EXPECT_EQ(Count(L" - Done.\n"), 7u) << Text();
    record.Refresh();
    EXPECT_EQ(record.OutputOf(L"A.dvr-ms"), L"News - Monday (3).MPG");
    EXPECT_TRUE(IsProgramStream(output_ + L"News - Monday (3).MPG"));
    EXPECT_FALSE(FileExists(input_ + L"A.dvr-ms"));
}

// An entry the record's file cannot take (another program holds it, or a name has half a UTF-16
// pair, which UTF-8 cannot carry) still holds for the worker, also after others append to the file:
// without it, each pass would take the output for another's and convert the recording again.
TEST_F(AutoConverterTest, EntriesTheRecordCannotTakeStillHold)
{
    MakeAutoConverter(300);
    settings_.OutputName = L"{Title}";
    const std::wstring recordPath = output_ + OutputRecordName;
    WriteFileBytes(recordPath, "");
    {
        // Read, not shared for writing: the worker's appends fail.
        const UniqueFileHandle held(::CreateFileW(recordPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        ASSERT_TRUE(CopyRecording(input_ + L"A.dvr-ms", {{"Title", L"News"}}));
        ASSERT_TRUE(CopyRecording(input_ + L"B.dvr-ms", {{"Title", L"Sport"}}));
        Start();
        ASSERT_TRUE(WaitForText(L" - Done.\n", 2)) << Text();
        ASSERT_TRUE(WaitForMorePasses(3));
    }
    WriteFileBytes(recordPath, "Other.MPG\tOther.dvr-ms\r\n"); // read at the next pass
    ASSERT_TRUE(WaitForMorePasses(3));
    Stop();
    EXPECT_EQ(Count(L" - Done.\n"), 2u) << "each once: " << Text();
    EXPECT_TRUE(IsProgramStream(output_ + L"News.MPG"));
    EXPECT_TRUE(IsProgramStream(output_ + L"Sport.MPG"));
    EXPECT_FALSE(FileExists(output_ + L"News (2).MPG"));

    COutputRecord record(output_);
    const std::wstring halfPair = L"Film \xD800.MPG";
    EXPECT_FALSE(record.Add(halfPair, L"C.dvr-ms"));
    EXPECT_TRUE(record.Add(L"Late.MPG", L"D.dvr-ms"));
    record.Refresh();
    EXPECT_EQ(record.OutputOf(L"C.dvr-ms"), halfPair);
    EXPECT_EQ(record.RecordingOf(L"Other.MPG"), L"Other.dvr-ms");
    EXPECT_EQ(ReadFileBytes(recordPath), "Other.MPG\tOther.dvr-ms\r\nLate.MPG\tD.dvr-ms\r\n");
}
