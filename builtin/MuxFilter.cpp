#include "builtin/MuxFilter.h"

#include <algorithm>
#include <climits>
#include <string>


namespace {

// How far one input may run ahead of a silent other one before its Receive waits for it, and how
// long it waits before the multiplexer goes on without it. Above what the multiplexer looks ahead,
// so a source that delivers all streams on one thread is never held while another is needed.
constexpr size_t VideoBacklog = 2 * mpeg::MuxVideoLookaheadBytes;
constexpr size_t AudioBacklog = 4 * mpeg::MuxAudioLookaheadBytes;
constexpr DWORD StallTimeoutMs = 1000;
constexpr size_t MaxAudioPins = 8;

int64_t To90kHz(REFERENCE_TIME time)
{
    // Rounded to the nearest tick; 100 ns times of whole frames convert exactly.
    const REFERENCE_TIME scaled = time * 9;
    return scaled >= 0 ? (scaled + 500) / 1000 : -((-scaled + 500) / 1000);
}

// A sample's bytes and its start time (90 kHz; NoTimestamp when it has none).
struct SampleBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    int64_t time = mpeg::NoTimestamp;
};

HRESULT ReadSample(IMediaSample* sample, SampleBytes& bytes)
{
    BYTE* data = nullptr;
    const HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const long length = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    bytes = {data, static_cast<size_t>(length > 0 ? length : 0),
             SUCCEEDED(sample->GetTime(&start, &stop)) ? To90kHz(start) : mpeg::NoTimestamp};
    return S_OK;
}

// "Audio In" as graphs have always named the first, then "Audio In 2" on.
std::wstring AudioPinName(size_t index)
{
    return index == 0 ? L"Audio In" : L"Audio In " + std::to_wstring(index + 1);
}

} // namespace

CMuxFilter::CMuxFilter(const CLSID& classId, const GUID& outputSubtype)
    : CBaseFilter(classId)
{
    inputs_.reserve(1 + MaxAudioPins);
    inputs_.push_back({std::make_unique<CMuxInputPin>(this, static_cast<IMuxInputEvents&>(*this), L"Video In", MuxInputRole::Video)});
    AddAudioPin();
    captions_ = std::make_unique<CMuxInputPin>(this, static_cast<IMuxInputEvents&>(*this), L"Captions In", MuxInputRole::Captions);
    output_ = std::make_unique<CMuxOutputPin>(this, inputs_.front().pin.get(), outputSubtype);
}

CMuxFilter::~CMuxFilter() = default;

void CMuxFilter::AddAudioPin()
{
    const size_t index = inputs_.size() - 1;
    inputs_.push_back({std::make_unique<CMuxInputPin>(this, static_cast<IMuxInputEvents&>(*this), AudioPinName(index), MuxInputRole::Audio)});
}

int CMuxFilter::PinCount()
{
    return static_cast<int>(1 + offeredAudio_ + 2);
}

CBasePin* CMuxFilter::PinAt(int index)
{
    const size_t at = static_cast<size_t>(index);
    if (at <= offeredAudio_)
        return inputs_[at].pin.get();
    return at == offeredAudio_ + 1 ? static_cast<CBasePin*>(captions_.get()) : output_.get();
}

