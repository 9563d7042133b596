#pragma once
// Reads a WTV recording (the later media centre's container) from a file: its file system, then
// the chunks of its timeline in file order, each data chunk a whole media object stamped with the
// time its stream's last timestamp chunk gave. No COM.
//
//   wtv::CReader reader;
//   HRESULT hr = reader.Open(path);          // directory, streams, codecs found from the payload
//   hr = reader.Read(sink);                  // sink.OnObject for every whole object
//
// Memory stays bounded whatever the file claims: one read block (grown to the largest chunk, at
// most MaxObjectSize and a block), the timeline's sector list (at most 4 MiB) and a few streams;
// while opening, two bits per 4 KiB of the file and of what its timeline lists (at most 16 MiB
// more). Objects are handed on from the read block, never copied. The timeline lists no sector
// twice, so the objects never add up to more than the file.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ScopedWin.h"
#include "media/FileRead.h"
#include "media/RecordingReader.h"
#include "media/wtv/TimelineCursor.h"
#include "media/wtv/WtvFileSystem.h"
#include "media/wtv/WtvStreamType.h"

namespace wtv {

using media::MediaObject;
using media::NoTime;
using media::IObjectSink;
using media::StreamFormat;

struct ReadCounters {
    uint64_t chunks = 0;
    uint64_t dataChunks = 0;
    uint64_t skippedBytes = 0;        // of unreadable chunks, up to the next chunk found
    uint64_t unknownStreamChunks = 0; // data of a stream no description declared
    uint64_t untimedObjects = 0;
    uint64_t droppedLeadingVideo = 0; // before the first sequence header
    uint64_t truncatedBytes = 0;      // of a last chunk the file's end cut
};

class CReader : public media::IRecordingReader {
public:
    // HALVERN_E_AVC1_VIDEO when the video is H.264 without start codes; else as
    // media::IRecordingReader says.
    HRESULT Open(const wchar_t* path) override;
    // To the end of the timeline's data, past a directory that claims less, or to where the file
    // was cut. HALVERN_E_PROTECTED when protected data turns up after the part Open looked at.
    HRESULT Read(IObjectSink& sink) override { return ReadChunks(sink, UINT64_MAX); }

    const std::vector<StreamFormat>& Formats() const override { return formats_; }
    int64_t EarliestTime() const override { return earliestTime_; }
    // From the earliest time to the last timestamp near the end of the timeline.
    int64_t Duration() const override { return duration_; }
    uint64_t BytesDone() const override { return progress_.done; }
    uint64_t BytesTotal() const override { return progress_.total; }
    bool EndedCut() const override { return counters_.truncatedBytes > 0; }
    const ReadCounters& Counters() const { return counters_; }
    // What each stream's description declares, parallel to Formats().
    const std::vector<StreamType>& Types() const { return types_; }

    static constexpr size_t BlockBytes = 4u << 20;
    // More streams than any recording has; further descriptions are ignored.
    static constexpr size_t MaxStreams = 32;

private:
    struct StreamState {
        int64_t pendingTime = NoTime; // for the stream's next data chunk
        bool discontinuity = true;
        bool sawSequenceHeader = false;
        unsigned chunks = 0;          // data chunks so far, and whether any held its codec's sync word
        bool synced = false;
    };
    enum class Step { Next, Stop, Protected };

    HRESULT Probe();
    int64_t FindLastTime();
    HRESULT ReadChunks(IObjectSink& sink, uint64_t maxBytes);
    bool Damaged() const;
    Step ProcessChunk(const uint8_t* chunk, size_t size, IObjectSink& sink);
    Step DeliverData(size_t index, const uint8_t* data, size_t size, IObjectSink& sink);
    void AddStream(unsigned number, const uint8_t* chunk, size_t size, const TypeLayout& layout);
    size_t StreamIndex(unsigned number) const;
    HRESULT EndRead();
    void ResetStreams();

    UniqueFileHandle file_;
    CVirtualFile timeline_;
    std::vector<unsigned> numbers_;
    std::vector<StreamType> types_;
    std::vector<StreamFormat> formats_;
    std::vector<StreamState> states_;
    ReadCounters counters_;
    bool probing_ = false;
    CTimelineCursor cursor_;
    uint64_t startSize_ = 0;   // of the file when the read began
    int64_t earliestTime_ = 0;
    int64_t duration_ = 0;
    media::ReadProgress progress_;
};

} // namespace wtv
