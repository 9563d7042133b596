#include "tests/support/TestSupport.h"

#include <filesystem>
#include <system_error>

#include "framework/ScopedWin.h"

namespace testing_support {

std::string ModuleDirectory()
{
    char path[MAX_PATH] = {};
    const std::string module(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
    return module.substr(0, module.find_last_of('\\') + 1);
}

std::string HalvernExePath()
{
    return ModuleDirectory() + "Halvern.exe";
}

std::string MakeScratchDirectory(const std::string& name)
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string directory = std::string(temp) + "halvern-test-" + name + "\\";
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    std::filesystem::create_directory(directory, ignored);
    return directory;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ReadFileBytes(const std::string& path)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string VectorPath(const std::string& name)
{
    char unixDirectory[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("HALVERN_VECTORS", unixDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    // Wine's drive Z: is the Unix root.
    std::string path = std::string("Z:") + unixDirectory + "\\" + name;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string UnixPath(const std::string& windowsPath)
{
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return std::string();
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* unix = toUnix(wide.c_str());
    if (!unix)
        return std::string();
    std::string path(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return path;
}

bool RunLinuxTool(const std::string& commandLine, ToolOutput& output, DWORD timeoutMs)
{
    const std::string directory = MakeScratchDirectory("tool-output");
    const std::string outPath = directory + "out.txt";
    const std::string errPath = directory + "err.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = ::CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    // Wine hands out no waitable handle for a Unix process (the wait fails at once), so the
    // command runs under /bin/sh, which leaves a marker when it is done. No double quotes in it.
    const std::string marker = directory + "done";
    std::string command = "/bin/sh -c \"" + commandLine + "; : >" + UnixPath(marker) + "\"";
    const BOOL started =
        ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (!started)
        return false;
    const DWORD wait = ::WaitForSingleObject(process.hProcess, timeoutMs);
    const bool ended = wait == WAIT_OBJECT_0 ||
                       (wait == WAIT_FAILED && WaitUntil([&] { return FileExists(marker); }, timeoutMs));
    if (!ended)
        ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    output.out = ReadFileBytes(outPath);
    output.err = ReadFileBytes(errPath);
    return ended;
}

void DeleteRegistryTree(const std::string& path, HKEY root)
{
    ::RegDeleteTreeA(root, path.c_str());
    ::RegDeleteKeyA(root, path.c_str());
}

// RegSetKeyValue makes the key when it is not there yet.
void SetRegistryString(const std::string& path, const char* name, const std::string& value, HKEY root)
{
    ::RegSetKeyValueA(root, path.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetRegistryDword(const std::string& path, const char* name, DWORD value, HKEY root)
{
    ::RegSetKeyValueA(root, path.c_str(), name, REG_DWORD, &value, sizeof(value));
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

bool ReadRegistryDword(const std::string& path, const char* name, DWORD& value, HKEY root)
{
    DWORD size = sizeof(value);
    return ::RegGetValueA(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

void DeleteRegistryValue(const std::string& path, const char* name, HKEY root)
{
    ::RegDeleteKeyValueA(root, path.c_str(), name);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

ChildProcess::~ChildProcess()
{
    if (info_.hProcess) {
        Kill();
        ::CloseHandle(info_.hProcess);
        ::CloseHandle(info_.hThread);
    }
}

bool ChildProcess::Start(const std::string& exePath, const std::string& stdoutPath)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    HANDLE output = nullptr;
    if (!stdoutPath.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        output = ::CreateFileA(stdoutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    }
    std::string commandLine = "\"" + exePath + "\"";
    BOOL started = ::CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                                    nullptr, &startup, &info_);
    if (output)
        ::CloseHandle(output);
    return started != FALSE;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (!info_.hProcess || ::WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        ::GetExitCodeProcess(info_.hProcess, exitCode);
    return true;
}

void ChildProcess::Kill()
{
    if (info_.hProcess && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(info_.hProcess, 1);
        ::WaitForSingleObject(info_.hProcess, 5000);
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

std::string WindowText(HWND window)
{
    char text[1024] = {};
    ::GetWindowTextA(window, text, sizeof(text));
    return text;
}

} // namespace testing_support
