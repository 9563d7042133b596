#include "builtin/MuxInputPin.h"

#include <wrl/client.h>

#include <cstring>

#include "builtin/MuxMediaTypes.h"
#include "builtin/StreamLanguage.h"

namespace {

bool IsH264(const GUID& subtype)
{
    return subtype == MuxSubtypeH264 || subtype == MuxSubtypeH264Lower || subtype == MuxSubtypeX264 || subtype == MuxSubtypeX264Lower;
}

bool IsAac(const GUID& subtype)
{
    return subtype == MuxSubtypeRawAac || subtype == MuxSubtypeAdtsAac || subtype == MuxSubtypeLoas || subtype == MuxSubtypeHeAac;
}

// HEAACWAVEINFO after its WAVEFORMATEX: wPayloadType, then the rest up to the config (12 bytes).
constexpr size_t HeAacInfoSize = 12;
enum HeAacPayload { HeAacRaw = 0, HeAacAdts = 1, HeAacLoas = 3 };

const WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE& type)
{
    if (type.formattype != FORMAT_WaveFormatEx || type.cbFormat < sizeof(WAVEFORMATEX) || !type.pbFormat)
        return nullptr;
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return type.cbFormat >= sizeof(WAVEFORMATEX) + wave->cbSize ? wave : nullptr;
}

int HeAacPayloadType(const AM_MEDIA_TYPE& type)
{
    const WAVEFORMATEX* wave = WaveFormat(type);
    if (!wave || wave->cbSize < HeAacInfoSize)
        return -1;
    const uint8_t* info = type.pbFormat + sizeof(WAVEFORMATEX);
    return info[0] | (info[1] << 8);
}

// The language the peer output pin names for its stream; false (code untouched) when it names none.
bool PeerLanguage(IPin* peer, char code[3])
{
    Microsoft::WRL::ComPtr<IKsPropertySet> properties;
    if (FAILED(peer->QueryInterface(IID_PPV_ARGS(&properties))))
        return false;
    char got[StreamLanguageBytes] = {};
    DWORD returned = 0;
    if (properties->Get(HalvernPropSetStream, StreamPropertyLanguage, nullptr, 0, got, sizeof(got), &returned) != S_OK ||
        returned != StreamLanguageBytes)
        return false;
    for (char letter : got)
        if (letter < 'a' || letter > 'z')
            return false;
    std::memcpy(code, got, StreamLanguageBytes);
    return true;
}

} // namespace

CMuxInputPin::CMuxInputPin(CBaseFilter* filter, IMuxInputEvents& events, const std::wstring& name, MuxInputRole role)
    : CBaseInputPin(filter, name.c_str()), events_(events), role_(role),
      progress_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

CMuxInputPin::~CMuxInputPin()
{
    // Upstream may hold the allocator longer than the pin lives.
    if (allocator_)
        allocator_->Detach();
}

HRESULT CMuxInputPin::MakeAllocator(Microsoft::WRL::ComPtr<IMemAllocator>& made)
{
    if (!allocator_) {
        const HRESULT hr = CLendingAllocator::Create(this, allocator_);
        if (FAILED(hr))
            return hr;
    }
    made = allocator_;
    return S_OK;
}

bool CMuxInputPin::LendRoom(size_t size, std::shared_ptr<void>& keep, BYTE*& room)
{
    return events_.OnLendRoom(*this, size, keep, room);
}

mpeg::Coding CMuxInputPin::Coding() const
{
    const AM_MEDIA_TYPE& type = ConnectedType().Get();
    const GUID& subtype = type.subtype;
    if (IsVideo())
        return IsH264(subtype) ? mpeg::Coding::H264Video : mpeg::Coding::Mpeg2Video;
    if (subtype == MuxSubtypeDolbyAc3)
        return mpeg::Coding::Ac3;
    if (subtype == MuxSubtypeDolbyDigitalPlus)
        return mpeg::Coding::Eac3;
    if (subtype == MuxSubtypeAdtsAac)
        return mpeg::Coding::AacAdts;
    if (subtype == MuxSubtypeLoas)
        return mpeg::Coding::AacLatm;
    if (subtype == MuxSubtypeHeAac) {
        const int payload = HeAacPayloadType(type);
        return payload == HeAacAdts ? mpeg::Coding::AacAdts : payload == HeAacLoas ? mpeg::Coding::AacLatm : mpeg::Coding::AacRaw;
    }
    if (subtype == MuxSubtypeRawAac) // without a config the frames carry their ADTS headers
        return AacConfig().empty() ? mpeg::Coding::AacAdts : mpeg::Coding::AacRaw;
    const WAVEFORMATEX* wave = WaveFormat(type);
    return wave && wave->nSamplesPerSec < 32000 ? mpeg::Coding::Mpeg2Audio : mpeg::Coding::Mpeg1Audio;
}

