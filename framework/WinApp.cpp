#include "framework/WinApp.h"

#include "base/ScopedWin.h"

#include <vector>

namespace {

CWinApp* g_app = nullptr;

} // namespace

std::wstring ModuleBaseName(HMODULE module)
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::wstring name(path.begin(), path.end());
    std::wstring::size_type slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    std::wstring::size_type dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

CWinApp::CWinApp()
    : m_hInstance(::GetModuleHandleW(nullptr)),
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

int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::SetRegistryKey(const wchar_t* maker)
{
    m_registryKey = maker ? maker : L"";
}

HKEY CWinApp::OpenSectionKey(const wchar_t* section)
{
    if (m_registryKey.empty() || m_appName.empty())
        return nullptr;
    std::wstring path = L"Software\\" + m_registryKey + L"\\" + m_appName;
    if (section && *section)
        path += std::wstring(L"\\") + section;
    HKEY key = nullptr;
    LONG rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

std::wstring CWinApp::GetProfileString(const wchar_t* section, const wchar_t* entry, const wchar_t* defaultValue)
{
    std::wstring fallback = defaultValue ? defaultValue : L"";
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return fallback;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), entry, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return fallback;
    // A spare character so a stored value without its terminator still ends.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(key.Get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return fallback;
    return std::wstring(buffer.data());
}

UINT CWinApp::GetProfileInt(const wchar_t* section, const wchar_t* entry, int defaultValue)
{
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return static_cast<UINT>(defaultValue);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegQueryValueExW(key.Get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof(value))
        return static_cast<UINT>(defaultValue);
    return value;
}

BOOL CWinApp::WriteProfileString(const wchar_t* section, const wchar_t* entry, const wchar_t* value)
{
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return FALSE;
    std::wstring text = value ? value : L"";
    return ::RegSetValueExW(key.Get(), entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

BOOL CWinApp::WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value)
{
    UniqueRegKey key(OpenSectionKey(section));
    if (!key)
        return FALSE;
    DWORD data = static_cast<DWORD>(value);
    return ::RegSetValueExW(key.Get(), entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data))
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
    return app->ExitInstance();
}
