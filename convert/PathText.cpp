#include "convert/PathText.h"

#include "base/ScopedWin.h"
#include "convert/WideText.h"

#include <cstring>

namespace {

std::string FullPathOf(const std::string& path)
{
    char full[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(full, length);
}

std::wstring FullPath(const std::string& path)
{
    const DWORD size = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::string full(size, '\0');
    const DWORD length = ::GetFullPathNameA(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size)
        return std::wstring();
    full.resize(length);
    return ToWide(full, CP_ACP); // the file system's ANSI functions use the process code page
}

bool QueryFileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.Get(), &info);
}

} // namespace

bool EndsWithBackslash(const std::string& text, UINT codePage)
{
    size_t last = std::string::npos;
    for (size_t position = 0; position < text.size();) {
        last = position;
        position += ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[position])) ? 2 : 1;
    }
    return last != std::string::npos && text[last] == '\\' && last == text.size() - 1;
}

std::string FileNameOf(const std::string& path, UINT codePage)
{
    size_t nameAt = 0;
    for (size_t position = 0; position < path.size();) {
        const bool lead = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(path[position]));
        if (!lead && (path[position] == '\\' || path[position] == '/'))
            nameAt = position + 1;
        position += lead ? 2 : 1;
    }
    return path.substr(nameAt);
}

std::string AsWindowsNamesIt(const std::string& name)
{
    // No code page uses a blank or a dot as a trail byte.
    const size_t kept = name.find_last_not_of(" .");
    return kept == std::string::npos ? std::string() : name.substr(0, kept + 1);
}

bool ContainsCharacter(const std::string& text, const char* characters, UINT codePage)
{
    for (size_t position = 0; position < text.size();) {
        if (::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[position]))) {
            position += 2;
            continue;
        }
        if (text[position] != '\0' && strchr(characters, text[position]))
            return true;
        ++position;
    }
    return false;
}

bool LiesDirectlyIn(const std::string& path, const std::string& directory, UINT codePage)
{
    const std::string name = FileNameOf(path, codePage);
    if (name.empty() || name == "." || name == ".." || ContainsCharacter(name, kNotInFileNames, codePage))
        return false;
    std::string folder = FullPathOf(path.substr(0, path.size() - name.size()));
    std::string expected = FullPathOf(directory);
    if (folder.empty() || expected.empty())
        return false;
    if (!EndsWithBackslash(folder, codePage))
        folder += '\\';
    if (!EndsWithBackslash(expected, codePage))
        expected += '\\';
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, folder.c_str(), -1, expected.c_str(), -1) == CSTR_EQUAL;
}

bool HasExtension(const std::string& fileName, const std::string& extension)
{
    return fileName.size() > extension.size() && fileName[fileName.size() - extension.size() - 1] == '.'
        && ::lstrcmpiA(fileName.c_str() + fileName.size() - extension.size(), extension.c_str()) == 0;
}

std::string WithTrailingBackslash(std::string directory, UINT codePage)
{
    if (!EndsWithBackslash(directory, codePage))
        directory += '\\';
    return directory;
}

bool NamesSameFile(const std::string& first, const std::string& second)
{
    const std::wstring firstFull = FullPath(first);
    const std::wstring secondFull = FullPath(second);
    if (!firstFull.empty()
        && ::CompareStringOrdinal(firstFull.c_str(), -1, secondFull.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    // Short names and links reach one file under another path.
    BY_HANDLE_FILE_INFORMATION firstInfo;
    BY_HANDLE_FILE_INFORMATION secondInfo;
    return QueryFileIdentity(first, firstInfo) && QueryFileIdentity(second, secondInfo)
        && firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber
        && firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh && firstInfo.nFileIndexLow == secondInfo.nFileIndexLow;
}
