#pragma once
// H.264 pictures from the NAL units of an Annex B byte stream: a unit an access unit (two field
// pictures of one frame one unit), how many clock ticks it is shown for, and when it is shown
// after its decoding, by the picture order counts.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "media/mpeg/AvcPictures.h"
#include "media/mpeg/UnitScanner.h"

namespace mpeg {

class CAvcUnitScanner : public IUnitScanner {
public:
    void Reset() override;
    void Scan(const StreamBytes& bytes, uint64_t pushed, CFoundUnits& found) override;
    void End(const StreamBytes& bytes, CFoundUnits& found) override;
    // A delimiter or parameter set read since the last slice opens the next unit.
    uint64_t FoundEnd() const override { return std::min(scan_, avc_.OpenUnitStart()); }

    bool OrderKnown() const override { return reorderKnown_; }
    bool LeadKnown(const CFoundUnits& found, size_t index) const override { return ended_ || found[index].lead >= 0; }
    int64_t LeadOf(const CFoundUnits& found, size_t index) const override;
    int64_t StepOf(const CFoundUnits& found, size_t index) const override { return found[index].counts; }
    void SetCadenceUnit(const FoundUnit& unit, CCadence& cadence) const override;
    int64_t Tolerance() const override { return 3 * framePeriod27_ / 600; }

    const VideoFacts& Video() const override { return video_; }
    const AudioFrame& LastAudioFrame() const override;

private:
    // False when a slice taken before its end needs more of its header.
    bool OnNalUnit(const StreamBytes& bytes, uint64_t position, uint64_t prefix, uint64_t end, bool whole, CFoundUnits& found);
    void AddPicture(const AvcPicture& picture, CFoundUnits& found);
    void DecideReorder(int depth, CFoundUnits& found);
    static int ObservedReorder(const CFoundUnits& found);
    void TakeLeads(CFoundUnits& found);

    // The NAL unit whose end is still to come: its start code, and the zero byte before it when
    // there is one.
    static constexpr uint64_t NoNal = UINT64_MAX;
    uint64_t nalPrefix_ = NoNal;
    uint64_t nalPosition_ = NoNal;
    uint64_t nalSearch_ = 0;
    bool nalDone_ = false; // a slice taken before its end
    uint64_t scan_ = 0;    // stream offset where parsing goes on
    bool ended_ = false;
    CAvcPictureFinder avc_;
    CAvcOutputOrder order_;
    VideoFacts video_;
    int64_t framePeriod27_ = 1080000; // 25 frames a second until a sequence parameter set says
    int pictures_ = 0;
    bool reorderKnown_ = false;
};

} // namespace mpeg
