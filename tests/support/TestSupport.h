#pragma once
// Helpers shared by the test programs: paths, scratch directories, registry, processes, windows.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/ScopedWin.h"

namespace testing_support {

// UTF-8 and UTF-16, for names that the ANSI functions cannot reach and Linux tools that take bytes.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Directories end in a backslash; a path held in a std::string is UTF-8. Halvern.exe is built beside
// the test programs.
std::string ModuleDirectory();
inline std::string HalvernExePath() { return ModuleDirectory() + "Halvern.exe"; }
// A fresh, empty directory under the temporary directory.
std::string MakeScratchDirectory(const std::string& name);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
inline void WriteFileBytes(const std::string& path, const std::string& bytes) { WriteFileBytes(Wide(path), bytes); }
inline std::string ReadFileBytes(const std::string& path) { return ReadFileBytes(Wide(path)); }
inline bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
inline bool FileExists(const std::string& path) { return FileExists(Wide(path)); }
// A vector of tests/media/make-vectors.sh ("es\\video.m2v"); empty outside CTest's vectors fixture.
std::string VectorPath(const std::string& name);
// The Unix path of a Windows path, through Wine's own mapping; empty when there is none.
std::string UnixPath(const std::string& windowsPath);
// Single-quoted for the shell RunLinuxTool runs the command in; the tests' paths hold no quote.
inline std::string Quoted(const std::string& windowsPath) { return "'" + UnixPath(windowsPath) + "'"; }

// Runs a Linux command line under /bin/sh (Linux paths throughout) and gives what it wrote; Wine does
// not pass the exit code on reliably. False when it could not be started or did not end in time.
struct ToolOutput { std::string out, err; };
bool RunLinuxTool(const std::string& commandLine, ToolOutput& output, DWORD timeoutMs = 120000);

// Registry under HKEY_CURRENT_USER unless a root is given; setting a value makes its key.
inline void DeleteRegistryTree(const std::string& path, HKEY root = HKEY_CURRENT_USER)
{
    ::RegDeleteTreeA(root, path.c_str());
    ::RegDeleteKeyA(root, path.c_str());
}
inline bool SetRegistryString(const std::string& path, const char* name, const std::string& value, HKEY root = HKEY_CURRENT_USER)
{
    return ::RegSetKeyValueA(root, path.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}
inline void SetRegistryDword(const std::string& path, const char* name, DWORD value, HKEY root = HKEY_CURRENT_USER)
{
    ::RegSetKeyValueA(root, path.c_str(), name, REG_DWORD, &value, sizeof(value));
}
bool ReadRegistryString(const std::string& path, const char* name, std::string& value, HKEY root = HKEY_CURRENT_USER);
inline bool ReadRegistryDword(const std::string& path, const char* name, DWORD& value, HKEY root = HKEY_CURRENT_USER)
{
    DWORD size = sizeof(value);
    return ::RegGetValueA(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

// Polls the condition, handling this thread's messages in between, until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// How often the part occurs in the text, without overlaps.
size_t CountOf(const std::string& text, const std::string& part);
// The numbers of a text written one a line (blank lines skipped), as ffprobe and the vector times give them.
std::vector<int64_t> Numbers(const std::string& text);
// A number from the environment, else `fallback`.
unsigned EnvironmentNumber(const char* name, unsigned fallback);

// The first lines of a text, joined by " | ", for a one-line failure.
std::string FirstLines(const std::string& text, size_t count);
// dvdauthor makes a title of the program stream file (a Windows path) and a DVD of the title without
// a warning or an error, as it does of ffmpeg's DVD output and not of a plain program stream; but
// for the gaps in the audio that the recording itself has, which it warns of as discontinuities
// (90 kHz, each up to `audioGaps`' own plus `slack`). The failure is a line that starts "dvdauthor".
::testing::AssertionResult DvdAuthorAccepts(const std::string& path, const std::vector<int64_t>& audioGaps = {},
                                            int64_t slack = 0);
// cvlc plays the file (a Windows path) to its end as a program stream, its video decoded, with no
// warning of the SCR or of late pictures.
::testing::AssertionResult VlcPlaysWithoutTimingWarnings(const std::string& windowsPath, const char* demux = "ps");

// A program started for a test, killed at destruction if still running; a stdoutPath given receives
// its standard output and error. Its handle makes it impossible to copy.
class ChildProcess {
public:
    ~ChildProcess() { Kill(); }
    bool Start(const std::string& exePath, const std::string& stdoutPath = std::string());
    // A whole command line (the program's name first), with the process creation flags.
    bool StartCommand(const std::string& commandLine, const std::string& stdoutPath, DWORD flags = 0);
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Kill();
    DWORD Id() const { return id_; }

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Top-level dialog windows ("#32770") of a process with the given caption, visible or not.
HWND FindProcessDialog(DWORD processId, const char* caption, int controlId = 0);

} // namespace testing_support
