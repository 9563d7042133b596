#include "media/asf/AsfReader.h"

#include <algorithm>
#include <cstring>

#include "base/MediaErrors.h"
#include "media/ByteCursor.h"
#include "media/FormatProbe.h"
#include "media/PayloadFormat.h"
#include "media/asf/AsfGuids.h"

namespace asf {
namespace {

using media::CByteCursor;
using media::Codec;
using media::ReadAt;

constexpr size_t NoStream = static_cast<size_t>(-1);
// Below this, an all-zero video object may be a real (if odd) picture fragment.
constexpr size_t ZeroObjectMinimum = 4096;
// The share of the file the read-ahead for codecs and the earliest time may take.
constexpr uint64_t ProbeBytes = 32u << 20;
// A damaged file: this many unreadable packets in a row, or more than a tenth of those so far.
constexpr uint64_t DamagedRun = 64;
constexpr uint64_t DamagedMinimum = 8;
constexpr uint64_t ObjectHeadSize = 24; // GUID and size

// A payload shows its codec whatever the container's tags claim.
void Identify(const MediaObject& object, StreamFormat& format)
{
    // Raw AAC has no sync word: a stream whose properties declare AAC is read as nothing else.
    if (format.audio.aacDeclared) {
        if (media::ParsePayloadAs(Codec::Aac, object.data, object.size, format))
            format.codec = Codec::Aac;
        return;
    }
    // The first codec whose headers the payload starts with.
    for (const Codec codec : {Codec::Mpeg2Video, Codec::Ac3, Codec::MpegAudio, Codec::H264Video, Codec::Eac3}) {
        if (media::ParsePayloadAs(codec, object.data, object.size, format)) {
            format.codec = codec;
            return;
        }
    }
}

} // namespace

HRESULT CReader::Open(const wchar_t* path)
{
    HRESULT hr = media::OpenShared(path, file_);
    if (FAILED(hr))
        return hr;

    std::vector<uint8_t> head(64 * 1024);
    size_t got = 0;
    hr = ReadAt(file_.Get(), 0, head.data(), head.size(), got);
    if (FAILED(hr))
        return hr;
    const uint64_t announced = AnnouncedHeaderSize(head.data(), got);
    if (announced == 0)
        return got < 30 && got >= 16 && SameGuid(head.data(), HeaderObject) ? HALVERN_E_BAD_HEADER
                                                                           : HALVERN_E_NOT_RECORDING;
    if (announced > MaxHeaderSize)
        return HALVERN_E_BAD_HEADER;
    if (announced + DataObjectHeadSize > head.size()) {
        head.resize(static_cast<size_t>(announced + DataObjectHeadSize));
        hr = ReadAt(file_.Get(), 0, head.data(), head.size(), got);
        if (FAILED(hr))
            return hr;
    }
    hr = ParseHeader(head.data(), got, header_);
    if (FAILED(hr))
        return hr;
    if (header_.IsProtected())
        return HALVERN_E_PROTECTED;

    std::fill(std::begin(streamIndexByNumber_), std::end(streamIndexByNumber_), NoStream);
    formats_.assign(header_.streams.size(), StreamFormat());
    for (size_t i = 0; i < header_.streams.size(); ++i) {
        const StreamInfo& stream = header_.streams[i];
        streamIndexByNumber_[stream.number] = i;
        formats_[i].majorType = stream.majorType;
        formats_[i].subtype = stream.subtype;
        std::memcpy(formats_[i].language, stream.language, 3);
        if (stream.majorType == Line21Captions || stream.majorType == AtscCaptions)
            formats_[i].codec = Codec::Captions;
        formats_[i].audio.aacDeclared = media::DeclaredAac(stream.format.data(), stream.format.size(), formats_[i].audio.aacConfig);
    }
    // Whole packets per block, at least one.
    const size_t packets = std::max<size_t>(1, BlockBytes / header_.packetSize);
    block_.resize(packets * header_.packetSize);
    return Probe();
}

HRESULT CReader::Probe()
{
    // Captions have no frames to wait for.
    media::CFormatProbe sink(formats_, Identify, [this](size_t i) { return formats_[i].codec != Codec::Captions; });
    // Reading stops at the sink or at the probe's share of the file, whichever comes first.
    HRESULT hr = ReadPackets(sink, ProbeBytes / header_.packetSize + 1);
    if (FAILED(hr) && hr != HALVERN_E_DAMAGED)
        return hr;
    earliestTime_ = sink.Earliest();
    // Read ahead only: nothing is delivered yet.
    progress_.done = 0;
    duration_ = FindDuration();
    return sink.Outcome();
}

int64_t CReader::FindDuration()
{
    const int64_t preroll = static_cast<int64_t>(header_.prerollMs) * 10000;
    const int64_t declared = static_cast<int64_t>(header_.playDuration) - preroll;
    if (declared > 0 && !header_.broadcast)
        return declared;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_.Get(), &size) || static_cast<uint64_t>(size.QuadPart) < header_.dataOffset)
        return 0;
    const uint64_t packets = (static_cast<uint64_t>(size.QuadPart) - header_.dataOffset) / header_.packetSize;
    // The send time of the last whole packet that parses, looking back a few packets at most.
    for (uint64_t back = 1; back <= std::min<uint64_t>(packets, 16); ++back) {
        size_t got = 0;
        if (FAILED(ReadAt(file_.Get(), header_.dataOffset + (packets - back) * header_.packetSize, block_.data(),
                          header_.packetSize, got)) ||
            got < header_.packetSize)
            return 0;
        if (ParsePacket(block_.data(), header_.packetSize, packet_))
            return std::max<int64_t>(0, static_cast<int64_t>(packet_.sendTimeMs) * 10000 - preroll);
    }
    return 0;
}

