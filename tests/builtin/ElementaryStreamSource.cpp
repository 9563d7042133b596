#include "tests/builtin/ElementaryStreamSource.h"

#include <atomic>
#include <cstring>

#include "builtin/RecordingMediaTypes.h"
#include "filters/SourceStreamPin.h"
#include "media/asf/PayloadFormat.h"
#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/VideoHeaders.h"
#include "tests/support/TestSupport.h"

namespace mux_tests {
namespace {

const CLSID ElementaryStreamSourceClsid = {0x5a0c7f32, 0x1d44, 0x4f0b, {0x8e, 0x61, 0x93, 0x2b, 0x70, 0x1c, 0x4e, 0x01}};
const std::string Garbage = "garbage-garbage-\x01\x02\x03\xFF\x04-garbage-garbage";

// Access units: each starts with the sequence or GOP header before its picture, if any. Times
// follow display order: the pictures before this GOP plus the temporal reference, in frames.
bool SplitVideo(const uint8_t* data, size_t size, std::vector<Unit>& units)
{
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
        mpeg::SequenceHeader sequence;
        mpeg::PictureHeader picture;
        if (code == mpeg::SequenceHeaderCode) {
            if (!mpeg::ParseSequenceHeader(data + at, size - at, sequence))
                return false;
            period = mpeg::FramePeriod27MHz(sequence.frameRateCode) * 10 / 27;
        } else if (code == mpeg::GroupStartCode) {
            gopBase += gopPictures;
            gopPictures = 0;
        } else {
            if (period == 0 || !mpeg::ParsePictureHeader(data + at, size - at, picture))
                return false;
            units.back().start = (gopBase + picture.temporalReference) * period;
            ++gopPictures;
            pictureInUnit = true;
        }
    }
    if (!units.empty())
        units.back().size = size - units.back().offset;
    return !units.empty();
}

bool SplitAudio(const uint8_t* data, size_t size, bool ac3, std::vector<Unit>& units)
{
    uint64_t samples = 0;
    mpeg::AudioFrame frame;
    for (size_t at = 0; at < size; at += frame.size) {
        if (!(ac3 ? mpeg::ParseAc3Frame(data + at, size - at, frame) : mpeg::ParseMpegAudioFrame(data + at, size - at, frame)) ||
            at + frame.size > size)
            return false;
        units.push_back({at, frame.size, static_cast<REFERENCE_TIME>(samples * 10000000 / frame.sampleRate)});
        samples += frame.samples;
    }
    return !units.empty();
}

} // namespace

class CElementaryStreamPin : public CSourceStreamPin {
public:
    CElementaryStreamPin(CBaseFilter* source, const wchar_t* name, const std::string& bytes, const std::vector<Unit>& units,
                         CMediaType type, bool silent, int endAfter, int garbageAt)
        : CSourceStreamPin(source, name), bytes_(bytes), units_(units), type_(std::move(type)), silent_(silent),
          endAfter_(endAfter < 0 ? units.size() : static_cast<size_t>(endAfter)), garbageAt_(garbageAt)
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
        type = type_;
        return index == 0 ? S_OK : VFW_S_NO_MORE_ITEMS;
    }
    bool Finished() const { return finished_.load(); }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
    {
        properties = {8, static_cast<long>(std::max(largest_, Garbage.size())), 1, 0};
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
        BYTE* data = nullptr;
        if (next_ >= endAfter_ || FAILED(sample->GetPointer(&data)))
            return S_FALSE;
        if (static_cast<int>(next_) == garbageAt_ && !garbageSent_) {
            garbageSent_ = true;
            std::memcpy(data, Garbage.data(), Garbage.size());
            sample->SetActualDataLength(static_cast<long>(Garbage.size()));
            return sample->SetTime(nullptr, nullptr);
        }
        const Unit& unit = units_[next_++];
        std::memcpy(data, bytes_.data() + unit.offset, unit.size);
        sample->SetActualDataLength(static_cast<long>(unit.size));
        REFERENCE_TIME start = unit.start;
        return sample->SetTime(&start, nullptr);
    }

private:
    const std::string& bytes_;
    const std::vector<Unit>& units_;
    const CMediaType type_;
    const bool silent_;
    const size_t endAfter_;
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
    const std::string paths[2] = {options_.videoPath, options_.audioPath};
    for (int i = 0; i < 2; ++i) {
        if (paths[i].empty())
            continue;
        bytes_[i] = testing_support::ReadFileBytes(paths[i]);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes_[i].data());
        const size_t size = bytes_[i].size();
        asf::StreamFormat format;
        const bool ac3 = asf::ParseAc3Header(data, size, format.audio);
        if (i == 0 ? !asf::ParseVideoFormat(data, size, format.video) || !SplitVideo(data, size, units_[0])
                   : !(ac3 || asf::ParseMpegAudioHeader(data, size, format.audio)) || !SplitAudio(data, size, ac3, units_[1]))
            return false;
        format.codec = i == 0 ? asf::Codec::Mpeg2Video : ac3 ? asf::Codec::Ac3 : asf::Codec::MpegAudio;
        std::vector<CMediaType> types = RecordingMediaTypes(asf::StreamInfo(), format);
        if (types.empty())
            return false;
        pins_.push_back(std::make_unique<CElementaryStreamPin>(
            this, i == 0 ? L"Video" : L"Audio", bytes_[i], units_[i], std::move(types.front()),
            i == 1 && options_.audioSilent, i == 0 ? options_.videoEndAfter : options_.audioEndAfter,
            i == 1 ? options_.audioGarbageAt : -1));
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

IPin* CElementaryStreamSource::AudioPin()
{
    return options_.audioPath.empty() ? nullptr : pins_.back().get();
}

bool CElementaryStreamSource::VideoFinished() const
{
    return !options_.videoPath.empty() && pins_.front()->Finished();
}

} // namespace mux_tests
