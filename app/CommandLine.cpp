#include "app/CommandLine.h"

#include <windows.h>

const wchar_t CommandUsage[] =
    L"Halvern converts a media-centre recording into an MPEG file.\n"
    L"\n"
    L"  Halvern.exe /convert <recording> [/out <file or directory>] [/graph <graph description>]\n"
    L"\n"
    L"  /convert  the recording (DVR-MS or WTV) to convert\n"
    L"  /out      the output file, or the directory it is written in (default: the output\n"
    L"            directory and extension set in Halvern's window)\n"
    L"  /graph    the graph description to use, by its name in the program's directory, or\n"
    L"            \"<Internal DVR to MPG graph>\" (default: the one chosen in Halvern's window)\n"
    L"  /?        this text\n"
    L"\n"
    L"Options may also be written --convert, --out, --graph, in any letter case.\n"
    L"Exit codes: 0 converted; 1 usage error; 2 the recording cannot be converted (missing,\n"
    L"damaged, protected, not a recording, unsupported video); 3 the output could not be written;\n"
    L"4 the graph could not be built or failed; 5 cancelled (Ctrl+C) or stalled; 6 the recording\n"
    L"is still being recorded; 7 converted as far as the recording goes (its file ends cut off).\n";

namespace {

// The option's name without its "/" or "--", folded to lower case; empty for an argument that
// is no option.
std::wstring OptionName(const std::wstring& argument)
{
    size_t start = 0;
    if (argument.compare(0, 2, L"--") == 0)
        start = 2;
    else if (argument.compare(0, 1, L"/") == 0)
        start = 1;
    else
        return std::wstring();
    std::wstring name = argument.substr(start);
    if (!name.empty())
        ::CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

CommandLine Wrong(std::wstring what)
{
    CommandLine line;
    line.mode = CommandLine::Mode::Wrong;
    line.wrong = std::move(what);
    return line;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments)
{
    CommandLine line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring name = OptionName(arguments[i]);
        if (name == L"?" || name == L"help") {
            line.mode = CommandLine::Mode::Usage;
            return line;
        }
        std::wstring* value = name == L"convert" ? &line.recording
                              : name == L"out"   ? &line.out
                              : name == L"graph" ? &line.graph
                                                 : nullptr;
        if (!value)
            return Wrong(L"Unknown argument: " + arguments[i]);
        if (i + 1 >= arguments.size() || arguments[i + 1].empty())
            return Wrong(L"The option " + arguments[i] + L" needs a value.");
        if (!value->empty())
            return Wrong(L"The option " + arguments[i] + L" is given twice.");
        *value = arguments[++i];
    }
    if (arguments.empty())
        return line;
    if (line.recording.empty())
        return Wrong(L"/out and /graph go with /convert <recording>.");
    line.mode = CommandLine::Mode::Convert;
    return line;
}

std::vector<std::wstring> SplitArguments(const std::wstring& commandLine)
{
    std::vector<std::wstring> arguments;
    std::wstring current;
    bool quoted = false, any = false;
    for (const wchar_t c : commandLine) {
        if (c == L'"') {
            quoted = !quoted;
            any = true;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (any)
                arguments.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        arguments.push_back(current);
    if (!arguments.empty())
        arguments.erase(arguments.begin()); // the program's own name
    return arguments;
}

std::vector<std::wstring> ProgramArguments()
{
    return SplitArguments(::GetCommandLineW());
}
