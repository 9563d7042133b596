#pragma once
// MPEG-1/2 video pictures from their start codes: a unit a picture (two field pictures of one frame
// one unit), how many fields it is shown for, and whether B pictures make the decode order differ
// from the order shown.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/UnitScanner.h"
#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

// What a sequence header declares, and what its sequence extension adds.
VideoFacts FactsOf(const SequenceHeader& sequence);
void AddFacts(const SequenceHeader& sequence, const SequenceExtension& extension, VideoFacts& facts);

class CVideoUnitScanner : public IUnitScanner {
public:
    void Reset() override;
    void Scan(const StreamBytes& bytes, uint64_t pushed, CFoundUnits& found) override;
    void End(const StreamBytes& bytes, CFoundUnits& found) override;
    uint64_t FoundEnd() const override;

    bool OrderKnown() const override { return reorderKnown_; }
    bool LeadKnown(const CFoundUnits& found, size_t index) const override;
    int64_t LeadOf(const CFoundUnits& found, size_t index) const override;
    int64_t StepOf(const CFoundUnits& found, size_t index) const override;
    void SetCadenceUnit(const FoundUnit& unit, CCadence& cadence) const override;
    int64_t Tolerance() const override { return 3 * framePeriod27_ / 600; }

    const VideoFacts& Video() const override { return video_; }
    const AudioFrame& LastAudioFrame() const override;

private:
    struct OpenPicture {
        bool open = false;
        uint64_t position = 0;
        uint64_t start = 0; // the group's headers before it, if they are
        int temporalReference = 0;
        bool reference = false; // an I or P picture
    };

    void OpenGroup(uint64_t position, CFoundUnits& found);
    void OnSequenceHeader(const uint8_t* data, size_t size);
    void OnExtension(const uint8_t* data, size_t size, CFoundUnits& found);
    void ClosePicture(int structure, int fields, CFoundUnits& found);
    void AddPicture(const OpenPicture& picture, int fields, CFoundUnits& found);
    int64_t PreviousReferenceCounts(const CFoundUnits& found, size_t index) const;

    uint64_t scan_ = 0; // stream offset where parsing goes on
    bool ended_ = false;
    bool groupOpen_ = false; // a group start was found and no picture after it yet
    uint64_t groupStart_ = 0;
    VideoFacts video_;
    SequenceHeader sequence_ = {}; // the last, which its extension adds to
    int64_t framePeriod27_ = 1080000; // 25 frames a second until a sequence header says
    int64_t codedFramePeriod27_ = 0;  // the frame_rate_code's, before the extension's factor
    bool progressiveSequence_ = false;
    OpenPicture openPicture_;
    int firstField_ = 0;      // structure of a first field whose second is still to come
    int firstFieldReference_ = -1;
    int gopIndex_ = 0;
    int pictures_ = 0;
    bool lowDelay_ = false;
    bool reorderKnown_ = false;
    bool reorder_ = false;
};

} // namespace mpeg
