#pragma once
// An input pin that takes samples through IMemInputPin. The filter supplies what it accepts and
// what it does with a sample or an end of stream.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>

#include "filters/BasePin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    // IUnknown, for both interfaces
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    bool AtEndOfStream() const { return endOfStream_.load(); }
    bool IsFlushing() const { return flushing_.load(); }

    HRESULT Active() override;

protected:
    CBaseInputPin(CBaseFilter* filter, const wchar_t* name);

    // Hooks called with the filter's streaming lock held.
    virtual HRESULT OnReceive(IMediaSample* sample) = 0;
    virtual HRESULT OnEndOfStream() { return S_OK; }
    virtual HRESULT OnEndFlush() { return S_OK; }
    virtual HRESULT OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }
    // Without the streaming lock, so that a flush can reach a Receive blocked downstream.
    virtual HRESULT OnBeginFlush() { return S_OK; }
    // Whether OnReceive may wait (on downstream, on a lock); renderers that just write say no.
    virtual bool ReceiveMayBlock() const { return true; }

    void BreakConnect() override;
    // The allocator this pin offers upstream, made at the first GetAllocator of a connection.
    virtual HRESULT MakeAllocator(Microsoft::WRL::ComPtr<IMemAllocator>& made);

private:
    Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
    std::atomic<bool> flushing_{false};
    std::atomic<bool> endOfStream_{false};
};
