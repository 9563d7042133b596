#include "tests/builtin/ElementaryStreamSource.h"

#include <dvdmedia.h>

#include <atomic>
#include <cstddef>
#include <cstring>

#include "builtin/MuxMediaTypes.h"
#include "filters/SourceStreamPin.h"
#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/VideoHeaders.h"
#include "tests/support/TestSupport.h"

namespace mux_tests {

namespace {

const CLSID ElementaryStreamSourceClsid = {0x5a0c7f32, 0x1d44, 0x4f0b, {0x8e, 0x61, 0x93, 0x2b, 0x70, 0x1c, 0x4e, 0x01}};

const uint8_t* Bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

// Access units: each starts with the sequence or GOP header before its picture, if any. Times
// follow display order: the pictures before this GOP plus the temporal reference, in frames.
bool SplitVideo(const std::string& bytes, std::vector<Unit>& units, mpeg::SequenceHeader& sequence)
{
    const uint8_t* data = Bytes(bytes);
    const size_t size = bytes.size();
    int64_t period = 0;
    int gopBase = 0, gopPictures = 0;
    bool pictureInUnit = false;
    for (size_t at = mpeg::FindStartCode(data, size, 0); at + 4 <= size; at = mpeg::FindStartCode(data, size, at + 1)) {
        const uint8_t code = data[at + 3];
        if (code != mpeg::SequenceHeaderCode && code != mpeg::GroupStartCode && code != mpeg::PictureStartCode)
            continue;
        if (units.empty() || pictureInUnit) {
            if (!units.empty())
                units.back().size = at - units.back().offset;
            units.push_back({at, 0, 0});
            pictureInUnit = false;
        }
        if (code == mpeg::SequenceHeaderCode) {
            if (!mpeg::ParseSequenceHeader(data + at, size - at, sequence))
                return false;
            period = mpeg::FramePeriod27MHz(sequence.frameRateCode) * 10 / 27;
        } else if (code == mpeg::GroupStartCode) {
            gopBase += gopPictures;
            gopPictures = 0;
        } else {
            mpeg::PictureHeader picture;
            if (period == 0 || !mpeg::ParsePictureHeader(data + at, size - at, picture))
                return false;
            units.back().start = (gopBase + picture.temporalReference) * period;
            ++gopPictures;
            pictureInUnit = true;
        }
    }
    if (units.empty())
        return false;
    units.back().size = size - units.back().offset;
    return true;
}

bool SplitAudio(const std::string& bytes, bool ac3, std::vector<Unit>& units, mpeg::AudioFrame& first)
{
    uint64_t samples = 0;
    for (size_t at = 0; at < bytes.size();) {
        mpeg::AudioFrame frame;
        const bool ok = ac3 ? mpeg::ParseAc3Frame(Bytes(bytes) + at, bytes.size() - at, frame)
                            : mpeg::ParseMpegAudioFrame(Bytes(bytes) + at, bytes.size() - at, frame);
        if (!ok || at + frame.size > bytes.size())
            return false;
        if (units.empty())
            first = frame;
        units.push_back({at, frame.size, static_cast<REFERENCE_TIME>(samples * 10000000 / frame.sampleRate)});
        samples += frame.samples;
        at += frame.size;
    }
    return !units.empty();
}

} // namespace

const std::string CElementaryStreamSource::Garbage = "garbage-garbage-\x01\x02\x03\xFF\x04-garbage-garbage";

class CElementaryStreamPin : public CSourceStreamPin {
public:
    CElementaryStreamPin(CBaseFilter* source, const wchar_t* name, const std::string& bytes, const std::vector<Unit>& units,
                         CMediaType type, bool silent, int endAfter, int garbageAt)
        : CSourceStreamPin(source, name), bytes_(bytes), units_(units), type_(std::move(type)), silent_(silent),
          endAfter_(endAfter), garbageAt_(garbageAt)
    {
        for (const Unit& unit : units_)
            largest_ = std::max(largest_, unit.size);
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == type_.Get().majortype && type.subtype == type_.Get().subtype ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index != 0)
            return VFW_S_NO_MORE_ITEMS;
        type = type_;
        return S_OK;
    }

    bool Finished() const { return finished_.load(); }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties.cBuffers = 8;
        properties.cbBuffer = static_cast<long>(std::max(largest_, CElementaryStreamSource::Garbage.size()));
        properties.cbAlign = 1;
    }
    HRESULT OnThreadStart() override
    {
        next_ = 0;
        garbageSent_ = false;
        finished_ = false;
        return S_OK;
    }
    void OnThreadEnd() override { finished_ = true; }
    HRESULT FillSample(IMediaSample* sample) override
    {
        if (silent_) {
            WaitUnlessStopping(INFINITE);
            return S_FALSE;
        }
        if (next_ >= units_.size() || (endAfter_ >= 0 && next_ >= static_cast<size_t>(endAfter_)))
            return S_FALSE;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        if (static_cast<int>(next_) == garbageAt_ && !garbageSent_) {
            garbageSent_ = true;
            const std::string& garbage = CElementaryStreamSource::Garbage;
            std::memcpy(data, garbage.data(), garbage.size());
            sample->SetActualDataLength(static_cast<long>(garbage.size()));
            sample->SetTime(nullptr, nullptr);
            return S_OK;
        }
        const Unit& unit = units_[next_++];
        std::memcpy(data, bytes_.data() + unit.offset, unit.size);
        sample->SetActualDataLength(static_cast<long>(unit.size));
        REFERENCE_TIME start = unit.start;
        sample->SetTime(&start, nullptr);
        return S_OK;
    }