void CReader::ResetStreams()
{
    states_.assign(header_.streams.size(), StreamState());
    counters_ = ReadCounters();
    consecutiveBad_ = 0;
}

size_t CReader::StreamIndex(unsigned number) const
{
    return streamIndexByNumber_[number & 0x7F];
}

HRESULT CReader::ReadPackets(IObjectSink& sink, uint64_t maxPackets)
{
    if (!file_)
        return E_UNEXPECTED;
    ResetStreams();
    const uint32_t packetSize = header_.packetSize;
    // The header's packet count and data size do not end the reading: a recorder may leave them
    // short, as it leaves them unwritten while it records. The file's end, or an index after the
    // packets, does.
    uint64_t fileSize = 0;
    HRESULT hr = CurrentSize(fileSize);
    if (FAILED(hr))
        return hr;
    uint64_t position = header_.dataOffset; // of the next packet
    endedCut_ = false;
    progress_.done = position;
    progress_.total = std::max(position, fileSize);
    for (;;) {
        size_t got = 0;
        hr = ReadAt(file_.Get(), position, block_.data(), block_.size(), got);
        if (FAILED(hr))
            return hr;
        const size_t whole = got / packetSize;
        for (size_t i = 0; i < whole; ++i, position += packetSize) {
            const uint8_t* data = block_.data() + i * packetSize;
            if (counters_.packets >= maxPackets) {
                DropUnfinishedObjects();
                return S_OK;
            }
            if (EndsData(data, position, fileSize))
                return EndRead(position, fileSize);
            bool stopped = false;
            if (!ProcessPacket(data, sink, stopped))
                return HALVERN_E_DAMAGED;
            progress_.done = position + packetSize;
            if (stopped)
                return S_FALSE;
        }
        if (got == block_.size()) {
            // A recording still being written grows as it is read.
            fileSize = std::max(fileSize, position);
            progress_.total = fileSize;
            continue;
        }
        // The end of the file; a last packet cut short there is not a damaged one. Bytes after the
        // data the header declares whole are an index (or what a muxer puts there), not a cut.
        counters_.truncatedBytes = got - whole * packetSize;
        endedCut_ = counters_.truncatedBytes > 0 && !HeaderEndsDataAt(position);
        return EndRead(position + counters_.truncatedBytes, fileSize);
    }
}

