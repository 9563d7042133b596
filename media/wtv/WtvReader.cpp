#include "media/wtv/WtvReader.h"

#include <algorithm>
#include <cstring>

#include "base/MediaErrors.h"
#include "media/ByteCursor.h"
#include "media/FormatProbe.h"
#include "media/GuidBytes.h"
#include "media/LanguageCode.h"
#include "media/PayloadFormat.h"
#include "media/mpeg/VideoHeaders.h"
#include "media/wtv/WtvAttributes.h"
#include "media/wtv/WtvGuids.h"

namespace wtv {
namespace {

using media::SameGuid;
using media::Codec;

constexpr size_t NoStream = static_cast<size_t>(-1);
constexpr size_t ChunkHeadBytes = 32;
constexpr size_t TimeAt = 40;
constexpr size_t ScramblingAt = 44;
constexpr size_t LanguageAt = 44;
// The largest chunk taken for one: an object of the largest size the source passes on.
constexpr size_t MaxChunkBytes = media::MaxObjectSize + ChunkHeadBytes;
constexpr unsigned StreamNumberMask = 0x7FFF;
// Encrypted payload: this many chunks of a stream without one of its codec's sync words.
constexpr unsigned ProtectedChunks = media::CFormatProbe::FramesPerStream;
constexpr uint64_t ProbeBytes = 32u << 20;
// The duration comes from the timestamps in this much of the timeline's end.
constexpr uint64_t TailBytes = 1u << 20;
constexpr uint64_t AttributeBytes = 1u << 20;
// A damaged file: more than a tenth of the timeline so far unreadable, once that is this much.
constexpr uint64_t DamagedMinimum = 64u << 10;

uint32_t U32At(const uint8_t* data)
{
    media::CByteCursor cursor(data, 4);
    return cursor.U32();
}

int64_t TimeOf(const uint8_t* chunk)
{
    media::CByteCursor cursor(chunk + TimeAt, 8);
    const int64_t time = static_cast<int64_t>(cursor.U64());
    return time < 0 ? NoTime : time;
}

// A chunk GUID worth stopping at when looking for the next chunk after damage.
bool IsKnownChunk(const uint8_t* data)
{
    return SameGuid(data, Data) || SameGuid(data, Timestamp) || SameGuid(data, StreamDescription) ||
           SameGuid(data, StreamType2) || SameGuid(data, ProtectionInfo);
}

bool Deliverable(Declared declared)
{
    return declared == Declared::Mpeg2Video || declared == Declared::H264Video || declared == Declared::Avc1Video ||
           declared == Declared::Ac3 || declared == Declared::MpegAudio || declared == Declared::Eac3 ||
           declared == Declared::Aac;
}

// The codec a stream's type declares, Unknown for those without a pin.
Codec CodecDeclared(Declared declared)
{
    switch (declared) {
    case Declared::Mpeg2Video:
        return Codec::Mpeg2Video;
    case Declared::H264Video:
        return Codec::H264Video;
    case Declared::Ac3:
        return Codec::Ac3;
    case Declared::MpegAudio:
        return Codec::MpegAudio;
    case Declared::Eac3:
        return Codec::Eac3;
    case Declared::Aac:
        return Codec::Aac;
    default:
        return Codec::Unknown;
    }
}

// A payload confirms the codec its stream declares.
void Identify(const MediaObject& object, Declared declared, StreamFormat& format)
{
    const Codec codec = CodecDeclared(declared);
    if (media::ParsePayloadAs(codec, object.data, object.size, format))
        format.codec = codec;
}

} // namespace

HRESULT CReader::Open(const wchar_t* path)
{
    HRESULT hr = media::OpenShared(path, file_);
    if (FAILED(hr))
        return hr;
    CVirtualFile attributes;
    hr = MapFiles(file_.Get(), timeline_, attributes);
    if (FAILED(hr))
        return hr;
    cursor_.Reset(BlockBytes);
    // The media centre's own verdict on protection, in the first part of the attributes (the
    // thumbnail that may follow is of no interest).
    size_t got = 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(attributes.Length(), AttributeBytes));
    hr = attributes.Read(file_.Get(), 0, cursor_.Scratch(), wanted, got);
    if (FAILED(hr))
        return hr;
    if (MarkedProtected(cursor_.Scratch(), got))
        return HALVERN_E_PROTECTED;
    return Probe();
}

