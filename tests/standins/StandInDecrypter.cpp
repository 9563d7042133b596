// Stand-in for the decrypt/tag filter after the recording source: passes upstream's samples on as
// they came, as the fault (StandIns.h) allows. A black-box Halvern.exe inherits it from its test.

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "filters/BaseFilter.h"
#include "filters/FilterObject.h"
#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"
#include "tests/standins/StandIns.h"

namespace {

constexpr HRESULT DecrypterFaultError = HRESULT_FROM_WIN32(ERROR_READ_FAULT);

struct DecrypterFault {
    enum Kind { None, Pace, Abort, Refuse, Drop, NeverEnd, HangStop } kind = None;
    // media seconds per wall second, the media second to abort or refuse at, or stop's seconds
    double value = 0.0;
};

// The fault as written, "NAME[=VALUE]".
DecrypterFault ParseFault(const std::string& text)
{
    double value = 0.0;
    if (std::sscanf(text.c_str(), "pace=%lf", &value) == 1 && value > 0)
        return {DecrypterFault::Pace, value};
    if (std::sscanf(text.c_str(), "abort=%lf", &value) == 1 && value >= 0)
        return {DecrypterFault::Abort, value};
    if (std::sscanf(text.c_str(), "refuse=%lf", &value) == 1 && value >= 0)
        return {DecrypterFault::Refuse, value};
    if (std::sscanf(text.c_str(), "hang-stop=%lf", &value) == 1 && value >= 0)
        return {DecrypterFault::HangStop, value};
    return {text == "drop" ? DecrypterFault::Drop : text == "never-end" ? DecrypterFault::NeverEnd : DecrypterFault::None};
}

// Offers whatever the input carries, once it is connected.
class CDecrypterOutputPin : public CBaseOutputPin {
public:
    CDecrypterOutputPin(CBaseFilter* decrypter, CBaseInputPin& input)
        : CBaseOutputPin(decrypter, L"Out"), input_(input), seeking_(static_cast<IPin*>(this), &input) { SetSeeking(&seeking_); }
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        if (!input_.IsConnected())
            return VFW_E_NOT_CONNECTED;
        const AM_MEDIA_TYPE& carried = input_.ConnectedType().Get();
        return type.majortype == carried.majortype && type.subtype == carried.subtype ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index == 0 && input_.IsConnected())
            type = input_.ConnectedType();
        return index == 0 && input_.IsConnected() ? S_OK : VFW_S_NO_MORE_ITEMS;
    }

protected:
    // Upstream's samples go on themselves, so this allocator is never drawn from.
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override { properties = {1, 1, 1, 0}; }

private:
    CBaseInputPin& input_;
    CSeekingPassThrough seeking_;
};

// Passes samples to the output as the fault of this run allows.
class CDecrypterInputPin : public CBaseInputPin {
public:
    CDecrypterInputPin(CBaseFilter* decrypter, CDecrypterOutputPin& output) : CBaseInputPin(decrypter, L"In(Enc/Tag)"), output_(output) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return type.majortype == MEDIATYPE_Audio || type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE; }

    DecrypterFault fault;
    // Wall time when the graph ran; 0 until it runs. Halvern never pauses a running graph.
    std::atomic<ULONGLONG> runningSince{0};

protected:
    HRESULT OnReceive(IMediaSample* sample) override
    {
        if (fault.kind == DecrypterFault::Drop)
            return S_OK;
        REFERENCE_TIME start = 0, stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        if (timed && fault.kind == DecrypterFault::Abort && start >= static_cast<REFERENCE_TIME>(fault.value * 1e7 + 0.5)) {
            filter_->NotifyEvent(EC_ERRORABORT, DecrypterFaultError, 0);
            return DecrypterFaultError;
        }
        if (timed && fault.kind == DecrypterFault::Refuse && start >= static_cast<REFERENCE_TIME>(fault.value * 1e7 + 0.5))
            return S_FALSE; // takes no more, quietly
        if (timed && fault.kind == DecrypterFault::Pace && !WaitForPace(start))
            return S_FALSE;
        return output_.Deliver(sample);
    }
    HRESULT OnEndOfStream() override
    {
        const bool ends = fault.kind != DecrypterFault::NeverEnd && fault.kind != DecrypterFault::HangStop;
        return ends ? output_.DeliverEndOfStream() : S_OK;
    }

private:
    bool WaitForPace(REFERENCE_TIME start)
    {
        const ULONGLONG due = static_cast<ULONGLONG>(std::max<REFERENCE_TIME>(start, 0) / (fault.value * 10000.0));
        for (;;) {
            if (filter_->State() == State_Stopped || IsFlushing())
                return false;
            const ULONGLONG since = runningSince.load();
            const ULONGLONG now = since ? ::GetTickCount64() - since : 0;
            if (now >= due)
                return true;
            // Short steps, so that a stop or a flush ends the wait at once.
            ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(due - now, 20)));
        }
    }

    CDecrypterOutputPin& output_;
};

class CStandInDecrypter : public CFilterObject<CStandInDecrypter, CBaseFilter> {
public:
    CStandInDecrypter() : CFilterObject(StandInDecrypterClsid), output_(this, input_), input_(this, output_) {}

    int PinCount() override { return 2; }
    CBasePin* PinAt(int index) override { return index == 0 ? static_cast<CBasePin*>(&input_) : &output_; }

protected:
    HRESULT OnStartStreaming() override
    {
        char text[MAX_PATH] = {};
        const DWORD length = ::GetEnvironmentVariableA(DecrypterFaultVariable, text, sizeof(text));
        input_.fault = ParseFault(length < sizeof(text) ? text : "");
        input_.runningSince = 0;
        return S_OK;
    }
    HRESULT OnRun(REFERENCE_TIME) override { input_.runningSince = ::GetTickCount64(); return S_OK; }
    void OnStopStreaming() override
    {
        if (input_.fault.kind == DecrypterFault::HangStop)
            ::Sleep(static_cast<DWORD>(input_.fault.value * 1000));
    }

private:
    // The output is built first and only keeps a reference to the input until it connects.
    CDecrypterOutputPin output_;
    CDecrypterInputPin input_;
};

} // namespace

HRESULT CreateStandInDecrypter(IUnknown** object)
{
    return CStandInDecrypter::Create(object);
}
