#include "media/mpeg/AvcPictures.h"

namespace mpeg {

void CAvcPictureFinder::Reset()
{
    for (AvcSps& sps : sps_)
        sps = AvcSps();
    for (AvcPps& pps : pps_)
        pps = AvcPps();
    lastSps_ = activeSps_ = -1;
    openStart_ = UINT64_MAX;
    inPicture_ = false;
    last_ = AvcSliceHeader();
    picStruct_ = -1;
    firstFieldOpen_ = false;
    firstField_ = AvcSliceHeader();
    prevPocMsb_ = 0;
    prevPocLsb_ = 0;
    decodeCount_ = 0;
    damaged_ = 0;
}

const AvcSps* CAvcPictureFinder::ActiveSps() const
{
    const int id = activeSps_ >= 0 ? activeSps_ : lastSps_;
    return id >= 0 && sps_[id].valid ? &sps_[id] : nullptr;
}

// H.264 7.4.1.2.4: the first slice of a new primary picture differs from the last slice in one of
// these; a first macroblock of 0 marks it as well where slices come in order (every profile but
// Baseline's arbitrary slice order, which broadcasters do not use).
bool CAvcPictureFinder::NewPicture(const AvcSliceHeader& slice) const
{
    return slice.firstMb == 0 || slice.frameNum != last_.frameNum || slice.ppsId != last_.ppsId ||
           slice.fieldPic != last_.fieldPic || slice.bottomField != last_.bottomField ||
           (slice.nalRefIdc == 0) != (last_.nalRefIdc == 0) || slice.pocLsb != last_.pocLsb ||
           slice.deltaPocBottom != last_.deltaPocBottom || slice.deltaPoc0 != last_.deltaPoc0 ||
           slice.deltaPoc1 != last_.deltaPoc1 || slice.idr != last_.idr || (slice.idr && slice.idrPicId != last_.idrPicId);
}

// H.264 8.2.1.1 for type 0; other types are taken in decode order (type 2 is, by definition;
// type 1 streams with B pictures are not ordered here).
int64_t CAvcPictureFinder::PictureOrder(const AvcSliceHeader& slice, const AvcSps& sps)
{
    ++decodeCount_;
    if (sps.pocType != 0)
        return decodeCount_ * 2;
    if (slice.idr) {
        prevPocMsb_ = 0;
        prevPocLsb_ = 0;
    }
    const int64_t maxLsb = int64_t(1) << sps.log2MaxPocLsb;
    const int64_t lsb = slice.pocLsb, prevLsb = prevPocLsb_;
    int64_t msb = prevPocMsb_;
    if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
        msb += maxLsb;
    else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
        msb -= maxLsb;
    if (slice.nalRefIdc != 0) {
        prevPocMsb_ = msb;
        prevPocLsb_ = slice.pocLsb;
    }
    const int64_t top = msb + lsb;
    if (slice.fieldPic)
        return top;
    return slice.deltaPocBottom < 0 ? top + slice.deltaPocBottom : top;
}

CAvcPictureFinder::Found CAvcPictureFinder::OnNalUnit(uint64_t position, const uint8_t* nal, size_t size, bool whole,
                                                      AvcPicture& picture)
{
    if (size < 1)
        return Found::Nothing;
    const int type = NalType(nal[0]);
    switch (type) {
    case nal::Slice:
    case nal::IdrSlice: {
        AvcSliceHeader slice;
        if (!ParseAvcSliceHeader(nal, size, sps_, pps_, slice)) {
            if (!whole)
                return Found::NeedMore;
            ++damaged_;
            return Found::Nothing;
        }
        if (inPicture_ && !NewPicture(slice)) {
            last_ = slice;
            return Found::Nothing;
        }
        const uint64_t start = openStart_ != UINT64_MAX ? openStart_ : position;
        openStart_ = UINT64_MAX;
        inPicture_ = true;
        last_ = slice;
        const int picStruct = picStruct_;
        picStruct_ = -1;
        activeSps_ = pps_[slice.ppsId].spsId;
        const AvcSps& sps = sps_[activeSps_];
        const bool second = slice.fieldPic && firstFieldOpen_ && firstField_.frameNum == slice.frameNum &&
                            firstField_.bottomField != slice.bottomField;
        if (second) {
            firstFieldOpen_ = false;
            PictureOrder(slice, sps); // keeps the reference order count up to date
            return Found::SecondField;
        }
        firstFieldOpen_ = slice.fieldPic;
        firstField_ = slice;
        // A field's unit holds its pair: two fields' ticks.
        picture = {start, slice.fieldPic ? 2 * AvcClockTicks(picStruct, true) : AvcClockTicks(picStruct, false),
                   PictureOrder(slice, sps), slice.idr, slice.fieldPic};
        return Found::Picture;
    }
    case nal::Sps: {
        AvcSps sps;
        const int id = ParseAvcSps(nal, size, sps);
        if (id < 0) {
            ++damaged_;
        } else {
            sps_[id] = sps;
            lastSps_ = id;
        }
        break;
    }
    case nal::Pps: {
        AvcPps pps;
        const int id = ParseAvcPps(nal, size, pps);
        if (id < 0)
            ++damaged_;
        else
            pps_[id] = pps;
        break;
    }
    case nal::Sei:
        if (const AvcSps* sps = ActiveSps()) {
            const int picStruct = AvcPicStruct(nal, size, *sps);
            if (picStruct >= 0)
                picStruct_ = picStruct;
        }
        break;
    default:
        break;
    }
    // A delimiter, parameter set, SEI or one of the reserved types 14-18 after a picture's slices
    // starts the next access unit.
    const bool opens = type == nal::AccessUnitDelimiter || type == nal::Sps || type == nal::Pps || type == nal::Sei ||
                       (type >= 14 && type <= 18);
    if (opens && openStart_ == UINT64_MAX) {
        openStart_ = position;
        inPicture_ = false;
    }
    return Found::Nothing;
}

void CAvcOutputOrder::Reset(int depth)
{
    depth_ = depth < 0 ? 0 : depth > MaxDepth ? MaxDepth : depth;
    waitingCount_ = shownCount_ = shownRead_ = 0;
    decodedTicks_ = shownTicks_ = 0;
}

void CAvcOutputOrder::ShowOne()
{
    int least = 0;
    for (int i = 1; i < waitingCount_; ++i)
        if (waiting_[i].poc < waiting_[least].poc)
            least = i;
    const Waiting picture = waiting_[least];
    waiting_[least] = waiting_[--waitingCount_];
    if (shownRead_ == shownCount_)
        shownRead_ = shownCount_ = 0;
    // Drained after every picture added, so there is always room.
    if (shownCount_ < MaxDepth + 2)
        shown_[shownCount_++] = {picture.serial, depth_ * 2 + shownTicks_ - picture.decodedBefore};
    shownTicks_ += picture.ticks;
}

void CAvcOutputOrder::Add(uint64_t serial, int64_t poc, int ticks, bool idr)
{
    if (idr)
        Flush();
    waiting_[waitingCount_++] = {serial, poc, ticks, decodedTicks_};
    decodedTicks_ += ticks;
    while (waitingCount_ > depth_)
        ShowOne();
}

void CAvcOutputOrder::Flush()
{
    while (waitingCount_ > 0)
        ShowOne();
}

bool CAvcOutputOrder::Next(uint64_t& serial, int64_t& leadTicks)
{
    if (shownRead_ >= shownCount_)
        return false;
    serial = shown_[shownRead_].serial;
    leadTicks = shown_[shownRead_].lead;
    ++shownRead_;
    return true;
}

} // namespace mpeg
