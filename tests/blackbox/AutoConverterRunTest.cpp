// The Auto Converter of the real Halvern.exe amid a conversion: "Apply Settings" with the real question
// box, the exit, a cancel; recordings that change unseen, end cut off or are damaged. (The buttons
// meanwhile are the window test's; a killed run is the worker's.)

#include "res/resource.h"
#include "tests/blackbox/HalvernDriver.h"
#include "tests/media/WtvEdits.h"

using namespace testing_support;

namespace blackbox {
namespace {

// Halvern.exe finds the stand-ins for the outside filters through the prefix's registry.
[[maybe_unused]] ::testing::Environment* const g_standIns = ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

const char Question[] = "Auto Converter is running. It must restart in order to apply. \n\nRestart service?";

class AutoConverterRun : public BlackBoxTest {
protected:
    // Presses "Apply Settings" and answers the question with `button`.
    void ApplyAnswering(int button)
    {
        Click(halvern.Window(), IDC_APPLY);
        ASSERT_TRUE(AnswerMessage(halvern.Id(), Question, button));
    }

    // Starts Halvern with the Auto Converter running with the settings.
    void StartAutoConverter(StoredSettings settings)
    {
        settings.AutoStartConvert = 1;
        StoreSettings(settings);
        ASSERT_TRUE(halvern.Start(StdoutPath()));
    }

    // Starts Halvern with the Auto Converter converting the recording, put into the input directory.
    void StartConverting(const std::string& recording)
    {
        ASSERT_TRUE(CopyRecording(input + recording));
        ASSERT_NO_FATAL_FAILURE(StartAutoConverter(Defaults()));
        ASSERT_TRUE(WaitUntil([&] { return ButtonCaption() == "Cancel Conversion!"; }, PromptMs));
    }

    std::string ButtonCaption() const { return DialogItemText(halvern.Window(), IDC_CONVERT_SINGLE); }
    size_t Count(const char* line) const { return CountOf(halvern.Output(), line); }

    // Makes the Auto Converter look at the input directory twice more and waits for both looks to
    // end: each finds a new file of the extension that is not a recording, which fails at once. What
    // the first look would try again has been tried by the time the second one's file has failed.
    void LookTwiceMore(const std::string& extension)
    {
        const std::string notARecording = logs + "not a recording";
        WriteFileBytes(notARecording, std::string(4096, 'x'));
        for (const char* name : {"Look 1.", "Look 2."}) {
            const size_t failed = Count(FailedText);
            DropRecording(input + name + extension, notARecording);
            ASSERT_TRUE(WaitUntil([&] { return Count(FailedText) > failed; }, PromptMs)) << halvern.Output();
        }
    }

    std::string StoredInputPath() const
    {
        std::string stored;
        ReadRegistryString(SettingsKey, "InputPath", stored);
        return stored;
    }
};

// Answered Yes, "Apply Settings" stores at once and a new worker starts once the conversion is
// published. Closed, the window goes at once and the process ends once that conversion is published.
TEST_F(AutoConverterRun, AConversionInProgressOutlivesApplyAndTheExit)
{
    ScopedDecrypterFault slow("pace=0.2"); // about 15 seconds each
    const std::string otherInput = MakeScratchDirectory("blackbox-in-b");
    ASSERT_TRUE(CopyRecording(otherInput + "Late.dvr-ms"));
    ASSERT_NO_FATAL_FAILURE(StartConverting("First.dvr-ms"));
    HWND window = halvern.Window();

    SetControlText(::GetDlgItem(window, IDC_INPUT_PATH), otherInput);
    ASSERT_NO_FATAL_FAILURE(ApplyAnswering(IDNO));
    EXPECT_TRUE(ItemEnabled(window, IDC_APPLY)) << "the edit stays pending";
    EXPECT_EQ(input, StoredInputPath());
    ASSERT_NO_FATAL_FAILURE(ApplyAnswering(IDYES));
    ASSERT_TRUE(Responds(window, 3000)) << "Halvern stopped answering in the restart";
    EXPECT_EQ(otherInput, StoredInputPath());
    EXPECT_FALSE(FileExists(output + "First.MPG")) << "applied before the conversion ended";
    ASSERT_TRUE(WaitForOutput(output + "First.MPG", 30000));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(output + "Late.MPG.partial"); }, 30000)) << "the new worker's writer";
    EXPECT_TRUE(ContainsInOrder(halvern.Output(), {Banner, DoneText, Waiting, Banner})) << halvern.Output();

    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }, 3000)) << "the window waited for the conversion";
    EXPECT_FALSE(halvern.Process().WaitForExit(0)) << "the exit cut the conversion short";
    EXPECT_TRUE(FileExists(LockFilePath())) << "the lock is held until the end";
    ASSERT_TRUE(halvern.CloseAndWait(60000));
    EXPECT_TRUE(IsProgramStream(output + "Late.MPG"));
    EXPECT_FALSE(FileExists(output + "Late.MPG.partial"));
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_EQ(2u, CountOf(halvern.Output(), DoneText)) << halvern.Output();
}