bool CReader::EndsData(const uint8_t* data, uint64_t offset, uint64_t fileSize)
{
    // Neither index can be taken for a packet, wherever it lies: the first byte of each has the
    // error-correction bit set together with bits that a packet's first byte never has.
    if (SameGuid(data, SimpleIndexObject) || SameGuid(data, IndexObject))
        return true;
    // Where the header says the data ends, any whole object that is not a packet ends it too.
    if (!HeaderEndsDataAt(offset))
        return false;
    CByteCursor head(data + 16, 8);
    const uint64_t objectSize = head.U64();
    return objectSize >= ObjectHeadSize && fileSize > offset && objectSize <= fileSize - offset &&
           !ParsePacket(data, header_.packetSize, packet_);
}

// A finished recording's header tells where its data ends, by its size or its packet count.
bool CReader::HeaderEndsDataAt(uint64_t offset) const
{
    if (header_.broadcast)
        return false;
    const uint64_t dataEnd = header_.dataOffset - DataObjectHeadSize + header_.dataSize;
    const uint64_t countEnd = header_.dataOffset + header_.packetCount * header_.packetSize;
    return (offset == dataEnd && header_.dataSize > DataObjectHeadSize) || (offset == countEnd && header_.packetCount != 0);
}

// The read reached the end of the data at `end`. A file now shorter than that, or than it was when
// reading began, lost part of itself meanwhile.
HRESULT CReader::EndRead(uint64_t end, uint64_t fileSize)
{
    // An object that the data's end goes through was cut off with the file.
    for (const StreamState& state : states_)
        endedCut_ = endedCut_ || state.assembling;
    DropUnfinishedObjects();
    return progress_.Finish(file_.Get(), std::max(end, fileSize));
}

// An object still being rebuilt at the end was cut off with the file: dropped.
void CReader::DropUnfinishedObjects()
{
    for (StreamState& state : states_)
        if (state.assembling)
            ++counters_.droppedObjects;
}

HRESULT CReader::CurrentSize(uint64_t& size) const
{
    return media::CurrentSize(file_.Get(), size);
}

void CReader::SkipBadPacket()
{
    ++counters_.badPackets;
    ++consecutiveBad_;
    for (StreamState& state : states_) {
        if (state.assembling)
            ++counters_.droppedObjects;
        state.assembling = false;
        state.discontinuity = true;
    }
}

bool CReader::ProcessPacket(const uint8_t* data, IObjectSink& sink, bool& stopped)
{
    ++counters_.packets;
    if (!ParsePacket(data, header_.packetSize, packet_)) {
        SkipBadPacket();
        return consecutiveBad_ < DamagedRun &&
               (counters_.badPackets < DamagedMinimum || counters_.badPackets * 10 <= counters_.packets);
    }
    consecutiveBad_ = 0;
    for (unsigned i = 0; i < packet_.count && !stopped; ++i) {
        const Payload& payload = packet_.payloads[i];
        const size_t index = StreamIndex(payload.stream);
        if (index == NoStream) {
            ++counters_.unknownStreamPayloads;
            continue;
        }
        stopped = payload.compressed ? !AddCompressed(payload, index, sink) : !AddFragment(payload, index, sink);
    }
    return true;
}

void CReader::ReadExtensions(const Payload& payload, const StreamInfo& stream, MediaObject& object) const
{
    object.hasTiming = false;
    object.hasFrameFlags = false;
    object.rtStart = NoTime;
    object.rtEnd = NoTime;
    CByteCursor cursor(payload.extensions, payload.extensionsSize);
    for (const PayloadExtension& extension : stream.extensions) {
        const uint32_t size = extension.size == VariableSize ? cursor.U16() : extension.size;
        const uint8_t* data = cursor.Here();
        // Data that does not fit its declared size leaves the object without media-centre times.
        if (!cursor.Skip(size)) {
            object.hasTiming = false;
            object.hasFrameFlags = false;
            return;
        }
        if (extension.id == TimingExtension && size >= 24) {
            CByteCursor timing(data + 8, 16);
            object.rtStart = static_cast<int64_t>(timing.U64());
            object.rtEnd = static_cast<int64_t>(timing.U64());
            object.hasTiming = true;
        } else if (extension.id == FrameExtension && size >= 1) {
            object.frameFlags = data[0];
            object.hasFrameFlags = true;
        }
    }
}

