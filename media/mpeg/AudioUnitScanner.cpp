#include "media/mpeg/AudioUnitScanner.h"

#include <algorithm>
#include <cstring>

namespace mpeg {

void CAudioUnitScanner::Reset()
{
    scan_ = 0;
    aacFraming_ = AacFraming::Raw;
    framingKnown_ = false;
    synced_ = true;
    sampleRate_ = 0;
    lastFrame_ = AudioFrame();
}

void CAudioUnitScanner::Scan(const StreamBytes& bytes, uint64_t pushed, CFoundUnits& found)
{
    const size_t size = static_cast<size_t>(bytes.End() - pushed);
    if (kind_ == StreamKind::AacAudio && !framingKnown_) {
        framingKnown_ = true;
        aacFraming_ = AacFramingOf(bytes.At(pushed), size);
    }
    if (RawAac())
        AddRawAacFrame(pushed, size, found);
    else
        ScanFrames(bytes, found);
}

void CAudioUnitScanner::End(const StreamBytes& bytes, CFoundUnits& found)
{
    if (!RawAac())
        ScanFrames(bytes, found);
    scan_ = bytes.End();
}

bool CAudioUnitScanner::ParseAt(const StreamBytes& bytes, uint64_t position, AudioFrame& frame, bool& dependent, AacConfig& config) const
{
    dependent = false;
    config = aac_;
    if (position >= bytes.End())
        return false;
    const uint8_t* data = bytes.At(position);
    const size_t size = static_cast<size_t>(bytes.End() - position);
    switch (kind_) {
    case StreamKind::Ac3Audio:
        return ParseAc3Frame(data, size, frame);
    case StreamKind::Eac3Audio:
        return ParseEac3Frame(data, size, frame, dependent);
    case StreamKind::AacAudio:
        return aacFraming_ == AacFraming::Adts ? ParseAdtsFrame(data, size, frame) : ParseLoasFrame(data, size, aac_, frame, config);
    default:
        return ParseMpegAudioFrame(data, size, frame);
    }
}

// Bytes a frame header at `position` needs before it is parsed: a LOAS frame's configuration
// lies anywhere in it, so the whole frame.
size_t CAudioUnitScanner::BytesNeeded(const StreamBytes& bytes, uint64_t position) const
{
    switch (kind_) {
    case StreamKind::Ac3Audio:
    case StreamKind::Eac3Audio:
        return 6;
    case StreamKind::AacAudio: {
        if (aacFraming_ == AacFraming::Adts)
            return 7;
        if (position + 3 > bytes.End())
            return 3;
        const uint8_t* header = bytes.At(position);
        if (header[0] != 0x56 || (header[1] & 0xE0) != 0xE0)
            return 3;
        return 3 + (((header[1] & 0x1Fu) << 8) | header[2]);
    }
    default:
        return 4;
    }
}

// One raw AAC frame a push: nothing in its bytes marks where a frame starts.
void CAudioUnitScanner::AddRawAacFrame(uint64_t position, size_t size, CFoundUnits& found)
{
    // Without a configuration the rate is taken for broadcasting's 48 kHz.
    const uint32_t rate = aac_.sampleRate ? aac_.sampleRate : 48000;
    const uint32_t samples = aac_.frameSamples;
    lastFrame_ = {static_cast<uint32_t>(size), samples, rate, static_cast<uint32_t>(uint64_t(size) * 8 * rate / samples),
                  aac_.channels, 0, 0};
    sampleRate_ = rate;
    found.Add({position, NoTimestamp, samples, rate, false, {}}, int64_t(samples) * 90000 / rate);
    scan_ = position + size;
}

void CAudioUnitScanner::ScanFrames(const StreamBytes& bytes, CFoundUnits& found)
{
    for (;;) {
        const uint64_t end = bytes.End();
        if (scan_ < bytes.read)
            scan_ = bytes.read;
        const size_t headerSize = BytesNeeded(bytes, scan_);
        if (scan_ + headerSize > end && !(bytes.ended && kind_ == StreamKind::AacAudio && scan_ + 3 <= end))
            return;
        AudioFrame frame;
        bool dependent = false;
        AacConfig config;
        // While in sync a header that changes the sample rate is taken for damage too.
        bool isFrame = ParseAt(bytes, scan_, frame, dependent, config) && frame.size >= std::min<size_t>(headerSize, 7) &&
                       (!synced_ || sampleRate_ == 0 || frame.sampleRate == sampleRate_);
        if (isFrame && !synced_) {
            // After garbage a sync word is believed only when the next frame follows it.
            const uint64_t next = scan_ + frame.size;
            AudioFrame following;
            bool nextDependent = false;
            AacConfig nextConfig;
            if (next + BytesNeeded(bytes, next) > end && !(bytes.ended && next >= end))
                return;
            isFrame = (bytes.ended && next >= end) || ParseAt(bytes, next, following, nextDependent, nextConfig);
        }
        if (!isFrame) {
            if (synced_)
                found.AddDamaged();
            synced_ = false;
            // On to the next byte that could start a header.
            const bool loas = kind_ == StreamKind::AacAudio && aacFraming_ == AacFraming::Loas;
            const uint8_t first = kind_ == StreamKind::Ac3Audio || kind_ == StreamKind::Eac3Audio ? 0x0B : loas ? 0x56 : 0xFF;
            const uint8_t* from = bytes.At(scan_ + 1);
            const void* hit = std::memchr(from, first, static_cast<size_t>(end - (scan_ + 1)));
            scan_ = hit ? scan_ + 1 + static_cast<size_t>(static_cast<const uint8_t*>(hit) - from) : end;
            continue;
        }
        synced_ = true;
        aac_ = config;
        // A dependent substream adds channels to the frame before it: the same samples, one unit.
        if (dependent) {
            scan_ += frame.size;
            continue;
        }
        sampleRate_ = frame.sampleRate;
        lastFrame_ = frame;
        found.Add({scan_, NoTimestamp, frame.samples, frame.sampleRate, false, {}}, int64_t(frame.samples) * 90000 / frame.sampleRate);
        scan_ += frame.size;
    }
}

void CAudioUnitScanner::SetCadenceUnit(const FoundUnit& unit, CCadence& cadence) const
{
    if (unit.sampleRate)
        cadence.SetUnit(90000, unit.sampleRate);
}

// Two audio frames.
int64_t CAudioUnitScanner::Tolerance() const
{
    int64_t frame = kind_ == StreamKind::Ac3Audio ? 1536 : 1152;
    if (kind_ == StreamKind::AacAudio || kind_ == StreamKind::Eac3Audio)
        frame = lastFrame_.samples ? lastFrame_.samples : 1024;
    return sampleRate_ ? 2 * frame * 90000 / sampleRate_ : 5760;
}

const VideoFacts& CAudioUnitScanner::Video() const
{
    static const VideoFacts none;
    return none;
}

} // namespace mpeg
