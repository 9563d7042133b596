#pragma once
// What Halvern was started to do, read from its command line: show its window, or convert one
// recording for a script and end with an exit code that says how it went.

#include <string>
#include <vector>

// The exit codes of a conversion from the command line; the README lists them.
enum class CommandExit : int {
    Converted = 0,
    UsageError = 1,
    RecordingNotConvertible = 2, // missing, damaged, protected, not a recording, unsupported video
    OutputNotWritten = 3,
    GraphFailed = 4,             // the graph could not be built, or it failed while it ran
    Cancelled = 5,               // Ctrl+C, Ctrl+Break, or no progress for the stall bound
    StillRecording = 6,          // something still holds the recording open
    ConvertedCut = 7,            // converted as far as the recording goes: its file ends cut off
};

struct CommandLine {
    enum class Mode { Window, Convert, Usage, Wrong };
    Mode mode = Mode::Window;
    std::wstring recording;
    std::wstring out;   // a file, or a directory the output is named in; empty: the settings'
    std::wstring graph; // a graph description's name; empty: the one chosen in the settings
    std::wstring wrong; // Wrong: what is wrong with the command line
};

// Options are /name or --name in any letter case: /convert <recording> [/out <file or directory>]
// [/graph <name>], and /? for the usage. No option at all shows the window.
CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

// The arguments after the program's name: split at blanks outside double quotes, which are
// dropped. A backslash is always itself, as in the paths given: "C:\Recorded TV\" is the
// directory, not a quote kept (a name cannot hold a double quote).
std::vector<std::wstring> SplitArguments(const std::wstring& commandLine);
std::vector<std::wstring> ProgramArguments();

extern const wchar_t CommandUsage[];
