#pragma once
// Audio frames from their sync words and headers (MPEG audio, AC-3, E-AC-3 with its dependent
// substreams, AAC as ADTS or LOAS), or one raw AAC frame a push: a unit a frame, lasting its
// samples. After damage a sync word is believed only where the next frame follows it.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/UnitScanner.h"

namespace mpeg {

class CAudioUnitScanner : public IUnitScanner {
public:
    explicit CAudioUnitScanner(StreamKind kind) : kind_(kind) {}
    // The AAC configuration is kept: raw frames do not repeat the one their media type carries.
    void Reset() override;
    void SetAacConfig(const AacConfig& config) { aac_ = config; }
    // AAC: the framing its first bytes showed (raw until bytes came).
    AacFraming Framing() const { return aacFraming_; }

    void Scan(const StreamBytes& bytes, uint64_t pushed, CFoundUnits& found) override;
    void End(const StreamBytes& bytes, CFoundUnits& found) override;
    uint64_t FoundEnd() const override { return scan_; }

    bool OrderKnown() const override { return true; }
    bool LeadKnown(const CFoundUnits&, size_t) const override { return true; }
    int64_t LeadOf(const CFoundUnits&, size_t) const override { return 0; }
    int64_t StepOf(const CFoundUnits& found, size_t index) const override { return found[index].counts; }
    void SetCadenceUnit(const FoundUnit& unit, CCadence& cadence) const override;
    int64_t Tolerance() const override;

    const VideoFacts& Video() const override;
    const AudioFrame& LastAudioFrame() const override { return lastFrame_; }

private:
    bool RawAac() const { return kind_ == StreamKind::AacAudio && aacFraming_ == AacFraming::Raw; }
    void ScanFrames(const StreamBytes& bytes, CFoundUnits& found);
    bool ParseAt(const StreamBytes& bytes, uint64_t position, AudioFrame& frame, bool& dependent, AacConfig& config) const;
    size_t BytesNeeded(const StreamBytes& bytes, uint64_t position) const;
    void AddRawAacFrame(uint64_t position, size_t size, CFoundUnits& found);

    const StreamKind kind_;
    uint64_t scan_ = 0; // stream offset where parsing goes on
    AacConfig aac_;
    AacFraming aacFraming_ = AacFraming::Raw;
    bool framingKnown_ = false;
    bool synced_ = true;
    uint32_t sampleRate_ = 0;
    AudioFrame lastFrame_ = {};
};

} // namespace mpeg