HRESULT CMuxFilter::SetCaptionPath(LPCWSTR path)
{
    CriticalSectionLock state(StateLock());
    if (State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    CriticalSectionLock streaming(StreamingLock());
    captionFile_.SetPath(path);
    return S_OK;
}

HRESULT CMuxFilter::CaptionPairsLost(ULONG* lost) const
{
    if (!lost)
        return E_POINTER;
    *lost = captionPairsLost_.load();
    return S_OK;
}

void CMuxFilter::OnConnectionChanged(CMuxInputPin& pin, bool connected)
{
    if (!pin.IsAudio())
        return;
    size_t lastConnected = 0; // one past the last audio pin that stays connected
    for (size_t i = 1; i < inputs_.size(); ++i) {
        const bool stays = inputs_[i].pin.get() == &pin ? connected : inputs_[i].pin->IsConnected();
        if (stays)
            lastConnected = i;
    }
    const size_t offered = std::min(lastConnected + 1, MaxAudioPins);
    while (inputs_.size() - 1 < offered)
        AddAudioPin();
    if (offered != offeredAudio_) {
        offeredAudio_ = offered;
        PinsChanged();
    }
}

HRESULT CMuxFilter::OnStartStreaming()
{
    return StartRun();
}

HRESULT CMuxFilter::StartRun()
{
    HRESULT hr = S_OK;
    mpeg::IMultiplexer& multiplexer = Multiplexer();
    multiplexer.Reset();
    for (const Input& input : inputs_) {
        const HRESULT refused = input.pin->IsConnected() ? Refuse(input.pin->Coding()) : S_OK;
        if (FAILED(refused))
            return refused;
    }
    for (Input& input : inputs_) {
        input.stream = input.pin->IsConnected() ? multiplexer.AddStream(input.pin->Coding()) : -1;
        if (input.stream >= 0)
            OnStreamAdded(input.stream, *input.pin);
        else if (input.pin->IsConnected())
            hr = VFW_E_UNSUPPORTED_STREAM; // a coding the multiplexer cannot cut into units yet
    }
    videoStream_ = inputs_.front().stream;
    const bool captionsIn = captions_->IsConnected();
    // Captions go into MPEG-2 video's user data, and into H.264's SEI.
    const mpeg::Coding video = videoStream_ >= 0 ? inputs_.front().pin->Coding() : mpeg::Coding::Mpeg2Video;
    avcVideo_ = video == mpeg::Coding::H264Video;
    const bool carries = videoStream_ >= 0 && (video == mpeg::Coding::Mpeg2Video || avcVideo_);
    throughInserter_ = carries && (captionsIn || captionFile_.Wanted());
    inserter_.Reset(captionsIn, avcVideo_);
    videoRun_.Reset();
    decoder_.Reset();
    displayOrder_.Reset();
    captionFile_.Start();
    jumpsTold_ = 0;
    outputResult_ = S_OK;
    endSent_ = false;
    captionPairsLost_ = 0;
    output_->DropPending();
    return hr;
}

void CMuxFilter::OnStopStreaming()
{
    output_->DropPending();
    for (const Input& input : inputs_)
        ::SetEvent(input.pin->ProgressEvent());
    ::SetEvent(captions_->ProgressEvent());
}

int CMuxFilter::StreamOf(const CMuxInputPin& pin) const
{
    for (const Input& input : inputs_) {
        if (input.pin.get() == &pin)
            return input.stream;
    }
    return -1;
}

void CMuxFilter::Signal()
{
    for (const Input& input : inputs_) {
        if (input.pin->Waiting())
            ::SetEvent(input.pin->ProgressEvent());
    }
}

bool CMuxFilter::WriteOutput(const uint8_t* data, size_t size)
{
    const HRESULT hr = output_->Write(data, size);
    if (hr == S_OK)
        return true;
    outputResult_ = hr;
    return false;
}

HRESULT CMuxFilter::Progress(bool ok)
{
    captionPairsLost_ = static_cast<ULONG>(std::min<uint64_t>(inserter_.PairsDropped(), ULONG_MAX));
    Signal();
    if (!ok)
        return outputResult_ != S_OK ? outputResult_ : E_FAIL;
    // Cue times count from the first picture shown, as players and ffmpeg's caption decoder count
    // them in the video.
    if (!captionFile_.ZeroKnown() && inserter_.FirstShownKnown() && inserter_.FirstShown() != mpeg::NoTimestamp)
        captionFile_.SetZero(inserter_.FirstShown());
    // And they run on where the output's times run on over a jump of the recording's clock.
    mpeg::ClosedJump jump;
    while (throughInserter_ && Multiplexer().Closed(videoStream_, jumpsTold_, jump)) {
        captionFile_.AddJump(jump);
        ++jumpsTold_;
    }
    if (!Multiplexer().Finished() || endSent_)
        return S_OK;
    endSent_ = true;
    displayOrder_.Finish();
    captionFile_.Finish();
    const HRESULT hr = output_->Flush();
    if (FAILED(hr))
        return hr;
    return output_->DeliverEndOfStream();
}

bool CMuxFilter::OnVideo(const mpeg::ByteRange* pieces, size_t count, int64_t time)
{
    return Multiplexer().Push(videoStream_, pieces, count, time);
}

HRESULT CMuxFilter::ReceiveCaptions(IMediaSample* sample)
{
    if (!throughInserter_ || outputResult_ != S_OK)
        return outputResult_;
    SampleBytes bytes;
    const HRESULT hr = ReadSample(sample, bytes);
    if (FAILED(hr))
        return hr;
    return Progress(inserter_.PushPairs(bytes.data, bytes.size, bytes.time));
}

HRESULT CMuxFilter::OnReceive(CMuxInputPin& pin, IMediaSample* sample)
{
    if (pin.IsCaptions())
        return ReceiveCaptions(sample);
    const int stream = StreamOf(pin);
    if (stream < 0)
        return VFW_E_WRONG_STATE;
    if (outputResult_ != S_OK)
        return outputResult_;
    SampleBytes bytes;
    const HRESULT hr = ReadSample(sample, bytes);
    if (FAILED(hr))
        return hr;
    if (stream == videoStream_ && throughInserter_) {
        // The inserter holds pictures until their pairs come; their timing is judged by where they
        // lay beside the other streams, not by when it lets them go. H.264's run is the inserter's
        // own count of the pictures it read, told before any of the push goes on.
        if (avcVideo_) {
            const int64_t ran = inserter_.VideoRun();
            if (!inserter_.HoldVideo(bytes.data, bytes.size, bytes.time))
                return Progress(false);
            Multiplexer().Arrived(stream, inserter_.VideoRun() - ran);
            return Progress(inserter_.PassVideo());
        }
        Multiplexer().Arrived(stream, videoRun_.Count(bytes.data, bytes.size));
        return Progress(inserter_.PushVideo(bytes.data, bytes.size, bytes.time));
    }
    return Progress(Multiplexer().Push(stream, bytes.data, bytes.size, bytes.time));
}

HRESULT CMuxFilter::OnEndOfStream(CMuxInputPin& pin)
{
    if (pin.IsCaptions())
        return throughInserter_ ? Progress(inserter_.EndCaptions()) : S_OK;
    const int stream = StreamOf(pin);
    if (stream < 0)
        return S_OK;
    bool ok = (stream != videoStream_ || !throughInserter_ || inserter_.EndVideo()) && Multiplexer().End(stream);
    // An input that has nothing queued is not waited for once another one has ended.
    for (const Input& other : inputs_) {
        if (ok && other.stream >= 0 && other.stream != stream && Multiplexer().Queued(other.stream) == 0)
            ok = Multiplexer().StopWaitingFor(other.stream);
    }
    HRESULT hr = Progress(ok);
    // What is written so far goes downstream now: another input may take long, or never end.
    if (SUCCEEDED(hr) && !endSent_)
        hr = output_->Flush();
    return hr;
}

HRESULT CMuxFilter::OnBeginFlush()
{
    return output_->DeliverBeginFlush();
}

HRESULT CMuxFilter::OnEndFlush()
{
    // Every input flushes on a seek; the run starts over once none is flushing.
    bool flushing = captions_->IsFlushing();
    for (const Input& input : inputs_)
        flushing = flushing || input.pin->IsFlushing();
    if (!flushing)
        StartRun();
    return output_->DeliverEndFlush();
}

bool CMuxFilter::OthersWaitedFor(const CMuxInputPin& pin)
{
    for (const Input& other : inputs_) {
        if (other.pin.get() != &pin && other.stream >= 0 && !other.pin->AtEndOfStream() && Multiplexer().WaitsFor(other.stream))
            return true;
    }
    return false;
}

bool CMuxFilter::MustWait(CMuxInputPin& pin)
{
    const int stream = StreamOf(pin);
    if (State() == State_Stopped || pin.IsFlushing() || stream < 0)
        return false;
    const size_t backlog = pin.IsVideo() ? VideoBacklog : AudioBacklog;
    return Multiplexer().Queued(stream) > backlog && OthersWaitedFor(pin);
}

bool CMuxFilter::OthersSilent(CMuxInputPin& pin)
{
    if (State() == State_Stopped || pin.IsFlushing() || StreamOf(pin) < 0)
        return false;
    for (const Input& other : inputs_) {
        if (other.pin.get() != &pin && other.stream >= 0 && !other.pin->AtEndOfStream() && Multiplexer().WaitsFor(other.stream) &&
            Multiplexer().Queued(other.stream) == 0)
            return true;
    }
    return false;
}

bool CMuxFilter::OnLendRoom(CMuxInputPin& pin, size_t size, std::shared_ptr<void>& keep, BYTE*& room)
{
    CriticalSectionLock streaming(StreamingLock());
    const int stream = StreamOf(pin);
    if (State() == State_Stopped || pin.IsFlushing() || stream < 0 || outputResult_ != S_OK)
        return false;
    if (stream == videoStream_ && throughInserter_)
        return inserter_.Lend(size, keep, room);
    return Multiplexer().Lend(stream, size, keep, room);
}

void CMuxFilter::OnWaitForRoom(CMuxInputPin& pin)
{
    WaitWhile(pin, &CMuxFilter::MustWait, true);
}

// An end that comes before the other inputs have delivered would have them not waited for, and
// their first units arrive late: their threads get a while to start.
void CMuxFilter::OnWaitForOthers(CMuxInputPin& pin)
{
    WaitWhile(pin, &CMuxFilter::OthersSilent, false);
}

void CMuxFilter::WaitWhile(CMuxInputPin& pin, bool (CMuxFilter::*condition)(CMuxInputPin&), bool giveUp)
{
    const DWORD started = ::GetTickCount();
    for (;;) {
        {
            CriticalSectionLock streaming(StreamingLock());
            pin.SetWaiting(false);
            if (!(this->*condition)(pin))
                return;
            const DWORD waited = ::GetTickCount() - started;
            if (waited >= StallTimeoutMs) {
                if (!giveUp)
                    return;
                // The others have stopped delivering: go on without them until they deliver again.
                bool ok = true;
                for (const Input& other : inputs_) {
                    if (ok && other.pin.get() != &pin && other.stream >= 0 && !other.pin->AtEndOfStream())
                        ok = Multiplexer().StopWaitingFor(other.stream);
                }
                Progress(ok);
                return;
            }
            // Reset under the lock that progress is signalled under, so no signal is lost.
            ::ResetEvent(pin.ProgressEvent());
            pin.SetWaiting(true);
        }
        ::WaitForSingleObject(pin.ProgressEvent(), StallTimeoutMs);
    }
}
