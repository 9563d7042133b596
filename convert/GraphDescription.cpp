#include "convert/GraphDescription.h"

#include "convert/PathText.h"
#include "settings/ConverterSettings.h"

#include <cwctype>

namespace {

// No real graph description comes near this; the reader holds about twice its longest line.
constexpr ULONGLONG MaxDescriptionBytes = 16 * 1024 * 1024;

// Names that Windows takes for devices in any directory and with any extension: reading one may
// block for ever (a serial port) or never end.
bool IsDeviceName(const std::wstring& name)
{
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(towupper(c));
    static const wchar_t* const Devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : Devices) {
        if (base == device)
            return true;
    }
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)
        && base[3] >= L'0' && base[3] <= L'9';
}

// The graph choice names a file of the program directory by its bare name, nothing else.
bool IsPlainGraphName(const std::wstring& name)
{
    return !name.empty() && name.find(L"..") == std::wstring::npos && !ContainsCharacter(name, NotInFileNames)
        && !IsDeviceName(name);
}

// Only a regular file of sane size is read.
bool IsReadableDescription(const CStdioFile& file)
{
    LARGE_INTEGER size;
    return ::GetFileType(file.Handle()) == FILE_TYPE_DISK && ::GetFileSizeEx(file.Handle(), &size)
        && static_cast<ULONGLONG>(size.QuadPart) <= MaxDescriptionBytes;
}

bool ParseFilterLine(const std::string& line, FilterEntry& entry)
{
    if (!ExtractAttribute(line, "clsid", entry.clsid))
        return false;
    // A filter without a name is named after its class identifier text.
    if (!ExtractAttribute(line, "ID", entry.ID))
        entry.ID = entry.clsid;
    return true;
}

bool ParseConnectLine(const std::string& line, ConnectEntry& entry)
{
    if (!ExtractAttribute(line, "src", entry.src) || !ExtractAttribute(line, "srcpin", entry.srcpin)
        || !ExtractAttribute(line, "dest", entry.dest)
        || !ExtractAttribute(line, "destpin", entry.destpin))
        return false;
    std::string direct;
    entry.direct = ExtractAttribute(line, "direct", direct) && direct == "yes";
    return true;
}

} // namespace

bool ExtractAttribute(const std::string& line, const char* key, std::string& value)
{
    const size_t keyAt = line.find(key);
    if (keyAt == std::string::npos)
        return false;
    const size_t open = line.find('"', keyAt);
    if (open == std::string::npos)
        return false;
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos)
        return false;
    value.assign(line, open + 1, close - open - 1);
    return true;
}

bool ParseGraphLine(const std::string& line, GraphEntry& entry)
{
    if (line.find("<FILTER ") != std::string::npos) {
        FilterEntry filter;
        if (!ParseFilterLine(line, filter))
            return false;
        entry = std::move(filter);
        return true;
    }
    if (line.find("<connect ") != std::string::npos) {
        ConnectEntry connect;
        if (!ParseConnectLine(line, connect))
            return false;
        entry = std::move(connect);
        return true;
    }
    return false;
}

GraphDescription ParseGraphDescription(const std::string& text)
{
    GraphDescription description;
    GraphEntry entry;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (ParseGraphLine(line, entry))
            description.Entries.push_back(std::move(entry));
        start = end + 1;
    }
    return description;
}

GraphDescription ReadGraphDescription(CStdioFile& source)
{
    GraphDescription description;
    std::string line;
    GraphEntry entry;
    while (source.ReadString(line)) {
        if (ParseGraphLine(line, entry))
            description.Entries.push_back(std::move(entry));
    }
    return description;
}

HRESULT ReadGraphDescription(const GraphSource& source, const std::wstring& graphChoice, GraphDescription& description)
{
    if (graphChoice == InternalGraphName) {
        description = source.InternalGraph;
        return S_OK;
    }

    // The choice is a name from the listing of the program's directory, so it is opened there and
    // not against whatever the working directory happens to be.
    if (!IsPlainGraphName(graphChoice))
        return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    std::wstring path = source.ProgramDirectory;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    path += graphChoice;
    CStdioFile file;
    if (!file.Open(path.c_str(), CStdioFile::modeRead | CStdioFile::typeText)) {
        DWORD error = ::GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    if (!IsReadableDescription(file))
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    description = ReadGraphDescription(file);
    return S_OK;
}
