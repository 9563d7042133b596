#include "tests/standins/StandInSource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "filters/MediaType.h"
#include "filters/SourceSeeking.h"
#include "filters/SourceStreamPin.h"
#include "tests/standins/StandInStreams.h"

using namespace standin;

// One stream of the recording, pushed with timestamps, at the recording's pace.
class CStandInSourcePin : public CSourceStreamPin {
public:
    CStandInSourcePin(CStandInSource* source, const wchar_t* name, char tag, REFERENCE_TIME period,
                      const GUID& majorType, const GUID& subtype)
        : CSourceStreamPin(source, name), source_(source), tag_(tag), period_(period), majorType_(majorType),
          subtype_(subtype), seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetDuration(ToUnits(source->Recording().durationSeconds));
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == majorType_ && type.subtype == subtype_ ? S_OK : S_FALSE;
    }

    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index != 0)
            return VFW_S_NO_MORE_ITEMS;
        type = CMediaType(majorType_, subtype_);
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
        properties.cbBuffer = static_cast<long>(source_->Recording().payload.size() + 128);
        properties.cbAlign = 1;
    }

    HRESULT OnThreadStart() override
    {
        const REFERENCE_TIME duration = ToUnits(source_->Recording().durationSeconds);
        const REFERENCE_TIME failAt =
            source_->Recording().failAtSeconds >= 0 ? ToUnits(source_->Recording().failAtSeconds) : -1;
        const REFERENCE_TIME stop = std::min(seeking_.StopPosition(), duration);
        failing_ = failAt >= 0 && failAt <= stop;
        end_ = failing_ ? failAt : stop;
        duration_ = duration;
        // The first sample that starts at or after the start position.
        next_ = static_cast<unsigned>((seeking_.StartPosition() + period_ - 1) / period_);
        first_ = true;
        return S_OK;
    }

    HRESULT FillSample(IMediaSample* sample) override
    {
        REFERENCE_TIME start = next_ * period_;
        if (start >= end_)
            return failing_ ? StandInStreamError : S_FALSE;
        if (!WaitForPace(start))
            return S_FALSE; // stopping; the loop drops it

        REFERENCE_TIME stop = std::min(start + period_, duration_);
        char header[96];
        std::snprintf(header, sizeof(header), "%c %u %lld %lld ", tag_, next_, static_cast<long long>(start),
                      static_cast<long long>(stop));
        const std::string body = header + source_->Recording().payload + "\n";
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        if (sample->GetSize() < static_cast<long>(body.size()))
            return VFW_E_BUFFER_OVERFLOW;
        std::memcpy(data, body.data(), body.size());
        sample->SetActualDataLength(static_cast<long>(body.size()));
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(first_ ? TRUE : FALSE);
        first_ = false;
        ++next_;
        seeking_.SetCurrentPosition(stop);
        return S_OK;
    }

    void OnStreamError(HRESULT error) override
    {
        if (source_->ClaimErrorReport())
            filter_->NotifyEvent(EC_ERRORABORT, error, 0);
        DeliverEndOfStream();
    }

private:
    // Holds a sample back until the running time at the recording's pace reaches its start.
    bool WaitForPace(REFERENCE_TIME start)
    {
        const double pace = source_->Recording().pace;
        if (pace <= 0)
            return true;
        const ULONGLONG due = static_cast<ULONGLONG>(static_cast<double>(start) / (pace * 10000.0));
        for (;;) {
            const ULONGLONG now = source_->RunningMilliseconds();
            if (now >= due)
                return true;
            // Short steps, so that a pause holds the stream and a stop ends the wait at once.
            if (!WaitUnlessStopping(static_cast<DWORD>(std::min<ULONGLONG>(due - now, 20))))
                return false;
        }
    }

    CStandInSource* const source_;
    const char tag_;
    const REFERENCE_TIME period_;
    const GUID majorType_;
    const GUID subtype_;
    CSourceSeeking seeking_;
    REFERENCE_TIME end_ = 0;
    REFERENCE_TIME duration_ = 0;
    bool failing_ = false;
    unsigned next_ = 0;
    bool first_ = true;
};

