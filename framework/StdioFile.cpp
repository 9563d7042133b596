#include "framework/StdioFile.h"

#include <algorithm>

namespace {

constexpr size_t BufferSize = 4096;

} // namespace

CStdioFile::~CStdioFile()
{
    Close();
}

BOOL CStdioFile::Open(const wchar_t* path, UINT flags)
{
    Close();
    DWORD access = GENERIC_READ;
    if (flags & modeWrite)
        access = GENERIC_WRITE;
    else if (flags & modeReadWrite)
        access = GENERIC_READ | GENERIC_WRITE;

    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    switch (flags & 0x70) {
    case shareExclusive: share = 0; break;
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    default: break;
    }
    DWORD disposition = (flags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;

    file_.Reset(::CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    readBuffer_.assign(BufferSize, '\0');
    readPos_ = readEnd_ = 0;
    atEnd_ = false;
    return file_.IsValid();
}

void CStdioFile::Close()
{
    if (file_)
        Flush();
    file_.Reset();
    pendingWrite_.clear();
    readPos_ = readEnd_ = 0;
}

BOOL CStdioFile::Write(const void* data, size_t count)
{
    if (!file_)
        return FALSE;
    if (readPos_ != readEnd_) {
        // Writing after reading continues where the reader stands, not where the buffer ends.
        Seek(0, FILE_CURRENT);
    }
    pendingWrite_.append(static_cast<const char*>(data), count);
    if (pendingWrite_.size() >= BufferSize)
        return Flush();
    return TRUE;
}

BOOL CStdioFile::Flush()
{
    if (!file_)
        return FALSE;
    size_t done = 0;
    while (done < pendingWrite_.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(pendingWrite_.size() - done, 1u << 20));
        if (!::WriteFile(file_.Get(), pendingWrite_.data() + done, chunk, &written, nullptr) || written == 0) {
            pendingWrite_.erase(0, done);
            return FALSE;
        }
        done += written;
    }
    pendingWrite_.clear();
    return TRUE;
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, DWORD from)
{
    if (!file_)
        return 0;
    Flush();
    if (from == FILE_CURRENT)
        offset -= static_cast<LONGLONG>(readEnd_ - readPos_); // bytes buffered but not yet read
    readPos_ = readEnd_ = 0;
    atEnd_ = false;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position = {};
    ::SetFilePointerEx(file_.Get(), distance, &position, from);
    return static_cast<ULONGLONG>(position.QuadPart);
}

bool CStdioFile::FillBuffer()
{
    if (atEnd_)
        return false;
    Flush();
    DWORD read = 0;
    if (!::ReadFile(file_.Get(), readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), &read, nullptr)
        || read == 0) {
        atEnd_ = true;
        return false;
    }
    readPos_ = 0;
    readEnd_ = read;
    return true;
}

bool CStdioFile::ReadString(std::string& line)
{
    line.clear();
    if (!file_)
        return false;
    bool gotAny = false;
    for (;;) {
        if (readPos_ == readEnd_ && !FillBuffer())
            return gotAny;
        gotAny = true;
        const char* start = readBuffer_.data() + readPos_;
        const char* end = readBuffer_.data() + readEnd_;
        const char* feed = std::find(start, end, '\n');
        line.append(start, feed);
        readPos_ += static_cast<size_t>(feed - start);
        if (feed != end) {
            ++readPos_; // the line feed itself
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
    }
}
