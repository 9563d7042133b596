#include "tests/standins/StandInDecrypter.h"

#include <cstring>
#include <new>

#include <wrl/client.h>

#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"
#include "tests/standins/StandIns.h"

using Microsoft::WRL::ComPtr;

class CDecrypterInputPin : public CBaseInputPin {
public:
    explicit CDecrypterInputPin(CStandInDecrypter* decrypter) : CBaseInputPin(decrypter, L"In(Enc/Tag)"), decrypter_(decrypter) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == MEDIATYPE_Audio || type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
    }

    // Upstream buffers are copied whole, so "Out" asks for buffers of the same size.
    long BufferSize()
    {
        ComPtr<IMemAllocator> allocator;
        ALLOCATOR_PROPERTIES properties = {};
        if (FAILED(GetAllocator(&allocator)) || FAILED(allocator->GetProperties(&properties)))
            return 0;
        return properties.cbBuffer;
    }

protected:
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    HRESULT OnBeginFlush() override;
    HRESULT OnEndFlush() override;
    HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CStandInDecrypter* const decrypter_;
};

class CDecrypterOutputPin : public CBaseOutputPin {
public:
    explicit CDecrypterOutputPin(CStandInDecrypter* decrypter)
        : CBaseOutputPin(decrypter, L"Out"), decrypter_(decrypter), seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetInputPin(&decrypter->Input());
    }

    // Whatever the input carries, and only once it is connected.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        CDecrypterInputPin& input = decrypter_->Input();
        if (!input.IsConnected())
            return VFW_E_NOT_CONNECTED;
        const AM_MEDIA_TYPE& carried = input.ConnectedType().Get();
        return type.majortype == carried.majortype && type.subtype == carried.subtype ? S_OK : S_FALSE;
    }

    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        CDecrypterInputPin& input = decrypter_->Input();
        if (index != 0 || !input.IsConnected())
            return VFW_S_NO_MORE_ITEMS;
        type = input.ConnectedType();
        return S_OK;
    }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IMediaSeeking)
            return E_NOINTERFACE;
        *object = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }

    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties.cBuffers = 2;
        properties.cbBuffer = decrypter_->Input().BufferSize();
        properties.cbAlign = 1;
    }

private:
    CStandInDecrypter* const decrypter_;
    CSeekingPassThrough seeking_;
};

HRESULT CDecrypterInputPin::OnReceive(IMediaSample* input)
{
    CDecrypterOutputPin& output = decrypter_->Output();
    ComPtr<IMediaSample> copy;
    HRESULT hr = output.GetDeliveryBuffer(&copy);
    if (FAILED(hr))
        return hr;
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    hr = input->GetPointer(&from);
    if (SUCCEEDED(hr))
        hr = copy->GetPointer(&to);
    if (FAILED(hr))
        return hr;
    const long length = input->GetActualDataLength();
    if (length > copy->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    std::memcpy(to, from, static_cast<size_t>(length));
    copy->SetActualDataLength(length);

    REFERENCE_TIME start = 0, stop = 0;
    hr = input->GetTime(&start, &stop);
    if (hr == S_OK || hr == VFW_S_NO_STOP_TIME)
        copy->SetTime(&start, hr == S_OK ? &stop : nullptr);
    copy->SetSyncPoint(input->IsSyncPoint() == S_OK);
    copy->SetDiscontinuity(input->IsDiscontinuity() == S_OK);
    copy->SetPreroll(input->IsPreroll() == S_OK);
    return output.Deliver(copy.Get());
}

HRESULT CDecrypterInputPin::OnEndOfStream()
{
    return decrypter_->Output().DeliverEndOfStream();
}

HRESULT CDecrypterInputPin::OnBeginFlush()
{
    return decrypter_->Output().DeliverBeginFlush();
}

HRESULT CDecrypterInputPin::OnEndFlush()
{
    return decrypter_->Output().DeliverEndFlush();
}

HRESULT CDecrypterInputPin::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return decrypter_->Output().DeliverNewSegment(start, stop, rate);
}

CStandInDecrypter::CStandInDecrypter()
    : CBaseFilter(StandInDecrypterClsid), input_(std::make_unique<CDecrypterInputPin>(this)),
      output_(std::make_unique<CDecrypterOutputPin>(this))
{
}

CStandInDecrypter::~CStandInDecrypter() = default;

HRESULT CStandInDecrypter::Create(IUnknown** object)
{
    auto* decrypter = new (std::nothrow) CStandInDecrypter();
    if (!decrypter)
        return E_OUTOFMEMORY;
    *object = static_cast<IBaseFilter*>(decrypter);
    return S_OK;
}

int CStandInDecrypter::PinCount()
{
    return 2;
}

CBasePin* CStandInDecrypter::PinAt(int index)
{
    return index == 0 ? static_cast<CBasePin*>(input_.get()) : output_.get();
}
