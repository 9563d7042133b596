#pragma once
// A conversion asked for on the command line: no window, no tray icon and no single-instance lock,
// so it runs beside a running Halvern; what it does goes to the console it was started from, and
// how it ended to its exit code.

#include "app/CommandLine.h"

#include <string>

class CWinApp;

// Converts the recording the command line names, with the settings the profile holds where the
// command line does not say. Ctrl+C and Ctrl+Break cancel it, leaving no output.
CommandExit RunCommandConversion(const CommandLine& line, CWinApp& profile, const std::wstring& programDirectory);

// The usage, after what is wrong with the command line if it is wrong; in a message box when
// there is no console to print it on.
CommandExit ShowCommandUsage(const CommandLine& line);
