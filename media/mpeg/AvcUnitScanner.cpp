#include "media/mpeg/AvcUnitScanner.h"

#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

void CAvcUnitScanner::Reset()
{
    nalPrefix_ = nalPosition_ = NoNal;
    nalSearch_ = 0;
    nalDone_ = false;
    scan_ = 0;
    ended_ = false;
    avc_.Reset();
    order_.Reset(0);
    video_ = VideoFacts();
    framePeriod27_ = 1080000;
    pictures_ = 0;
    reorderKnown_ = false;
}

// NAL units from start code to start code; each is parsed once its end is in the buffer.
void CAvcUnitScanner::Scan(const StreamBytes& bytes, uint64_t, CFoundUnits& found)
{
    const uint8_t* data = bytes.data;
    const size_t size = bytes.size;
    const uint64_t read = bytes.read;
    // Bytes given out unparsed (a backlog with no unit to time it) take the unit they held.
    if (nalPosition_ != NoNal && nalPosition_ < read)
        nalPrefix_ = nalPosition_ = NoNal;
    avc_.ForgetBefore(read);
    for (;;) {
        uint64_t from = std::max(nalSearch_, read);
        if (nalPrefix_ != NoNal)
            from = std::max(from, nalPrefix_ + 3);
        const size_t at = FindStartCode(data, size, static_cast<size_t>(from - bytes.base));
        if (at + 3 >= size) {
            // The last bytes may begin a start code whose rest is still to come.
            const uint64_t end = bytes.End();
            nalSearch_ = std::max(from, end < 3 ? 0 : end - 3);
            if (bytes.ended && nalPrefix_ != NoNal) {
                if (!nalDone_)
                    OnNalUnit(bytes, nalPosition_, nalPrefix_, end, true, found);
                nalPrefix_ = nalPosition_ = NoNal;
            } else if (nalPrefix_ != NoNal && !nalDone_ && nalPrefix_ + 4 <= end) {
                // A slice's picture is found from its header, before the rest of it comes: the
                // other streams' data that arrives meanwhile is not taken for data beside it.
                const int type = NalType(*bytes.At(nalPrefix_ + 3));
                if (type == nal::Slice || type == nal::IdrSlice)
                    nalDone_ = OnNalUnit(bytes, nalPosition_, nalPrefix_, end, false, found);
            }
            scan_ = nalPosition_ != NoNal ? nalPosition_ : std::max(scan_, bytes.ended || end < 3 ? end : end - 3);
            return;
        }
        const uint64_t prefix = bytes.base + at;
        // A zero byte before the prefix makes it the four-byte start code an access unit begins with.
        const uint64_t position = at > 0 && data[at - 1] == 0 && prefix - 1 >= std::max(read, nalPrefix_ == NoNal ? 0 : nalPrefix_ + 4)
                                      ? prefix - 1
                                      : prefix;
        if (nalPrefix_ != NoNal && !nalDone_)
            OnNalUnit(bytes, nalPosition_, nalPrefix_, position, true, found);
        nalPrefix_ = prefix;
        nalPosition_ = position;
        nalDone_ = false;
        nalSearch_ = prefix + 3;
        scan_ = position;
    }
}

void CAvcUnitScanner::End(const StreamBytes& bytes, CFoundUnits& found)
{
    ended_ = true;
    Scan(bytes, bytes.End(), found);
    if (!reorderKnown_)
        DecideReorder(ObservedReorder(found), found);
    order_.Flush();
    TakeLeads(found);
    scan_ = bytes.End();
}

