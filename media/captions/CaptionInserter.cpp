#include "media/captions/CaptionInserter.h"

#include <algorithm>
#include <cstring>

#include "media/mpeg/AvcSyntax.h"
#include "media/mpeg/VideoHeaders.h"
#include "media/mpeg/VideoUnitScanner.h"

namespace captions {
namespace {

constexpr uint8_t UserDataCode = 0xB2;
constexpr uint8_t LastSliceCode = 0xAF;

// Bytes of a header after its start code that must be there before it is read.
size_t HeaderBytes(uint8_t code)
{
    switch (code) {
    case mpeg::PictureStartCode: return 6;
    case mpeg::SequenceHeaderCode: return 12;
    case mpeg::ExtensionStartCode: return 10;
    case mpeg::GroupStartCode: return 8;
    default: return 4;
    }
}

// Padding (80 80, or the same without parity) carries nothing: losing it loses nothing.
bool Carries(uint8_t first, uint8_t second)
{
    return ((first | second) & 0x7F) != 0;
}

size_t CarryingPairs(const uint8_t* data, size_t size)
{
    size_t count = 0;
    for (size_t i = 0; i + 2 <= size; i += 2)
        count += Carries(data[i], data[i + 1]) ? 1 : 0;
    return count;
}

// A time this far before the latest of its stream is the broadcaster's clock jumping back.
bool JumpedBack(int64_t latest, int64_t time)
{
    return latest != mpeg::NoTimestamp && time < latest - CCaptionInserter::MaxCaptionWait;
}

// The latest of a stream's times, which starts again where the clock jumped back: what came before
// is then no later than what comes.
int64_t Latest(int64_t latest, int64_t time)
{
    return latest == mpeg::NoTimestamp || JumpedBack(latest, time) ? time : std::max(latest, time);
}

} // namespace

CCaptionInserter::CCaptionInserter(IVideoOut& out, IPictureCaptions* listener) : out_(out), listener_(listener)
{
    keep_.reserve(MaxHeldPairs);
}

void CCaptionInserter::Reset(bool insert, bool avc)
{
    insert_ = insert;
    avc_ = avc;
    dvd_ = Layout::Undecided;
    ownCaptions_ = videoEnded_ = captionsEnded_ = failed_ = false;
    held_.Clear();
    scan_ = 0;
    samples_.clear();
    timedSamples_ = 0;
    pictures_.clear();
    groups_.clear();
    pairs_.clear();
    region_ = Region::None;
    facts_ = mpeg::VideoFacts();
    factsKnown_ = false;
    framePeriod_ = 3003;
    frameRateCode_ = 0;
    groupSerial_ = 0;
    inGroup_ = false;
    anchorPts_ = lastPts_ = latestPts_ = captionTime_ = mpeg::NoTimestamp;
    anchorReference_ = 0;
    firstFieldOpen_ = false;
    dropped_ = 0;
    firstShown_ = mpeg::NoTimestamp;
    firstShownKnown_ = false;
    picturesSeen_ = 0;
    videoRun_ = 0;
    avcPictures_.Reset();
    nalSearched_ = 0;
    anchorPoc_ = 0;
    pendingCount_ = 0;
}

bool CCaptionInserter::HoldVideo(const uint8_t* data, size_t size, int64_t time)
{
    if (failed_)
        return false;
    samples_.push_back({End(), size, time});
    const mpeg::ByteRange bytes{data, size};
    held_.Append(&bytes, 1);
    Scan();
    return true;
}

bool CCaptionInserter::PassVideo()
{
    if (failed_)
        return false;
    Decide(false);
    return Forward();
}

bool CCaptionInserter::PushPairs(const uint8_t* data, size_t size, int64_t time)
{
    if (failed_)
        return false;
    if (!insert_ || ownCaptions_ || videoEnded_) {
        dropped_ += insert_ && !ownCaptions_ ? CarryingPairs(data, size) : 0;
        return true;
    }
    if (time == mpeg::NoTimestamp)
        time = captionTime_ == mpeg::NoTimestamp ? 0 : captionTime_;
    for (size_t i = 0; i + 2 <= size; i += 2) {
        if (pairs_.size() >= MaxHeldPairs) {
            dropped_ += Carries(pairs_.front().pair.first, pairs_.front().pair.second) ? 1 : 0;
            pairs_.pop_front();
        }
        pairs_.push_back({time, {data[i], data[i + 1]}});
    }
    captionTime_ = Latest(captionTime_, time);
    Decide(false);
    return Forward();
}

bool CCaptionInserter::EndCaptions()
{
    captionsEnded_ = true;
    if (failed_)
        return false;
    Decide(false);
    return Forward();
}

bool CCaptionInserter::EndVideo()
{
    if (failed_)
        return false;
    videoEnded_ = true;
    firstShownKnown_ = true;
    Scan();
    Decide(true);
    if (listener_)
        TellOwnGroups(UINT32_MAX);
    const bool ok = Forward();
    for (const Pair& pair : pairs_)
        dropped_ += Carries(pair.pair.first, pair.pair.second) ? 1 : 0;
    pairs_.clear();
    return ok;
}

void CCaptionInserter::Scan()
{
    if (avc_) {
        ScanAvc();
        return;
    }
    for (;;) {
        const uint64_t base = held_.Base();
        const size_t at = mpeg::FindStartCode(held_.Block(), held_.Filled(), static_cast<size_t>(scan_ - base));
        if (at + 4 > held_.Filled()) {
            // The last bytes may begin a start code whose rest is still to come.
            const uint64_t end = End();
            scan_ = std::max(scan_, videoEnded_ || end < base + 3 ? end : end - 3);
            return;
        }
        if (!ScanOne(base + at)) {
            scan_ = base + at;
            return;
        }
        scan_ = base + at + 4;
    }
}

// One start code's header; false while its bytes are not all there.
bool CCaptionInserter::ScanOne(uint64_t at)
{
    const uint8_t code = At(at)[3];
    const size_t available = static_cast<size_t>(End() - at);
    if (available < HeaderBytes(code)) {
        if (!videoEnded_)
            return false;
        region_ = Region::None; // cut off where the video ends
        return true;
    }
    const uint8_t* data = At(at);
    if (code == UserDataCode) {
        // User data longer than may be held (garbage, or damage) is taken as far as it has come.
        const size_t next = mpeg::FindStartCode(data, available, 4);
        if (next >= available && !videoEnded_ && available <= MaxHeldBytes)
            return false;
        OnUserData(at, next);
        return true;
    }
    if (code >= 0x01 && code <= LastSliceCode) {
        if (region_ == Region::Picture && !pictures_.empty() && pictures_.back().insertAt == Unknown)
            pictures_.back().insertAt = at;
        region_ = Region::Slices;
        return true;
    }
    switch (code) {
    case mpeg::PictureStartCode:
        OnPicture(at);
        region_ = Region::Picture;
        break;
    case mpeg::SequenceHeaderCode: {
        mpeg::SequenceHeader sequence;
        if (mpeg::ParseSequenceHeader(data, available, sequence)) {
            sequence_ = sequence;
            facts_ = mpeg::FactsOf(sequence);
            factsKnown_ = true;
            frameRateCode_ = sequence.frameRateCode;
            const int64_t period = mpeg::FramePeriod27MHz(sequence.frameRateCode) / 300;
            framePeriod_ = period > 0 ? period : framePeriod_;
        }
        region_ = Region::Sequence;
        break;
    }
    case mpeg::ExtensionStartCode: {
        mpeg::SequenceExtension sequence;
        mpeg::PictureCodingExtension picture;
        if (region_ == Region::Sequence && mpeg::ParseSequenceExtension(data, available, sequence)) {
            mpeg::AddFacts(sequence_, sequence, facts_); // the level and the high bits of size and rate
            const int64_t period = mpeg::FramePeriod27MHz(frameRateCode_) / 300;
            if (period > 0)
                framePeriod_ = period * (sequence.frameRateD + 1) / (sequence.frameRateN + 1);
        } else if (region_ == Region::Picture && !pictures_.empty() && mpeg::ParsePictureCodingExtension(data, available, picture)) {
            // Two field pictures make one frame, shown at the first field's time.
            Picture& current = pictures_.back();
            if (picture.structure == mpeg::PictureStructure::Frame) {
                firstFieldOpen_ = false;
            } else if (firstFieldOpen_) {
                current.secondField = true;
                current.pts = lastPts_;
                videoRun_ -= framePeriod_; // one frame with the first field
                firstFieldOpen_ = false;
            } else {
                firstFieldOpen_ = true;
            }
            lastPts_ = current.pts;
        }
        break;
    }
    case mpeg::GroupStartCode:
        ++groupSerial_;
        inGroup_ = true;
        anchorPts_ = mpeg::NoTimestamp;
        groups_.push_back(Group());
        groups_.back().serial = groupSerial_;
        groups_.back().insertAt = at + 8;
        region_ = Region::Group;
        break;
    default:
        region_ = Region::None;
        break;
    }
    return true;
}

void CCaptionInserter::OnPicture(uint64_t at)
{
    mpeg::PictureHeader header = {0, mpeg::PictureType::I};
    mpeg::ParsePictureHeader(At(at), static_cast<size_t>(End() - at), header);
    const int64_t given = TimeOf(at);
    int64_t pts;
    if (given != mpeg::NoTimestamp && !firstFieldOpen_) {
        pts = given;
        anchorPts_ = given;
        anchorReference_ = header.temporalReference;
    } else if (anchorPts_ != mpeg::NoTimestamp) {
        // Untimed: its place in display order within the group, from a timed one of the group.
        pts = anchorPts_ + (header.temporalReference - anchorReference_) * framePeriod_;
    } else {
        pts = lastPts_ != mpeg::NoTimestamp ? lastPts_ + framePeriod_ : 0;
    }
    if (inGroup_ && !groups_.empty() && groups_.back().serial == groupSerial_) {
        Group& group = groups_.back();
        group.firstShown = group.firstShown == mpeg::NoTimestamp ? pts : std::min(group.firstShown, pts);
    }
    Picture picture;
    picture.start = at;
    picture.pts = pts;
    picture.group = inGroup_ ? groupSerial_ : 0;
    picture.secondField = false;
    AddPicture(picture, framePeriod_, groupSerial_ > 1);
}

void CCaptionInserter::AddPicture(Picture& picture, int64_t length, bool later)
{
    picture.run = videoRun_;
    videoRun_ += length;
    pictures_.push_back(picture);
    const int64_t pts = picture.pts;
    lastPts_ = pts;
    if (JumpedBack(latestPts_, pts)) {
        // The clock jumped back: no picture shown right after those held comes, nor pairs for
        // them, and the video runs on past them in the file.
        for (size_t i = 0; i + 1 < pictures_.size(); ++i)
            pictures_[i].beforeJump = true;
    }
    latestPts_ = Latest(latestPts_, pts);
    // The first picture shown is among the first group's; a second group, or enough pictures, tells.
    if (!firstShownKnown_) {
        firstShownKnown_ = later || ++picturesSeen_ > 32;
        if (!firstShownKnown_)
            firstShown_ = firstShown_ == mpeg::NoTimestamp ? pts : std::min(firstShown_, pts);
    }
}

// H.264: each NAL unit once its end, the next start code, is there (or the video's end). A unit
// longer than may be held (garbage, or damage) is taken as far as it has come.
void CCaptionInserter::ScanAvc()
{
    for (;;) {
        const uint64_t base = held_.Base();
        const size_t filled = held_.Filled();
        const size_t at = mpeg::FindStartCode(held_.Block(), filled, static_cast<size_t>(scan_ - base));
        if (at + 4 > filled) {
            const uint64_t end = End();
            scan_ = std::max(scan_, videoEnded_ || end < base + 3 ? end : end - 3);
            return;
        }
        // The search for its end goes on where the last push's stopped.
        const size_t from = nalSearched_ > base + at + 3 ? static_cast<size_t>(nalSearched_ - base) : at + 3;
        size_t next = mpeg::FindStartCode(held_.Block(), filled, from);
        if (next >= filled && !videoEnded_) {
            scan_ = base + at;
            nalSearched_ = base + filled - 2; // a start code's first bytes may end it
            if (filled - at <= MaxHeldBytes)
                return;
            next = std::max(filled - 2, at + 4);
        }
        OnNalUnit(base + at, base + next);
        scan_ = base + next;
    }
}

void CCaptionInserter::OnNalUnit(uint64_t at, uint64_t end)
{
    const uint8_t* nal = At(at) + 3;
    const size_t size = static_cast<size_t>(end - at - 3);
    size_t found = 0;
    if (mpeg::NalType(nal[0]) == mpeg::nal::Sei &&
        ReadSeiCaptionPairs(nal, size, pending_ + pendingCount_, MaxPairsPerBlock - pendingCount_, found)) {
        // Captions of its own: the video passes as it is, and its pairs are the ones told.
        ownCaptions_ = true;
        pendingCount_ = static_cast<uint8_t>(pendingCount_ + found);
    }
    mpeg::AvcPicture unit;
    const mpeg::CAvcPictureFinder::Found kind = avcPictures_.OnNalUnit(at, nal, size, true, unit);
    if (kind == mpeg::CAvcPictureFinder::Found::SecondField) {
        // The frame's pairs: both fields' SEI units.
        if (!pictures_.empty()) {
            Picture& first = pictures_.back();
            for (uint8_t i = 0; i < pendingCount_ && first.count < MaxPairsPerBlock; ++i)
                first.pairs[first.count++] = pending_[i];
            first.fieldOpen = false;
        }
        pendingCount_ = 0;
        return;
    }
    if (kind != mpeg::CAvcPictureFinder::Found::Picture)
        return;
    if (const mpeg::AvcSps* sps = avcPictures_.ActiveSps()) {
        const int64_t period = mpeg::AvcFramePeriod27MHz(*sps) / 300;
        framePeriod_ = period > 0 ? period : framePeriod_;
    }
    // A new sequence counts its pictures' order afresh.
    if (unit.idr)
        anchorPts_ = mpeg::NoTimestamp;
    const int64_t given = TimeOf(unit.position);
    int64_t pts;
    if (given != mpeg::NoTimestamp) {
        pts = given;
        anchorPts_ = given;
        anchorPoc_ = unit.poc;
    } else if (anchorPts_ != mpeg::NoTimestamp) {
        // Untimed: its place in display order from a timed one of its sequence, two counts a frame.
        pts = anchorPts_ + (unit.poc - anchorPoc_) * framePeriod_ / 2;
    } else if (unit.idr) {
        // Shown after every picture before it; the rest of its sequence is placed from it.
        pts = latestPts_ != mpeg::NoTimestamp ? latestPts_ + framePeriod_ : 0;
        anchorPts_ = pts;
        anchorPoc_ = unit.poc;
    } else {
        pts = lastPts_ != mpeg::NoTimestamp ? lastPts_ + framePeriod_ : 0;
    }
    Picture picture;
    picture.start = unit.position;
    picture.insertAt = at; // an SEI unit of its own before the first slice
    picture.pts = pts;
    picture.group = 0;
    picture.secondField = false;
    picture.fieldOpen = unit.field;
    picture.count = pendingCount_;
    std::copy(pending_, pending_ + pendingCount_, picture.pairs);
    pendingCount_ = 0;
    // A first field whose second never came waits no longer.
    if (!pictures_.empty())
        pictures_.back().fieldOpen = false;
    // A frame's ticks are two (a field's one); the unit's count both fields of a pair.
    AddPicture(picture, unit.ticks * framePeriod_ / 2, unit.idr && picturesSeen_ > 0);
}

void CCaptionInserter::OnUserData(uint64_t at, size_t size)
{
    const uint8_t* data = At(at);
    const UserDataKind kind = KindOfUserData(data, size);
    if (kind == UserDataKind::Other)
        return;
    // Captions of its own: the video passes as it is, and its pairs are the ones told.
    ownCaptions_ = true;
    if (kind == UserDataKind::A53Captions && region_ == Region::Picture && !pictures_.empty()) {
        Picture& picture = pictures_.back();
        picture.count = static_cast<uint8_t>(picture.count + ReadCaptionPairs(data, size, picture.pairs + picture.count,
                                                                              MaxPairsPerBlock - picture.count));
    } else if (kind == UserDataKind::DvdCaptions && region_ == Region::Group && !groups_.empty()) {
        Group& group = groups_.back();
        group.ownCount = static_cast<uint8_t>(ReadCaptionPairs(data, size, group.own, MaxPairsPerBlock));
    }
}

// As the multiplexer's elementary stream reads times: the latest given time of a sample starting
// at or before the picture, each time taken once.
int64_t CCaptionInserter::TimeOf(uint64_t position)
{
    size_t found = samples_.size();
    for (size_t i = timedSamples_; i < samples_.size() && samples_[i].position <= position; ++i) {
        if (samples_[i].time != mpeg::NoTimestamp)
            found = i;
    }
    if (found == samples_.size())
        return mpeg::NoTimestamp;
    timedSamples_ = found + 1;
    return samples_[found].time;
}

bool CCaptionInserter::Waits(int64_t pts, const Picture& last) const
{
    if (videoEnded_ || last.beforeJump)
        return false;
    // How far the video ran since, whatever its times say: none shown right after it comes once
    // those decoded before it are past.
    const int64_t since = videoRun_ - last.run;
    if (latestPts_ < pts + Margin && since < Margin + ReorderSpan)
        return true; // pictures shown right after it may still come
    const bool captionsBehind = captionTime_ == mpeg::NoTimestamp || captionTime_ < pts + Margin;
    return insert_ && !ownCaptions_ && !captionsEnded_ && captionsBehind && latestPts_ < pts + MaxCaptionWait &&
           since < MaxCaptionWait;
}

void CCaptionInserter::ChooseLayout()
{
    if (dvd_ == Layout::Undecided)
        dvd_ = !avc_ && factsKnown_ && out_.DvdLayout(facts_) ? Layout::Dvd : Layout::A53;
}

void CCaptionInserter::Decide(bool force)
{
    force = force || held_.Queued() > MaxHeldBytes || pictures_.size() > MaxHeldPictures;
    const bool inserting = insert_ && !ownCaptions_;
    size_t next = 0;
    while (next < pictures_.size() && pictures_[next].decided)
        ++next;
    for (; next < pictures_.size(); ++next) {
        Picture& picture = pictures_[next];
        if ((picture.insertAt == Unknown || picture.fieldOpen) && !force && !videoEnded_)
            return;
        if (!inserting) {
            picture.decided = true;
            Tell(picture);
            continue;
        }
        ChooseLayout();
        if (dvd_ == Layout::A53 || picture.group == 0) {
            if (dvd_ == Layout::A53 && Waits(picture.pts, picture) && !force)
                return;
            DecidePicture(next);
            continue;
        }
        // The DVD layout: a group goes once all its pictures are there, and their pairs.
        size_t end = next;
        int64_t last = picture.pts;
        while (end < pictures_.size() && pictures_[end].group == picture.group) {
            last = std::max(last, pictures_[end].pts);
            ++end;
        }
        const bool whole = end < pictures_.size() || videoEnded_ || force;
        if (!whole || (Waits(last, pictures_[end - 1]) && !force))
            return;
        size_t group = 0;
        while (group < groups_.size() && groups_[group].serial != picture.group)
            ++group;
        if (group == groups_.size()) {
            // Its group went before it came, decided while too much was held: its pairs wait for
            // the next group's block.
            picture.decided = true;
            Tell(picture);
            continue;
        }
        DecideGroup(group);
        next = end - 1;
    }
}

void CCaptionInserter::DecidePicture(size_t index)
{
    Picture& picture = pictures_[index];
    if (picture.group == 0 && dvd_ == Layout::Dvd) {
        // Before the first group of pictures no DVD block can go: its pairs wait for the next.
        picture.decided = true;
        Tell(picture);
        return;
    }
    // A frame's pairs go with its first field alone: players take one block a frame.
    if (!picture.secondField)
        TakePairsFor(index, index + 1, MaxPairsPerBlock);
    picture.carries = picture.insertAt != Unknown && !picture.secondField;
    picture.decided = true;
    Tell(picture);
}

void CCaptionInserter::DecideGroup(size_t index)
{
    Group& group = groups_[index];
    size_t first = 0;
    while (first < pictures_.size() && pictures_[first].group != group.serial)
        ++first;
    size_t end = first, frames = 0;
    for (; end < pictures_.size() && pictures_[end].group == group.serial; ++end)
        frames += pictures_[end].secondField ? 0 : 1;
    TakePairsFor(first, end, MaxPairsPerBlock);
    // The block lists the pairs in display order, which is the order of their times.
    BytePair pairs[MaxPairsPerBlock];
    size_t count = 0;
    int64_t shown = INT64_MIN;
    for (;;) {
        // The pictures in order of presentation, each picture's pairs in the order they came.
        size_t nextPicture = end;
        for (size_t i = first; i < end; ++i) {
            if (pictures_[i].pts > shown && (nextPicture == end || pictures_[i].pts < pictures_[nextPicture].pts))
                nextPicture = i;
        }
        if (nextPicture == end)
            break;
        shown = pictures_[nextPicture].pts;
        for (size_t i = first; i < end; ++i) {
            const Picture& picture = pictures_[i];
            for (size_t k = 0; picture.pts == shown && k < picture.count && count < MaxPairsPerBlock; ++k)
                pairs[count++] = picture.pairs[k];
        }
    }
    group.blockSize = WriteDvdUserData(pairs, count, std::max<size_t>(frames, 1), group.block);
    group.decided = true;
    for (size_t i = first; i < end; ++i) {
        pictures_[i].decided = true;
        Tell(pictures_[i]);
    }
}

// The picture still to be decided that is shown at `time`: the latest not after it, or else the
// earliest.
size_t CCaptionInserter::PictureShowing(int64_t time) const
{
    size_t best = pictures_.size(), earliest = pictures_.size();
    for (size_t i = 0; i < pictures_.size(); ++i) {
        const Picture& picture = pictures_[i];
        if (picture.decided || picture.secondField)
            continue;
        if (earliest == pictures_.size() || picture.pts < pictures_[earliest].pts)
            earliest = i;
        if (picture.pts <= time + Tolerance && (best == pictures_.size() || picture.pts > pictures_[best].pts))
            best = i;
    }
    return best != pictures_.size() ? best : earliest;
}

// Moves the pairs shown with the pictures [first, end) to them, at most `capacity` in all; the
// others stay for later pictures.
size_t CCaptionInserter::TakePairsFor(size_t first, size_t end, size_t capacity)
{
    keep_.clear();
    size_t taken = 0;
    for (const Pair& pair : pairs_) {
        const size_t index = PictureShowing(pair.time);
        Picture* picture = index >= first && index < end ? &pictures_[index] : nullptr;
        if (picture && taken < capacity && picture->count < MaxPairsPerBlock) {
            picture->pairs[picture->count++] = pair.pair;
            ++taken;
        } else {
            keep_.push_back(pair);
        }
    }
    pairs_.clear();
    for (const Pair& pair : keep_)
        pairs_.push_back(pair);
    return taken;
}

void CCaptionInserter::Tell(const Picture& picture)
{
    for (size_t g = 0; !listener_ && g < groups_.size(); ++g)
        groups_[g].told = groups_[g].told || groups_[g].serial == picture.group;
    if (!listener_)
        return;
    listener_->OnPictureCaptions(picture.pts, picture.pairs, picture.count);
    TellOwnGroups(picture.group);
}

// A DVD block of the video's own is told once its group is whole (a picture of a later group is
// told, or the video ended): a frame a pair, from the group's first picture shown.
void CCaptionInserter::TellOwnGroups(uint32_t before)
{
    for (size_t g = 0; g < groups_.size(); ++g) {
        Group& group = groups_[g];
        group.told = group.told || group.serial == before;
        if (group.ownTold || group.ownCount == 0 || (group.serial >= before && !videoEnded_) || group.firstShown == mpeg::NoTimestamp)
            continue;
        group.ownTold = true;
        for (size_t i = 0; i < group.ownCount; ++i)
            listener_->OnPictureCaptions(group.firstShown + static_cast<int64_t>(i) * framePeriod_, &group.own[i], 1);
    }
}

// Whether bytes in [from, to) still wait for what goes into them.
bool CCaptionInserter::Blocked(uint64_t from, uint64_t to) const
{
    if (scan_ < to && !videoEnded_)
        return true;
    // H.264: the sample where a picture's access unit starts keeps its time until the picture's
    // first slice is read.
    if (avc_ && !videoEnded_ && avcPictures_.OpenUnitStart() < to && held_.Queued() <= MaxHeldBytes)
        return true;
    for (const Picture& picture : pictures_) {
        if (!picture.decided && picture.insertAt != Unknown && picture.insertAt >= from && picture.insertAt < to)
            return true;
        if (!picture.decided && picture.insertAt == Unknown && picture.start < to && videoEnded_)
            return true;
    }
    if (dvd_ != Layout::A53) {
        for (const Group& group : groups_) {
            if (!group.decided && insert_ && !ownCaptions_ && group.insertAt >= from && group.insertAt < to)
                return true;
        }
    }
    return false;
}

bool CCaptionInserter::Forward()
{
    while (!failed_ && !samples_.empty()) {
        const Sample sample = samples_.front();
        const uint64_t end = sample.position + sample.size;
        if (Blocked(sample.position, end))
            return true;
        // What goes into this sample: picture blocks before their first slice, group blocks after
        // the group's header, in stream order. The sample's own bytes are passed on from where they
        // are held, around the blocks.
        inserts_.clear();
        blocks_.clear();
        const auto groupBlocksBefore = [&](size_t& g, uint64_t limit) {
            for (; g < groups_.size() && groups_[g].insertAt <= limit; ++g) {
                if (groups_[g].blockSize > 0 && groups_[g].insertAt >= sample.position && groups_[g].insertAt < end)
                    inserts_.push_back({groups_[g].insertAt, groups_[g].block, 0, groups_[g].blockSize});
            }
        };
        size_t g = 0;
        for (const Picture& picture : pictures_) {
            if (picture.insertAt == Unknown || picture.insertAt < sample.position || picture.insertAt >= end)
                continue;
            groupBlocksBefore(g, picture.insertAt);
            if (picture.carries) {
                const size_t offset = blocks_.size();
                blocks_.resize(offset + std::max(MaxUserDataSize, MaxSeiSize));
                uint8_t* block = blocks_.data() + offset;
                blocks_.resize(offset + (avc_ ? WriteA53Sei(picture.pairs, picture.count, block)
                                              : WriteA53UserData(picture.pairs, picture.count, block)));
                inserts_.push_back({picture.insertAt, nullptr, offset, blocks_.size() - offset});
            }
        }
        groupBlocksBefore(g, UINT64_MAX);
        pieces_.clear();
        uint64_t copied = sample.position;
        for (const Insert& insert : inserts_) {
            pieces_.push_back({At(copied), static_cast<size_t>(insert.at - copied)});
            pieces_.push_back({insert.block ? insert.block : blocks_.data() + insert.offset, insert.size});
            copied = insert.at;
        }
        pieces_.push_back({At(copied), static_cast<size_t>(end - copied)});
        const bool ok = out_.OnVideo(pieces_.data(), pieces_.size(), sample.time);
        if (!ok) {
            failed_ = true;
            return false;
        }
        samples_.pop_front();
        timedSamples_ = timedSamples_ > 0 ? timedSamples_ - 1 : 0;
        held_.Consume(static_cast<size_t>(end - held_.ReadPosition()));
        const uint64_t forwarded = held_.ReadPosition(); // everything before went out
        avcPictures_.ForgetBefore(forwarded); // a unit opened there never got its slice
        while (!pictures_.empty() && pictures_.front().decided &&
               (pictures_.front().insertAt == Unknown ? pictures_.front().start : pictures_.front().insertAt) < forwarded)
            pictures_.pop_front();
        // A group goes once its block went out and its first picture was told; a header with no
        // pictures after it (garbage) goes when too many are held.
        while (!groups_.empty() && groups_.front().insertAt < forwarded &&
               ((groups_.front().told && (groups_.front().ownTold || groups_.front().ownCount == 0 || !listener_) &&
                 (groups_.front().decided || dvd_ != Layout::Dvd || !insert_ || ownCaptions_)) ||
                groups_.size() > MaxHeldPictures))
            groups_.pop_front();
    }
    return true;
}

} // namespace captions
