#include "convert/GraphDescription.h"

#include "convert/PathText.h"
#include "settings/ConverterSettings.h"

#include <cctype>
#include <cstring>

namespace {

// No real graph description comes near this; the reader holds about twice its longest line.
constexpr ULONGLONG kMaxDescriptionBytes = 16 * 1024 * 1024;

// Names that Windows takes for devices in any directory and with any extension: reading one may
// block for ever (a serial port) or never end.
bool IsDeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : kDevices) {
        if (base == device)
            return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)
        && base[3] >= '0' && base[3] <= '9';
}

// The graph choice names a file of the program directory by its bare name, nothing else.
bool IsPlainGraphName(const std::string& name)
{
    return !name.empty() && name.find("..") == std::string::npos && !ContainsCharacter(name, kNotInFileNames)
        && !IsDeviceName(name);
}

// Only a regular file of sane size is read.
bool IsReadableDescription(const CStdioFile& file)
{
    LARGE_INTEGER size;
    return ::GetFileType(file.Handle()) == FILE_TYPE_DISK && ::GetFileSizeEx(file.Handle(), &size)
        && static_cast<ULONGLONG>(size.QuadPart) <= kMaxDescriptionBytes;
}

// Like the framework's multi-byte find: candidates start only at character boundaries, so the trail
// byte of a double-byte character never begins a match.
size_t FindText(const std::string& line, const char* text, size_t from, UINT codePage)
{
    const size_t length = strlen(text);
    size_t position = from;
    while (position < line.size()) {
        if (line.compare(position, length, text) == 0)
            return position;
        position += ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(line[position])) ? 2 : 1;
    }
    return std::string::npos;
}

bool ParseFilterLine(const std::string& line, FilterEntry& entry, UINT codePage)
{
    if (!ExtractAttribute(line, "clsid", entry.clsid, codePage))
        return false;
    // A filter without a name is named after its class identifier text.
    if (!ExtractAttribute(line, "ID", entry.ID, codePage))
        entry.ID = entry.clsid;
    return true;
}

bool ParseConnectLine(const std::string& line, ConnectEntry& entry, UINT codePage)
{
    if (!ExtractAttribute(line, "src", entry.src, codePage) || !ExtractAttribute(line, "srcpin", entry.srcpin, codePage)
        || !ExtractAttribute(line, "dest", entry.dest, codePage)
        || !ExtractAttribute(line, "destpin", entry.destpin, codePage))
        return false;
    std::string direct;
    entry.direct = ExtractAttribute(line, "direct", direct, codePage) && direct == "yes";
    return true;
}

} // namespace

bool ExtractAttribute(const std::string& line, const char* key, std::string& value, UINT codePage)
{
    const size_t keyAt = FindText(line, key, 0, codePage);
    if (keyAt == std::string::npos)
        return false;
    const size_t open = FindText(line, "\"", keyAt, codePage);
    if (open == std::string::npos)
        return false;
    const size_t close = FindText(line, "\"", open + 1, codePage);
    if (close == std::string::npos)
        return false;
    value.assign(line, open + 1, close - open - 1);
    return true;
}

bool ParseGraphLine(const std::string& line, GraphEntry& entry, UINT codePage)
{
    if (FindText(line, "<FILTER ", 0, codePage) != std::string::npos) {
        FilterEntry filter;
        if (!ParseFilterLine(line, filter, codePage))
            return false;
        entry = std::move(filter);
        return true;
    }
    if (FindText(line, "<connect ", 0, codePage) != std::string::npos) {
        ConnectEntry connect;
        if (!ParseConnectLine(line, connect, codePage))
            return false;
        entry = std::move(connect);
        return true;
    }
    return false;
}

GraphDescription ReadGraphDescription(CStdioFile& source, UINT codePage)
{
    GraphDescription description;
    std::string line;
    GraphEntry entry;
    while (source.ReadString(line)) {
        if (ParseGraphLine(line, entry, codePage))
            description.Entries.push_back(std::move(entry));
    }
    return description;
}

HRESULT ReadGraphDescription(const GraphSource& source, const std::string& graphChoice, GraphDescription& description)
{
    if (graphChoice == kInternalGraphName) {
        description = source.InternalGraph;
        return S_OK;
    }

    // The choice is a name from the listing of the program's directory, so it is opened there and
    // not against whatever the working directory happens to be.
    if (!IsPlainGraphName(graphChoice))
        return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    std::string path = source.ProgramDirectory;
    if (!path.empty() && path.back() != '\\')
        path += '\\';
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