private:
    const std::string& bytes_;
    const std::vector<Unit>& units_;
    const CMediaType type_;
    const bool silent_;
    const int endAfter_;
    const int garbageAt_;
    size_t largest_ = 0;
    size_t next_ = 0;
    bool garbageSent_ = false;
    std::atomic<bool> finished_{false};
};

CElementaryStreamSource::CElementaryStreamSource(const ElementaryStreamOptions& options)
    : CBaseFilter(ElementaryStreamSourceClsid), options_(options)
{
}

CElementaryStreamSource::~CElementaryStreamSource() = default;

bool CElementaryStreamSource::Load()
{
    if (!options_.videoPath.empty()) {
        videoBytes_ = testing_support::ReadFileBytes(options_.videoPath);
        mpeg::SequenceHeader sequence{};
        if (!SplitVideo(videoBytes_, videoUnits_, sequence))
            return false;
        // MPEG2VIDEOINFO with the sequence header, as the recording source offers it.
        const size_t headerSize = mpeg::FindStartCode(Bytes(videoBytes_), videoBytes_.size(), 4);
        const size_t formatSize = offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + headerSize;
        CMediaType type(MEDIATYPE_Video, MuxSubtypeMpeg2Video);
        auto* info = static_cast<MPEG2VIDEOINFO*>(::CoTaskMemAlloc(formatSize));
        if (!info)
            return false;
        std::memset(info, 0, formatSize);
        info->hdr.AvgTimePerFrame = videoUnits_.size() > 1 ? 400000 : 0;
        info->hdr.dwPictAspectRatioX = 4;
        info->hdr.dwPictAspectRatioY = 3;
        info->hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->hdr.bmiHeader.biWidth = sequence.width;
        info->hdr.bmiHeader.biHeight = sequence.height;
        info->cbSequenceHeader = static_cast<DWORD>(headerSize);
        std::memcpy(info->dwSequenceHeader, videoBytes_.data(), headerSize);
        type.Pointer()->formattype = MuxFormatMpeg2Video;
        type.Pointer()->cbFormat = static_cast<ULONG>(formatSize);
        type.Pointer()->pbFormat = reinterpret_cast<BYTE*>(info);
        pins_.push_back(std::make_unique<CElementaryStreamPin>(this, L"Video", videoBytes_, videoUnits_, std::move(type),
                                                                options_.videoSilent, options_.videoEndAfter, -1));
    }
    if (!options_.audioPath.empty()) {
        audioBytes_ = testing_support::ReadFileBytes(options_.audioPath);
        ac3_ = audioBytes_.size() > 2 && audioBytes_[0] == 0x0B && audioBytes_[1] == 0x77;
        mpeg::AudioFrame first{};
        if (!SplitAudio(audioBytes_, ac3_, audioUnits_, first))
            return false;
        CMediaType type(MEDIATYPE_Audio, ac3_ ? MuxSubtypeDolbyAc3 : MuxSubtypeMpeg2Audio);
        auto* format = static_cast<WAVEFORMATEX*>(::CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        if (!format)
            return false;
        *format = {};
        format->wFormatTag = ac3_ ? 0x2000 : 0x50;
        format->nChannels = 2;
        format->nSamplesPerSec = first.sampleRate;
        format->nAvgBytesPerSec = first.size * first.sampleRate / first.samples;
        format->nBlockAlign = 1;
        type.Pointer()->formattype = FORMAT_WaveFormatEx;
        type.Pointer()->cbFormat = sizeof(WAVEFORMATEX);
        type.Pointer()->pbFormat = reinterpret_cast<BYTE*>(format);
        pins_.push_back(std::make_unique<CElementaryStreamPin>(this, L"Audio", audioBytes_, audioUnits_, std::move(type),
                                                                options_.audioSilent, options_.audioEndAfter,
                                                                options_.audioGarbageAt));
    }
    PinsChanged();
    return true;
}

int CElementaryStreamSource::PinCount()
{
    return static_cast<int>(pins_.size());
}

CBasePin* CElementaryStreamSource::PinAt(int index)
{
    return pins_[static_cast<size_t>(index)].get();
}

IPin* CElementaryStreamSource::VideoPin()
{
    return options_.videoPath.empty() ? nullptr : pins_.front().get();
}

bool CElementaryStreamSource::VideoFinished() const
{
    return !options_.videoPath.empty() && pins_.front()->Finished();
}

IPin* CElementaryStreamSource::AudioPin()
{
    return options_.audioPath.empty() ? nullptr : pins_.back().get();
}

} // namespace mux_tests
