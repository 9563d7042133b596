#pragma once
// One input of the multiplexer: the bytes of an elementary stream as they arrive, cut into
// access units (video frames, audio frames) with a decode and a presentation time each.
// Bytes are kept exactly as given; units are found by parsing, not from how the bytes arrived.
// Given times are checked against the stream's own cadence: a one-off bad time is replaced by
// the one the cadence gives, and a jump is closed by the amount the program's streams share.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/AvcPictures.h"
#include "media/mpeg/ByteRange.h"
#include "media/mpeg/Cadence.h"
#include "media/mpeg/ProgramStreamLayout.h"
#include "media/mpeg/RingQueue.h"
#include "media/mpeg/VideoHeaders.h"

namespace mpeg {

// H.264 in Annex B byte stream form; AAC as ADTS, LOAS or raw frames (one a push), told by its
// bytes; E-AC-3 with any dependent substreams in the unit of the frame before them.
enum class StreamKind { Mpeg2Video, MpegAudio, Ac3Audio, H264Video, AacAudio, Eac3Audio };

constexpr bool IsVideoKind(StreamKind kind) { return kind == StreamKind::Mpeg2Video || kind == StreamKind::H264Video; }

// A jump of a stream's given times that was closed: from the unit given the time `at` (input time
// line) on, output times are input times less `shift`.
struct ClosedJump {
    int64_t at;
    int64_t shift;
};

struct AccessUnit {
    uint64_t position; // stream offset of its first byte (picture start code, audio sync word)
    int64_t pts;       // 90 kHz, on the output's time line before the multiplexer's offset
    int64_t dts;
    int64_t nextDts;   // the decode time a following unit without timestamps is taken to have
};

// What the video's sequence headers declare; zeros until the first one is parsed.
struct VideoFacts {
    int width = 0;
    int height = 0;
    int level = 0;          // 4 High, 6 High-1440, 8 Main, 10 Low; 0 for MPEG-1 or unknown
    int aspectCode = 0;     // 2 4:3, 3 16:9 (the display's), 1 square pixels
    uint32_t bitRate = 0;   // bits per second; 0 when the stream says it is unknown
    uint32_t vbvBytes = 0;  // the decoder buffer it was coded for (H.264: its HRD's CPB)
    int avcProfile = 0;     // H.264: profile_idc and level_idc (level 0 above)
    int avcLevel = 0;
};

// What a sequence header declares, and what its sequence extension adds.
VideoFacts FactsOf(const SequenceHeader& sequence);
void AddFacts(const SequenceHeader& sequence, const SequenceExtension& extension, VideoFacts& facts);

class CElementaryStream {
public:
    CElementaryStream(StreamKind kind, CProgramTimeline& timeline);
    CElementaryStream(const CElementaryStream&) = delete;
    CElementaryStream& operator=(const CElementaryStream&) = delete;

    StreamKind Kind() const { return kind_; }
    void Reset();
    // Raw AAC: the AudioSpecificConfig its media type carries, which its frames do not repeat.
    // False when it does not parse; kept across Reset.
    bool SetAacConfig(const uint8_t* config, size_t size);
    // AAC: the framing its first bytes showed (raw until bytes came).
    AacFraming Framing() const { return aacFraming_; }
    // `time` (90 kHz, or NoTimestamp) is that of the first unit that starts in these bytes;
    // units without one get theirs from the cadence (fields shown, audio samples).
    void Push(const uint8_t* data, size_t size, int64_t time)
    {
        const ByteRange bytes{data, size};
        Push(&bytes, 1, time);
    }
    // The pieces' bytes one after another, as one push.
    void Push(const ByteRange* pieces, size_t count, int64_t time);
    // No more bytes: the rest is final as it is.
    void End();
    bool Ended() const { return ended_; }