HRESULT CReader::Probe()
{
    numbers_.clear();
    types_.clear();
    formats_.clear();
    const auto identify = [this](const MediaObject& object, StreamFormat& format) {
        Identify(object, types_[object.streamIndex].declared, format);
    };
    // Length-prefixed H.264 is refused once the probe is over: there is nothing of it to wait for.
    const auto awaited = [this](size_t i) {
        return Deliverable(types_[i].declared) && types_[i].declared != Declared::Avc1Video;
    };
    media::CFormatProbe sink(formats_, identify, awaited);
    probing_ = true;
    // Reading stops at the sink or at the probe's share of the file, whichever comes first.
    HRESULT hr = ReadChunks(sink, ProbeBytes);
    probing_ = false;
    if (FAILED(hr) && hr != HALVERN_E_DAMAGED)
        return hr;
    // Encrypted payload has none of its codec's sync words.
    for (size_t i = 0; i < types_.size(); ++i)
        if (Deliverable(types_[i].declared) && states_[i].chunks >= ProtectedChunks && !states_[i].synced)
            return HALVERN_E_PROTECTED;
    for (const StreamType& type : types_)
        if (type.declared == Declared::Avc1Video)
            return HALVERN_E_AVC1_VIDEO;
    earliestTime_ = sink.Earliest();
    // Read ahead only: nothing is delivered yet.
    progress_.done = 0;
    const int64_t last = FindLastTime();
    duration_ = last > earliestTime_ ? last - earliestTime_ : 0;
    return sink.Outcome();
}

// The latest time of a delivered stream among the timestamp chunks at the end of the timeline.
int64_t CReader::FindLastTime()
{
    // The sectors' end rather than the directory's length, which a recorder may not have updated.
    const uint64_t end = timeline_.Extent();
    const uint64_t from = end > TailBytes ? (end - TailBytes) & ~uint64_t(7) : 0;
    size_t got = 0;
    uint8_t* tail = cursor_.Scratch();
    if (FAILED(timeline_.Read(file_.Get(), from, tail, static_cast<size_t>(end - from), got)))
        return 0;
    int64_t last = 0;
    for (size_t at = 0; at + TimeAt + 8 <= got; at += 8) {
        if (!SameGuid(tail + at, Timestamp))
            continue;
        const size_t index = StreamIndex(U32At(tail + at + 20) & StreamNumberMask);
        const Codec codec = index == NoStream ? Codec::Unknown : formats_[index].codec;
        if (media::IsAudioOrVideo(codec))
            last = std::max(last, TimeOf(tail + at));
    }
    return last;
}

void CReader::ResetStreams()
{
    states_.assign(numbers_.size(), StreamState());
    counters_ = ReadCounters();
    cursor_.Reset(BlockBytes);
}

size_t CReader::StreamIndex(unsigned number) const
{
    const auto found = std::find(numbers_.begin(), numbers_.end(), number);
    return found == numbers_.end() ? NoStream : static_cast<size_t>(found - numbers_.begin());
}

HRESULT CReader::ReadChunks(IObjectSink& sink, uint64_t maxBytes)
{
    if (!file_)
        return E_UNEXPECTED;
    ResetStreams();
    HRESULT hr = media::CurrentSize(file_.Get(), startSize_);
    if (FAILED(hr))
        return hr;
    progress_.total = startSize_;
    progress_.done = 0;
    for (;;) {
        const uint64_t position = cursor_.Position();
        if (position >= maxBytes)
            return S_OK;
        const size_t available = cursor_.Available();
        if (available < ChunkHeadBytes && !cursor_.Exhausted()) {
            hr = cursor_.Refill(file_.Get(), timeline_, ChunkHeadBytes);
            if (FAILED(hr))
                return hr;
            continue;
        }
        if (available < ChunkHeadBytes) {
            counters_.truncatedBytes = cursor_.Cut() ? available : 0;
            return EndRead();
        }
        const uint8_t* chunk = cursor_.Here();
        const size_t size = U32At(chunk + 16);
        const bool plausible = size >= ChunkHeadBytes && size <= MaxChunkBytes && !media::AllZero(chunk, sizeof(GUID));
        if (plausible && available < size && !cursor_.Exhausted()) {
            hr = cursor_.Refill(file_.Get(), timeline_, size);
            if (FAILED(hr))
                return hr;
            continue;
        }
        if (plausible && available >= size) {
            ++counters_.chunks;
            const Step step = ProcessChunk(chunk, size, sink);
            cursor_.PassChunk((size + 7) & ~size_t(7));
            const uint64_t length = std::max<uint64_t>(timeline_.Length(), 1);
            progress_.done = static_cast<uint64_t>(static_cast<double>(startSize_) *
                                               static_cast<double>(std::min(cursor_.Position(), length)) /
                                               static_cast<double>(length));
            if (step == Step::Stop)
                return S_FALSE;
            if (step == Step::Protected)
                return HALVERN_E_PROTECTED;
            continue;
        }
        // No whole chunk here. Past what the directory claims, the data has ended; where the file
        // was cut, the chunk it went through is not handed on.
        if (position >= timeline_.Length())
            return EndRead();
        if (plausible && cursor_.Cut()) {
            counters_.truncatedBytes = available;
            return EndRead();
        }
        // Damage: on to the next chunk found. Zeros up to the end are the unused tail of a sector.
        counters_.skippedBytes += cursor_.SkipToNextChunk(IsKnownChunk);
        for (StreamState& state : states_)
            state.discontinuity = true;
        const bool atEnd = cursor_.Exhausted() && cursor_.Available() < sizeof(GUID);
        if (atEnd && cursor_.SkippingZeros()) {
            counters_.skippedBytes -= cursor_.Skipping();
            return EndRead();
        }
        if (Damaged())
            return HALVERN_E_DAMAGED;
        if (atEnd)
            return EndRead();
        if (cursor_.Available() < ChunkHeadBytes && !cursor_.Exhausted()) {
            hr = cursor_.Refill(file_.Get(), timeline_, ChunkHeadBytes);
            if (FAILED(hr))
                return hr;
        }
    }
}

