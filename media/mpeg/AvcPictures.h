#pragma once
// H.264 access units found from the stream's own NAL units (ITU-T H.264 7.4.1.2.4): an access unit
// delimiter, parameter set or SEI after a picture's slices starts the next one, and so does a slice
// whose header shows another picture. Two field pictures of one frame are one unit for timing, as
// in MPEG-2; each picture gets its picture order count and how many clock ticks it is shown for.
// Parameter sets live in fixed tables: memory does not grow with the stream.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/AvcSyntax.h"

namespace mpeg {

struct AvcPicture {
    uint64_t position; // where its access unit starts
    int ticks;         // clock ticks it is shown for (a field pair two, a frame doubled four)
    int64_t poc;       // display order within its sequence
    bool idr;          // starts a sequence: every picture before it is shown first
    bool field;        // the first field of a pair, whose second is still to come
};

class CAvcPictureFinder {
public:
    enum class Found { Nothing, Picture, SecondField, NeedMore };

    CAvcPictureFinder() { Reset(); }
    void Reset();
    // One NAL unit: `position` is where it starts in the stream (its start code), `nal` points at its
    // header byte. A slice that begins a picture gives it; the second field of a pair says so. A
    // slice may come before its end (`whole` false), so that its picture is found as soon as it
    // arrives: NeedMore when its header is not all there yet.
    Found OnNalUnit(uint64_t position, const uint8_t* nal, size_t size, bool whole, AvcPicture& picture);
    // Where the access unit that the units since the last slice open starts; UINT64_MAX when none.
    uint64_t OpenUnitStart() const { return openStart_; }
    // Bytes before `position` were given out without a unit (a backlog of garbage): an access unit
    // opened there is gone.
    void ForgetBefore(uint64_t position)
    {
        if (openStart_ != UINT64_MAX && openStart_ < position)
            openStart_ = UINT64_MAX;
    }
    // The sequence parameter set of the last picture, else the last one parsed; null before any.
    const AvcSps* ActiveSps() const;
    // Units that did not parse (a parameter set out of range, a slice naming none).
    uint32_t Damaged() const { return damaged_; }

private:
    bool NewPicture(const AvcSliceHeader& slice) const;
    int64_t PictureOrder(const AvcSliceHeader& slice, const AvcSps& sps);

    AvcSps sps_[MaxSpsCount];
    AvcPps pps_[MaxPpsCount];
    int lastSps_ = -1;
    int activeSps_ = -1;
    uint64_t openStart_ = UINT64_MAX;
    bool inPicture_ = false;  // slices seen since the last unit start
    AvcSliceHeader last_ = {};
    int picStruct_ = -1;      // from the SEI of the unit being opened
    bool firstFieldOpen_ = false;
    AvcSliceHeader firstField_ = {};
    int64_t prevPocMsb_ = 0;
    uint32_t prevPocLsb_ = 0;
    int64_t decodeCount_ = 0; // picture order where the stream gives none that reorders
    uint32_t damaged_ = 0;
};

// The order a decoder shows pictures in, by H.264's bumping process: once more than `depth`
// pictures wait, the one of least order count is shown; a new sequence shows them all first.
// Gives each picture its lead, how many ticks after its decode it is shown.
class CAvcOutputOrder {
public:
    static constexpr int MaxDepth = 16;
    void Reset(int depth);
    void Add(uint64_t serial, int64_t poc, int ticks, bool idr);
    void Flush();
    // The next picture shown since the last call, with its lead; false when none.
    bool Next(uint64_t& serial, int64_t& leadTicks);

private:
    struct Waiting {
        uint64_t serial;
        int64_t poc;
        int ticks;
        int64_t decodedBefore;
    };
    struct Shown {
        uint64_t serial;
        int64_t lead;
    };
    void ShowOne();

    int depth_ = 0;
    Waiting waiting_[MaxDepth + 1] = {};
    int waitingCount_ = 0;
    Shown shown_[MaxDepth + 2] = {};
    int shownCount_ = 0;
    int shownRead_ = 0;
    int64_t decodedTicks_ = 0;
    int64_t shownTicks_ = 0;
};

} // namespace mpeg
