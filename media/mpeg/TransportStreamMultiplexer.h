#pragma once
// Interleaves elementary streams into an MPEG-2 transport stream of 188-byte packets, by decode
// time: one PES packet per access unit (audio: a few frames, as many as leave room in the decoder
// buffer), PAT and PMT every 90 ms, a PCR on the video's PID every 30 ms. Packets go out at a
// constant rate between PCRs, the rate chosen from the streams as the program stream's is and
// raised ahead of a burst (it changes only at a PCR); null packets fill what the rate leaves. The
// transport system target decoder is modelled as it goes: no transport or elementary buffer
// overflows, and no access unit arrives after its decode time unless the rate bound is reached.
// No COM: the filter feeds it bytes with their times and hands the packets on.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "media/mpeg/Cadence.h"
#include "media/mpeg/ElementaryStream.h"
#include "media/mpeg/MuxPlanning.h"
#include "media/mpeg/TransportStreamLayout.h"

namespace mpeg {

class IPacketSink {
public:
    // Where the next packet is built: TsPacketSize bytes of the sink's, handed back to WritePacket,
    // so that the packet is built where it goes. Null: in the multiplexer's own.
    virtual uint8_t* NextPacketBuffer() { return nullptr; }
    // One packet of TsPacketSize bytes; false stops the multiplexer for good.
    virtual bool WritePacket(const uint8_t* packet) = 0;

protected:
    ~IPacketSink() = default;
};

class CTransportStreamMultiplexer final : public CMuxInputs {
public:
    static constexpr size_t MaxAudioStreams = 8;
    // Limits kept with room below those of TR 101 290 (PAT and PMT 100 ms here, PCR 40 ms).
    static constexpr uint64_t PsiInterval = SystemClock * 90 / 1000;
    static constexpr uint64_t PcrInterval = SystemClock * 30 / 1000;

    explicit CTransportStreamMultiplexer(IPacketSink& sink);
    CTransportStreamMultiplexer(const CTransportStreamMultiplexer&) = delete;
    CTransportStreamMultiplexer& operator=(const CTransportStreamMultiplexer&) = delete;

    void Reset() override;
    // Video on PID 0x101, then each audio stream on the next PID in the order added.
    int AddStream(Coding coding) override;
    // The ISO 639-2 code the PMT gives the stream; before the first packet.
    void SetLanguage(int stream, const char code[3]);
    // Raw AAC: its AudioSpecificConfig, from which each frame gets an ADTS header. False when ADTS
    // cannot say what it says.
    bool SetAacConfig(int stream, const uint8_t* config, size_t size);


    bool Finished() const override { return finished_; }
    bool Failed() const { return failed_; }
    uint64_t PacketsWritten() const { return packets_; }
    uint64_t NullPackets() const { return nulls_; }
    // The rate in force and the usual one, in 50 bytes/s, as the program stream's.
    uint32_t MuxRate() const { return rate_; }
    uint32_t BaseMuxRate() const { return baseRate_; }
    uint64_t LateUnits() const { return late_; }

private:
    struct Stream : MuxInput {
        Stream(StreamKind kind, CProgramTimeline& timeline) : MuxInput(kind, timeline) {}
        TsStreamEntry entry = {};
        uint8_t streamId = 0;
        uint8_t cc = 0;
        // Transport buffer: when it has passed on the last byte sent, and its leak rate.
        uint64_t tbEmpty = 0;
        uint64_t leak = 0;      // bytes per second
        // The elementary (or main) buffer: units leave at their decode times.
        CUnitBuffer buffer;
        size_t bufferBytes = 0;
        size_t pesBudget = 0;   // audio: payload bytes one PES holds at most
        bool adts = false;      // raw AAC, written with an ADTS header per frame
        AdtsConfig aac;
        // The PES packet being sent: header bytes (and an ADTS header) still to go, then payload.
        uint8_t header[32] = {};
        size_t pesHeaderSize = 0; // of headerSize; the ADTS header follows it
        size_t headerSize = 0;
        size_t headerSent = 0;
        size_t payloadLeft = 0; // of the stream's bytes in this PES; 0 when the next packet starts one
        bool randomAccess = false;
    };
    // What the stream's next packet would carry.
    struct PacketPlan {
        bool ready = false;
        bool startsPes = false;
        size_t payload = 0;  // the stream's bytes in it
        size_t adts = 0;     // bytes of an ADTS header in it, which enter the decoder buffer too
        uint64_t earliest = 0;
    };

