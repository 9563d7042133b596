#include "builtin/ProgramStreamMux.h"

#include "builtin/BuiltinClasses.h"
#include "builtin/MuxPins.h"

namespace {

// How far one input may run ahead of a silent other one before its Receive waits for it, and how
// long it waits before the multiplexer goes on without it. Above what the multiplexer looks ahead,
// so a source that delivers all streams on one thread is never held while the other is needed.
constexpr size_t VideoBacklog = 2 * mpeg::CProgramStreamMultiplexer::VideoLookaheadBytes;
constexpr size_t AudioBacklog = 4 * mpeg::CProgramStreamMultiplexer::AudioLookaheadBytes;
constexpr DWORD StallTimeoutMs = 1000;

int64_t To90kHz(REFERENCE_TIME time)
{
    // Rounded to the nearest tick; 100 ns times of whole frames convert exactly.
    const REFERENCE_TIME scaled = time * 9;
    return scaled >= 0 ? (scaled + 500) / 1000 : -((-scaled + 500) / 1000);
}

} // namespace

CProgramStreamMux::CProgramStreamMux()
    : CFilterObject(CLSID_HalvernProgramStreamMux),
      video_(std::make_unique<CMuxInputPin>(this, L"Video In", true)),
      audio_(std::make_unique<CMuxInputPin>(this, L"Audio In", false)),
      output_(std::make_unique<CMuxOutputPin>(this, video_.get())),
      multiplexer_(*this)
{
}

CProgramStreamMux::~CProgramStreamMux() = default;

int CProgramStreamMux::PinCount()
{
    return 3;
}

CBasePin* CProgramStreamMux::PinAt(int index)
{
    switch (index) {
    case 0:
        return video_.get();
    case 1:
        return audio_.get();
    default:
        return output_.get();
    }
}

HRESULT CProgramStreamMux::OnStartStreaming()
{
    StartRun();
    return S_OK;
}

void CProgramStreamMux::StartRun()
{
    multiplexer_.Reset();
    videoStream_ = video_->IsConnected() ? multiplexer_.AddStream(mpeg::StreamKind::Mpeg2Video) : -1;
    audioStream_ = audio_->IsConnected() ? multiplexer_.AddStream(audio_->Kind()) : -1;
    outputResult_ = S_OK;
    endSent_ = false;
    damaged_ = 0;
    output_->DropPending();
}

void CProgramStreamMux::OnStopStreaming()
{
    output_->DropPending();
    ::SetEvent(video_->ProgressEvent());
    ::SetEvent(audio_->ProgressEvent());
}

int CProgramStreamMux::StreamOf(const CMuxInputPin& pin) const
{
    return pin.IsVideo() ? videoStream_ : audioStream_;
}

CMuxInputPin& CProgramStreamMux::Other(const CMuxInputPin& pin)
{
    return pin.IsVideo() ? *audio_ : *video_;
}

void CProgramStreamMux::Signal()
{
    if (video_->Waiting())
        ::SetEvent(video_->ProgressEvent());
    if (audio_->Waiting())
        ::SetEvent(audio_->ProgressEvent());
}

bool CProgramStreamMux::WritePack(const uint8_t* pack)
{
    const HRESULT hr = output_->Write(pack, mpeg::PackSize);
    if (hr == S_OK)
        return true;
    outputResult_ = hr;
    return false;
}

HRESULT CProgramStreamMux::Progress(bool ok)
{
    damaged_ = multiplexer_.Damaged();
    Signal();
    if (!ok)
        return outputResult_ != S_OK ? outputResult_ : E_FAIL;
    if (!multiplexer_.Finished() || endSent_)
        return S_OK;
    endSent_ = true;
    const HRESULT hr = output_->Flush();
    if (FAILED(hr))
        return hr;
    return output_->DeliverEndOfStream();
}

HRESULT CProgramStreamMux::Receive(CMuxInputPin& pin, IMediaSample* sample)
{
    const int stream = StreamOf(pin);
    if (stream < 0)
        return VFW_E_WRONG_STATE;
    if (outputResult_ != S_OK)
        return outputResult_;
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const long length = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    const int64_t time = SUCCEEDED(sample->GetTime(&start, &stop)) ? To90kHz(start) : mpeg::NoTimestamp;
    return Progress(multiplexer_.Push(stream, data, static_cast<size_t>(length > 0 ? length : 0), time));
}

HRESULT CProgramStreamMux::EndOfStream(CMuxInputPin& pin)
{
    const int stream = StreamOf(pin);
    if (stream < 0)
        return S_OK;
    bool ok = multiplexer_.End(stream);
    // An input that has delivered nothing is not waited for once the other one has ended.
    const int other = StreamOf(Other(pin));
    if (ok && other >= 0 && multiplexer_.Queued(other) == 0)
        ok = multiplexer_.StopWaitingFor(other);
    HRESULT hr = Progress(ok);
    // What is written so far goes downstream now: the other input may take long, or never end.
    if (SUCCEEDED(hr) && !endSent_)
        hr = output_->Flush();
    return hr;
}

HRESULT CProgramStreamMux::BeginFlush()
{
    return output_->DeliverBeginFlush();
}

HRESULT CProgramStreamMux::EndFlush()
{
    // Both inputs flush on a seek; the run starts over once neither is flushing.
    if (!video_->IsFlushing() && !audio_->IsFlushing())
        StartRun();
    return output_->DeliverEndFlush();
}

bool CProgramStreamMux::MustWait(CMuxInputPin& pin)
{
    const int stream = StreamOf(pin);
    const int other = StreamOf(Other(pin));
    if (State() == State_Stopped || pin.IsFlushing() || stream < 0 || other < 0 || Other(pin).AtEndOfStream())
        return false;
    const size_t backlog = pin.IsVideo() ? VideoBacklog : AudioBacklog;
    return multiplexer_.Queued(stream) > backlog && multiplexer_.WaitsFor(other);
}

void CProgramStreamMux::WaitForRoom(CMuxInputPin& pin)
{
    const DWORD started = ::GetTickCount();
    for (;;) {
        {
            CriticalSectionLock streaming(StreamingLock());
            pin.SetWaiting(false);
            if (!MustWait(pin))
                return;
            const DWORD waited = ::GetTickCount() - started;
            if (waited >= StallTimeoutMs) {
                // The other input has stopped delivering: go on without it until it delivers again.
                Progress(multiplexer_.StopWaitingFor(StreamOf(Other(pin))));
                return;
            }
            // Reset under the lock that progress is signalled under, so no signal is lost.
            ::ResetEvent(pin.ProgressEvent());
            pin.SetWaiting(true);
        }
        ::WaitForSingleObject(pin.ProgressEvent(), StallTimeoutMs);
    }
}