CStandInSource::CStandInSource() : CBaseFilter(StandInSourceClsid) {}

CStandInSource::~CStandInSource() = default;

HRESULT CStandInSource::Create(IUnknown** object)
{
    auto* source = new (std::nothrow) CStandInSource();
    if (!source)
        return E_OUTOFMEMORY;
    *object = static_cast<IBaseFilter*>(source);
    return S_OK;
}

STDMETHODIMP CStandInSource::QueryInterface(REFIID iid, void** object)
{
    return CBaseFilter::QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CStandInSource::AddRef()
{
    return CBaseFilter::AddRef();
}

STDMETHODIMP_(ULONG) CStandInSource::Release()
{
    return CBaseFilter::Release();
}

HRESULT CStandInSource::QueryFilterInterface(REFIID iid, void** object)
{
    if (iid != IID_IFileSourceFilter)
        return CBaseFilter::QueryFilterInterface(iid, object);
    *object = static_cast<IFileSourceFilter*>(this);
    AddRef();
    return S_OK;
}

int CStandInSource::PinCount()
{
    return static_cast<int>(pins_.size());
}

CBasePin* CStandInSource::PinAt(int index)
{
    return pins_[static_cast<size_t>(index)].get();
}

STDMETHODIMP CStandInSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*)
{
    if (!fileName)
        return E_POINTER;
    CriticalSectionLock lock(StateLock());
    // The pins are made from the file; a filter reads one recording in its life.
    if (!pins_.empty())
        return E_UNEXPECTED;

    UniqueFileHandle file(::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return HRESULT_FROM_WIN32(::GetLastError());
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    StandInRecording recording;
    if (!ParseStandInRecording(bytes, recording))
        return VFW_E_INVALID_FILE_FORMAT;

    recording_ = recording;
    fileName_ = fileName;
    pins_.push_back(std::make_unique<CStandInSourcePin>(this, L"DVR Out - 1", AudioTag, AudioSamplePeriod,
                                                        MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload));
    pins_.push_back(std::make_unique<CStandInSourcePin>(this, recording.hasPin3 ? L"DVR Out - 3" : L"DVR Out - 2",
                                                        VideoTag, VideoSamplePeriod, MEDIATYPE_Video,
                                                        MEDIASUBTYPE_MPEG1Payload));
    PinsChanged();
    return S_OK;
}

STDMETHODIMP CStandInSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    CriticalSectionLock lock(StateLock());
    *fileName = nullptr;
    if (type) {
        *type = AM_MEDIA_TYPE();
        type->majortype = MEDIATYPE_Stream;
    }
    if (fileName_.empty())
        return S_OK;
    const size_t bytes = (fileName_.size() + 1) * sizeof(wchar_t);
    *fileName = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    std::memcpy(*fileName, fileName_.c_str(), bytes);
    return S_OK;
}

HRESULT CStandInSource::OnStartStreaming()
{
    errorReported_ = false;
    CriticalSectionLock lock(clockLock_);
    runningBefore_ = 0;
    running_ = false;
    return S_OK;
}

HRESULT CStandInSource::OnRun(REFERENCE_TIME)
{
    CriticalSectionLock lock(clockLock_);
    runningSince_ = ::GetTickCount64();
    running_ = true;
    return S_OK;
}

HRESULT CStandInSource::OnPauseFromRun()
{
    CriticalSectionLock lock(clockLock_);
    runningBefore_ += ::GetTickCount64() - runningSince_;
    running_ = false;
    return S_OK;
}

ULONGLONG CStandInSource::RunningMilliseconds()
{
    CriticalSectionLock lock(clockLock_);
    return runningBefore_ + (running_ ? ::GetTickCount64() - runningSince_ : 0);
}
