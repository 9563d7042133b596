#include "tests/support/TestSupport.h"

#include <vector>

namespace testing_support {

std::string ModuleDirectory()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

std::string HalvernExePath()
{
    return ModuleDirectory() + "Halvern.exe";
}

static void DeleteTree(const std::string& directory)
{
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((directory + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = directory + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path + "\\");
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(directory.c_str());
}

std::string MakeScratchDirectory(const std::string& name)
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string directory = std::string(temp) + "halvern-test-" + name + "\\";
    DeleteTree(directory);
    ::CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string ReadFileBytes(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    ::CloseHandle(file);
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
    const std::string wrapped = "/bin/sh -c \"" + commandLine + "; : >" + UnixPath(marker) + "\"";
    std::vector<char> command(wrapped.begin(), wrapped.end());
    command.push_back('\0');
    const BOOL started =
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
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

static HKEY CreateKey(const std::string& path, HKEY root)
{
    HKEY key = nullptr;
    ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    return key;
}

void SetRegistryString(const std::string& path, const char* name, const std::string& value, HKEY root)
{
    HKEY key = CreateKey(path, root);
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    ::RegCloseKey(key);
}

void SetRegistryDword(const std::string& path, const char* name, DWORD value, HKEY root)
{
    HKEY key = CreateKey(path, root);
    ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    ::RegCloseKey(key);
}

bool ReadRegistryString(const std::string& path, const char* name, std::string& value, HKEY root)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    bool ok = ::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ;
    if (ok) {
        std::vector<char> buffer(size + 1, '\0');
        ok = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size)
            == ERROR_SUCCESS;
        value = buffer.data();
    }
    ::RegCloseKey(key);
    return ok;
}

bool ReadRegistryDword(const std::string& path, const char* name, DWORD& value, HKEY root)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = sizeof(value);
    bool ok = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
        && type == REG_DWORD;
    ::RegCloseKey(key);
    return ok;
}

void DeleteRegistryValue(const std::string& path, const char* name, HKEY root)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    ::RegDeleteValueA(key, name);
    ::RegCloseKey(key);
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
