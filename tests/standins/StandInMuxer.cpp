#include "tests/standins/StandInMuxer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <wrl/client.h>

#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"
#include "tests/standins/StandInStreams.h"
#include "tests/standins/StandIns.h"

using Microsoft::WRL::ComPtr;
using namespace standin;

class CMuxInputPin : public CBaseInputPin {
public:
    CMuxInputPin(CStandInMuxer* muxer, const wchar_t* name, const GUID& majorType, char tag)
        : CBaseInputPin(muxer, name), muxer_(muxer), majorType_(majorType), tag_(tag)
    {
    }

    char Tag() const { return tag_; }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == majorType_ ? S_OK : S_FALSE;
    }

protected:
    HRESULT OnReceive(IMediaSample* sample) override { return muxer_->Queue(*this, sample); }
    HRESULT OnEndOfStream() override { return muxer_->Drain(); }

private:
    CStandInMuxer* const muxer_;
    const GUID majorType_;
    const char tag_;
};

class CMuxOutputPin : public CBaseOutputPin {
public:
    explicit CMuxOutputPin(CStandInMuxer* muxer) : CBaseOutputPin(muxer, L"Output"), seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetInputPin(&muxer->VideoInput());
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == MEDIATYPE_Stream && type.subtype == MEDIASUBTYPE_MPEG1System ? S_OK : S_FALSE;
    }

    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index != 0)
            return VFW_S_NO_MORE_ITEMS;
        type = CMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System);
        return S_OK;
    }

    // Sends bytes as one sample, or several when they do not fit into one buffer.
    HRESULT Send(const std::string& bytes, const REFERENCE_TIME* start, const REFERENCE_TIME* stop)
    {
        size_t sent = 0;
        do {
            ComPtr<IMediaSample> sample;
            HRESULT hr = GetDeliveryBuffer(&sample);
            if (FAILED(hr))
                return hr;
            BYTE* data = nullptr;
            hr = sample->GetPointer(&data);
            if (FAILED(hr))
                return hr;
            const size_t chunk = std::min(bytes.size() - sent, static_cast<size_t>(sample->GetSize()));
            std::memcpy(data, bytes.data() + sent, chunk);
            sample->SetActualDataLength(static_cast<long>(chunk));
            sample->SetTime(const_cast<REFERENCE_TIME*>(start), const_cast<REFERENCE_TIME*>(stop));
            sent += chunk;
            hr = Deliver(sample.Get());
            if (hr != S_OK)
                return hr;
        } while (sent < bytes.size());
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
        properties.cBuffers = 4;
        properties.cbBuffer = 64 * 1024;
        properties.cbAlign = 1;
    }

private:
    CSeekingPassThrough seeking_;
};

CStandInMuxer::CStandInMuxer()
    : CBaseFilter(StandInMuxerClsid),
      video_(std::make_unique<CMuxInputPin>(this, L"Video In", MEDIATYPE_Video, VideoTag)),
      audio_(std::make_unique<CMuxInputPin>(this, L"Audio In", MEDIATYPE_Audio, AudioTag)),
      output_(std::make_unique<CMuxOutputPin>(this))
{
}

CStandInMuxer::~CStandInMuxer() = default;

HRESULT CStandInMuxer::Create(IUnknown** object)
{
    auto* muxer = new (std::nothrow) CStandInMuxer();
    if (!muxer)
        return E_OUTOFMEMORY;
    *object = static_cast<IBaseFilter*>(muxer);
    return S_OK;
}

int CStandInMuxer::PinCount()
{
    return 3;
}

CBasePin* CStandInMuxer::PinAt(int index)
{
    switch (index) {
    case 0:
        return video_.get();
    case 1:
        return audio_.get();
    default:
        return output_.get();
    }
}

HRESULT CStandInMuxer::OnStartStreaming()
{
    videoQueue_.clear();
    audioQueue_.clear();
    headerSent_ = false;
    ended_ = false;
    return S_OK;
}

HRESULT CStandInMuxer::Queue(CMuxInputPin& pin, IMediaSample* sample)
{
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = sample->GetTime(&start, &stop);
    if (FAILED(hr))
        return VFW_E_SAMPLE_TIME_NOT_SET;
    if (hr == VFW_S_NO_STOP_TIME)
        stop = start;
    BYTE* data = nullptr;
    hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    Pending pending{pin.Tag(), start, stop,
                    std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(sample->GetActualDataLength()))};
    (&pin == video_.get() ? videoQueue_ : audioQueue_).push_back(std::move(pending));
    return Drain();
}

bool CStandInMuxer::Ended(CMuxInputPin& pin) const
{
    // An input left unconnected never delivers, so it does not hold the other back.
    return !pin.IsConnected() || pin.AtEndOfStream();
}

HRESULT CStandInMuxer::Send(const Pending& pending)
{
    const std::string pack = "PACK " + std::string(1, pending.tag) + " " + std::to_string(pending.start) + " " +
                             std::to_string(pending.data.size()) + "\n" + pending.data;
    return output_->Send(pack, &pending.start, &pending.stop);
}

HRESULT CStandInMuxer::Drain()
{
    if (ended_)
        return S_OK;
    if (!headerSent_) {
        headerSent_ = true;
        HRESULT hr = output_->Send(ProgramStreamHeader, nullptr, nullptr);
        if (FAILED(hr))
            return hr;
    }
    for (;;) {
        std::deque<Pending>* next = nullptr;
        if (!videoQueue_.empty() && !audioQueue_.empty())
            next = videoQueue_.front().start <= audioQueue_.front().start ? &videoQueue_ : &audioQueue_;
        else if (!videoQueue_.empty() && Ended(*audio_))
            next = &videoQueue_;
        else if (!audioQueue_.empty() && Ended(*video_))
            next = &audioQueue_;
        if (!next)
            break;
        HRESULT hr = Send(next->front());
        next->pop_front();
        if (FAILED(hr))
            return hr;
    }
    if (videoQueue_.empty() && audioQueue_.empty() && Ended(*video_) && Ended(*audio_)) {
        ended_ = true;
        HRESULT hr = output_->Send(ProgramStreamTrailer, nullptr, nullptr);
        if (FAILED(hr))
            return hr;
        return output_->DeliverEndOfStream();
    }
    return S_OK;
}
