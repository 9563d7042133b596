#pragma once
// The application object: its name, its registry location and the per-user profile.

#include <windows.h>

#include <string>

class CWnd;

class CWinApp {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Runs the program; returning FALSE ends it without a message loop.
    virtual BOOL InitInstance();
    // The process's exit code, once InitInstance has returned.
    virtual int ExitInstance();

    // Profile values live under HKEY_CURRENT_USER\Software\<maker>\<application name>.
    void SetRegistryKey(const wchar_t* maker);

    // An empty section addresses the application key itself. Strings are REG_SZ in UTF-16; one
    // written by the ANSI functions reads back as the characters it was written with.
    std::wstring GetProfileString(const wchar_t* section, const wchar_t* entry, const wchar_t* defaultValue);
    UINT GetProfileInt(const wchar_t* section, const wchar_t* entry, int defaultValue);
    BOOL WriteProfileString(const wchar_t* section, const wchar_t* entry, const wchar_t* value);
    BOOL WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value);

    HINSTANCE m_hInstance;
    std::wstring m_appName;      // the executable's base name
    std::wstring m_registryKey;  // the maker key; empty until SetRegistryKey
    CWnd* m_pMainWnd = nullptr;

private:
    HKEY OpenSectionKey(const wchar_t* section);
};

// The one application object of the process.
CWinApp* AfxGetApp();

// Called from the program's WinMain: sets up the application object and runs it.
int AfxWinMain(HINSTANCE instance);

// The base name, without directory or extension, of a module's file.
std::wstring ModuleBaseName(HMODULE module);
