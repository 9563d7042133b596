#include "media/FileRead.h"

#include <algorithm>
#include <cstring>

#include "base/MediaErrors.h"

namespace media {

HRESULT OpenShared(const wchar_t* path, UniqueFileHandle& file)
{
    file.Reset(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

HRESULT ReadAt(HANDLE file, uint64_t offset, uint8_t* buffer, size_t size, size_t& got)
{
    got = 0;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return HRESULT_FROM_WIN32(::GetLastError());
    while (got < size) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size - got, 64u << 20));
        if (!::ReadFile(file, buffer + got, want, &read, nullptr))
            return HRESULT_FROM_WIN32(::GetLastError());
        if (read == 0)
            break;
        got += read;
    }
    return S_OK;
}

HRESULT CurrentSize(HANDLE file, uint64_t& size)
{
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(file, &length))
        return HRESULT_FROM_WIN32(::GetLastError());
    size = static_cast<uint64_t>(length.QuadPart);
    return S_OK;
}

HRESULT ReadProgress::Finish(HANDLE file, uint64_t length)
{
    uint64_t size = 0;
    HRESULT hr = CurrentSize(file, size);
    if (FAILED(hr))
        return hr;
    if (size < length)
        return HALVERN_E_SHRANK;
    total = length;
    done = length;
    return S_OK;
}

bool AllZero(const uint8_t* data, size_t size)
{
    // Each byte equal to the next, and the first zero: one memcmp, not a byte loop.
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

} // namespace media
