#pragma once
// One input of the multiplexer: the bytes of an elementary stream as they arrive, cut into
// access units (video pictures, audio frames) with a decode and a presentation time each.
// Bytes are kept exactly as given; units are found by parsing, not from how the bytes arrived.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/mpeg/ProgramStreamLayout.h"
#include "media/mpeg/RingQueue.h"

namespace mpeg {

enum class StreamKind { Mpeg2Video, MpegAudio, Ac3Audio };

struct AccessUnit {
    uint64_t position; // stream offset of its first byte (picture start code, audio sync word)
    int64_t pts;       // 90 kHz, on the input's time line
    int64_t dts;
};

class CElementaryStream {
public:
    explicit CElementaryStream(StreamKind kind);
    CElementaryStream(const CElementaryStream&) = delete;
    CElementaryStream& operator=(const CElementaryStream&) = delete;

    StreamKind Kind() const { return kind_; }
    void Reset();
    // `time` (90 kHz, or NoTimestamp) is that of the first unit that starts in these bytes;
    // units without one get theirs from the frame rate or the audio frame durations.
    void Push(const uint8_t* data, size_t size, int64_t time);
    // No more bytes: the rest is final as it is.
    void End();
    bool Ended() const { return ended_; }

    uint64_t ReadPosition() const { return base_ + head_; }
    const uint8_t* Data() const { return buffer_.data() + head_; }
    size_t Queued() const { return buffer_.size() - head_; }
    // Bytes from the read position whose units are parsed and timed; all of them once the
    // stream has ended, or once this much has piled up without a unit to time it (garbage).
    static constexpr size_t MaxUntimedBacklog = 4 << 20;
    size_t Ready() const;
    bool Overflowing() const { return Queued() > MaxUntimedBacklog; }
    void Consume(size_t size);

    // Timed units still holding queued bytes, in stream order; the first may start before the
    // read position.
    size_t UnitCount() const { return units_.size(); }
    const AccessUnit& Unit(size_t index) const { return units_[index]; }

    // Units that could not be parsed (bad headers, lost audio sync); their bytes stay as data.
    uint32_t Damaged() const { return damaged_; }

private:
    struct PendingPicture {
        uint64_t position;
        int temporalReference;
        int decodeIndex;
        int64_t time;
    };
    struct SampleTime {
        uint64_t position;
        int64_t time;
    };

    uint64_t WritePosition() const { return base_ + buffer_.size(); }
    int64_t TakeTime(uint64_t position);
    void ScanVideo();
    void ScanAudio();
    bool ParseAudioAt(uint64_t position, struct AudioFrame& frame) const;
    void AddPicture(uint64_t position, int temporalReference);
    void DecideReorder(bool reorder);
    void TimePictures();

    const StreamKind kind_;
    std::vector<uint8_t> buffer_;
    size_t head_ = 0;
    uint64_t base_ = 0; // stream offset of buffer_[0]
    uint64_t scan_ = 0; // stream offset where parsing goes on
    bool ended_ = false;
    CRingQueue<AccessUnit> units_;
    CRingQueue<SampleTime> times_;
    uint32_t damaged_ = 0;

    // Video: the picture order decides the decode times.
    CRingQueue<PendingPicture> pending_;
    int64_t framePeriod_ = 3600;
    int gopIndex_ = 0;
    int pictures_ = 0;
    bool lowDelay_ = false;
    bool reorderKnown_ = false;
    bool reorder_ = false;
    int64_t lastDts_ = NoTimestamp;

    // Audio: times run on from the last given one by the frames' sample counts.
    bool synced_ = true;
    int64_t audioBase_ = NoTimestamp;
    uint64_t samplesSinceBase_ = 0;
    uint32_t sampleRate_ = 0;
};

} // namespace mpeg
