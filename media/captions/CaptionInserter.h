#pragma once
// Puts line-21 byte pairs into MPEG-2 or H.264 video: each pair goes into the picture shown at its
// time (the one with the latest presentation time not after it; a pair before every picture still
// held goes with the earliest of them), as A/53 cc_data before the picture's first slice (in H.264,
// an SEI unit of its own there), or in the DVD layout as one block after each group of pictures'
// header. Video that carries captions of its own passes unchanged, and so do the pairs of the
// separate stream then not. Every picture's pairs, inserted or its own, are told to a listener in
// decode order.
//
// Video is held until the pairs of its pictures have come (bounded in time and bytes, so a
// caption stream that stops or lags never holds the video for long) and leaves as the samples it
// came in, each with its own time, so the multiplexer's timing reads it as before. No COM, and no
// allocation per sample once the buffers have grown to the stream's needs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/captions/CaptionUserData.h"
#include "media/mpeg/AvcPictures.h"
#include "media/mpeg/ByteQueue.h"
#include "media/mpeg/ElementaryStream.h"
#include "media/mpeg/RingQueue.h"
#include "media/mpeg/VideoHeaders.h"

namespace captions {

class IVideoOut {
public:
    // One sample's bytes, user data inserted (the pieces one after another), with its 90 kHz time
    // or mpeg::NoTimestamp.
    virtual bool OnVideo(const mpeg::ByteRange* pieces, size_t count, int64_t time) = 0;
    // Whether video with these facts becomes DVD-ready: asked once, before the first block.
    virtual bool DvdLayout(const mpeg::VideoFacts& facts) = 0;

protected:
    ~IVideoOut() = default;
};

class IPictureCaptions {
public:
    // The pairs shown with a picture, at its presentation time (90 kHz, input time line).
    virtual void OnPictureCaptions(int64_t pts, const BytePair* pairs, size_t count) = 0;

protected:
    ~IPictureCaptions() = default;
};

class CCaptionInserter {
public:
    // How long video waits for the pairs of its pictures (90 kHz), beyond their presentation.
    static constexpr int64_t Margin = 27000;
    // Video that has run this far past a picture stops waiting for its pairs: the caption stream
    // has a gap, or has ended without saying so.
    static constexpr int64_t MaxCaptionWait = 135000;
    // Pictures decoded this long after one can still be shown before the next (reordered).
    static constexpr int64_t ReorderSpan = 45000;
    // Held at most, whatever the stream holds.
    static constexpr size_t MaxHeldBytes = 8 << 20;
    static constexpr size_t MaxHeldPictures = 240;
    static constexpr size_t MaxHeldPairs = 2048;
    // A pair this close before a picture's time is that picture's: caption times may be rounded
    // to milliseconds.
    static constexpr int64_t Tolerance = 450;

    CCaptionInserter(IVideoOut& out, IPictureCaptions* listener);
    CCaptionInserter(const CCaptionInserter&) = delete;
    CCaptionInserter& operator=(const CCaptionInserter&) = delete;

    // `insert`: a caption stream is connected and its pairs go into the video; `avc`: the video is
    // H.264 rather than MPEG-2.
    void Reset(bool insert, bool avc);
    // False once the output failed.
    bool PushVideo(const uint8_t* data, size_t size, int64_t time) { return HoldVideo(data, size, time) && PassVideo(); }
    // PushVideo in two steps, for one who tells how far the pictures read ran (VideoRun) before
    // any of these bytes go on: the bytes are held and read, then what may go, goes.
    bool HoldVideo(const uint8_t* data, size_t size, int64_t time);
    bool PassVideo();
    // Room for the next `size` bytes of video, which PushVideo then takes without a copy
    // (mpeg::CByteQueue::Lend).
    bool Lend(size_t size, std::shared_ptr<void>& keep, uint8_t*& room) { return !failed_ && !videoEnded_ && held_.Lend(size, keep, room); }
    // A caption sample: its whole pairs, all at `time` (or the last time when it has none).
    bool PushPairs(const uint8_t* data, size_t size, int64_t time);
    // The caption stream has ended: video no longer waits for it.
    bool EndCaptions();
    // The video has ended: all that is held goes out.
    bool EndVideo();

