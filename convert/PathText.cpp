#include "convert/PathText.h"

#include "base/ScopedWin.h"

#include <cwchar>

namespace {

std::wstring FullPath(const std::wstring& path)
{
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size)
        return std::wstring();
    full.resize(length);
    return full;
}

bool QueryFileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.Get(), &info);
}

// Letter case aside, as the file system compares names.
bool SameText(const wchar_t* first, const wchar_t* second)
{
    return ::CompareStringOrdinal(first, -1, second, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

bool EndsWithBackslash(const std::wstring& text)
{
    return !text.empty() && text.back() == L'\\';
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring AsWindowsNamesIt(const std::wstring& name)
{
    const size_t kept = name.find_last_not_of(L" .");
    return kept == std::wstring::npos ? std::wstring() : name.substr(0, kept + 1);
}

bool ContainsCharacter(const std::wstring& text, const wchar_t* characters)
{
    return text.find_first_of(characters) != std::wstring::npos;
}

bool LiesDirectlyIn(const std::wstring& path, const std::wstring& directory)
{
    const std::wstring name = FileNameOf(path);
    if (name.empty() || name == L"." || name == L".." || ContainsCharacter(name, NotInFileNames))
        return false;
    const std::wstring folder = FullPath(path.substr(0, path.size() - name.size()));
    const std::wstring expected = FullPath(directory);
    if (folder.empty() || expected.empty())
        return false;
    return SameText(WithTrailingBackslash(folder).c_str(), WithTrailingBackslash(expected).c_str());
}

bool HasExtension(const std::wstring& fileName, const std::wstring& extension)
{
    return fileName.size() > extension.size() && fileName[fileName.size() - extension.size() - 1] == L'.'
        && SameText(fileName.c_str() + fileName.size() - extension.size(), extension.c_str());
}

std::wstring WithTrailingBackslash(std::wstring directory)
{
    if (!EndsWithBackslash(directory))
        directory += L'\\';
    return directory;
}

bool NamesSameFile(const std::wstring& first, const std::wstring& second)
{
    const std::wstring firstFull = FullPath(first);
    const std::wstring secondFull = FullPath(second);
    if (!firstFull.empty() && SameText(firstFull.c_str(), secondFull.c_str()))
        return true;
    // Short names and links reach one file under another path.
    BY_HANDLE_FILE_INFORMATION firstInfo;
    BY_HANDLE_FILE_INFORMATION secondInfo;
    return QueryFileIdentity(first, firstInfo) && QueryFileIdentity(second, secondInfo)
        && firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber
        && firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh && firstInfo.nFileIndexLow == secondInfo.nFileIndexLow;
}
