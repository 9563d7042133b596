#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <filesystem>
#include <system_error>

namespace testing_support {

std::wstring Wide(const std::string& utf8)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length, nullptr, nullptr);
    return utf8;
}

std::string ModuleDirectory()
{
    char path[MAX_PATH] = {};
    const std::string module(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
    return module.substr(0, module.find_last_of('\\') + 1);
}

std::string MakeScratchDirectory(const std::string& name)
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    // Named for the program too: test programs may run side by side.
    wchar_t program[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::string directory =
        std::string(temp) + "halvern-test-" + std::filesystem::path(program).stem().string() + "-" + name + "\\";
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    std::filesystem::create_directory(directory, ignored);
    return directory;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ReadFileBytes(const std::wstring& path)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

std::string VectorPath(const std::string& name)
{
    char unixDirectory[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("HALVERN_VECTORS", unixDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    // Wine's drive Z: is the Unix root.
    std::string path = std::string("Z:") + unixDirectory + "\\" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string UnixPath(const std::string& windowsPath)
{
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(std::wstring(windowsPath.begin(), windowsPath.end()).c_str()) : nullptr;
    const std::string path = unix ? unix : "";
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return path;
}

namespace {

// Starts the command line with its standard output and error in the named files, when named.
bool StartProcess(const char* exePath, std::string commandLine, const std::string& outPath, const std::string& errPath,
                  UniqueHandle& process, DWORD* id = nullptr, DWORD flags = 0)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const auto create = [&](const std::string& path) {
        return UniqueFileHandle(path.empty() ? INVALID_HANDLE_VALUE
                                             : ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const UniqueFileHandle out = create(outPath), err = errPath == outPath ? UniqueFileHandle() : create(errPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (out) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out.Get();
        startup.hStdError = err ? err.Get() : out.Get();
    }
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(exePath, &commandLine[0], nullptr, nullptr, out ? TRUE : FALSE, flags, nullptr, nullptr, &startup, &info))
        return false;
    ::CloseHandle(info.hThread);
    process = UniqueHandle(info.hProcess);
    if (id)
        *id = info.dwProcessId;
    return true;
}

} // namespace

bool RunLinuxTool(const std::string& commandLine, ToolOutput& output, DWORD timeoutMs)
{
    // One of its own for each thread: test programs run side by side in one prefix.
    const std::string directory = MakeScratchDirectory("tool-output-" + std::to_string(::GetCurrentThreadId()));
    // Wine gives no waitable handle for a Unix process (the wait fails at once), so the shell leaves
    // a marker when done. No double quotes in the command.
    const std::string marker = directory + "done";
    UniqueHandle process;
    if (!StartProcess(nullptr, "/bin/sh -c \"" + commandLine + "; : >" + UnixPath(marker) + "\"", directory + "out",
                      directory + "err", process))
        return false;
    const DWORD wait = ::WaitForSingleObject(process.Get(), timeoutMs);
    const bool ended = wait == WAIT_OBJECT_0 || (wait == WAIT_FAILED && WaitUntil([&] { return FileExists(marker); }, timeoutMs));
    if (!ended)
        ::TerminateProcess(process.Get(), 1);
    output = {ReadFileBytes(directory + "out"), ReadFileBytes(directory + "err")};
    return ended;
}

bool ReadRegistryString(const std::string& path, const char* name, std::string& value, HKEY root)
{
    char buffer[4096] = {}; // the tests' values are names and paths
    DWORD size = sizeof(buffer);
    if (::RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    value = buffer;
    return true;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (const DWORD start = ::GetTickCount(); !condition();) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        for (MSG msg; ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ::DispatchMessageA(&msg))
            ::TranslateMessage(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::vector<int64_t> Numbers(const std::string& text)
{
    std::vector<int64_t> numbers;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            numbers.push_back(std::atoll(line.c_str()));
    return numbers;
}

unsigned EnvironmentNumber(const char* name, unsigned fallback)
{
    char text[32] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, text, sizeof(text));
    return length > 0 && length < sizeof(text) ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

bool ChildProcess::Start(const std::string& exePath, const std::string& stdoutPath)
{
    return StartProcess(exePath.c_str(), "\"" + exePath + "\"", stdoutPath, stdoutPath, process_, &id_);
}

bool ChildProcess::StartCommand(const std::string& commandLine, const std::string& stdoutPath, DWORD flags)
{
    return StartProcess(nullptr, commandLine, stdoutPath, stdoutPath, process_, &id_, flags);
}

bool ChildProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return false;
    return !exitCode || ::GetExitCodeProcess(process_.Get(), exitCode);
}

void ChildProcess::Kill()
{
    if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.Get(), 1);
        ::WaitForSingleObject(process_.Get(), 5000);
    }
}

HWND FindProcessDialog(DWORD processId, const char* caption, int controlId)
{
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, "#32770", caption)) != nullptr) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == processId && (controlId == 0 || ::GetDlgItem(window, controlId)))
            return window;
    }
    return nullptr;
}

