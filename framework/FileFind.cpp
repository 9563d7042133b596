#include "framework/FileFind.h"

bool CFileFind::FindFile(const char* pattern)
{
    find_.Reset(::FindFirstFileA(pattern, &data_));
    return find_.IsValid();
}

bool CFileFind::FindNextFile()
{
    if (!find_)
        return false;
    if (::FindNextFileA(find_.Get(), &data_))
        return true;
    find_.Reset();
    return false;
}
