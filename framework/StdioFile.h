#pragma once
// A buffered text stream over a Win32 file. Bytes are written as given; reading splits lines
// at line feeds and drops only a carriage return that stands directly before one.

#include "base/ScopedWin.h"

#include <string>
#include <vector>

class CStdioFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000, // create, truncating an existing file
        typeText = 0x4000,
    };

    CStdioFile() = default;
    CStdioFile(const CStdioFile&) = delete;
    CStdioFile& operator=(const CStdioFile&) = delete;
    ~CStdioFile();

    BOOL Open(const wchar_t* path, UINT flags);
    void Close();
    HANDLE Handle() const { return file_.Get(); }

    BOOL Write(const void* data, size_t count);
    BOOL Flush();

    // Gives false at the end of the file (or on a read error) with no line read.
    bool ReadString(std::string& line);

    void SeekToBegin() { Seek(0, FILE_BEGIN); }
    ULONGLONG Seek(LONGLONG offset, DWORD from);

private:
    bool FillBuffer();

    UniqueFileHandle file_;
    std::string pendingWrite_;
    std::vector<char> readBuffer_;
    size_t readPos_ = 0;
    size_t readEnd_ = 0;
    bool atEnd_ = false;
};
