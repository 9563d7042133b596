#pragma once
// The user's command run after each successful conversion (the AfterConversion setting): one
// command, started hidden, waited for within a bound, and the line that tells how it went.

#include <windows.h>

#include <atomic>
#include <string>

// The command line with every %OUTPUT% and %RECORDING% replaced by that file's full path in quotes.
std::wstring AfterConversionCommandLine(const std::wstring& pattern, const std::wstring& outputPath,
                                        const std::wstring& recordingPath);

// Starts the command line without a window and waits for its end for at most `boundMs` (read again
// while waiting: it shrinks at exit) or until `stop` is signalled; a command still running then is
// left to run. The result is the line for the log: the exit code, or why there is none.
std::wstring RunAfterConversion(const std::wstring& commandLine, const std::atomic<DWORD>& boundMs, HANDLE stop);
