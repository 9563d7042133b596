#include "builtin/RecordingMediaTypes.h"

#include <dvdmedia.h>
#include <mmreg.h>
#include <uuids.h>

#include <cstddef>
#include <cstring>
#include <numeric>

#include "builtin/MuxMediaTypes.h"

namespace {

// Some MinGW-w64 headers declare these without defining them; the values are fixed.
constexpr GUID Mpeg2VideoSubtype = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Mpeg2VideoFormat = {0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Mpeg2AudioSubtype = {0xE06D802B, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID Mpeg1AudioPayloadSubtype = {0xE436EB81, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID Ac3Subtype = {0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
constexpr GUID VideoMajor = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID AudioMajor = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID WaveFormatExFormat = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr WORD Ac3FormatTag = 0x2000;

CMediaType WithFormat(const GUID& major, const GUID& subtype, const GUID& formatType, const void* format, ULONG size)
{
    AM_MEDIA_TYPE type = {};
    type.majortype = major;
    type.subtype = subtype;
    type.formattype = formatType;
    type.bTemporalCompression = TRUE;
    type.cbFormat = size;
    type.pbFormat = static_cast<BYTE*>(const_cast<void*>(format));
    CMediaType owned(type); // a deep copy
    return owned;
}

// The MPEG2VIDEOINFO both video codings fill alike: picture size, rate, frame time and the
// stream's own headers where the sequence header goes; `size` receives the format block's size.
MPEG2VIDEOINFO& VideoInfoBlock(const media::VideoFormat& video, std::vector<BYTE>& block, size_t& size)
{
    size = offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + video.sequenceHeader.size();
    block.assign(size > sizeof(MPEG2VIDEOINFO) ? size : sizeof(MPEG2VIDEOINFO), 0);
    auto& info = *reinterpret_cast<MPEG2VIDEOINFO*>(block.data());
    VIDEOINFOHEADER2& header = info.hdr;
    header.rcSource = {0, 0, static_cast<LONG>(video.width), static_cast<LONG>(video.height)};
    header.rcTarget = header.rcSource;
    header.dwBitRate = video.bitRate;
    header.AvgTimePerFrame = static_cast<REFERENCE_TIME>(10000000ll * video.frameRateDen / video.frameRateNum);
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = static_cast<LONG>(video.width);
    header.bmiHeader.biHeight = static_cast<LONG>(video.height);
    info.cbSequenceHeader = static_cast<DWORD>(video.sequenceHeader.size());
    std::memcpy(info.dwSequenceHeader, video.sequenceHeader.data(), video.sequenceHeader.size());
    return info;
}

CMediaType VideoType(const media::VideoFormat& video)
{
    std::vector<BYTE> block;
    size_t size = 0;
    MPEG2VIDEOINFO* info = &VideoInfoBlock(video, block, size);
    VIDEOINFOHEADER2& header = info->hdr;
    // Display aspect from the sequence header's code; 1 means square pixels.
    static const DWORD aspects[5][2] = {{4, 3}, {1, 1}, {4, 3}, {16, 9}, {221, 100}};
    const unsigned code = video.aspectCode < 5 ? video.aspectCode : 0;
    header.dwPictAspectRatioX = code == 1 ? video.width : aspects[code][0];
    header.dwPictAspectRatioY = code == 1 ? video.height : aspects[code][1];
    // The stream's profile and level codes, turned into the AM_MPEG2Profile/Level numbering.
    info->dwProfile = video.profile >= 1 && video.profile <= 5 ? 6 - video.profile : 0;
    info->dwLevel = video.level >= 4 && video.level <= 10 && video.level % 2 == 0 ? (12 - video.level) / 2 : 0;
    return WithFormat(VideoMajor, Mpeg2VideoSubtype, Mpeg2VideoFormat, block.data(), static_cast<ULONG>(size));
}

// H.264 as the media centre types it: MPEG2VIDEOINFO with the parameter sets where the sequence
// header goes (dwFlags 0: start codes), and VIDEOINFOHEADER2 for filters that want only that.
std::vector<CMediaType> H264Types(const media::VideoFormat& video)
{
    constexpr DWORD H264FourCc = 0x34363248;
    std::vector<BYTE> block;
    size_t size = 0;
    MPEG2VIDEOINFO* info = &VideoInfoBlock(video, block, size);
    VIDEOINFOHEADER2& header = info->hdr;
    // The picture's shape from its sample aspect ratio; square samples when the stream gives none.
    const uint64_t x = uint64_t(video.width) * (video.sarWidth ? video.sarWidth : 1);
    const uint64_t y = uint64_t(video.height) * (video.sarHeight ? video.sarHeight : 1);
    const uint64_t common = std::max<uint64_t>(std::gcd(x, y), 1);
    header.dwPictAspectRatioX = static_cast<DWORD>(x / common);
    header.dwPictAspectRatioY = static_cast<DWORD>(y / common);
    header.bmiHeader.biCompression = H264FourCc;
    info->dwProfile = video.profile;
    info->dwLevel = video.level;
    std::vector<CMediaType> types;
    types.push_back(WithFormat(VideoMajor, MuxSubtypeH264, Mpeg2VideoFormat, block.data(), static_cast<ULONG>(size)));
    types.push_back(WithFormat(VideoMajor, MuxSubtypeH264, MuxFormatVideoInfo2, &header, sizeof(header)));
    return types;
}

// AAC by its framing: raw frames with the AudioSpecificConfig as the WAVEFORMATEX's extra bytes.
CMediaType AacType(const media::AudioFormat& audio)
{
    const bool raw = audio.aacPayload == media::AacPayload::Raw;
    const WORD tag = raw ? 0x00FF : audio.aacPayload == media::AacPayload::Adts ? 0x1600 : 0x1602;
    std::vector<BYTE> block(sizeof(WAVEFORMATEX) + (raw ? audio.aacConfig.size() : 0));
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(block.data());
    wave->wFormatTag = tag;
    wave->nChannels = static_cast<WORD>(audio.channels);
    wave->nSamplesPerSec = audio.sampleRate;
    wave->nAvgBytesPerSec = audio.bitRate / 8;
    wave->nBlockAlign = 1;
    wave->cbSize = static_cast<WORD>(block.size() - sizeof(WAVEFORMATEX));
    if (raw && !audio.aacConfig.empty())
        std::memcpy(block.data() + sizeof(WAVEFORMATEX), audio.aacConfig.data(), audio.aacConfig.size());
    const GUID& subtype = raw ? MuxSubtypeRawAac : audio.aacPayload == media::AacPayload::Adts ? MuxSubtypeAdtsAac : MuxSubtypeLoas;
    return WithFormat(AudioMajor, subtype, WaveFormatExFormat, block.data(), static_cast<ULONG>(block.size()));
}

// E-AC-3 as DOLBY_DDPLUS, its WAVEFORMATEXTENSIBLE naming the same subtype.
CMediaType Eac3Type(const media::AudioFormat& audio)
{
    WAVEFORMATEXTENSIBLE wave = {};
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.nChannels = static_cast<WORD>(audio.channels);
    wave.Format.nSamplesPerSec = audio.sampleRate;
    wave.Format.nAvgBytesPerSec = audio.bitRate / 8;
    wave.Format.nBlockAlign = 1;
    wave.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    wave.SubFormat = MuxSubtypeDolbyDigitalPlus;
    return WithFormat(AudioMajor, MuxSubtypeDolbyDigitalPlus, WaveFormatExFormat, &wave, sizeof(wave));
}

std::vector<CMediaType> MpegAudioTypes(const media::AudioFormat& audio)
{
    MPEG1WAVEFORMAT wave = {};
    wave.wfx.wFormatTag = WAVE_FORMAT_MPEG;
    wave.wfx.nChannels = static_cast<WORD>(audio.channels);
    wave.wfx.nSamplesPerSec = audio.sampleRate;
    wave.wfx.nAvgBytesPerSec = audio.bitRate / 8;
    wave.wfx.nBlockAlign = 1;
    wave.wfx.cbSize = sizeof(MPEG1WAVEFORMAT) - sizeof(WAVEFORMATEX);
    wave.fwHeadLayer = static_cast<WORD>(audio.layer == 1 ? ACM_MPEG_LAYER1 : audio.layer == 2 ? ACM_MPEG_LAYER2 : ACM_MPEG_LAYER3);
    wave.dwHeadBitrate = audio.bitRate;
    wave.fwHeadMode = static_cast<WORD>(audio.channels == 1 ? ACM_MPEG_SINGLECHANNEL : ACM_MPEG_STEREO);
    wave.wHeadEmphasis = 1;
    wave.fwHeadFlags = audio.mpegVersion == 1 ? ACM_MPEG_ID_MPEG1 : 0;
    std::vector<CMediaType> types;
    types.push_back(WithFormat(AudioMajor, Mpeg2AudioSubtype, WaveFormatExFormat, &wave, sizeof(wave)));
    types.push_back(WithFormat(AudioMajor, Mpeg1AudioPayloadSubtype, WaveFormatExFormat, &wave, sizeof(wave)));
    return types;
}

CMediaType Ac3Type(const media::AudioFormat& audio)
{
    WAVEFORMATEX wave = {};
    wave.wFormatTag = Ac3FormatTag;
    wave.nChannels = static_cast<WORD>(audio.channels);
    wave.nSamplesPerSec = audio.sampleRate;
    wave.nAvgBytesPerSec = audio.bitRate / 8;
    wave.nBlockAlign = static_cast<WORD>(audio.frameBytes);
    return WithFormat(AudioMajor, Ac3Subtype, WaveFormatExFormat, &wave, sizeof(wave));
}

} // namespace

std::vector<CMediaType> RecordingMediaTypes(const media::StreamFormat& format)
{
    switch (format.codec) {
    case media::Codec::Mpeg2Video:
        return {VideoType(format.video)};
    case media::Codec::MpegAudio:
        return MpegAudioTypes(format.audio);
    case media::Codec::Ac3:
        return {Ac3Type(format.audio)};
    case media::Codec::H264Video:
        return H264Types(format.video);
    case media::Codec::Aac:
        return {AacType(format.audio)};
    case media::Codec::Eac3:
        return {Eac3Type(format.audio)};
    case media::Codec::Captions: {
        // Nothing needs to connect captions; their own type lets a graph that wants them try.
        AM_MEDIA_TYPE type = {};
        type.majortype = format.majorType;
        type.subtype = format.subtype;
        type.formattype = FORMAT_None;
        return {CMediaType(type)};
    }
    default:
        return {};
    }
}
