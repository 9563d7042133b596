#pragma once
// The allocator of an input pin whose filter keeps the stream's bytes in a queue of its own: the
// sample it hands out is, when the filter can lend it, the room after the queue's last byte, so
// the upstream filter puts its bytes where they are kept and Receive copies nothing. One such
// sample is out at a time (the next bytes have one place to go); any other comes from an ordinary
// pool of the properties asked for, as does every sample when no room is lent.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <memory>

#include "filters/MediaSample.h"
#include "filters/MemoryAllocator.h"
#include "filters/ModuleLock.h"
#include "filters/RefCounted.h"

class IRoomLender {
public:
    // Room for `size` bytes where the pin's next received bytes are kept, alive while `keep` is
    // held; false when there is none to lend now.
    virtual bool LendRoom(size_t size, std::shared_ptr<void>& keep, BYTE*& room) = 0;

protected:
    ~IRoomLender() = default;
};

class CLendingAllocator final : public CRefCounted<IMemAllocator>, public ISampleHome {
public:
    // Fails (null pool) only for want of memory; Create checks.
    static HRESULT Create(IRoomLender* lender, Microsoft::WRL::ComPtr<CLendingAllocator>& made);
    // The lender goes: no room is asked of it once this returns.
    void Detach();

    // IMemAllocator
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;
    // ISampleHome: the lent sample is back.
    void OnSampleReturned(CMediaSample* sample) override;

private:
    explicit CLendingAllocator(IRoomLender* lender) : lender_(lender) {}
    ~CLendingAllocator() override = default;
    // The lent room as a sample, or null when none is lent now.
    CMediaSample* Lend();

    Microsoft::WRL::ComPtr<CMemoryAllocator> pool_;
    SRWLOCK lock_ = SRWLOCK_INIT; // held while the lender is asked, so Detach waits for that
    // All below under lock_.
    IRoomLender* lender_;
    ALLOCATOR_PROPERTIES properties_ = {}; // as last set: what each lent room is
    bool committed_ = false;
    bool lentOut_ = false;
    std::shared_ptr<void> keep_; // the lent room's, while its sample is out
    CMediaSample lent_;
    CModuleObject moduleObject_;
};
