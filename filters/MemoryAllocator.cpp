#include "filters/MemoryAllocator.h"

#include <cstdint>
#include <new>
#include <utility>

#include "base/ScopedWin.h"

namespace {

bool IsPowerOfTwo(long value)
{
    return value > 0 && (value & (value - 1)) == 0;
}

} // namespace

STDMETHODIMP CMemoryAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (!request || !actual)
        return E_POINTER;
    if (!IsPowerOfTwo(request->cbAlign))
        return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0)
        return E_INVALIDARG;
    // Each buffer with its prefix takes a whole number of alignment units, so every buffer after
    // the first is aligned as the first is; the rounding goes to the buffer, as DirectShow's does.
    const LONGLONG align = request->cbAlign;
    const LONGLONG stride = (LONGLONG(request->cbBuffer) + request->cbPrefix + align - 1) / align * align;
    if (stride > MAXLONG)
        return E_OUTOFMEMORY;

    SrwExclusiveLock lock(lock_);
    if (committed_)
        return VFW_E_ALREADY_COMMITTED;
    if (outstanding_ > 0)
        return VFW_E_BUFFERS_OUTSTANDING;
    properties_ = *request;
    properties_.cbBuffer = request->cbBuffer ? static_cast<long>(stride) - request->cbPrefix : 0;
    *actual = properties_;
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties)
{
    if (!properties)
        return E_POINTER;
    SrwExclusiveLock lock(lock_);
    *properties = properties_;
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::Commit()
{
    SrwExclusiveLock lock(lock_);
    if (committed_)
        return S_OK;
    if (properties_.cBuffers <= 0 || properties_.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    // After a Decommit with samples still out, their buffers are taken up again as they are.
    if (!buffers_.samples) {
        const HRESULT hr = MakeBuffers();
        if (FAILED(hr))
            return hr;
    }
    committed_ = true;
    return S_OK;
}

HRESULT CMemoryAllocator::MakeBuffers()
{
    const ULONGLONG align = static_cast<ULONGLONG>(properties_.cbAlign);
    const ULONGLONG stride = static_cast<ULONGLONG>(properties_.cbBuffer) + properties_.cbPrefix;
    const ULONGLONG count = static_cast<ULONGLONG>(properties_.cBuffers);
    const ULONGLONG total = stride * count + align - 1; // both below 2^31, so no overflow
    if (total > SIZE_MAX)
        return E_OUTOFMEMORY;
    Buffers made;
    made.block.reset(new (std::nothrow) BYTE[static_cast<size_t>(total)]);
    made.samples.reset(new (std::nothrow) CMediaSample[static_cast<size_t>(count)]);
    if (!made.block || !made.samples)
        return E_OUTOFMEMORY;
    // The first buffer (after its prefix) on the alignment; the stride keeps the others there.
    const uintptr_t firstBuffer = reinterpret_cast<uintptr_t>(made.block.get()) + properties_.cbPrefix;
    BYTE* buffer = made.block.get() + properties_.cbPrefix + ((align - firstBuffer % align) % align);
    free_ = nullptr;
    for (ULONGLONG i = count; i-- > 0;) {
        CMediaSample& sample = made.samples[static_cast<size_t>(i)];
        sample.Attach(this, buffer + static_cast<size_t>(i * stride), properties_.cbBuffer);
        sample.nextFree = free_;
        free_ = &sample;
    }
    buffers_ = std::move(made);
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::Decommit()
{
    Buffers released; // freed once the lock is let go
    {
        SrwExclusiveLock lock(lock_);
        if (!committed_)
            return S_OK;
        committed_ = false;
        if (outstanding_ == 0) {
            released = std::move(buffers_);
            free_ = nullptr;
        }
    }
    // Every waiter fails now; none may sleep on.
    ::WakeAllConditionVariable(&bufferFree_);
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags)
{
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    CMediaSample* taken = nullptr;
    {
        SrwExclusiveLock lock(lock_);
        for (;;) {
            if (!committed_)
                return VFW_E_NOT_COMMITTED;
            if (free_)
                break;
            if (flags & AM_GBF_NOWAIT)
                return VFW_E_TIMEOUT;
            ++waiters_;
            ::SleepConditionVariableSRW(&bufferFree_, &lock_, INFINITE, 0);
            --waiters_;
        }
        taken = free_;
        free_ = taken->nextFree;
        taken->nextFree = nullptr;
        ++outstanding_;
    }
    AddRef(); // the sample's, given back when it returns
    taken->OnHandedOut();
    *sample = taken;
    return S_OK;
}

STDMETHODIMP CMemoryAllocator::ReleaseBuffer(IMediaSample* sample)
{
    // This allocator's samples come back by themselves when their last reference goes; a sample
    // handed in from outside would be one still in use, or returned twice.
    return sample ? E_UNEXPECTED : E_POINTER;
}

void CMemoryAllocator::OnSampleReturned(CMediaSample* sample)
{
    Buffers released; // the last sample out after a Decommit frees them all, this one with them
    bool wake = false;
    {
        SrwExclusiveLock lock(lock_);
        sample->nextFree = free_;
        free_ = sample;
        --outstanding_;
        wake = waiters_ > 0;
        if (!committed_ && outstanding_ == 0) {
            released = std::move(buffers_);
            free_ = nullptr;
        }
    }
    if (wake)
        ::WakeConditionVariable(&bufferFree_);
    released = Buffers();
    Release();
}

long CMemoryAllocator::WaitingCount()
{
    SrwExclusiveLock lock(lock_);
    return waiters_;
}
