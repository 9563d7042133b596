#pragma once
// A file written front to back by a thread of its own: the caller goes on with the next sample
// while the last one is written, and the data goes to the disk as the run goes rather than all in
// the flush at the end. Small pieces are gathered into large writes; a large piece whose owner (a
// media sample) is held until it is written goes out as it is, without a copy. Memory stays
// bounded: a few buffers of its own, and the owners' pieces the ring holds.

#include <windows.h>
#include <wrl/client.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/ScopedWin.h"

class CWriteBehindFile {
public:
    static constexpr DWORD BufferSize = 1 << 20;
    static constexpr size_t OwnBuffers = 3;
    static constexpr size_t RingSize = 16;
    // Every so many bytes the thread flushes what it wrote: a system that holds written data back
    // for long would otherwise leave all of it for the flush at the end.
    static constexpr uint64_t WritebackBytes = 32ull << 20;

    CWriteBehindFile();
    CWriteBehindFile(const CWriteBehindFile&) = delete;
    CWriteBehindFile& operator=(const CWriteBehindFile&) = delete;
    ~CWriteBehindFile();

    // Creates the file, replacing one that exists; others may read it meanwhile, but not write.
    HRESULT Open(const std::wstring& path);
    // The first failure of a write so far is returned here, and the piece is not taken. With an
    // owner, the data stays valid while the owner is held.
    HRESULT Append(const BYTE* data, DWORD length, IUnknown* owner = nullptr);
    // Writes everything, flushes it to the disk and closes; the file is closed either way.
    HRESULT Finish();
    // Writes what it has as far as it can, and closes.
    void Close();

private:
    struct Piece {
        const BYTE* data = nullptr;
        DWORD length = 0;
        Microsoft::WRL::ComPtr<IUnknown> owner;
        int buffer = -1; // one of ours, given back once written
    };

    static unsigned __stdcall ThreadProc(void* context);
    void WriteQueued();
    HRESULT WritePiece(const Piece& piece);
    HRESULT Queue(Piece piece);
    HRESULT QueueFilling();
    // Ends the thread once all queued pieces are written.
    void Drain();

    UniqueFileHandle file_;
    UniqueHandle thread_;
    std::array<std::unique_ptr<BYTE[]>, OwnBuffers> buffers_;
    // Under lock_.
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::array<Piece, RingSize> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
    bool ending_ = false;
    std::array<bool, OwnBuffers> free_{};
    // The caller's: the buffer being filled.
    int filling_ = -1;
    DWORD used_ = 0;
    std::atomic<HRESULT> error_{S_OK};
    // The thread's.
    uint64_t written_ = 0;
    uint64_t flushedAt_ = 0;
};
