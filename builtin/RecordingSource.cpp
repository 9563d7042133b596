#include "builtin/RecordingSource.h"

#include <process.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstring>

#include "base/MediaErrors.h"
#include "builtin/BuiltinClasses.h"
#include "builtin/RecordingMediaTypes.h"
#include "builtin/StreamLanguage.h"
#include "filters/MediaType.h"
#include "filters/OutputPin.h"
#include "filters/SourceSeeking.h"
#include "media/OpenRecording.h"
#include "media/PayloadFormat.h"

using Microsoft::WRL::ComPtr;

// One stream's output. Samples come from the filter's single reading thread. Its IMediaSeeking
// gives the graph a duration and a position; a conversion never seeks, and streaming always
// starts at the beginning of the recording. Its IKsPropertySet names the stream's language
// (StreamLanguage.h).
class CRecordingSourcePin : public CBaseOutputPin, public IKsPropertySet {
public:
    CRecordingSourcePin(CRecordingSource* filter, const std::wstring& name, const std::wstring& carries,
                        std::vector<CMediaType> types, const media::StreamFormat& format, REFERENCE_TIME duration)
        : CBaseOutputPin(filter, name.c_str()), carries_(carries), types_(std::move(types)), format_(format),
          seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetDuration(duration);
        SetSeeking(&seeking_);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return CBaseOutputPin::QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return CBaseOutputPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CBaseOutputPin::Release(); }

    // IKsPropertySet: the language, read only.
    STDMETHODIMP Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) override { return E_PROP_ID_UNSUPPORTED; }
    STDMETHODIMP Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size, DWORD* returned) override
    {
        if (set != HalvernPropSetStream)
            return E_PROP_SET_UNSUPPORTED;
        if (id != StreamPropertyLanguage || !format_.language[0])
            return E_PROP_ID_UNSUPPORTED;
        if (returned)
            *returned = StreamLanguageBytes;
        if (!data)
            return returned ? S_OK : E_POINTER;
        if (size < StreamLanguageBytes)
            return E_UNEXPECTED;
        std::memcpy(data, format_.language, StreamLanguageBytes);
        return S_OK;
    }
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override
    {
        if (set != HalvernPropSetStream)
            return E_PROP_SET_UNSUPPORTED;
        if (id != StreamPropertyLanguage || !format_.language[0])
            return E_PROP_ID_UNSUPPORTED;
        if (support)
            *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

    // "Video", "Audio N" or "Captions": the same for this stream in every layout.
    const std::wstring& Carries() const { return carries_; }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        const bool offered = std::any_of(types_.begin(), types_.end(), [&](const CMediaType& own) {
            return own.Get().majortype == type.majortype && own.Get().subtype == type.subtype;
        });
        return offered ? S_OK : S_FALSE;
    }

    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index < 0 || static_cast<size_t>(index) >= types_.size())
            return VFW_S_NO_MORE_ITEMS;
        type = types_[static_cast<size_t>(index)];
        return S_OK;
    }

    void StartDelivery() { refused_ = false; }
    // Connected and still taking samples.
    bool Wanted() const { return IsConnected() && !refused_; }

    // A sample to put an object of `size` bytes together in, which DeliverObject then sends as it
    // is; null when the object would not fit one or none can be had (the reader then uses its own).
    uint8_t* ObjectRoom(size_t size)
    {
        room_.Reset();
        roomData_ = nullptr;
        if (!Wanted())
            return nullptr;
        ComPtr<IMediaSample> sample;
        BYTE* data = nullptr;
        if (FAILED(GetDeliveryBuffer(&sample)) || FAILED(sample->GetPointer(&data)) ||
            static_cast<size_t>(std::max(sample->GetSize(), 0L)) < size)
            return nullptr;
        room_ = std::move(sample);
        roomData_ = data;
        roomSize_ = size;
        return data;
    }
    // Lets the room go: the streaming has ended, and the allocator is to get all its samples back.
    void DropRoom()
    {
        room_.Reset();
        roomData_ = nullptr;
    }

    // The object as one sample, or several when it is larger than a buffer (the first carries
    // the times and flags). A failure is the allocator's: stopping, or broken.
    HRESULT DeliverObject(const media::MediaObject& object, REFERENCE_TIME base)
    {
        if (!Wanted())
            return S_OK;
        REFERENCE_TIME start = object.time - base;
        REFERENCE_TIME stop = object.hasTiming && object.rtStart != media::NoTime && object.rtEnd > object.rtStart
                                  ? object.rtEnd - base
                                  : start + DefaultDuration(object.size);
        // Put together in the room given: sent as it is, moved to the front when the reader
        // left out its first bytes.
        const bool inRoom = roomData_ && object.data >= roomData_ && object.data < roomData_ + roomSize_;
        // A room this object is not in was left by an abandoned one: held, it would keep the
        // allocator from lending again.
        if (!inRoom)
            DropRoom();
        const bool syncPoint = object.StartsFrame() && IsSyncPoint(object); // before any move
        for (size_t offset = 0; offset < object.size;) {
            ComPtr<IMediaSample> sample;
            BYTE* data = nullptr;
            size_t chunk = object.size;
            if (inRoom) {
                // Swapped, not moved: this ComPtr's move assignment copies, and a room that kept
                // its sample past delivery would hold the downstream's buffer.
                sample.Swap(room_);
                data = roomData_;
                roomData_ = nullptr;
                if (object.data != data)
                    std::memmove(data, object.data, object.size);
            } else {
                HRESULT hr = GetDeliveryBuffer(&sample);
                if (FAILED(hr))
                    return hr;
                hr = sample->GetPointer(&data);
                if (FAILED(hr))
                    return hr;
                chunk = std::min(object.size - offset, static_cast<size_t>(std::max(sample->GetSize(), 1L)));
                std::memcpy(data, object.data + offset, chunk);
            }
            sample->SetActualDataLength(static_cast<long>(chunk));
            if (offset == 0) {
                if (object.StartsFrame()) {
                    sample->SetTime(&start, &stop);
                    sample->SetSyncPoint(syncPoint ? TRUE : FALSE);
                }
                sample->SetDiscontinuity(object.discontinuity ? TRUE : FALSE);
            }
            // Anything but S_OK: downstream takes no more (it is stopping, flushing or failed).
            if (Deliver(sample.Get()) != S_OK) {
                refused_ = true;
                return S_OK;
            }
            offset += chunk;
        }
        if (object.StartsFrame())
            seeking_.SetCurrentPosition(stop);
        return S_OK;
    }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** object) override
    {
        if (iid != __uuidof(IKsPropertySet))
            return CBaseOutputPin::QueryPinInterface(iid, object);
        *object = static_cast<IKsPropertySet*>(this);
        AddRef();
        return S_OK;
    }

    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        // Larger objects go out in several samples.
        const bool video = format_.codec == media::Codec::Mpeg2Video || format_.codec == media::Codec::H264Video;
        const bool audio = !video && format_.codec != media::Codec::Captions;
        properties.cBuffers = video ? 8 : 16;
        properties.cbBuffer = video ? 1 << 20 : audio ? 64 << 10 : 4 << 10;
        properties.cbAlign = 1;
    }

