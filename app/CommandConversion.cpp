#include "app/CommandConversion.h"

#include "autoconv/AutoConverter.h"
#include "base/ScopedWin.h"
#include "convert/ConversionEngine.h"
#include "convert/ConversionRequest.h"
#include "convert/InternalGraph.h"
#include "convert/OutputName.h"
#include "convert/OutputRecord.h"
#include "convert/PathText.h"
#include "convert/SettingsCheck.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace {

// Standard output as the parent's console, unless the caller gave one (a file, a pipe); the
// console's own output is held open for as long as the command runs.
class ParentConsole {
public:
    ParentConsole()
    {
        const HANDLE given = ::GetStdHandle(STD_OUTPUT_HANDLE);
        const bool redirected = given && given != INVALID_HANDLE_VALUE && ::GetFileType(given) != FILE_TYPE_UNKNOWN;
        if (!::AttachConsole(ATTACH_PARENT_PROCESS) || redirected)
            return;
        output_ = UniqueFileHandle(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        if (output_)
            ::SetStdHandle(STD_OUTPUT_HANDLE, output_.Get());
    }

    // Somewhere the lines are seen or kept.
    static bool HasOutput()
    {
        const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        return output && output != INVALID_HANDLE_VALUE;
    }

private:
    UniqueFileHandle output_;
};

// The engine Ctrl+C and Ctrl+Break cancel while the command runs. The console calls its handler on
// a thread of its own with no context of ours, hence the one pointer, set only for the run.
class ConsoleCancel {
public:
    explicit ConsoleCancel(CConversionEngine& engine)
    {
        engine_ = &engine;
        // A process started in a group of its own ignores Ctrl+C until it says otherwise.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    }
    ~ConsoleCancel()
    {
        ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        engine_ = nullptr;
    }
    ConsoleCancel(const ConsoleCancel&) = delete;
    ConsoleCancel& operator=(const ConsoleCancel&) = delete;

    // A cancel that came before the run began, which the engine, idle then, does not keep.
    bool Requested() const { return requested_.load(); }

private:
    // Handled, so the process is not ended before the run has cleaned up after itself.
    static BOOL WINAPI OnConsoleControl(DWORD)
    {
        requested_ = true;
        if (CConversionEngine* engine = engine_.load())
            engine->CancelConversion();
        return TRUE;
    }

    static std::atomic<CConversionEngine*> engine_;
    static std::atomic<bool> requested_;
};

std::atomic<CConversionEngine*> ConsoleCancel::engine_{nullptr};
std::atomic<bool> ConsoleCancel::requested_{false};

// The run's report as it grows, and its progress in tenths.
class ConsoleObserver : public IConversionObserver {
public:
    void OnConversionStarted(LONG) override {}
    void OnGraphBuilt(const std::wstring& report) override { PrintNew(report); }
    void OnProgressRange(LONG seconds) override { range_ = seconds; }
    void OnProgressPosition(LONG seconds) override
    {
        if (range_ <= 0)
            return;
        const LONG tenths = seconds * 10 / range_;
        if (tenths <= printedTenths_ || tenths > 10)
            return;
        printedTenths_ = tenths;
        WriteToStandardOutput((L"\n" + std::to_wstring(tenths * 10) + L"%").c_str());
    }
    void OnConversionFinished(bool, const std::wstring& report, bool) override
    {
        PrintNew(report);
        WriteToStandardOutput(L"\n");
    }

private:
    // What the report says beyond what was printed of it.
    void PrintNew(const std::wstring& report)
    {
        if (report.compare(0, printed_, printedText_) != 0)
            printed_ = 0;
        if (report.size() > printed_)
            WriteToStandardOutput(report.substr(printed_).c_str());
        printed_ = report.size();
        printedText_ = report;
    }