// Filters that never end and hang when stopped: the conversion is cancelled after 30 seconds without
// progress, the stuck stop given up a bounded while later, and the lock goes, so Halvern starts again.
TEST_F(AutoConverterRun, TheExitEndsWhenTheConversionIsStuck)
{
    ScopedDecrypterFault stuck("hang-stop=600");
    ASSERT_NO_FATAL_FAILURE(StartConverting("Stuck.dvr-ms"));
    HWND window = halvern.Window();

    const DWORD closed = ::GetTickCount();
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }, 3000)) << "the window waited for the conversion";
    EXPECT_TRUE(halvern.Process().WaitForExit(90000)) << "Halvern stayed with its stuck conversion";
    EXPECT_GE(::GetTickCount() - closed, 25000u) << "the conversion was not given its time";
    EXPECT_FALSE(FileExists(LockFilePath()));
    EXPECT_FALSE(FileExists(output + "Stuck.MPG"));

    ScopedDecrypterFault none("");
    ASSERT_TRUE(halvern.Start(StdoutPath()));
    EXPECT_TRUE(::IsWindow(halvern.Window())) << "Halvern refused to start again";
    ASSERT_TRUE(halvern.CloseAndWait(60000));
}

// "Cancel Conversion!" in an Auto Converter's conversion: it fails and leaves nothing, and the
// recording, which would do the same at once again, is not started at the next look.
TEST_F(AutoConverterRun, ACancelledRecordingIsNotStartedAgainUnchanged)
{
    ScopedDecrypterFault slow("pace=0.2"); // about 15 seconds
    ASSERT_NO_FATAL_FAILURE(StartConverting("Show.dvr-ms"));
    Click(halvern.Window(), IDC_CONVERT_SINGLE);
    ASSERT_TRUE(WaitUntil([&] { return Count(FailedText) == 1; }, PromptMs)) << halvern.Output();
    EXPECT_TRUE(WaitUntil([&] { return ButtonCaption() == "Convert Single File..."; }, PromptMs));

    ASSERT_NO_FATAL_FAILURE(LookTwiceMore("dvr-ms"));
    EXPECT_EQ("Convert Single File...", ButtonCaption()) << "started again";
    EXPECT_EQ(0u, Count(DoneText)) << halvern.Output();
    EXPECT_EQ(3u, Count(FailedText)) << halvern.Output();
    EXPECT_FALSE(FileExists(output + "Show.MPG"));
    EXPECT_FALSE(FileExists(output + "Show.MPG.partial"));
    EXPECT_TRUE(FileExists(input + "Show.dvr-ms"));
    EXPECT_TRUE(halvern.CloseAndWait());
}

// Appends as a writer on another computer does, which Halvern cannot see: Linux writes the bytes to
// the end of the file in one write, holding no lock.
::testing::AssertionResult AppendFromLinux(const std::string& path, const std::string& bytes, const std::string& scratch)
{
    WriteFileBytes(scratch, bytes);
    ToolOutput out;
    const std::string command = "dd if='" + UnixPath(scratch) + "' of='" + UnixPath(path) +
                                "' bs=16M oflag=append conv=notrunc status=none";
    if (!RunLinuxTool(command, out) || !out.err.empty())
        return ::testing::AssertionFailure() << command << ": " << out.err;
    return ::testing::AssertionSuccess();
}

