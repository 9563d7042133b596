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

    // Profile values live under HKEY_CURRENT_USER\Software\<maker>\<application name>.
    void SetRegistryKey(const char* maker);

    // An empty section addresses the application key itself.
    std::string GetProfileString(const char* section, const char* entry, const char* defaultValue);
    UINT GetProfileInt(const char* section, const char* entry, int defaultValue);
    BOOL WriteProfileString(const char* section, const char* entry, const char* value);
    BOOL WriteProfileInt(const char* section, const char* entry, int value);

    HINSTANCE m_hInstance;
    std::string m_appName;      // the executable's base name
    std::string m_registryKey;  // the maker key; empty until SetRegistryKey
    CWnd* m_pMainWnd = nullptr;

private:
    HKEY OpenSectionKey(const char* section);
};

// The one application object of the process.
CWinApp* AfxGetApp();

// Called from the program's WinMain: sets up the application object and runs it.
int AfxWinMain(HINSTANCE instance);

// The base name, without directory or extension, of a module's file.
std::string ModuleBaseName(HMODULE module);