std::vector<uint8_t> CMuxInputPin::AacConfig() const
{
    const AM_MEDIA_TYPE& type = ConnectedType().Get();
    const WAVEFORMATEX* wave = WaveFormat(type);
    if (!wave)
        return {};
    const uint8_t* extra = type.pbFormat + sizeof(WAVEFORMATEX);
    if (type.subtype == MuxSubtypeRawAac)
        return std::vector<uint8_t>(extra, extra + wave->cbSize);
    if (type.subtype == MuxSubtypeHeAac && wave->cbSize > HeAacInfoSize && HeAacPayloadType(type) == HeAacRaw)
        return std::vector<uint8_t>(extra + HeAacInfoSize, extra + wave->cbSize);
    return {};
}

HRESULT CMuxInputPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    const GUID& subtype = type.subtype;
    // H.264, AAC and E-AC-3 connect to either multiplexer, so that the graph is built as described
    // rather than rendered some other way; the program stream one then refuses to run, saying why.
    if (IsCaptions())
        return type.majortype == MuxMajorLine21 || type.majortype == MuxMajorMstvCaption ? S_OK : S_FALSE;
    if (IsVideo()) {
        const bool mpeg = subtype == MuxSubtypeMpeg2Video || subtype == MuxSubtypeMpeg1Payload || subtype == MuxSubtypeMpeg1Packet;
        return type.majortype == MEDIATYPE_Video && (mpeg || IsH264(subtype)) ? S_OK : S_FALSE;
    }
    const bool audio = subtype == MuxSubtypeMpeg2Audio || subtype == MuxSubtypeMpeg1Payload ||
                       subtype == MuxSubtypeMpeg1AudioPayload || subtype == MuxSubtypeDolbyAc3;
    const bool more = IsAac(subtype) || subtype == MuxSubtypeDolbyDigitalPlus;
    return type.majortype == MEDIATYPE_Audio && (audio || more) ? S_OK : S_FALSE;
}

HRESULT CMuxInputPin::GetMediaType(int, CMediaType&)
{
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT CMuxInputPin::CompleteConnect(IPin* peer)
{
    const HRESULT hr = CBaseInputPin::CompleteConnect(peer);
    if (FAILED(hr))
        return hr;
    std::memset(language_, 0, sizeof(language_));
    if (IsAudio())
        PeerLanguage(peer, language_);
    events_.OnConnectionChanged(*this, true);
    return hr;
}

void CMuxInputPin::BreakConnect()
{
    CBaseInputPin::BreakConnect();
    events_.OnConnectionChanged(*this, false);
}

void CMuxInputPin::Inactive()
{
    CBaseInputPin::Inactive();
    ::SetEvent(progress_.Get()); // a Receive waiting for room gives up now
}

STDMETHODIMP CMuxInputPin::Receive(IMediaSample* sample)
{
    if (sample && progress_)
        events_.OnWaitForRoom(*this);
    return CBaseInputPin::Receive(sample);
}

STDMETHODIMP CMuxInputPin::EndOfStream()
{
    if (progress_)
        events_.OnWaitForOthers(*this);
    return CBaseInputPin::EndOfStream();
}

HRESULT CMuxInputPin::OnReceive(IMediaSample* sample)
{
    return events_.OnReceive(*this, sample);
}

HRESULT CMuxInputPin::OnEndOfStream()
{
    return events_.OnEndOfStream(*this);
}

HRESULT CMuxInputPin::OnBeginFlush()
{
    ::SetEvent(progress_.Get());
    return events_.OnBeginFlush();
}

HRESULT CMuxInputPin::OnEndFlush()
{
    return events_.OnEndFlush();
}
