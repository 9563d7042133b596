#include "tests/builtin/SampleRecorder.h"

#include "filters/Adopt.h"

namespace {
const CLSID SampleRecorderClsid = {0x5d2a8f31, 0x7c04, 0x4b6e, {0x91, 0x3a, 0x0e, 0x52, 0xc4, 0x7d, 0x18, 0x6b}};
}

class CSampleRecorder::CRecorderPin : public CBaseInputPin {
public:
    CRecorderPin(CSampleRecorder* recorder, int index, const std::wstring& name)
        : CBaseInputPin(recorder, name.c_str()), recorder_(recorder), index_(index)
    {
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }

protected:
    HRESULT OnReceive(IMediaSample* sample) override
    {
        RecordedSample record;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        record.bytes.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(sample->GetActualDataLength()));
        record.hasTime = SUCCEEDED(sample->GetTime(&record.start, &record.stop));
        record.syncPoint = sample->IsSyncPoint() == S_OK;
        record.discontinuity = sample->IsDiscontinuity() == S_OK;
        recorder_->Record(index_, std::move(record));
        return S_OK;
    }

    HRESULT OnEndOfStream() override
    {
        recorder_->MarkEnded(index_);
        recorder_->InputEnded();
        return S_OK;
    }

    bool ReceiveMayBlock() const override { return false; }

private:
    CSampleRecorder* const recorder_;
    const int index_;
};

CSampleRecorder::CSampleRecorder(int pins)
    : CBaseRenderer(SampleRecorderClsid), samples_(static_cast<size_t>(pins)), ended_(static_cast<size_t>(pins), false)
{
    for (int i = 0; i < pins; ++i)
        pins_.push_back(std::make_unique<CRecorderPin>(this, i, L"In " + std::to_wstring(i + 1)));
    SetSeekingPin(pins_.front().get());
}

CSampleRecorder::~CSampleRecorder() = default;

Microsoft::WRL::ComPtr<CSampleRecorder> CSampleRecorder::Create(int pins)
{
    return Adopt(new CSampleRecorder(pins < 1 ? 1 : pins));
}

int CSampleRecorder::PinCount()
{
    return static_cast<int>(pins_.size());
}

CBasePin* CSampleRecorder::PinAt(int index)
{
    return pins_[static_cast<size_t>(index)].get();
}

IPin* CSampleRecorder::Pin(int index)
{
    return pins_[static_cast<size_t>(index)].get();
}

std::vector<RecordedSample> CSampleRecorder::Samples(int pin)
{
    CriticalSectionLock lock(recordLock_);
    return samples_[static_cast<size_t>(pin)];
}

bool CSampleRecorder::Ended(int pin)
{
    CriticalSectionLock lock(recordLock_);
    return ended_[static_cast<size_t>(pin)];
}

CMediaType CSampleRecorder::ConnectedType(int pin)
{
    CriticalSectionLock lock(StateLock());
    return pins_[static_cast<size_t>(pin)]->ConnectedType();
}

void CSampleRecorder::Record(int pin, RecordedSample sample)
{
    CriticalSectionLock lock(recordLock_);
    samples_[static_cast<size_t>(pin)].push_back(std::move(sample));
}

void CSampleRecorder::MarkEnded(int pin)
{
    CriticalSectionLock lock(recordLock_);
    ended_[static_cast<size_t>(pin)] = true;
}