bool CAvcUnitScanner::OnNalUnit(const StreamBytes& bytes, uint64_t position, uint64_t prefix, uint64_t end, bool whole,
                                CFoundUnits& found)
{
    const uint8_t* nal = bytes.At(prefix + 3);
    size_t size = static_cast<size_t>(end - (prefix + 3));
    while (whole && size > 0 && nal[size - 1] == 0)
        --size; // trailing zero bytes belong to no unit
    AvcPicture picture;
    const uint32_t damagedBefore = avc_.Damaged();
    const CAvcPictureFinder::Found result = avc_.OnNalUnit(position, nal, size, whole, picture);
    if (avc_.Damaged() != damagedBefore)
        found.AddDamaged();
    switch (result) {
    case CAvcPictureFinder::Found::Picture:
        AddPicture(picture, found);
        return true;
    case CAvcPictureFinder::Found::SecondField:
        found.TakeTime(position); // a time given to the second field is the first field's plus one field
        return true;
    case CAvcPictureFinder::Found::NeedMore:
        return false;
    default:
        return true;
    }
}

void CAvcUnitScanner::AddPicture(const AvcPicture& picture, CFoundUnits& found)
{
    const AvcSps* sps = avc_.ActiveSps();
    if (sps) {
        if (const int64_t period = AvcFramePeriod27MHz(*sps))
            framePeriod27_ = period;
        video_.width = static_cast<int>(sps->width);
        video_.height = static_cast<int>(sps->height);
        video_.bitRate = sps->bitRate;
        video_.vbvBytes = sps->cpbBytes;
        video_.avcProfile = sps->profileIdc;
        video_.avcLevel = sps->levelIdc;
    }
    // An IDR picture is where decoding can begin: a group's start.
    if (picture.idr)
        found.AddGroupStart(picture.position);
    FoundUnit unit{picture.position, NoTimestamp, picture.ticks, 0, false, {}};
    unit.poc = picture.poc;
    unit.idr = picture.idr;
    found.Add(unit, picture.ticks * framePeriod27_ / 600);
    ++pictures_;
    if (reorderKnown_) {
        order_.Add(found.FrontSerial() + found.Count() - 1, picture.poc, picture.ticks, picture.idr);
        TakeLeads(found);
        return;
    }
    // How many pictures may be shown after a later one: the VUI says, type 2 order counts cannot
    // reorder, else the first pictures tell.
    if (sps && sps->maxNumReorderFrames >= 0)
        DecideReorder(sps->maxNumReorderFrames, found);
    else if (sps && sps->pocType == 2)
        DecideReorder(0, found);
    else if (found.Count() >= MaxHeldUnits / 2 || (picture.idr && pictures_ > 1))
        DecideReorder(ObservedReorder(found), found);
}

int CAvcUnitScanner::ObservedReorder(const CFoundUnits& found)
{
    int depth = 0;
    size_t sequence = 0; // the first found picture of the current sequence
    for (size_t i = 0; i < found.Count(); ++i) {
        if (found[i].idr)
            sequence = i;
        int later = 0;
        for (size_t j = sequence; j < i; ++j)
            later += found[j].poc > found[i].poc ? 1 : 0;
        depth = std::max(depth, later);
    }
    return depth;
}

void CAvcUnitScanner::DecideReorder(int depth, CFoundUnits& found)
{
    reorderKnown_ = true;
    order_.Reset(depth);
    for (size_t i = 0; i < found.Count(); ++i) {
        order_.Add(found.FrontSerial() + i, found[i].poc, static_cast<int>(found[i].counts), found[i].idr);
        TakeLeads(found);
    }
}

void CAvcUnitScanner::TakeLeads(CFoundUnits& found)
{
    uint64_t serial = 0;
    int64_t lead = 0;
    while (order_.Next(serial, lead))
        found.SetLead(serial, lead);
}

// In 90 kHz ticks.
int64_t CAvcUnitScanner::LeadOf(const CFoundUnits& found, size_t index) const
{
    return std::max<int64_t>(found[index].lead, 0) * framePeriod27_ / 600;
}

void CAvcUnitScanner::SetCadenceUnit(const FoundUnit&, CCadence& cadence) const
{
    cadence.SetUnit(framePeriod27_, 600); // a clock tick, in 90 kHz ticks
}

const AudioFrame& CAvcUnitScanner::LastAudioFrame() const
{
    static const AudioFrame none = {};
    return none;
}

} // namespace mpeg
