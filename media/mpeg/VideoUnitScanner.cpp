#include "media/mpeg/VideoUnitScanner.h"

#include <algorithm>

namespace mpeg {

namespace {

constexpr int FieldPicture(int structure)
{
    return structure == static_cast<int>(PictureStructure::TopField) || structure == static_cast<int>(PictureStructure::BottomField);
}

constexpr int FramePicture = static_cast<int>(PictureStructure::Frame);

} // namespace

VideoFacts FactsOf(const SequenceHeader& sequence)
{
    VideoFacts facts;
    facts.width = sequence.width;
    facts.height = sequence.height;
    facts.aspectCode = sequence.aspectCode;
    // 0x3FFFF is a variable-rate stream saying it does not know its rate.
    facts.bitRate = sequence.bitRateValue == 0x3FFFF ? 0 : sequence.bitRateValue * 400u;
    facts.vbvBytes = sequence.vbvBufferValue * 2048u;
    return facts;
}

void AddFacts(const SequenceHeader& sequence, const SequenceExtension& extension, VideoFacts& facts)
{
    facts.level = extension.level;
    facts.width = (facts.width & 0xFFF) | extension.widthHigh;
    facts.height = (facts.height & 0xFFF) | extension.heightHigh;
    const uint32_t rate = (extension.bitRateHigh << 18) | sequence.bitRateValue;
    facts.bitRate = rate == 0x3FFFF || rate == 0x3FFFFFFF ? 0 : rate * 400u;
    facts.vbvBytes = ((extension.vbvHigh << 10) | sequence.vbvBufferValue) * 2048u;
}

void CVideoUnitScanner::Reset()
{
    *this = CVideoUnitScanner();
}

void CVideoUnitScanner::Scan(const StreamBytes& bytes, uint64_t, CFoundUnits& found)
{
    const uint8_t* data = bytes.data;
    const size_t size = bytes.size;
    for (;;) {
        const size_t from = static_cast<size_t>(std::max(scan_, bytes.read) - bytes.base);
        const size_t at = FindStartCode(data, size, from);
        if (at >= size) {
            // The last two bytes may begin a start code whose rest is still to come.
            const uint64_t end = bytes.End();
            scan_ = std::max(scan_, bytes.ended || end < 2 ? end : end - 2);
            return;
        }
        if (at + 4 > size) {
            scan_ = bytes.base + at;
            return;
        }
        const uint8_t code = data[at + 3];
        const size_t needed = code == PictureStartCode ? 6 : code == SequenceHeaderCode ? 12 : code == ExtensionStartCode ? 10 : 4;
        if (at + needed > size && !bytes.ended) {
            scan_ = bytes.base + at;
            return;
        }
        const size_t available = size - at;
        if (code == PictureStartCode) {
            ClosePicture(FramePicture, 2, found);
            PictureHeader picture;
            const uint64_t start = groupOpen_ ? groupStart_ : bytes.base + at;
            groupOpen_ = false;
            if (ParsePictureHeader(data + at, available, picture))
                openPicture_ = {true, bytes.base + at, start, picture.temporalReference, picture.type != PictureType::B};
            else
                found.AddDamaged();
        } else if (code == ExtensionStartCode) {
            OnExtension(data + at, available, found);
        } else if (code >= 0x01 && code <= 0xAF) {
            // A slice: an MPEG-1 picture has no coding extension, so it is a frame.
            ClosePicture(FramePicture, 2, found);
        } else if (code == SequenceHeaderCode) {
            ClosePicture(FramePicture, 2, found);
            OpenGroup(bytes.base + at, found);
            OnSequenceHeader(data + at, available);
        } else if (code == GroupStartCode) {
            ClosePicture(FramePicture, 2, found);
            OpenGroup(bytes.base + at, found);
            gopIndex_ = 0;
        }
        scan_ = bytes.base + at + 4;
    }
}

void CVideoUnitScanner::End(const StreamBytes& bytes, CFoundUnits& found)
{
    ended_ = true;
    Scan(bytes, bytes.End(), found);
    ClosePicture(FramePicture, 2, found);
    reorderKnown_ = true; // no B picture showed itself
    scan_ = bytes.End();
}

uint64_t CVideoUnitScanner::FoundEnd() const
{
    return openPicture_.open ? std::min(scan_, openPicture_.position) : scan_;
}

// A sequence header and the GOP header after it start one group.
void CVideoUnitScanner::OpenGroup(uint64_t position, CFoundUnits& found)
{
    if (groupOpen_)
        return;
    groupOpen_ = true;
    groupStart_ = position;
    found.AddGroupStart(position);
}

void CVideoUnitScanner::OnSequenceHeader(const uint8_t* data, size_t size)
{
    SequenceHeader sequence;
    if (!ParseSequenceHeader(data, size, sequence))
        return;
    framePeriod27_ = codedFramePeriod27_ = FramePeriod27MHz(sequence.frameRateCode);
    const int level = video_.level; // until an extension says otherwise
    video_ = FactsOf(sequence);
    video_.level = level;
    sequence_ = sequence;
}

void CVideoUnitScanner::OnExtension(const uint8_t* data, size_t size, CFoundUnits& found)
{
    SequenceExtension sequence;
    PictureCodingExtension picture;
    if (ParseSequenceExtension(data, size, sequence)) {
        lowDelay_ = lowDelay_ || sequence.lowDelay;
        if (codedFramePeriod27_)
            framePeriod27_ = codedFramePeriod27_ * (sequence.frameRateD + 1) / (sequence.frameRateN + 1);
        progressiveSequence_ = sequence.progressiveSequence;
        AddFacts(sequence_, sequence, video_);
    } else if (openPicture_.open && ParsePictureCodingExtension(data, size, picture)) {
        ClosePicture(static_cast<int>(picture.structure), FieldsShown(picture, progressiveSequence_), found);
    }
}

// The picture found last is now known to be a frame, or a field: the second field of a frame
// belongs to the unit its first field began.
void CVideoUnitScanner::ClosePicture(int structure, int fields, CFoundUnits& found)
{
    if (!openPicture_.open)
        return;
    openPicture_.open = false;
    const uint64_t position = openPicture_.position;
    const int reference = openPicture_.temporalReference;
    if (FieldPicture(structure) && firstField_ != 0 && firstField_ != structure && firstFieldReference_ == reference) {
        firstField_ = 0;
        found.TakeTime(position); // a time given to the second field is the first field's plus one field
        return;
    }
    firstField_ = FieldPicture(structure) ? structure : 0;
    firstFieldReference_ = reference;
    AddPicture(openPicture_, FieldPicture(structure) ? 2 : fields, found);
}

void CVideoUnitScanner::AddPicture(const OpenPicture& picture, int fields, CFoundUnits& found)
{
    const int temporalReference = picture.temporalReference;
    FoundUnit unit{picture.position, NoTimestamp, fields, 0, picture.reference, {}};
    unit.start = picture.start;
    found.Add(unit, fields * framePeriod27_ / 600);
    const int decodeIndex = gopIndex_;
    gopIndex_ = (gopIndex_ + 1) & 1023;
    ++pictures_;
    // Pictures shown in another order than they are decoded mean B pictures: each decode time
    // is then one frame or more before its presentation. The first two pictures tell.
    if (!reorderKnown_ && (lowDelay_ || temporalReference != decodeIndex || pictures_ >= 2)) {
        reorderKnown_ = true;
        reorder_ = !lowDelay_ && temporalReference != decodeIndex;
    }
}

// With B pictures a reference picture is decoded when the one before it is shown, and shown after
// the B pictures that follow it in decode order; so its lead is that one's duration and theirs.
// Known once the next reference picture is found, or the stream ends.
bool CVideoUnitScanner::LeadKnown(const CFoundUnits& found, size_t index) const
{
    if (!reorder_ || !found[index].reference || ended_)
        return true;
    for (size_t i = index + 1; i < found.Count(); ++i) {
        if (found[i].reference)
            return true;
    }
    // An open reference picture ends them too, unless it is the second field of the frame before.
    const bool secondField = firstField_ != 0 && openPicture_.temporalReference == firstFieldReference_;
    return openPicture_.open && openPicture_.reference && !secondField;
}

int64_t CVideoUnitScanner::PreviousReferenceCounts(const CFoundUnits& found, size_t index) const
{
    for (size_t i = index; i-- > 0;) {
        if (found[i].reference)
            return found[i].counts;
    }
    return found.LastReferenceCounts();
}

// In 90 kHz ticks.
int64_t CVideoUnitScanner::LeadOf(const CFoundUnits& found, size_t index) const
{
    if (!reorder_ || !found[index].reference)
        return 0;
    int64_t counts = PreviousReferenceCounts(found, index);
    for (size_t i = index + 1; i < found.Count() && !found[i].reference; ++i)
        counts += found[i].counts;
    return counts * framePeriod27_ / 600;
}

// In counts: decoding a B picture takes as long as it is shown; a reference picture, as long as
// the reference before it, which is shown meanwhile. Without reordering, each is shown when decoded.
int64_t CVideoUnitScanner::StepOf(const CFoundUnits& found, size_t index) const
{
    const FoundUnit& unit = found[index];
    if (!reorder_ || !unit.reference)
        return unit.counts;
    return PreviousReferenceCounts(found, index);
}

void CVideoUnitScanner::SetCadenceUnit(const FoundUnit&, CCadence& cadence) const
{
    cadence.SetUnit(framePeriod27_, 600); // a field, in 90 kHz ticks
}

const AudioFrame& CVideoUnitScanner::LastAudioFrame() const
{
    static const AudioFrame none = {};
    return none;
}

} // namespace mpeg
