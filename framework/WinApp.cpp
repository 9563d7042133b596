#include "framework/WinApp.h"

#include "base/ScopedWin.h"

#include <vector>

namespace {

CWinApp* g_app = nullptr;

} // namespace

std::string ModuleBaseName(HMODULE module)
{
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD length = ::GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::string name(path.begin(), path.end());
    std::string::size_type slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

CWinApp::CWinApp()
    : m_hInstance(::GetModuleHandleA(nullptr)),
      m_appName(ModuleBaseName(nullptr))
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

void CWinApp::SetRegistryKey(const char* maker)
{
    m_registryKey = maker ? maker : "";
}

HKEY CWinApp::OpenSectionKey(const char* section)
{
    if (m_registryKey.empty() || m_appName.empty())
        return nullptr;
    std::string path = "Software\\" + m_registryKey + "\\" + m_appName;
    if (section && *section)
        path += std::string("\\") + section;
    HKEY key = nullptr;
    LONG rc = ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

std::string CWinApp::GetProfileString(const char* section, const char* entry, const char* defaultValue)
{
    std::string fallback = defaultValue ? defaultValue : "";
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return fallback;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.Get(), entry, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return fallback;
    // One spare byte so a stored value without its terminator still ends.
    std::vector<char> buffer(size + 1, '\0');
    if (::RegQueryValueExA(key.Get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return fallback;
    return std::string(buffer.data());
}

UINT CWinApp::GetProfileInt(const char* section, const char* entry, int defaultValue)
{
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return static_cast<UINT>(defaultValue);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExA(key.Get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof(value))
        return static_cast<UINT>(defaultValue);
    return value;
}

BOOL CWinApp::WriteProfileString(const char* section, const char* entry, const char* value)
{
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return FALSE;
    std::string text = value ? value : "";
    return ::RegSetValueExA(key.Get(), entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

BOOL CWinApp::WriteProfileInt(const char* section, const char* entry, int value)
{
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return FALSE;
    DWORD data = static_cast<DWORD>(value);
    return ::RegSetValueExA(key.Get(), entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data))
        == ERROR_SUCCESS;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

int AfxWinMain(HINSTANCE instance)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->m_hInstance = instance;
    // InitInstance runs the whole program; there is no framework message loop after it.
    app->InitInstance();
    return 0;
}
