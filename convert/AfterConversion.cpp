#include "convert/AfterConversion.h"

#include "base/ScopedWin.h"

#include <algorithm>
#include <cwchar>

namespace {

const wchar_t OutputField[] = L"%OUTPUT%";
const wchar_t RecordingField[] = L"%RECORDING%";

std::wstring QuotedFullPath(const std::wstring& path)
{
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size ? ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr) : 0;
    full.resize(length > 0 && length < size ? length : 0);
    // No Windows path holds a quote, so the quotes alone keep blanks in the path.
    return L"\"" + (full.empty() ? path : full) + L"\"";
}

} // namespace

std::wstring AfterConversionCommandLine(const std::wstring& pattern, const std::wstring& outputPath,
                                        const std::wstring& recordingPath)
{
    const std::wstring output = QuotedFullPath(outputPath);
    const std::wstring recording = QuotedFullPath(recordingPath);
    std::wstring line;
    // One pass from left to right, so a path holding a placeholder's text is never replaced again.
    for (size_t at = 0; at < pattern.size();) {
        if (pattern.compare(at, wcslen(OutputField), OutputField) == 0) {
            line += output;
            at += wcslen(OutputField);
        } else if (pattern.compare(at, wcslen(RecordingField), RecordingField) == 0) {
            line += recording;
            at += wcslen(RecordingField);
        } else {
            line += pattern[at++];
        }
    }
    return line;
}

std::wstring RunAfterConversion(const std::wstring& commandLine, const std::atomic<DWORD>& boundMs, HANDLE stop)
{
    const std::wstring prefix = L"The command after conversion ";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE; // a windowed program too
    PROCESS_INFORMATION started = {};
    std::wstring writable = commandLine; // CreateProcessW may write into it
    if (!::CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &started))
        return prefix + L"could not be started (error " + std::to_wstring(::GetLastError()) + L").";
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);

    const DWORD start = ::GetTickCount();
    HANDLE handles[2] = {process.Get(), stop};
    const DWORD count = stop ? 2 : 1;
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        const DWORD bound = boundMs.load();
        if (elapsed >= bound)
            return prefix + L"did not end within " + std::to_wstring(bound / 1000) + L" s: it is left running, and Halvern goes on.";
        // In slices, so a bound shortened meanwhile takes effect.
        const DWORD woke = ::WaitForMultipleObjects(count, handles, FALSE, std::min<DWORD>(bound - elapsed, 500));
        if (woke == WAIT_OBJECT_0)
            break;
        if (woke == WAIT_OBJECT_0 + 1)
            return prefix + L"still running when the conversion was cancelled; it is left running.";
        if (woke == WAIT_FAILED)
            ::Sleep(100); // never spin
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.Get(), &code))
        return prefix + L"ended; its exit code cannot be read.";
    return prefix + L"ended with exit code " + std::to_wstring(code) + L".";
}
