#pragma once
// Helpers shared by the test programs: paths, scratch directories, registry, processes, windows.

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// The directory of the running test program, with a trailing backslash. Halvern.exe is built there.
std::string ModuleDirectory();
std::string HalvernExePath();

// A fresh, empty directory under the temporary directory, with a trailing backslash.
std::string MakeScratchDirectory(const std::string& name);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// A test vector made by tests/media/make-vectors.sh, as a Windows path ("es\\video.m2v").
// Empty when the program runs outside CTest's vectors fixture.
std::string VectorPath(const std::string& name);
// The Unix path of a Windows path (through Wine's own mapping); empty when there is none.
std::string UnixPath(const std::string& windowsPath);

// Runs a Linux program (ffmpeg, ffprobe: by their Linux path, arguments as Unix paths) and gives
// what it wrote. Wine starts Unix programs itself but does not pass their exit code on reliably,
// so callers judge by the output. False when it could not be started or did not end in time.
struct ToolOutput {
    std::string out;
    std::string err;
};
bool RunLinuxTool(const std::string& commandLine, ToolOutput& output, DWORD timeoutMs = 120000);

// Registry under HKEY_CURRENT_USER unless a root is given.
void DeleteRegistryTree(const std::string& path, HKEY root = HKEY_CURRENT_USER);
void SetRegistryString(const std::string& path, const char* name, const std::string& value,
                       HKEY root = HKEY_CURRENT_USER);
void SetRegistryDword(const std::string& path, const char* name, DWORD value, HKEY root = HKEY_CURRENT_USER);
bool ReadRegistryString(const std::string& path, const char* name, std::string& value, HKEY root = HKEY_CURRENT_USER);
bool ReadRegistryDword(const std::string& path, const char* name, DWORD& value, HKEY root = HKEY_CURRENT_USER);
void DeleteRegistryValue(const std::string& path, const char* name, HKEY root = HKEY_CURRENT_USER);

// Polls the condition, handling this thread's messages in between, until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// A program started for a test; killed at destruction if still running.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // stdoutPath, when not empty, receives the program's standard output.
    bool Start(const std::string& exePath, const std::string& stdoutPath = std::string());
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Kill();
    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_ = {};
};

// Top-level dialog windows ("#32770") of a process with the given caption, visible or not.
HWND FindProcessDialog(DWORD processId, const char* caption, int controlId = 0);
std::string WindowText(HWND window);

} // namespace testing_support
