#pragma once
// A directory search by wildcard pattern:
//     for (bool found = find.FindFile(pattern); found; found = find.FindNextFile()) ...

#include "base/ScopedWin.h"

#include <string>

class CFileFind {
public:
    bool FindFile(const wchar_t* pattern);
    bool FindNextFile();
    void Close() { find_.Reset(); }

    std::wstring GetFileName() const { return data_.cFileName; }
    // The 8.3 name the file system made for a long name; empty when it made none.
    std::wstring GetShortName() const { return data_.cAlternateFileName; }
    bool IsDirectory() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    FILETIME GetLastWriteTime() const { return data_.ftLastWriteTime; }
    FILETIME GetCreationTime() const { return data_.ftCreationTime; }
    ULONGLONG GetLength() const
    {
        return (static_cast<ULONGLONG>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
    }

private:
    UniqueFindHandle find_;
    WIN32_FIND_DATAW data_ = {};
};
