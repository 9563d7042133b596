// Halvern.exe /convert as a script runs it: a batch file that looks at each exit code, a recording
// still held by its recorder, and a run beside a Halvern converting on its own. (Wine delivers no
// Ctrl+C to a window program attached to a console, so the cancel by key is not tried here.)

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "tests/blackbox/HalvernDriver.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TransportStreamCheck.h"

using namespace testing_support;

namespace blackbox {
namespace {

constexpr char BuiltInGraph[] = "Built-in DVR-MS to MPEG.xgr";
constexpr char TransportGraph[] = "Built-in recording to MPEG-TS.xgr";
constexpr DWORD CommandMs = 60000;

class CommandLine : public BlackBoxTest {
protected:
    // Runs `arguments` after Halvern.exe; gives its exit code, or -1 when it did not end in time.
    long RunHalvern(const std::string& arguments, DWORD flags = 0)
    {
        ChildProcess command;
        if (!command.StartCommand("\"" + HalvernExePath() + "\" " + arguments, StdoutPath(), flags))
            return -1;
        DWORD code = 0;
        return command.WaitForExit(CommandMs, &code) ? static_cast<long>(code) : -1;
    }

    // The outputs and leftovers in the output directory.
    std::vector<std::string> OutputNames() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        UniqueFindHandle find(::FindFirstFileA((output + "*").c_str(), &found));
        for (bool more = find.IsValid(); more; more = ::FindNextFileA(find.Get(), &found)) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        }
        return names;
    }
};