// cvlc plays the file to its end (with the demuxer named, its video decoded) with no warning of the
// SCR or of late pictures, nor, for a transport stream, of corrupt packets or discontinuities. VLC
// refuses to run as root, so under root it runs as nobody.
::testing::AssertionResult VlcPlaysWithoutTimingWarnings(const std::string& windowsPath, const char* demux)
{
    const bool transport = std::string(demux) == "ts";
    // Played at its own pace, with dummy outputs; only the lines that matter come back. (RunLinuxTool
    // takes no double quotes.)
    const std::string command =
        "user=; [ $(id -u) -eq 0 ] && user='/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/env HOME=/tmp'; "
        "$user /usr/bin/timeout 60 /usr/bin/cvlc -vv --intf dummy --vout dummy --aout dummy --play-and-exit fd://0 <'" +
        UnixPath(windowsPath) + "'" +
        " 2>&1 | /bin/grep -iE 'using demux module|using video decoder module|(warning|error).*(\\bscr\\b|\\blate\\b)" +
        (transport ? "|corrupt|discontinuity" : "") + "'";
    ToolOutput output;
    if (!RunLinuxTool(command, output, 120000))
        return ::testing::AssertionFailure() << "cvlc did not run or end: " << command;
    // A picture a few frames late is the decoder falling behind on a busy machine, not the file:
    // late delivery shows as an SCR warning or as pictures late by far more.
    constexpr long DecoderLagMs = 200;
    std::string complaints;
    std::istringstream lines(output.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t missing = line.find("(missing ");
        if (line.find("using ") != std::string::npos ||
            (missing != std::string::npos && std::strtol(line.c_str() + missing + 9, nullptr, 10) < DecoderLagMs))
            continue;
        complaints += line + "\n";
    }
    if (output.out.find("using demux module \"" + std::string(demux) + "\"") == std::string::npos ||
        output.out.find("using video decoder module") == std::string::npos)
        return ::testing::AssertionFailure() << "cvlc did not play " << windowsPath << " with its " << demux << " demuxer:\n"
                                             << output.out;
    if (!complaints.empty())
        return ::testing::AssertionFailure() << "cvlc on " << windowsPath << ":\n" << complaints;
    return ::testing::AssertionSuccess();
}

std::string FirstLines(const std::string& text, size_t count)
{
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; count > 0 && std::getline(lines, line); --count)
        kept += (kept.empty() ? "" : " | ") + line;
    return kept;
}

// As DVD authors use it: a title of the output, then the DVD's table of contents. A gap the
// recording has is kept whole, or what is left of one where every stream lost data and the output
// closed what they all lost; dvdauthor names the sectors on each side of it next.
::testing::AssertionResult DvdAuthorAccepts(const std::string& path, const std::vector<int64_t>& audioGaps, int64_t slack)
{
    const std::string dvd = MakeScratchDirectory("dvdauthor");
    for (const std::string& step : {" -t '" + UnixPath(path) + "'", std::string(" -T")}) {
        ToolOutput out;
        const std::string command = "VIDEO_FORMAT=PAL /usr/bin/dvdauthor -o '" + UnixPath(dvd) + "'" + step + " 2>&1";
        if (!RunLinuxTool(command, out))
            return ::testing::AssertionFailure() << "dvdauthor: could not run" << step;
        // Its progress lines end in carriage returns; an error goes on over two lines.
        std::string text = out.out + out.err;
        std::replace(text.begin(), text.end(), '\r', '\n');
        std::istringstream lines(text);
        bool ownGap = false;
        for (std::string line; std::getline(lines, line);) {
            const size_t discontinuity = line.find("WARN: Discontinuity of ");
            const int64_t gap = discontinuity == std::string::npos ? -1 : std::atoll(line.c_str() + discontinuity + 23);
            if (discontinuity != std::string::npos)
                ownGap = line.find(" in audio ") != std::string::npos &&
                         std::any_of(audioGaps.begin(), audioGaps.end(), [&](int64_t own) { return gap > 0 && gap <= own + slack; });
            if (ownGap && (discontinuity != std::string::npos || line.find("WARN: Previous sector") != std::string::npos ||
                           line.find("WARN: Current sector") != std::string::npos))
                continue;
            ownGap = false;
            if (line.find("Skipping sector") != std::string::npos || line.find("no VOBUs") != std::string::npos ||
                line.find("WARN") != std::string::npos || line.find("ERR") != std::string::npos) {
                std::string next;
                if (std::getline(lines, next) && next.compare(0, 4, "ERR:") == 0)
                    line += next.substr(4);
                return ::testing::AssertionFailure() << "dvdauthor" << step.substr(0, 3) << ": " << line;
            }
        }
        if (out.out.find(step == " -T" ? "table of contents" : "VTS") == std::string::npos)
            return ::testing::AssertionFailure() << "dvdauthor" << step.substr(0, 3) << " did not finish: " << FirstLines(text, 3);
    }
    return ::testing::AssertionSuccess();
}

} // namespace testing_support
