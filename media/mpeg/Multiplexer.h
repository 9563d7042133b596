#pragma once
// Interleaves elementary streams into 2048-byte program stream packs, by decode time. The SCR
// runs at a mux rate that carries the streams as they are, so every access unit arrives before
// its decode time; it is held back wherever a decoder buffer would overflow. Recordings within
// DVD limits get the DVD rate and buffers. Where a stream's format changes (a new sequence
// header, an audio frame of another rate or layout) the rate and buffers are chosen again, and
// when the new ones pass what the system header declared, or the streams leave DVD-Video, the
// program stream ends there and a new one begins. No COM: the filter feeds it bytes with their
// times and hands the packs on.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/Cadence.h"
#include "media/mpeg/ElementaryStream.h"
#include "media/mpeg/MuxPlanning.h"
#include "media/mpeg/ProgramStreamLayout.h"

namespace mpeg {

class IPackSink {
public:
    // Where the next pack is built: PackSize bytes of the sink's, handed back to WritePack, so
    // that the pack is built where it goes rather than copied there. Null: in the multiplexer's own.
    virtual uint8_t* NextPackBuffer() { return nullptr; }
    // One pack of PackSize bytes; false stops the multiplexer for good.
    virtual bool WritePack(const uint8_t* pack) = 0;

protected:
    ~IPackSink() = default;
};

class CProgramStreamMultiplexer final : public CMuxInputs {
public:
    // Timestamps begin this long after the first SCR (0); packs go out once the streams are known
    // this far ahead (MuxPlanning.h).
    static constexpr int64_t Preload = MuxPreload;
    static constexpr int64_t Lookahead = MuxLookahead;
    static constexpr size_t VideoLookaheadBytes = MuxVideoLookaheadBytes;
    static constexpr size_t AudioLookaheadBytes = MuxAudioLookaheadBytes;

    explicit CProgramStreamMultiplexer(IPackSink& sink);
    CProgramStreamMultiplexer(const CProgramStreamMultiplexer&) = delete;
    CProgramStreamMultiplexer& operator=(const CProgramStreamMultiplexer&) = delete;

    // One video stream and up to this many audio streams.
    static constexpr size_t MaxAudioStreams = 8;

    // Forgets streams and state; streams are then added again.
    void Reset() override;
    // Audio streams are numbered by kind in the order they are added: MPEG audio as streams 0xC0 on,
    // AC-3 as sub-streams 0x80 on of private stream 1. -1 when no more streams of the kind fit.
    int AddStream(StreamKind kind);
    // MPEG-2 video, MPEG audio and AC-3 only.
    int AddStream(Coding coding) override;

    // Bytes of a stream and the 90 kHz time of the first unit starting in them (or NoTimestamp).
    // Writes whatever packs can be written; false once the sink failed.
    // The stream has ended; when all have, the rest is written.
    // Packs go on without the stream until it delivers again, as if it had none queued: for an
    // input that has stopped delivering while another still has data.

    bool Finished() const override { return finished_; }
    bool Failed() const { return failed_; }
    uint64_t PacksWritten() const { return packs_; }
    // The rates in force, in 50 bytes/s: the usual one and the system header's bound.
    uint32_t BaseMuxRate() const { return baseRate_; }
    uint32_t RateBound() const { return rateBound_; }
    // Units whose last byte went out after their decode time: only when a stream outran the bound.
    uint64_t LateUnits() const { return late_; }
    // Whether the streams fit DVD-Video at the first pack: then each group of pictures starts a
    // VOBU with a navigation pack, and the program end code closes the stream, or its part up to
    // a format change that leaves DVD-Video.
    bool DvdNavigation() const { return dvd_; }
    // Whether video of these facts would make the streams DVD-ready, with the audio as far as it
    // has come: for what is written into the video before the first pack decides it.
    bool WouldFitDvd(const VideoFacts& video) const;

private:
    // The system target decoder's buffer of one stream_id: the sub-streams of private stream 1
    // share theirs.
    struct DecoderBuffer {
        SystemStreamEntry entry;  // the size in force, as the P-STD extension says it
        uint16_t bound = 0;       // the system header's
        uint16_t shrinkTo = 0;    // a smaller size, said once the buffer holds little enough
        size_t bytes = 0;
        CUnitBuffer units;
    };
    // What a stream's headers say that rates, buffers and DVD-Video depend on.
    struct Format {
        VideoFacts video;
        int frameRateCode = 0;
        AudioFrame audio = {};