    uint64_t ReadPosition() const { return base_ + head_; }
    uint64_t WritePosition() const { return base_ + buffer_.size(); }
    const uint8_t* Data() const { return buffer_.data() + head_; }
    size_t Queued() const { return buffer_.size() - head_; }
    // Bytes from the read position whose units are parsed and timed; all of them once the
    // stream has ended, or once this much has piled up without a unit to time it (garbage).
    static constexpr size_t MaxUntimedBacklog = 4 << 20;
    size_t Ready() const;
    bool Overflowing() const { return WritePosition() - std::max(TimedEnd(), ReadPosition()) > MaxUntimedBacklog; }
    void Consume(size_t size);

    // Timed units still holding queued bytes, in stream order; the first may start before the
    // read position.
    size_t UnitCount() const { return units_.size(); }
    const AccessUnit& Unit(size_t index) const { return units_[index]; }
    // Where the unit's bytes end, as far as known: the next unit's start, else what is ready.
    uint64_t UnitEnd(size_t index) const;

    const VideoFacts& Video() const { return video_; }
    // Audio: the header of the last frame parsed.
    const AudioFrame& LastAudioFrame() const { return lastFrame_; }
    // Video: where the first group of pictures (a sequence or GOP header) at or after the read
    // position starts, among the bytes parsed; UINT64_MAX when none.
    uint64_t NextGroupStart() const { return groupStarts_.empty() ? UINT64_MAX : groupStarts_.front(); }
    // The first group start after the read position; UINT64_MAX when none is parsed yet.
    uint64_t GroupStartAfterRead() const;

    // Units that could not be parsed (bad headers, lost audio sync); their bytes stay as data.
    uint32_t Damaged() const { return damaged_; }
    // Given times replaced by the cadence's, and jumps closed.
    uint32_t Outliers() const { return outliers_; }
    uint32_t Jumps() const { return jumps_; }
    // The index-th jump closed, oldest first; false when it has not been (or is past the ones kept).
    static constexpr size_t MaxClosedJumps = 1024;
    bool Closed(size_t index, ClosedJump& jump) const
    {
        if (index >= closed_.size())
            return false;
        jump = closed_[index];
        return true;
    }

private:
    // A unit found but not timed yet: its time waits for the picture order, or for the next
    // given time to tell a bad one from a jump.
    struct PendingUnit {
        uint64_t position;
        int64_t time;           // given, on the input's time line, or NoTimestamp
        int64_t counts;         // how long it lasts: fields of video, samples of audio
        uint32_t sampleRate;    // audio
        int temporalReference;  // video
        int decodeIndex;        // video: its place in decode order within the group
        bool reference;         // video: an I or P picture, which B pictures are shown before
        CProgramTimeline::Marks ran; // how far the program's streams had run when it was found
        int64_t poc = 0;        // H.264: picture order count, and ticks from decode to display
        int64_t lead = -1;      // (-1 until the pictures shown before it are known)
        bool idr = false;
    };
    struct SampleTime {
        uint64_t position;
        int64_t time;
    };
    struct OpenPicture {
        bool open = false;
        uint64_t position = 0;
        int temporalReference = 0;
        bool reference = false; // an I or P picture
    };

    // Where the bytes whose units are timed end.
    uint64_t TimedEnd() const;
    int64_t TakeTime(uint64_t position);
    void ScanVideo();
    void ScanAudio();
    void OpenGroup(uint64_t position);
    void OnSequenceHeader(const uint8_t* data, size_t size);
    void OnExtension(const uint8_t* data, size_t size);
    void ClosePicture(int structure, int fields);
    void AddPicture(uint64_t position, int temporalReference, bool reference, int fields);
    void AddPending(const PendingUnit& unit);
    void DecideReorder(bool reorder);
    void ScanH264();
    bool OnNalUnit(uint64_t position, uint64_t prefix, uint64_t end, bool whole);
    void AddAvcPicture(const AvcPicture& picture);
    void DecideAvcReorder(int depth);
    int ObservedAvcReorder() const;
    void TakeAvcLeads();
    bool ParseAudioAt(uint64_t position, AudioFrame& frame, bool& dependent, AacConfig& config) const;
    size_t AudioBytesNeeded(uint64_t position) const;
    void AddRawAacFrame(uint64_t position, size_t size);

