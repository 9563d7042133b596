#pragma once
// Halvern's own IMemAllocator. Its buffers are one block made at Commit and handed out from a free
// list under an SRW lock; a GetBuffer with nothing free waits on a condition variable. Unlike the
// system's allocator, which waits on and releases a semaphore for every sample (a call to the Wine
// server each time), neither a GetBuffer nor a returned sample touches a kernel object unless a
// thread is waiting.

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "filters/MediaSample.h"
#include "filters/ModuleLock.h"
#include "filters/RefCounted.h"

class CMemoryAllocator final : public CRefCounted<IMemAllocator>, public ISampleHome {
public:
    CMemoryAllocator() = default;

    // IMemAllocator
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

    // ISampleHome
    void OnSampleReturned(CMediaSample* sample) override;
    // Threads asleep in GetBuffer now, so a test can wait until one is before it wakes it.
    long WaitingCount();

private:
    // The memory of one commit: the samples and the block their buffers are in.
    struct Buffers {
        std::unique_ptr<BYTE[]> block;
        std::unique_ptr<CMediaSample[]> samples;
    };

    ~CMemoryAllocator() override = default;
    HRESULT MakeBuffers();

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE bufferFree_ = CONDITION_VARIABLE_INIT;
    // All below under lock_.
    ALLOCATOR_PROPERTIES properties_ = {};
    bool committed_ = false;
    Buffers buffers_;       // kept after a Decommit until the last sample out comes back
    CMediaSample* free_ = nullptr;
    long outstanding_ = 0;  // samples handed out and not yet back
    long waiters_ = 0;      // threads asleep in GetBuffer
    CModuleObject moduleObject_;
};
