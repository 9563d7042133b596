#pragma once
// Reads an ASF recording (media-centre or plain) from a file: the header, then whole media
// objects, one after another, rebuilt from the packets' fragments. No COM: the source filter and
// the benchmarks use it alike.
//
//   asf::CReader reader;
//   HRESULT hr = reader.Open(path);          // header, codecs found from the payload
//   hr = reader.Read(sink);                  // sink.OnObject for every whole object
//
// Memory stays bounded whatever the file claims: one read block and, per stream, one object of
// at most MaxObjectSize.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ScopedWin.h"
#include "media/FileRead.h"
#include "media/RecordingReader.h"
#include "media/asf/AsfHeader.h"
#include "media/asf/AsfPacket.h"

namespace asf {

using media::MaxObjectSize;
using media::MediaObject;
using media::NoTime;
using media::IObjectSink;
using media::StreamFormat;

struct ReadCounters {
    uint64_t packets = 0;
    uint64_t badPackets = 0;          // skipped whole
    uint64_t droppedObjects = 0;      // fragments that did not add up, or claimed sizes over the cap
    uint64_t unknownStreamPayloads = 0;
    uint64_t droppedLeadingVideo = 0; // before the first sequence header
    uint64_t droppedZeroVideo = 0;    // large all-zero objects (silent radio recordings)
    uint64_t truncatedBytes = 0;      // of a last, incomplete packet
};

class CReader : public media::IRecordingReader {
public:
    // Opens the file (shared with a recorder that still writes it), parses the header and reads
    // ahead to identify each stream's codec and the earliest time. HRESULT_FROM_WIN32 when the
    // file cannot be opened; else HALVERN_E_NOT_RECORDING, _BAD_HEADER, _PROTECTED, _NO_STREAMS.
    HRESULT Open(const wchar_t* path) override;
    // Reads from the first packet (again) to the end of the file, or to an index object that
    // follows the packets, whatever the header says of the data's size: S_OK at the end of the
    // data, S_FALSE when the sink stopped, HALVERN_E_DAMAGED when too many packets are
    // unreadable, HALVERN_E_SHRANK when the file became shorter meanwhile, or a read error.
    HRESULT Read(IObjectSink& sink) override { return ReadPackets(sink, UINT64_MAX); }

    const HeaderInfo& Header() const { return header_; }
    // Parallel to Header().streams.
    const std::vector<StreamFormat>& Formats() const override { return formats_; }
    // The earliest time among the first objects of the streams with a known codec.
    int64_t EarliestTime() const override { return earliestTime_; }
    // Play length less preroll, 100 ns; from the last packet's send time when the header does
    // not know it yet (a recording still being written, or one whose header was never finished).
    int64_t Duration() const override { return duration_; }
    const ReadCounters& Counters() const { return counters_; }
    // How far the read in progress has come, in bytes of the file: the offset after the last
    // packet handed over, and the file's length as the read knows it. They are equal once a read
    // has reached the end of the data.
    uint64_t BytesDone() const override { return progress_.done; }
    uint64_t BytesTotal() const override { return progress_.total; }
    bool EndedCut() const override { return endedCut_; }

    // Read block size: whole packets, in reads large enough to cost little each, and small enough
    // that the packets are still in the processor's cache when parsed (4 MiB blocks cost 10-30%
    // more processor time per conversion).
    static constexpr size_t BlockBytes = 256u << 10;

private:
    struct StreamState {
        std::vector<uint8_t> buffer; // the object being rebuilt, unless the sink gave room for it
        uint8_t* room = nullptr;
        size_t filled = 0;           // of the one or the other
        bool assembling = false;
        uint32_t objectNumber = 0;
        uint32_t objectSize = 0;
        MediaObject pending;         // its metadata, from the first fragment
        bool discontinuity = true;
        bool sawSequenceHeader = false;
        bool clockKnown = false;
        int64_t clockOffset = 0;     // rtStart less the presentation-based time
    };

    HRESULT Probe();
    int64_t FindDuration();
    HRESULT ReadPackets(IObjectSink& sink, uint64_t maxPackets);
    bool EndsData(const uint8_t* data, uint64_t offset, uint64_t fileSize);
    bool HeaderEndsDataAt(uint64_t offset) const;
    HRESULT EndRead(uint64_t end, uint64_t fileSize);
    void DropUnfinishedObjects();
    HRESULT CurrentSize(uint64_t& size) const;
    void ResetStreams();
    void SkipBadPacket();
    bool ProcessPacket(const uint8_t* data, IObjectSink& sink, bool& stopped);
    bool AddFragment(const Payload& payload, size_t index, IObjectSink& sink);
    bool AddCompressed(const Payload& payload, size_t index, IObjectSink& sink);
    void Append(StreamState& state, const Payload& payload);
    void ReadExtensions(const Payload& payload, const StreamInfo& stream, MediaObject& object) const;
    bool Deliver(MediaObject& object, StreamState& state, IObjectSink& sink);
    size_t StreamIndex(unsigned number) const;

    UniqueFileHandle file_;
    HeaderInfo header_;
    std::vector<StreamFormat> formats_;
    std::vector<StreamState> states_;
    size_t streamIndexByNumber_[128];
    std::vector<uint8_t> block_;
    Packet packet_;
    ReadCounters counters_;
    int64_t earliestTime_ = 0;
    int64_t duration_ = 0;
    uint64_t consecutiveBad_ = 0;
    media::ReadProgress progress_;
    bool endedCut_ = false;
};

} // namespace asf