// With deleting on, one that grows in its conversion is converted again once it has settled for half a
// minute, and goes then; one cut off for good converts once as far as it goes, the report saying so.
TEST_F(AutoConverterRun, GrowingOrCutOffRecordingsAreKept)
{
    const std::string whole = ReadFileBytes(VectorPath("plain-mp2.asf"));
    const std::string growing = input + "Growing.dvr-ms";
    const size_t written = whole.size() * 6 / 10 + 1; // in the middle of a packet
    WriteFileBytes(growing, whole.substr(0, written));
    StoredSettings settings = Defaults();
    settings.DeleteSourceFile = 1;
    {
        ScopedDecrypterFault slow("pace=0.5"); // the first part takes over three seconds
        ASSERT_NO_FATAL_FAILURE(StartAutoConverter(settings));
    }
    ASSERT_TRUE(WaitUntil([&] { return FileExists(output + "Growing.MPG.partial"); }, PromptMs)) << halvern.Output();
    ASSERT_TRUE(AppendFromLinux(growing, whole.substr(written), logs + "rest"));
    ASSERT_TRUE(WaitUntil([&] { return Count(DoneText) == 1; }, PromptMs)) << halvern.Output();
    const DWORD converted = ::GetTickCount();
    EXPECT_TRUE(IsProgramStream(output + "Growing.MPG"));

    const std::string cut = whole.substr(0, whole.size() * 4 / 10 + 1);
    WriteFileBytes(logs + "cut", cut);
    DropRecording(input + "Cut.dvr-ms", logs + "cut");
    BalloonWatch balloons;
    const auto reported = [&] {
        return balloons.Seen({"Cut.dvr-ms", "\nThe recording ends cut off in the middle of its data: it is kept.\nDone!"});
    };
    EXPECT_TRUE(WaitUntil(reported, 30000)) << ::testing::PrintToString(balloons.Texts());
    ASSERT_TRUE(WaitForOutput(output + "Cut.MPG", PromptMs));
    // Looked at once the next conversion has been published, long after the first was handled.
    EXPECT_TRUE(FileExists(growing)) << "deleted, though it changed while it was converted";

    ASSERT_TRUE(WaitUntil([&] { return !FileExists(growing); }, 60000)) << "not converted again whole\n" << halvern.Output();
    EXPECT_GE(::GetTickCount() - converted, 25000u) << "converted again before it had settled";
    EXPECT_TRUE(IsSoundProgramStream(output + "Growing.MPG"));
    EXPECT_EQ(3u, Count(DoneText)) << halvern.Output();
    EXPECT_TRUE(ReadFileBytes(input + "Cut.dvr-ms") == cut) << "the cut recording did not stay as it was";
    EXPECT_TRUE(halvern.CloseAndWait());
}

// A timeline sector listed for another file too, or one far past the file's end: with deleting on,
// no output, the recording stays as it is and is not tried again at the next look.
TEST_F(AutoConverterRun, AWtvRecordingWithBadTablesFailsOnce)
{
    const std::string sound = ReadFileBytes(VectorPath("wtv\\mpeg2-mp2.wtv"));
    test_wtv::Layout layout;
    std::string error;
    ASSERT_TRUE(test_wtv::ReadLayout(sound, layout, error)) << error;
    std::vector<uint32_t> timeline = test_wtv::TimelineTable(sound, layout);
    ASSERT_GT(timeline.size(), 20u);
    std::string overlapping = sound, pastTheEnd = sound;
    test_wtv::PutU32(overlapping, test_wtv::FirstSectorField(overlapping, layout, "table.0.entries.time"), timeline[20]);
    timeline.push_back(1u << 20); // 4 GiB on
    test_wtv::ListTimeline(pastTheEnd, layout, timeline);
    const std::pair<std::string, std::string> recordings[] = {{"Overlapping", overlapping}, {"Past the end", pastTheEnd}};
    for (const auto& [name, bytes] : recordings)
        WriteFileBytes(input + name + ".wtv", bytes);
    StoredSettings settings = Defaults();
    settings.InputExt = "wtv";
    settings.DeleteSourceFile = 1;
    ASSERT_NO_FATAL_FAILURE(StartAutoConverter(settings));
    ASSERT_TRUE(WaitUntil([&] { return Count(FailedText) == 2; }, PromptMs)) << halvern.Output();

    ASSERT_NO_FATAL_FAILURE(LookTwiceMore("wtv"));
    EXPECT_EQ(4u, Count(FailedText)) << "tried again while unchanged\n" << halvern.Output();
    EXPECT_EQ(0u, Count(DoneText)) << halvern.Output();
    for (const auto& [name, bytes] : recordings) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(ReadFileBytes(input + name + ".wtv") == bytes) << "the recording did not stay as it was";
        EXPECT_FALSE(FileExists(output + name + ".MPG"));
        EXPECT_FALSE(FileExists(output + name + ".MPG.partial"));
    }
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace blackbox