private:
    bool IsSyncPoint(const media::MediaObject& object) const
    {
        if (format_.codec == media::Codec::H264Video)
            return media::HoldsIdrSlice(object.data, object.size);
        if (format_.codec != media::Codec::Mpeg2Video)
            return true;
        if (object.hasFrameFlags)
            return (object.frameFlags & 0x07) == 1;
        return media::PictureCodingType(object.data, object.size) == 1;
    }

    REFERENCE_TIME DefaultDuration(size_t bytes) const
    {
        if (format_.codec == media::Codec::Mpeg2Video || format_.codec == media::Codec::H264Video)
            return 10000000ll * format_.video.frameRateDen / format_.video.frameRateNum;
        if (format_.audio.bitRate > 0)
            return static_cast<REFERENCE_TIME>(bytes) * 8 * 10000000ll / format_.audio.bitRate;
        return 1;
    }

    const std::wstring carries_;
    const std::vector<CMediaType> types_;
    const media::StreamFormat format_;
    CSourceSeeking seeking_;
    // Touched by the streaming thread only, while streaming.
    bool refused_ = false;
    ComPtr<IMediaSample> room_; // the sample an object is being put together in
    BYTE* roomData_ = nullptr;
    size_t roomSize_ = 0;
};

namespace {

// How much of the recording the reader has handed over, in bytes; equal to its length once the
// reader reached the end of the data.
void TellProgress(const media::IRecordingReader& reader, CSourceSeeking& progress)
{
    progress.SetDuration(static_cast<REFERENCE_TIME>(reader.BytesTotal()));
    progress.SetCurrentPosition(static_cast<REFERENCE_TIME>(reader.BytesDone()));
}

// Hands the reader's objects to the pins until the file ends, Stop comes or nobody wants more.
class ObjectDelivery : public media::IObjectSink {
public:
    ObjectDelivery(const std::vector<CRecordingSourcePin*>& pinOfStream, REFERENCE_TIME base,
                   const std::atomic<bool>& stopping, const media::IRecordingReader& reader, CSourceSeeking& progress)
        : pinOfStream_(pinOfStream), base_(base), stopping_(stopping), reader_(reader), progress_(progress)
    {
    }