bool CReader::AddFragment(const Payload& payload, size_t index, IObjectSink& sink)
{
    StreamState& state = states_[index];
    // Without replicated data the payload is a whole object.
    const uint32_t objectSize = payload.objectSize != 0 || payload.extensions ? payload.objectSize : payload.size;
    const bool fits = objectSize != 0 && objectSize <= MaxObjectSize && payload.offset <= objectSize &&
                      payload.size <= objectSize - payload.offset;
    if (!fits) {
        if (state.assembling)
            ++counters_.droppedObjects;
        ++counters_.droppedObjects;
        state.assembling = false;
        state.discontinuity = true;
        return true;
    }
    if (payload.offset == 0) {
        if (state.assembling) {
            ++counters_.droppedObjects;
            state.discontinuity = true;
        }
        MediaObject& object = state.pending;
        object = MediaObject();
        object.streamIndex = index;
        object.stream = payload.stream;
        object.keyFrame = payload.keyFrame;
        object.presentationMs = payload.presentationMs;
        ReadExtensions(payload, header_.streams[index], object);
        if (payload.size == objectSize) {
            // The common case: the object is whole in this payload and goes out without a copy.
            state.assembling = false;
            object.data = payload.data;
            object.size = payload.size;
            return Deliver(object, state, sink);
        }
        state.assembling = true;
        state.objectNumber = payload.objectNumber;
        state.objectSize = objectSize;
        // Put together where the sink takes it from, when it has room.
        state.room = sink.ObjectRoom(index, objectSize);
        state.buffer.clear();
        state.filled = 0;
        Append(state, payload);
        return true;
    }
    if (!state.assembling || state.objectNumber != payload.objectNumber || state.objectSize != objectSize ||
        state.filled != payload.offset) {
        if (state.assembling)
            ++counters_.droppedObjects;
        state.assembling = false;
        state.discontinuity = true;
        return true;
    }
    Append(state, payload);
    if (state.filled < objectSize)
        return true;
    state.assembling = false;
    state.pending.data = state.room ? state.room : state.buffer.data();
    state.pending.size = state.filled;
    return Deliver(state.pending, state, sink);
}

// Fragments fit: the object's size bounds the offsets.
void CReader::Append(StreamState& state, const Payload& payload)
{
    if (state.room)
        std::memcpy(state.room + state.filled, payload.data, payload.size);
    else
        state.buffer.insert(state.buffer.end(), payload.data, payload.data + payload.size);
    state.filled += payload.size;
}

bool CReader::AddCompressed(const Payload& payload, size_t index, IObjectSink& sink)
{
    StreamState& state = states_[index];
    if (state.assembling) {
        ++counters_.droppedObjects;
        state.assembling = false;
        state.discontinuity = true;
    }
    uint32_t position = 0;
    for (unsigned k = 0; position < payload.size; ++k) {
        const uint32_t length = payload.data[position];
        MediaObject object;
        object.streamIndex = index;
        object.stream = payload.stream;
        object.keyFrame = payload.keyFrame;
        object.presentationMs = payload.presentationMs + k * payload.timeDelta;
        object.data = payload.data + position + 1;
        object.size = length;
        position += 1 + length;
        if (!Deliver(object, state, sink))
            return false;
    }
    return true;
}

bool CReader::Deliver(MediaObject& object, StreamState& state, IObjectSink& sink)
{
    if (header_.streams[object.streamIndex].kind == StreamKind::Video) {
        if (object.size >= ZeroObjectMinimum && media::AllZero(object.data, object.size)) {
            ++counters_.droppedZeroVideo;
            return true;
        }
        if (!state.sawSequenceHeader) {
            if (!media::TrimToVideoStart(object.data, object.size, formats_[object.streamIndex].codec)) {
                ++counters_.droppedLeadingVideo;
                return true;
            }
            state.sawSequenceHeader = true;
        }
    }
    const int64_t presentationTime =
        (static_cast<int64_t>(object.presentationMs) - static_cast<int64_t>(header_.prerollMs)) * 10000;
    if (object.hasTiming && object.rtStart != NoTime) {
        object.time = object.rtStart;
        state.clockKnown = true;
        state.clockOffset = object.rtStart - presentationTime;
    } else {
        object.time = presentationTime + (state.clockKnown ? state.clockOffset : 0);
    }
    object.discontinuity = state.discontinuity;
    state.discontinuity = false;
    return sink.OnObject(object);
}

} // namespace asf
