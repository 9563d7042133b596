#include "builtin/WriteBehindFile.h"

#include <process.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

HRESULT LastError()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

} // namespace

CWriteBehindFile::CWriteBehindFile() = default;

CWriteBehindFile::~CWriteBehindFile()
{
    Close();
}

HRESULT CWriteBehindFile::Open(const std::wstring& path)
{
    Close();
    for (auto& buffer : buffers_) {
        if (!buffer)
            buffer.reset(new (std::nothrow) BYTE[BufferSize]);
        if (!buffer)
            return E_OUTOFMEMORY;
    }
    free_.fill(true);
    filling_ = -1;
    used_ = 0;
    written_ = flushedAt_ = 0;
    error_ = S_OK;
    ending_ = false;
    file_.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file_)
        return LastError();
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &CWriteBehindFile::ThreadProc, this, 0, nullptr);
    if (!thread) {
        file_.Reset();
        return E_OUTOFMEMORY;
    }
    thread_.Reset(reinterpret_cast<HANDLE>(thread));
    return S_OK;
}

unsigned __stdcall CWriteBehindFile::ThreadProc(void* context)
{
    static_cast<CWriteBehindFile*>(context)->WriteQueued();
    return 0;
}

void CWriteBehindFile::WriteQueued()
{
    for (;;) {
        Piece piece;
        {
            SrwExclusiveLock lock(lock_);
            while (count_ == 0 && !ending_)
                ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
            if (count_ == 0)
                return;
            piece = ring_[head_];
            ring_[head_].owner.Reset(); // the ring must not keep an owner past its write
            head_ = (head_ + 1) % RingSize;
            --count_;
        }
        // After a failure nothing more is written: the file ends at the last good write.
        if (SUCCEEDED(error_.load())) {
            const HRESULT hr = WritePiece(piece);
            if (FAILED(hr))
                error_ = hr;
        }
        piece.owner.Reset();
        SrwExclusiveLock lock(lock_);
        if (piece.buffer >= 0)
            free_[static_cast<size_t>(piece.buffer)] = true;
        ::WakeAllConditionVariable(&changed_);
    }
}

HRESULT CWriteBehindFile::WritePiece(const Piece& piece)
{
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), piece.data, piece.length, &written, nullptr))
        return LastError();
    // A disk file takes all or reports why; a short write means the volume is full.
    if (written != piece.length)
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    written_ += written;
    if (written_ - flushedAt_ >= WritebackBytes) {
        flushedAt_ = written_;
        if (!::FlushFileBuffers(file_.Get()))
            return LastError();
    }
    return S_OK;
}

HRESULT CWriteBehindFile::Queue(Piece piece)
{
    SrwExclusiveLock lock(lock_);
    while (count_ == RingSize)
        ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    ring_[(head_ + count_) % RingSize] = std::move(piece);
    ++count_;
    ::WakeAllConditionVariable(&changed_);
    return error_.load();
}

HRESULT CWriteBehindFile::QueueFilling()
{
    if (filling_ < 0 || used_ == 0)
        return S_OK;
    Piece piece;
    piece.data = buffers_[static_cast<size_t>(filling_)].get();
    piece.length = used_;
    piece.buffer = filling_;
    filling_ = -1;
    used_ = 0;
    return Queue(std::move(piece));
}

HRESULT CWriteBehindFile::Append(const BYTE* data, DWORD length, IUnknown* owner)
{
    if (!file_)
        return E_UNEXPECTED;
    HRESULT hr = error_.load();
    while (SUCCEEDED(hr) && length > 0) {
        if (owner && used_ == 0 && length >= BufferSize) {
            Piece piece;
            piece.data = data;
            piece.length = length;
            piece.owner = owner;
            return Queue(std::move(piece));
        }
        if (filling_ < 0) {
            SrwExclusiveLock lock(lock_);
            for (;;) {
                const auto found = std::find(free_.begin(), free_.end(), true);
                if (found != free_.end()) {
                    *found = false;
                    filling_ = static_cast<int>(found - free_.begin());
                    break;
                }
                ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
            }
        }
        const DWORD part = std::min(length, BufferSize - used_);
        std::memcpy(buffers_[static_cast<size_t>(filling_)].get() + used_, data, part);
        used_ += part;
        data += part;
        length -= part;
        hr = used_ == BufferSize ? QueueFilling() : error_.load();
    }
    return hr;
}

void CWriteBehindFile::Drain()
{
    if (!thread_)
        return;
    {
        SrwExclusiveLock lock(lock_);
        ending_ = true;
        ::WakeAllConditionVariable(&changed_);
    }
    ::WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
}

HRESULT CWriteBehindFile::Finish()
{
    if (!file_)
        return E_UNEXPECTED;
    HRESULT hr = QueueFilling();
    Drain();
    if (SUCCEEDED(hr))
        hr = error_.load();
    if (SUCCEEDED(hr) && !::FlushFileBuffers(file_.Get()))
        hr = LastError();
    // Closing a file on a network share can be the moment its last write fails.
    if (!::CloseHandle(file_.Release()) && SUCCEEDED(hr))
        hr = LastError();
    return hr;
}

void CWriteBehindFile::Close()
{
    if (file_)
        QueueFilling();
    Drain();
    filling_ = -1;
    used_ = 0;
    file_.Reset();
}