    bool OnObject(const media::MediaObject& object) override
    {
        CRecordingSourcePin* pin = pinOfStream_[object.streamIndex];
        if (pin) {
            error_ = pin->DeliverObject(object, base_);
            if (FAILED(error_))
                return false;
        }
        TellProgress(reader_, progress_);
        return !stopping_.load() && std::any_of(pinOfStream_.begin(), pinOfStream_.end(),
                                                [](CRecordingSourcePin* p) { return p && p->Wanted(); });
    }

    uint8_t* ObjectRoom(size_t streamIndex, size_t size) override
    {
        CRecordingSourcePin* pin = pinOfStream_[streamIndex];
        return pin ? pin->ObjectRoom(size) : nullptr;
    }

    HRESULT Error() const { return error_; }

private:
    const std::vector<CRecordingSourcePin*>& pinOfStream_;
    const REFERENCE_TIME base_;
    const std::atomic<bool>& stopping_;
    const media::IRecordingReader& reader_;
    CSourceSeeking& progress_;
    HRESULT error_ = S_OK;
};

} // namespace

CRecordingSource::CRecordingSource() : CFilterObject(CLSID_HalvernRecordingSource)
{
    SetSeeking(&progress_);
}

CRecordingSource::~CRecordingSource() = default;

STDMETHODIMP CRecordingSource::FindPin(LPCWSTR id, IPin** pin)
{
    const HRESULT hr = CBaseFilter::FindPin(id, pin);
    if (hr != VFW_E_NOT_FOUND)
        return hr;
    CriticalSectionLock lock(StateLock());
    for (const auto& candidate : pins_) {
        if (candidate->Carries() == id) {
            *pin = candidate.get();
            candidate->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

int CRecordingSource::PinCount()
{
    return static_cast<int>(pins_.size());
}

CBasePin* CRecordingSource::PinAt(int index)
{
    return pins_[static_cast<size_t>(index)].get();
}

STDMETHODIMP CRecordingSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*)
{
    if (!fileName)
        return E_POINTER;
    CriticalSectionLock lock(StateLock());
    // The pins are made from the file; a filter reads one recording in its life.
    if (reader_)
        return E_UNEXPECTED;
    std::unique_ptr<media::IRecordingReader> reader;
    HRESULT hr = media::OpenRecording(fileName, reader);
    if (FAILED(hr))
        return hr;

    // Audio first, captions after it, video last: the media centre's own pin order.
    const std::vector<media::StreamFormat>& formats = reader->Formats();
    const auto rank = [](media::Codec codec) {
        switch (codec) {
        case media::Codec::MpegAudio:
        case media::Codec::Ac3:
        case media::Codec::Aac:
        case media::Codec::Eac3:
            return 0;
        case media::Codec::Captions:
            return 1;
        case media::Codec::Mpeg2Video:
        case media::Codec::H264Video:
            return 2;
        default:
            return -1;
        }
    };
    std::vector<size_t> order;
    for (int wanted = 0; wanted < 3; ++wanted) {
        for (size_t i = 0; i < formats.size(); ++i) {
            if (rank(reader->Formats()[i].codec) != wanted)
                continue;
            order.push_back(i);
            // One video stream: the converter's graphs have one video path.
            if (wanted == 2)
                break;
        }
    }
    std::vector<std::unique_ptr<CRecordingSourcePin>> pins;
    std::vector<CRecordingSourcePin*> pinOfStream(formats.size(), nullptr);
    int audioStreams = 0;
    for (size_t i : order) {
        const std::wstring name = L"DVR Out - " + std::to_wstring(pins.size() + 1);
        const int kind = rank(reader->Formats()[i].codec);
        const std::wstring carries = kind == 0 ? L"Audio " + std::to_wstring(++audioStreams)
                                     : kind == 1 ? L"Captions"
                                                 : L"Video";
        pins.push_back(std::make_unique<CRecordingSourcePin>(
            this, name, carries, RecordingMediaTypes(formats[i]), reader->Formats()[i],
            reader->Duration()));
        pinOfStream[i] = pins.back().get();
    }
    reader_ = std::move(reader);
    TellProgress(*reader_, progress_);
    pins_ = std::move(pins);
    pinOfStream_ = std::move(pinOfStream);
    file_.Set(fileName, &CMediaType(MEDIATYPE_Stream, GUID_NULL).Get());
    PinsChanged();
    return S_OK;
}

STDMETHODIMP CRecordingSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    CriticalSectionLock lock(StateLock());
    return file_.GetCurFile(fileName, type);
}

HRESULT CRecordingSource::OnActive()
{
    if (!reader_ || std::none_of(pins_.begin(), pins_.end(), [](const auto& pin) { return pin->IsConnected(); }))
        return S_OK;
    for (auto& pin : pins_)
        pin->StartDelivery();
    stopping_ = false;
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &CRecordingSource::ThreadProc, this, 0, nullptr);
    if (!thread)
        return E_OUTOFMEMORY;
    thread_.Reset(reinterpret_cast<HANDLE>(thread));
    return S_OK;
}