    LONG range_ = 0;
    LONG printedTenths_ = 0;
    size_t printed_ = 0;
    std::wstring printedText_;
};

std::wstring FullPathOf(const std::wstring& path)
{
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return path;
        if (length < full.size())
            return std::wstring(full.data(), length);
        full.resize(length + 1);
    }
}

bool IsExistingDirectory(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The request for the recording: the settings', with what the command line says instead.
ConversionRequest CommandRequest(const CommandLine& line, const CConverterSettings& settings, const std::wstring& recording)
{
    ConversionRequest request;
    const std::wstring out = line.out.empty() ? std::wstring() : FullPathOf(line.out);
    if (line.out.empty()) {
        request = MakeNamedRequest(settings, recording, settings.OutputPath);
    } else if (line.out.back() == L'\\' || line.out.back() == L'/' || IsExistingDirectory(out)) {
        // Named in that directory as in the output directory, by the pattern when one is set.
        request = MakeNamedRequest(settings, recording, WithTrailingBackslash(out));
    } else {
        request = MakeConversionRequest(settings, recording);
        request.outputPath = out;
        request.outputDirectory = out.substr(0, out.size() - FileNameOf(out).size());
    }
    if (!line.graph.empty())
        request.graphChoice = line.graph;
    return request;
}

CommandExit ExitFor(ConversionResult result)
{
    switch (result) {
    case ConversionResult::Converted:
        return CommandExit::Converted;
    case ConversionResult::ConvertedCut:
        return CommandExit::ConvertedCut;
    case ConversionResult::RecordingAtFault:
        return CommandExit::RecordingNotConvertible;
    case ConversionResult::OutputFailed:
        return CommandExit::OutputNotWritten;
    case ConversionResult::Cancelled:
        return CommandExit::Cancelled;
    case ConversionResult::Failed:
    case ConversionResult::Busy:
        break;
    }
    return CommandExit::GraphFailed;
}

} // namespace

CommandExit RunCommandConversion(const CommandLine& line, CWinApp& profile, const std::wstring& programDirectory)
{
    const ParentConsole console;
    const CConverterSettings defaults = CConverterSettings::Defaults();
    CConverterSettings stored = defaults;
    stored.Load(profile);
    std::wstring notes;
    const CConverterSettings settings = UsableSettings(stored, defaults, notes);
    WriteToStandardOutput(notes.c_str());

    const std::wstring recording = FullPathOf(line.recording);
    if (::GetFileAttributesW(recording.c_str()) == INVALID_FILE_ATTRIBUTES || IsExistingDirectory(recording)) {
        WriteToStandardOutput((L"ERROR - The recording cannot be found: " + recording + L"\n").c_str());
        return CommandExit::RecordingNotConvertible;
    }
    if (!IsFinishedRecording(recording)) {
        WriteToStandardOutput((L"ERROR - The recording is still being recorded: " + recording + L"\n").c_str());
        return CommandExit::StillRecording;
    }

    GraphSource graphs;
    graphs.ProgramDirectory = programDirectory;
    if (!LoadInternalGraph(graphs.InternalGraph)) {
        WriteToStandardOutput(L"ERROR - The internal graph cannot be read from the program.\n");
        return CommandExit::GraphFailed;
    }
    ScopedComInit com;
    ConsoleObserver observer;
    CConversionEngine engine(graphs, observer);
    const ConsoleCancel cancel(engine);
    // Naming the output can read the recording and the output record for a while.
    const ConversionRequest request = CommandRequest(line, settings, recording);
    if (cancel.Requested())
        return CommandExit::Cancelled;
    return ExitFor(engine.ConvertFile(request));
}

CommandExit ShowCommandUsage(const CommandLine& line)
{
    const ParentConsole console;
    const bool wrong = line.mode == CommandLine::Mode::Wrong;
    const std::wstring text = (wrong ? line.wrong + L"\n\n" : std::wstring()) + CommandUsage;
    if (ParentConsole::HasOutput())
        WriteToStandardOutput(text.c_str());
    else
        AfxMessageBox(text.c_str(), wrong ? MB_OK | MB_ICONERROR : MB_OK);
    return wrong ? CommandExit::UsageError : CommandExit::Converted;
}
