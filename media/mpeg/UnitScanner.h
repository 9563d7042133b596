#pragma once
// Between the finding of an elementary stream's access units and their timing: a scanner parses
// the stream's bytes, which it sees by stream offset as the stream passes them, and adds the units
// it finds to the stream's found units; the stream times them, asking the scanner what their kind
// says of the order they are shown in.

#include <cstddef>
#include <cstdint>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/Cadence.h"
#include "media/mpeg/RingQueue.h"

namespace mpeg {

// H.264 in Annex B byte stream form; AAC as ADTS, LOAS or raw frames (one a push), told by its
// bytes; E-AC-3 with any dependent substreams in the unit of the frame before them.
enum class StreamKind { Mpeg2Video, MpegAudio, Ac3Audio, H264Video, AacAudio, Eac3Audio };

constexpr bool IsVideoKind(StreamKind kind) { return kind == StreamKind::Mpeg2Video || kind == StreamKind::H264Video; }

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

// The stream's queued bytes: `data` holds the byte at stream offset `base`; those before `read`
// are given out, and `ended` says no more come.
struct StreamBytes {
    const uint8_t* data;
    size_t size;
    uint64_t base;
    uint64_t read;
    bool ended;

    uint64_t End() const { return base + size; }
    const uint8_t* At(uint64_t position) const { return data + (position - base); }
};

// A unit found but not timed yet: its time waits for the picture order, or for the next given time
// to tell a bad one from a jump.
struct FoundUnit {
    uint64_t position;
    int64_t time;           // given, on the input's time line, or NoTimestamp (taken when added)
    int64_t counts;         // how long it lasts: fields of video (H.264: clock ticks), samples of audio
    uint32_t sampleRate;    // audio
    bool reference;         // MPEG-2 video: an I or P picture, which B pictures are shown before
    CProgramTimeline::Marks ran; // how far the program's streams had run when it was found
    int64_t poc = 0;        // H.264: picture order count, and ticks from decode to display
    int64_t lead = -1;      // (-1 until the pictures shown before it are known)
    bool idr = false;
    uint64_t start = UINT64_MAX; // MPEG-2 video: the group's headers before it; else its position
};

// Units held for the next given time: beyond these a bad time is taken for an outlier, and a
// stream with no times at all starts at 0.
constexpr size_t MaxHeldUnits = 24;

// What the scanner of one stream found and its timing has not taken yet: the units, the times given
// with the bytes they start in, where groups of pictures start, and how many units did not parse.
class CFoundUnits {
public:
    CFoundUnits(CProgramTimeline& timeline, size_t slot) : timeline_(timeline), slot_(slot) {}
    CFoundUnits(const CFoundUnits&) = delete;
    CFoundUnits& operator=(const CFoundUnits&) = delete;
    void Reset();

    // Given with the bytes from `position` on: a time (90 kHz), or NoTimestamp.
    void Given(uint64_t position, int64_t time);
    // The time given with the bytes at `position`, if no earlier unit took it.
    int64_t TakeTime(uint64_t position);
    // A unit that lasts `ticks` (90 kHz): it takes the time given with its first byte, the program's
    // streams learn how long it runs, and it keeps how far they had run.
    void Add(const FoundUnit& unit, int64_t ticks);
    // How far the others had run where the bytes now scanned lay in the file, when they come later
    // than that; nullptr: they come now.
    void SetArrival(const CProgramTimeline::Marks* ran) { arrival_ = ran; }
    // The program's streams learn how long the stream runs as its pushes arrive, not as its units
    // are found (which counts it from then on).
    void RunAtArrival(int64_t ticks);
    // H.264: the unit found `serial`-th (from 0) is shown `lead` clock ticks after it is decoded.
    void SetLead(uint64_t serial, int64_t lead);
    void AddGroupStart(uint64_t position) { groupStarts_.push_back(position); }
    void AddDamaged() { ++damaged_; }

    bool Empty() const { return units_.empty(); }
    size_t Count() const { return units_.size(); }
    const FoundUnit& operator[](size_t index) const { return units_[index]; }
    // How many units were timed: the serial of the front one.
    uint64_t FrontSerial() const { return timed_; }
    void PopTimed();
    // MPEG-2 video: the counts of the reference picture timed last; a frame before the first.
    int64_t LastReferenceCounts() const { return lastReferenceCounts_; }

    const CRingQueue<uint64_t>& GroupStarts() const { return groupStarts_; }
    void ForgetGroupsBefore(uint64_t position);
    uint32_t Damaged() const { return damaged_; }

private:
    struct SampleTime {
        uint64_t position;
        int64_t time;
    };

    CProgramTimeline& timeline_;
    const size_t slot_;
    const CProgramTimeline::Marks* arrival_ = nullptr;
    bool runAtArrival_ = false;
    int64_t ran_ = 0; // the stream's own run up to the unit found next
    CRingQueue<FoundUnit> units_;
    CRingQueue<SampleTime> times_;
    CRingQueue<uint64_t> groupStarts_;
    uint64_t timed_ = 0;
    int64_t lastReferenceCounts_ = 2;
    uint32_t damaged_ = 0;
};

// Finds the units of one kind of stream, and knows what that kind says of their order and length.
class IUnitScanner {
public:
    virtual ~IUnitScanner() = default;
    virtual void Reset() = 0;
    // Bytes came, those of the last push from `pushed` on: the units they complete are found.
    virtual void Scan(const StreamBytes& bytes, uint64_t pushed, CFoundUnits& found) = 0;
    // No more bytes come: what is still open is final as it is.
    virtual void End(const StreamBytes& bytes, CFoundUnits& found) = 0;
    // Where the bytes whose units are all found end: a unit still open, or bytes not parsed, start there.
    virtual uint64_t FoundEnd() const = 0;

    // Video: the found units wait until the picture order is known.
    virtual bool OrderKnown() const = 0;
    // How long after its decoding the found unit at `index` is shown (90 kHz; may depend on later
    // units, known once they are found) and its decode step, in counts.
    virtual bool LeadKnown(const CFoundUnits& found, size_t index) const = 0;
    virtual int64_t LeadOf(const CFoundUnits& found, size_t index) const = 0;
    virtual int64_t StepOf(const CFoundUnits& found, size_t index) const = 0;
    // What one count of the unit lasts.
    virtual void SetCadenceUnit(const FoundUnit& unit, CCadence& cadence) const = 0;
    // Given times off by less than this (90 kHz) are taken as they are.
    virtual int64_t Tolerance() const = 0;

    // What the stream's headers declare as far as parsed; zeros for the other kind of stream.
    virtual const VideoFacts& Video() const = 0;
    virtual const AudioFrame& LastAudioFrame() const = 0;
};

} // namespace mpeg