    // The presentation time of the first picture shown, once known (NoTimestamp for no picture).
    bool FirstShownKnown() const { return firstShownKnown_; }
    int64_t FirstShown() const { return firstShown_; }
    // Pairs with something in them lost: beyond what may be held, or after the video ended.
    uint64_t PairsDropped() const { return dropped_; }
    // How long the pictures found so far are shown (90 kHz), as the video arrives.
    int64_t VideoRun() const { return videoRun_; }

private:
    static constexpr uint64_t Unknown = UINT64_MAX;
    enum class Layout { Undecided, A53, Dvd };
    struct Sample {
        uint64_t position;
        size_t size;
        int64_t time;
    };
    struct Pair {
        int64_t time;
        BytePair pair;
    };
    struct Picture {
        uint64_t start;
        uint64_t insertAt = Unknown; // its first slice
        int64_t pts;
        int64_t run;                 // how far the video had run when it came (90 kHz)
        bool beforeJump = false;     // the clock jumped back after it
        uint32_t group;
        bool secondField;
        bool fieldOpen = false;      // H.264: a first field, whose second may bring pairs of its own
        bool decided = false;
        bool carries = false;        // an A/53 block goes before its first slice
        uint8_t count = 0;           // pairs shown with it: from the stream, or its own
        BytePair pairs[MaxPairsPerBlock];
    };
    struct Group {
        uint32_t serial;
        uint64_t insertAt;           // after its header
        bool decided = false;        // its DVD block is written
        bool told = false;           // its first picture was told
        bool ownTold = false;        // and its own DVD block's pairs
        int64_t firstShown = mpeg::NoTimestamp;
        size_t blockSize = 0;
        uint8_t block[MaxUserDataSize];
        uint8_t ownCount = 0;        // the pairs of a DVD block of its own
        BytePair own[MaxPairsPerBlock];
    };

    const uint8_t* At(uint64_t position) const { return held_.Block() + static_cast<size_t>(position - held_.Base()); }
    uint64_t End() const { return held_.WritePosition(); }
    void Scan();
    bool ScanOne(uint64_t at);
    void OnPicture(uint64_t at);
    void ScanAvc();
    void OnNalUnit(uint64_t at, uint64_t end);
    // A picture found, `length` the time it is shown for (90 kHz); `later` when it is known to be
    // shown after every picture before it (it starts a new group or sequence).
    void AddPicture(Picture& picture, int64_t length, bool later);
    void OnUserData(uint64_t at, size_t size);
    int64_t TimeOf(uint64_t position);
    void Decide(bool force);
    // Whether a picture shown at `pts`, decided with `last` (itself, or its group's last), waits for
    // more video or pairs.
    bool Waits(int64_t pts, const Picture& last) const;
    void ChooseLayout();
    void DecidePicture(size_t index);
    void DecideGroup(size_t index);
    size_t TakePairsFor(size_t firstPicture, size_t endPicture, size_t capacity);
    size_t PictureShowing(int64_t time) const;
    void Tell(const Picture& picture);
    void TellOwnGroups(uint32_t before);
    bool Forward();
    bool Blocked(uint64_t from, uint64_t to) const;

    IVideoOut& out_;
    IPictureCaptions* listener_;
    bool insert_ = false;
    bool avc_ = false;
    Layout dvd_ = Layout::Undecided;
    bool ownCaptions_ = false;
    bool videoEnded_ = false;
    bool captionsEnded_ = false;
    bool failed_ = false;

    mpeg::CByteQueue held_;    // from the first byte not sent on
    uint64_t scan_ = 0;
    // Working space of Forward: where blocks go into a sample, the picture blocks written for it,
    // and the pieces it is passed on in.
    struct Insert {
        uint64_t at;
        const uint8_t* block; // a group's; nullptr for a picture's, at `offset` in blocks_
        size_t offset;
        size_t size;
    };
    std::vector<Insert> inserts_;
    std::vector<uint8_t> blocks_;
    std::vector<mpeg::ByteRange> pieces_;
    mpeg::CRingQueue<Sample> samples_;
    size_t timedSamples_ = 0;  // samples_ before this have had their time taken
    mpeg::CRingQueue<Picture> pictures_;
    mpeg::CRingQueue<Group> groups_;
    mpeg::CRingQueue<Pair> pairs_;
    std::vector<Pair> keep_;   // working space of TakePairsFor

    // Parsing state.
    enum class Region { None, Sequence, Group, Picture, Slices };
    Region region_ = Region::None;
    mpeg::SequenceHeader sequence_ = {};
    mpeg::VideoFacts facts_;
    bool factsKnown_ = false;
    int64_t framePeriod_ = 3003; // 90 kHz
    int frameRateCode_ = 0;
    uint32_t groupSerial_ = 0;
    bool inGroup_ = false;
    int64_t anchorPts_ = mpeg::NoTimestamp; // of a picture of the group with a given time
    int anchorReference_ = 0;
    int64_t lastPts_ = mpeg::NoTimestamp;
    int64_t latestPts_ = mpeg::NoTimestamp; // the latest presentation time seen since a jump back
    int64_t videoRun_ = 0;                  // frames come so far, in time (90 kHz)
    int lastReference_ = -1;
    int lastStructure_ = 3;
    bool firstFieldOpen_ = false;
    int64_t captionTime_ = mpeg::NoTimestamp; // the latest time of a pair received since a jump back
    int64_t firstShown_ = mpeg::NoTimestamp;
    bool firstShownKnown_ = false;
    unsigned picturesSeen_ = 0;
    uint64_t dropped_ = 0;

    // H.264 parsing state.
    mpeg::CAvcPictureFinder avcPictures_;
    uint64_t nalSearched_ = 0;      // no start code before here ends the unit at scan_
    int64_t anchorPoc_ = 0;         // of the picture anchorPts_ is the time of
    uint8_t pendingCount_ = 0;      // pairs of SEI units before the next picture's first slice
    BytePair pending_[MaxPairsPerBlock];
};

} // namespace captions