void CRecordingSource::OnStopStreaming()
{
    // The pins are inactive already, so a wait for a buffer has ended.
    stopping_ = true;
    if (thread_) {
        ::WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    }
}

unsigned __stdcall CRecordingSource::ThreadProc(void* context)
{
    static_cast<CRecordingSource*>(context)->Stream();
    return 0;
}

void CRecordingSource::Stream()
{
    ObjectDelivery delivery(pinOfStream_, reader_->EarliestTime(), stopping_, *reader_, progress_);
    HRESULT hr = reader_->Read(delivery);
    for (auto& pin : pins_)
        pin->DropRoom();
    TellProgress(*reader_, progress_);
    if (stopping_.load() || State() == State_Stopped)
        return;
    if (hr == S_FALSE)
        hr = delivery.Error();
    if (FAILED(hr)) {
        // A damaged or unreadable recording must not look finished: no end of stream, so
        // nothing downstream completes, and the graph hears why.
        NotifyEvent(EC_ERRORABORT, hr, 0);
        return;
    }
    // Told before the streams end, so it is among the graph's events when the graph completes.
    if (reader_->EndedCut())
        NotifyEvent(HALVERN_EC_RECORDING_CUT, 0, 0);
    for (auto& pin : pins_)
        if (pin->IsConnected())
            pin->DeliverEndOfStream();
}
