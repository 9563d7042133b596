#pragma once
// An output pin that connects to an IMemInputPin, agrees on an allocator with it and delivers
// samples, end of stream and flushes downstream.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "filters/BasePin.h"

class CBaseOutputPin : public CBasePin {
public:
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;

    // Commits the allocator at pause and decommits it at stop, which frees a GetBuffer that waits.
    HRESULT Active() override;
    void Inactive() override;

    HRESULT GetDeliveryBuffer(IMediaSample** sample);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();

protected:
    CBaseOutputPin(CBaseFilter* filter, const wchar_t* name);

    // The buffers this pin wants; the downstream pin's wishes are added on top.
    virtual void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) = 0;

    void BreakConnect() override;

private:
    HRESULT AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& type);
    HRESULT DecideAllocator(IMemInputPin* input);
    HRESULT UseAllocator(IMemInputPin* input, IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& downstream);

    Microsoft::WRL::ComPtr<IMemInputPin> input_;
    Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
};
