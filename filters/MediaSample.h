#pragma once
// One buffer of an allocator as an IMediaSample. The allocator makes its samples once, at Commit;
// a sample whose last reference goes returns to the allocator instead of being deleted.

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "filters/MediaType.h"

class CMediaSample;

// Where a sample goes back when its last reference goes: the allocator that handed it out, which
// gives up there the reference the sample held on it.
class ISampleHome {
public:
    virtual void OnSampleReturned(CMediaSample* sample) = 0;

protected:
    ~ISampleHome() = default;
};

class CMediaSample final : public IMediaSample {
public:
    CMediaSample() = default;
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    // Gives the sample its buffer; called while it is not handed out.
    void Attach(ISampleHome* home, BYTE* buffer, long size);
    // Called by the allocator as it hands the sample out, with its one reference.
    void OnHandedOut() { references_.store(1, std::memory_order_relaxed); }

    // The allocator's free list runs through its idle samples, so returning one allocates nothing.
    CMediaSample* nextFree = nullptr;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IMediaSample
    STDMETHODIMP GetPointer(BYTE** buffer) override;
    STDMETHODIMP_(long) GetSize() override;
    STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    STDMETHODIMP IsSyncPoint() override;
    STDMETHODIMP SetSyncPoint(BOOL syncPoint) override;
    STDMETHODIMP IsPreroll() override;
    STDMETHODIMP SetPreroll(BOOL preroll) override;
    STDMETHODIMP_(long) GetActualDataLength() override;
    STDMETHODIMP SetActualDataLength(long length) override;
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP IsDiscontinuity() override;
    STDMETHODIMP SetDiscontinuity(BOOL discontinuity) override;
    STDMETHODIMP GetMediaTime(LONGLONG* start, LONGLONG* stop) override;
    STDMETHODIMP SetMediaTime(LONGLONG* start, LONGLONG* stop) override;

private:
    // What one user set must not reach the next: the sample goes back as it came.
    void ClearProperties();

    std::atomic<ULONG> references_{0};
    ISampleHome* home_ = nullptr; // held through the reference taken at GetBuffer
    BYTE* buffer_ = nullptr;
    long size_ = 0;
    long actual_ = 0;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME stop_ = 0;
    LONGLONG mediaStart_ = 0;
    LONGLONG mediaStop_ = 0;
    bool timeValid_ = false;
    bool stopValid_ = false;
    bool mediaTimeValid_ = false;
    bool syncPoint_ = false;
    bool preroll_ = false;
    bool discontinuity_ = false;
    bool typeChanged_ = false;
    CMediaType type_;
};