    bool Drain() override;
    int InputCount() const override { return static_cast<int>(streams_.size()); }
    const MuxInput& Input(int stream) const override { return *streams_[static_cast<size_t>(stream)]; }
    void Start();
    void ChooseRates();
    // The base rate and bound again where the video's format changed among the units queued.
    void FollowFormat();
    void SizeBuffers(Stream& stream);
    PacketPlan Plan(Stream& stream) const;
    // The PES starting at the read position: its payload, timestamps and header.
    size_t PesPayload(const Stream& stream, int64_t& pts, int64_t& dts) const;
    void OpenPes(Stream& stream, size_t payload, int64_t pts, int64_t dts);
    uint64_t EarliestStart(const Stream& stream, size_t payload, size_t* leaving) const;
    bool WriteStreamPacket(Stream& stream, const PacketPlan& plan, bool pcr);
    // Removal time (90 kHz) of the unit at the read position, which an ADTS header heads.
    int64_t HeadedUnitRemoval(const CElementaryStream& queue) const;
    bool WritePsi();
    bool TransportRoom(const Stream& stream, uint64_t time) const;
    bool WritePcrPacket();
    bool WriteNull();
    // Points packet_ at where the next packet is built.
    void BeginPacket();
    bool Emit();
    // 27 MHz time of byte `position` of the output at the rate in force.
    uint64_t TimeOf(uint64_t position) const;
    uint64_t Now() const { return TimeOf(packets_ * TsPacketSize); }
    // The PCR of the packet about to go, where the rate may change.
    uint64_t TakePcr();
    uint32_t Needed(uint64_t now);
    uint32_t SoundRate() const;

    IPacketSink& sink_;
    CProgramTimeline timeline_;
    std::vector<std::unique_ptr<Stream>> streams_;
    std::vector<const CElementaryStream*> queues_;
    std::vector<std::pair<int64_t, Stream*>> order_;
    mutable std::vector<size_t> nextUnit_;
    Stream* pcrStream_ = nullptr;
    uint8_t ownPacket_[TsPacketSize];
    uint8_t* packet_ = ownPacket_; // the packet being built: in the sink's buffer, or ownPacket_
    uint64_t packets_ = 0;
    uint64_t nulls_ = 0;
    // The time line: byte `anchorByte_` of the output (the last PCR's) is at `anchorTime_`, and
    // bytes follow at `rate_` 50 bytes/s.
    uint64_t anchorByte_ = 0;
    uint64_t anchorTime_ = 0;
    uint32_t rate_ = 0;
    uint32_t baseRate_ = 0;
    uint32_t rateBound_ = 0;
    // The video's facts the base rate and bound were chosen from.
    VideoFacts ratesVideo_;
    uint32_t wanted_ = 0;       // the rate to take at the next PCR
    uint32_t needed_ = 0;
    uint64_t neededAt_ = 0;
    uint64_t lastPcr_ = 0;
    bool anyPcr_ = false;
    uint64_t lastPsi_ = 0;
    bool anyPsi_ = false;
    bool pmtNext_ = false;
    uint8_t patCc_ = 0;
    uint8_t pmtCc_ = 0;
    uint64_t late_ = 0;
    int64_t offset_ = 0;
    bool started_ = false;
    bool finished_ = false;
    bool failed_ = false;
};

} // namespace mpeg