        bool SameTitle(const Format& other) const;
        bool SameNeeds(const Format& other) const;
    };
    static constexpr uint64_t NoChange = UINT64_MAX;
    struct Stream : MuxInput {
        using MuxInput::MuxInput;
        DecoderBuffer* buffer = nullptr;
        uint8_t substream = 0;  // private stream 1 only
        bool announce = true;   // its next packet carries the P-STD extension
        Format format;          // of the bytes written last
        Format next;            // from changeAt on, when nextKnown
        uint64_t changeAt = NoChange;
        bool nextKnown = false; // else the header there is not whole yet
        uint64_t checked = 0;   // headers before this have been compared
    };
    // Rates and buffers for the formats in force.
    struct Choice {
        uint32_t baseRate = DvdMuxRate;
        uint32_t rateBound = DvdMuxRate;
        uint16_t videoBufferKiB = 0;
        bool dvd = false;       // within DVD-Video's limits
    };
    struct PacketPlan {
        size_t payload = 0;
        PesHeader header;
        size_t units = 0;       // units starting in the payload
        size_t firstUnit = 0;   // offset of the first of them in the payload
        bool complete = false;  // a full packet, or the end of an ended stream
    };

    // Orders the streams by decode time, chooses a packet among them and writes it, while one can go.
    bool Drain() override;
    int InputCount() const override { return static_cast<int>(streams_.size()); }
    const MuxInput& Input(int stream) const override { return *streams_[static_cast<size_t>(stream)]; }
    enum class NextPacket { Chosen, Wait, None };
    // Wait: the earliest stream needs more bytes first; None: no stream has a packet to go.
    NextPacket ChoosePacket(Stream*& chosen, PacketPlan& plan) const;
    PacketPlan Plan(Stream& stream, bool firstPack) const;
    bool WritePacket(Stream& stream, const PacketPlan& plan);
    uint64_t StartPacket(Stream& stream, size_t payload);
    size_t WriteHeaders(uint8_t* out, uint64_t scr);
    void WritePes(uint8_t* out, Stream& stream, const PacketPlan& plan);
    DecoderBuffer& BufferFor(const SystemStreamEntry& entry);
    void FixOffset();
    void TakeFirstFormats();
    Choice Choose(uint32_t needed) const;
    void ApplyChoice(const Choice& choice);
    // `soFar`: audio streams from the frames parsed so far, any without one taken to fit.
    bool FitsDvd(const VideoFacts& video, uint64_t measuredVideoBits, bool soFar = false) const;
    void LookForChange(Stream& stream);
    bool SwitchFormat(Stream& stream);
    void ShrinkWhenHeldFits();
    bool NeedsNavigation(const Stream& stream) const;
    bool WriteNavigationPack(uint64_t scr);
    bool EndProgram();
    void WriteEndPack();
    bool Finish();
    // Packs of padding up to a packet at `scr` that comes long after the last pack.
    bool BridgeTo(uint64_t scr);
    // Points pack_ at where the next pack, at `scr`, is built.
    void BeginPack(uint64_t scr);
    // Hands pack_ to the sink.
    bool Emit();
    void CountKinds(int& audio, int& video) const;
    uint32_t NeededRate(uint64_t scr) const;
    uint64_t EarliestStart(const Stream& stream, size_t payload, size_t* leaving = nullptr) const;
    void CountIntoBuffer(Stream& stream, size_t payload, uint64_t scr);

    IPackSink& sink_;
    CProgramTimeline timeline_;
    std::vector<std::unique_ptr<Stream>> streams_;
    std::vector<std::unique_ptr<DecoderBuffer>> buffers_;
    std::vector<const CElementaryStream*> queues_;
    // Working space of Drain and NeededRate, sized as streams are added.
    std::vector<std::pair<int64_t, Stream*>> order_;
    mutable std::vector<size_t> nextUnit_;
    uint8_t ownPack_[PackSize];
    uint8_t* pack_ = ownPack_; // the pack being built: in the sink's room, or ownPack_
    uint64_t packs_ = 0;
    uint64_t nextScr_ = 0;     // 27 MHz: the earliest the next pack may start
    uint64_t lastScr_ = 0;     // of the pack written last
    uint32_t rate_ = DvdMuxRate;
    uint32_t baseRate_ = DvdMuxRate;
    uint32_t rateBound_ = DvdMuxRate;
    uint64_t late_ = 0;
    // The last needed rate worked out, at which pack; recounted when units arrive or every
    // NeedRecountPacks packs (a few milliseconds of SCR, well inside the rate's margin of 1/8).
    static constexpr uint64_t NeedRecountPacks = 8;
    uint32_t needed_ = 0;
    uint64_t neededAt_ = 0;
    bool rateFromNeed_ = false; // after a format change: the rate from the need, up or down
    int64_t offset_ = 0;
    bool offsetFixed_ = false;
    bool dvd_ = false;
    bool navigation_ = false;   // the program stream being written is DVD-ready
    bool programStart_ = true;  // its first pack is still to come
    bool vobuHasVideo_ = false; // a video packet went out since the last navigation pack
    bool finished_ = false;
    bool failed_ = false;
};

} // namespace mpeg