    void TimeUnits();
    bool MayWait() const;
    // Presentation after decoding, and the decode step after the pending unit at `index`: with B
    // pictures, from the durations of the pictures shown in between.
    bool LeadKnown(size_t index) const;
    int64_t LeadOf(size_t index) const;
    int64_t StepOf(size_t index) const;
    int64_t PreviousReferenceCounts(size_t index) const;
    void SetCadenceUnit(const PendingUnit& unit);
    // The first pending unit after `from` that has a given time, or pending_.size().
    size_t NextTimed(size_t from) const;
    // Counts from the front pending unit to the one at `index`.
    int64_t StepsTo(size_t index) const;
    int64_t DecodeTimeGiven(size_t index) const;
    TimeVerdict Judge(int64_t off, int64_t& lost);
    int64_t Tolerance() const;

    const StreamKind kind_;
    CProgramTimeline& timeline_;
    const size_t slot_;
    std::vector<uint8_t> buffer_;
    size_t head_ = 0;
    uint64_t base_ = 0; // stream offset of buffer_[0]
    uint64_t scan_ = 0; // stream offset where parsing goes on
    bool ended_ = false;
    CRingQueue<AccessUnit> units_;
    CRingQueue<PendingUnit> pending_;
    CRingQueue<SampleTime> times_;
    CRingQueue<uint64_t> groupStarts_;
    bool groupOpen_ = false; // a group start was found and no picture after it yet
    uint32_t damaged_ = 0;
    uint32_t outliers_ = 0;
    uint32_t jumps_ = 0;

    CCadence cadence_;
    int64_t shift_ = 0; // taken off given times: the jumps closed so far
    std::vector<ClosedJump> closed_;
    int64_t lastDts_ = NoTimestamp;
    CProgramTimeline::Marks lastRan_ = {}; // of the unit timed last
    bool anyTimed_ = false;
    // The jump the front unit found, while it waits for the other streams to find it too.
    static constexpr size_t NoJump = SIZE_MAX;
    size_t proposedJump_ = NoJump;

    // Video: the picture order decides the decode times; two field pictures make one frame.
    VideoFacts video_;
    SequenceHeader sequence_ = {}; // the last, which its extension adds to
    int64_t framePeriod27_ = 1080000; // 25 frames a second until a sequence header says
    int64_t codedFramePeriod27_ = 0;  // the frame_rate_code's, before the extension's factor
    bool progressiveSequence_ = false;
    OpenPicture openPicture_;
    int firstField_ = 0;      // structure of a first field whose second is still to come
    int firstFieldReference_ = -1;
    int64_t lastReferenceCounts_ = 2; // of the reference picture timed last; a frame before the first
    int gopIndex_ = 0;
    int pictures_ = 0;
    bool lowDelay_ = false;
    bool reorderKnown_ = false;
    bool reorder_ = false;

    // H.264: the NAL unit whose end is still to come (its start code, and the zero byte before it
    // when there is one), the pictures found, and their display order.
    static constexpr uint64_t NoNal = UINT64_MAX;
    uint64_t nalPrefix_ = NoNal;
    uint64_t nalPosition_ = NoNal;
    uint64_t nalSearch_ = 0;
    bool nalDone_ = false; // a slice taken before its end
    CAvcPictureFinder avc_;
    CAvcOutputOrder order_;
    uint64_t popped_ = 0; // pending units timed so far: the serial of the front one

    // AAC
    AacConfig aac_;
    AacFraming aacFraming_ = AacFraming::Raw;
    bool framingKnown_ = false;

    // Audio
    bool synced_ = true;
    uint32_t sampleRate_ = 0;
    AudioFrame lastFrame_ = {};
};

} // namespace mpeg
