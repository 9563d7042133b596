#include "filters/LendingAllocator.h"

#include <new>
#include <utility>

#include "base/ScopedWin.h"
#include "filters/Adopt.h"

HRESULT CLendingAllocator::Create(IRoomLender* lender, Microsoft::WRL::ComPtr<CLendingAllocator>& made)
{
    made = Adopt(new (std::nothrow) CLendingAllocator(lender));
    if (!made)
        return E_OUTOFMEMORY;
    made->pool_ = Adopt(new (std::nothrow) CMemoryAllocator());
    if (!made->pool_) {
        made.Reset();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CLendingAllocator::Detach()
{
    SrwExclusiveLock lock(lock_);
    lender_ = nullptr;
}

STDMETHODIMP CLendingAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    const HRESULT hr = pool_->SetProperties(request, actual);
    if (SUCCEEDED(hr)) {
        SrwExclusiveLock lock(lock_);
        properties_ = *actual;
    }
    return hr;
}

STDMETHODIMP CLendingAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties)
{
    return pool_->GetProperties(properties);
}

STDMETHODIMP CLendingAllocator::Commit()
{
    const HRESULT hr = pool_->Commit();
    if (FAILED(hr))
        return hr;
    SrwExclusiveLock lock(lock_);
    committed_ = true;
    return S_OK;
}

STDMETHODIMP CLendingAllocator::Decommit()
{
    {
        SrwExclusiveLock lock(lock_);
        committed_ = false;
    }
    return pool_->Decommit();
}

CMediaSample* CLendingAllocator::Lend()
{
    SrwExclusiveLock lock(lock_);
    // Lent room has no alignment or prefix of its own.
    if (properties_.cbAlign > 1 || properties_.cbPrefix > 0 || properties_.cbBuffer <= 0)
        return nullptr;
    BYTE* room = nullptr;
    if (!committed_ || lentOut_ || !lender_ || !lender_->LendRoom(static_cast<size_t>(properties_.cbBuffer), keep_, room))
        return nullptr;
    lentOut_ = true;
    lent_.Attach(this, room, properties_.cbBuffer);
    lent_.OnHandedOut();
    return &lent_;
}

STDMETHODIMP CLendingAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags)
{
    if (!sample)
        return E_POINTER;
    CMediaSample* lent = Lend();
    if (!lent)
        return pool_->GetBuffer(sample, start, stop, flags);
    AddRef(); // the sample's, given back when it returns
    *sample = lent;
    return S_OK;
}

STDMETHODIMP CLendingAllocator::ReleaseBuffer(IMediaSample* sample)
{
    // Samples come back by themselves when their last reference goes.
    return sample ? E_UNEXPECTED : E_POINTER;
}

void CLendingAllocator::OnSampleReturned(CMediaSample*)
{
    std::shared_ptr<void> released; // let go of once the lock is
    {
        SrwExclusiveLock lock(lock_);
        released = std::move(keep_);
        lentOut_ = false;
    }
    released.reset();
    Release();
}
