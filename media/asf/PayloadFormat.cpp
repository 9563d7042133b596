#include "media/asf/PayloadFormat.h"

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/VideoHeaders.h"

namespace asf {
namespace {

void SetAudioFormat(const mpeg::AudioFrame& frame, AudioFormat& format)
{
    format.sampleRate = frame.sampleRate;
    format.channels = frame.channels;
    format.bitRate = frame.bitRate;
    format.layer = frame.layer;
    format.mpegVersion = frame.version;
    format.samplesPerFrame = frame.samples;
    format.frameBytes = frame.size;
}

} // namespace

bool ParseVideoFormat(const uint8_t* data, size_t size, VideoFormat& format)
{
    const size_t start = mpeg::FindStartCodeOf(data, size, mpeg::SequenceHeaderCode);
    mpeg::SequenceHeader sequence{};
    // A reserved frame rate is taken for 25 frames/s rather than lose the stream.
    mpeg::ParseSequenceHeader(data + start, size - start, sequence);
    if (size - start < 12 || sequence.width == 0 || sequence.height == 0)
        return false;
    format.width = static_cast<unsigned>(sequence.width);
    format.height = static_cast<unsigned>(sequence.height);
    format.aspectCode = static_cast<unsigned>(sequence.aspectCode);
    const mpeg::FrameRate rate = mpeg::FrameRateOf(sequence.frameRateCode);
    format.frameRateNum = rate.num ? rate.num : 25;
    format.frameRateDen = rate.num ? rate.den : 1;
    format.bitRate = sequence.bitRate;
    // The header with its quantiser matrices and extensions runs to the next start code that is
    // not an extension (normally a GOP or picture header).
    size_t end = start + 12;
    for (;;) {
        const size_t next = mpeg::FindStartCode(data, size, end);
        if (next + 3 >= size) {
            end = size;
            break;
        }
        end = next;
        if (data[next + 3] != mpeg::ExtensionStartCode)
            break;
        mpeg::SequenceExtension extension{};
        if (mpeg::ParseSequenceExtension(data + next, size - next, extension)) {
            format.profile = static_cast<unsigned>(extension.profile);
            format.level = static_cast<unsigned>(extension.level);
            format.width |= static_cast<unsigned>(extension.widthHigh);
            format.height |= static_cast<unsigned>(extension.heightHigh);
        }
        end = next + 4;
    }
    format.sequenceHeader.assign(data + start, data + end);
    return true;
}

unsigned PictureCodingType(const uint8_t* data, size_t size)
{
    const size_t start = mpeg::FindStartCodeOf(data, size, mpeg::PictureStartCode);
    mpeg::PictureHeader picture{};
    return mpeg::ParsePictureHeader(data + start, size - start, picture) ? static_cast<unsigned>(picture.type) : 0;
}

bool ParseMpegAudioHeader(const uint8_t* data, size_t size, AudioFormat& format)
{
    mpeg::AudioFrame frame{};
    if (!mpeg::ParseMpegAudioFrame(data, size, frame))
        return false;
    SetAudioFormat(frame, format);
    return true;
}

bool ParseAc3Header(const uint8_t* data, size_t size, AudioFormat& format)
{
    mpeg::AudioFrame frame{};
    // The coding mode (channels) is in the seventh byte.
    if (size < 7 || !mpeg::ParseAc3Frame(data, size, frame))
        return false;
    SetAudioFormat(frame, format);
    return true;
}

} // namespace asf