::testing::AssertionResult WriteProtectedRecording(const std::string& path)
{
    test_recordings::RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    options.protection = test_recordings::Protection::EncryptionObject;
    test_recordings::WrittenRecording written;
    std::string error;
    if (!test_recordings::WriteRecording(path, options, written, error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

// A transport stream the tests' checker finds clean, whose streams ffprobe names as `streams`
// ("index,codec" lines).
::testing::AssertionResult IsSoundTransportStream(const std::string& path, const std::string& streams)
{
    const ts_check::Report report = ts_check::CheckTransportStream(ReadFileBytes(path));
    if (report.packets == 0 || !report.Clean())
        return ::testing::AssertionFailure() << path << ":\n" << report.Text();
    ToolOutput probed;
    if (!RunLinuxTool("/usr/bin/ffprobe -v error -show_entries stream=index,codec_name -of csv=p=0 '" + UnixPath(path) +
                          "' | sed 's/,$//' | grep . | sort -u",
                      probed))
        return ::testing::AssertionFailure() << "ffprobe did not run";
    if (probed.out != streams)
        return ::testing::AssertionFailure() << path << " holds, as ffprobe sees it:\n" << probed.out << probed.err;
    return ::testing::AssertionSuccess();
}

// The codes are the ones the usage lists. Only the good recordings leave an output, and no run a
// .partial; H.264 refused by the program stream's graph is told the graph that takes it.
TEST_F(CommandLine, ABatchFileGetsTheExitCodeOfEachOutcome)
{
    ASSERT_TRUE(CopyRecording(input + "Show.dvr-ms"));
    WriteFileBytes(input + "Notes.dvr-ms", "not a recording at all");
    ASSERT_TRUE(WriteProtectedRecording(input + "Protected.dvr-ms"));
    ASSERT_TRUE(::CopyFileA(VectorPath("wtv\\h264-ac3.wtv").c_str(), (input + "Hd.wtv").c_str(), FALSE));
    const std::string halvern = "\"" + HalvernExePath() + "\"";
    const std::string graph = std::string(" /graph \"") + BuiltInGraph + "\"";
    const std::string transportGraph = std::string(" /graph \"") + TransportGraph + "\"";
    const struct {
        const char* name;
        std::string arguments;
        int code;
    } runs[] = {
        {"converted", "/convert \"" + input + "Show.dvr-ms\" /out \"" + output + "\"" + graph, 0},
        {"options as --x in any letter case", "--CONVERT \"" + input + "Show.dvr-ms\" --Out \"" + output + "Named.mpg\"" + graph, 0},
        {"usage", "/?", 0},
        {"an unknown option", "/convert \"" + input + "Show.dvr-ms\" /outt x", 1},
        {"no recording named", "/out \"" + output + "\"", 1},
        {"a missing recording", "/convert \"" + input + "Missing.dvr-ms\" /out \"" + output + "\"" + graph, 2},
        {"not a recording", "/convert \"" + input + "Notes.dvr-ms\" /out \"" + output + "\"" + graph, 2},
        {"protected", "/convert \"" + input + "Protected.dvr-ms\" /out \"" + output + "\"" + graph, 2},
        {"H.264 video", "/convert \"" + input + "Hd.wtv\" /out \"" + output + "\"" + graph, 2},
        {"an output directory that is not there", "/convert \"" + input + "Show.dvr-ms\" /out \"" + output + "Gone\\x.mpg\"" + graph, 3},
        {"a graph description that is not there", "/convert \"" + input + "Show.dvr-ms\" /out \"" + output + "\" /graph None.xgr", 4},
        {"H.264 to a transport stream", "/convert \"" + input + "Hd.wtv\" /out \"" + output + "Hd.ts\"" + transportGraph, 0},
        {"MPEG-2 to a transport stream", "/convert \"" + input + "Show.dvr-ms\" /out \"" + output + "Show.ts\"" + transportGraph, 0},
    };
    std::string batch = "@echo off\r\n";
    for (size_t i = 0; i < sizeof(runs) / sizeof(runs[0]); ++i)
        batch += halvern + " " + runs[i].arguments + "\r\necho run " + std::to_string(i) + " code %errorlevel%\r\n";
    WriteFileBytes(logs + "convert.bat", batch);

    ChildProcess script;
    ASSERT_TRUE(script.StartCommand("cmd.exe /c \"" + logs + "convert.bat\"", StdoutPath()));
    ASSERT_TRUE(script.WaitForExit(5 * CommandMs));
    const std::string printed = ReadFileBytes(StdoutPath());
    for (size_t i = 0; i < sizeof(runs) / sizeof(runs[0]); ++i) {
        const std::string line = "run " + std::to_string(i) + " code ";
        const size_t at = printed.find(line);
        ASSERT_NE(std::string::npos, at) << runs[i].name << " did not end:\n" << printed;
        EXPECT_EQ(runs[i].code, std::atoi(printed.c_str() + at + line.size())) << runs[i].name << "\n" << printed;
    }
    EXPECT_TRUE(ContainsInOrder(printed, {"Converting : ", "Show.dvr-ms", "Done!", "run 0 code 0"})) << printed;
    EXPECT_TRUE(ContainsInOrder(printed, {"Exit codes:", "run 2 code 0"})) << "the usage is printed";
    EXPECT_TRUE(ContainsInOrder(printed, {"protected", "run 7 code 2"})) << printed;
    EXPECT_TRUE(ContainsInOrder(printed, {"run 7 ", TransportGraph, "run 8 code 2"})) << printed;
    EXPECT_TRUE(IsSoundProgramStream(output + "Show.MPG"));
    EXPECT_TRUE(IsSoundProgramStream(output + "Named.mpg"));
    EXPECT_TRUE(IsSoundTransportStream(output + "Hd.ts", "0,h264\n1,ac3\n"));
    EXPECT_TRUE(IsSoundTransportStream(output + "Show.ts", "0,mpeg2video\n1,mp2\n"));
    EXPECT_EQ((std::vector<std::string>{"Hd.ts", "Named.mpg", "Show.MPG", "Show.ts"}), OutputNames());
}

// Run again, a recording's own output is written again; a second recording of the same title gets a
// name of its own, and the output record says which is whose.
TEST_F(CommandLine, AStoredNamePatternNamesTheOutputFromTheRecordingsMetadata)
{
    StoreSettings(Defaults());
    SetRegistryString(SettingsKey, "OutputName", "{Title} - {SubTitle}");
    for (const char* name : {"First.wtv", "Second.wtv"})
        ASSERT_TRUE(::CopyFileA(VectorPath("wtv\\titled.wtv").c_str(), (input + name).c_str(), FALSE));
    const std::string graph = std::string(" /graph \"") + BuiltInGraph + "\"";
    for (const char* name : {"First.wtv", "First.wtv", "Second.wtv"})
        EXPECT_EQ(RunHalvern("/convert \"" + input + name + "\" /out \"" + output + "\"" + graph), 0) << name;
    std::vector<std::string> names = OutputNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Halvern outputs.txt", "Show_ Part 1_2 - Pilot (2).MPG", "Show_ Part 1_2 - Pilot.MPG"}), names);
    EXPECT_EQ(ReadFileBytes(output + "Halvern outputs.txt"),
              "Show_ Part 1_2 - Pilot.MPG\tFirst.wtv\r\nShow_ Part 1_2 - Pilot (2).MPG\tSecond.wtv\r\n");
    EXPECT_TRUE(IsSoundProgramStream(output + "Show_ Part 1_2 - Pilot (2).MPG"));
}

// Once let go, it converts with the internal graph read from the program while a running Halvern
// holds the lock and converts another recording on its own.
TEST_F(CommandLine, ARecordingStillBeingWrittenIsRefusedAndAnotherConvertsBesideARunningHalvern)
{
    const std::string recording = logs + "Recorded.dvr-ms";
    ASSERT_TRUE(CopyRecording(recording));
    {
        UniqueFileHandle recorder(::CreateFileA(recording.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(recorder.IsValid());
        EXPECT_EQ(6, RunHalvern("/convert \"" + recording + "\" /out \"" + output + "\""));
        EXPECT_TRUE(OutputNames().empty());
    }

    StoredSettings settings = Defaults();
    settings.AutoStartConvert = 1;
    StoreSettings(settings);
    ScopedDecrypterFault slow("pace=1");
    ASSERT_TRUE(CopyRecording(input + "Show.dvr-ms"));
    ASSERT_TRUE(halvern.Start(logs + "halvern.txt")) << ReadFileBytes(logs + "halvern.txt");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(output + "Show.MPG.partial"); }, PromptMs)) << "no conversion began";
    EXPECT_EQ(0, RunHalvern("/convert \"" + recording + "\" /out \"" + output + "Beside.MPG\" /graph \"" + InternalGraphName + "\""))
        << ReadFileBytes(StdoutPath());
    EXPECT_TRUE(IsProgramStream(output + "Beside.MPG"));
    EXPECT_TRUE(WaitForOutput(output + "Show.MPG", CommandMs));
    EXPECT_TRUE(halvern.CloseAndWait());
}

} // namespace
} // namespace blackbox
