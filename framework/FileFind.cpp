#include "framework/FileFind.h"

bool CFileFind::FindFile(const wchar_t* pattern)
{
    find_.Reset(::FindFirstFileW(pattern, &data_));
    return find_.IsValid();
}

bool CFileFind::FindNextFile()
{
    if (!find_)
        return false;
    if (::FindNextFileW(find_.Get(), &data_))
        return true;
    find_.Reset();
    return false;
}