bool CReader::Damaged() const
{
    return counters_.skippedBytes >= DamagedMinimum && counters_.skippedBytes * 10 > cursor_.Position();
}

CReader::Step CReader::ProcessChunk(const uint8_t* chunk, size_t size, IObjectSink& sink)
{
    const unsigned number = U32At(chunk + 20) & StreamNumberMask;
    const size_t index = StreamIndex(number);
    if (SameGuid(chunk, Data)) {
        ++counters_.dataChunks;
        if (index == NoStream) {
            ++counters_.unknownStreamChunks;
            return Step::Next;
        }
        return DeliverData(index, chunk + ChunkHeadBytes, size - ChunkHeadBytes, sink);
    }
    if (SameGuid(chunk, Timestamp)) {
        // The time is the stream's next data chunk's, whatever comes between.
        if (index != NoStream && size >= TimeAt + 8)
            states_[index].pendingTime = TimeOf(chunk);
    } else if (SameGuid(chunk, StreamDescription)) {
        AddStream(number, chunk, size, DescriptionLayout);
    } else if (SameGuid(chunk, StreamType2)) {
        AddStream(number, chunk, size, Stream2Layout);
    } else if (SameGuid(chunk, ProtectionInfo)) {
        // Samples of a media stream that only the recording computer can decrypt.
        if (index != NoStream)
            return Step::Protected;
    } else if (SameGuid(chunk, LanguageEvent)) {
        // Recorders tell it before the stream's data; the pins are made from what the read-ahead saw.
        if (probing_ && index != NoStream && size >= LanguageAt + 3)
            media::LanguageFromLetters(chunk + LanguageAt, formats_[index].language);
    } else if (SameGuid(chunk, DvbScrambling)) {
        // A broadcast that was never descrambled: its payload is noise.
        if (size >= ScramblingAt + 4 && U32At(chunk + ScramblingAt) != 0)
            return Step::Protected;
    }
    return Step::Next;
}

void CReader::AddStream(unsigned number, const uint8_t* chunk, size_t size, const TypeLayout& layout)
{
    // The streams are those the read-ahead met; the read after it has a pin for no other.
    StreamType type;
    if (!probing_ || StreamIndex(number) != NoStream || numbers_.size() >= MaxStreams ||
        !ParseStreamType(chunk, size, layout, type))
        return;
    StreamFormat format;
    format.majorType = type.majorType;
    format.subtype = type.subtype;
    if (type.declared == Declared::Captions)
        format.codec = Codec::Captions;
    numbers_.push_back(number);
    types_.push_back(type);
    format.audio.aacConfig = type.aacConfig;
    format.audio.aacDeclared = type.declared == Declared::Aac;
    formats_.push_back(format);
    states_.emplace_back();
}

CReader::Step CReader::DeliverData(size_t index, const uint8_t* data, size_t size, IObjectSink& sink)
{
    StreamState& state = states_[index];
    const Declared declared = types_[index].declared;
    if (state.chunks < ProtectedChunks && !state.synced) {
        ++state.chunks;
        state.synced = HasSyncWord(declared, data, size);
    }
    MediaObject object;
    object.streamIndex = index;
    object.stream = numbers_[index];
    const int64_t time = state.pendingTime;
    state.pendingTime = NoTime;
    if (time == NoTime) {
        // Without a time of its own the object goes on as the continuation of the one before.
        object.hasFrameFlags = true;
        ++counters_.untimedObjects;
    } else {
        object.hasTiming = true;
        object.rtStart = time;
        object.time = time;
    }
    if ((declared == Declared::Mpeg2Video || declared == Declared::H264Video) && !state.sawSequenceHeader) {
        if (!media::TrimToVideoStart(data, size, CodecDeclared(declared))) {
            ++counters_.droppedLeadingVideo;
            return Step::Next;
        }
        state.sawSequenceHeader = true;
    }
    object.data = data;
    object.size = size;
    object.discontinuity = state.discontinuity;
    state.discontinuity = false;
    return sink.OnObject(object) ? Step::Next : Step::Stop;
}

// The read reached the end of the data. A file now shorter than when reading began lost part of
// itself meanwhile.
HRESULT CReader::EndRead()
{
    return progress_.Finish(file_.Get(), startSize_);
}

} // namespace wtv
