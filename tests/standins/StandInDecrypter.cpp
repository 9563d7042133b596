// Stand-in for the decrypt/tag filter, which the internal graph puts right after the recording
// source: "In(Enc/Tag)" passes every sample on to "Out" as it came. It is also where tests inject
// the faults the built-in filters never show: at each start of streaming it reads
// HALVERN_DECRYPT_FAULT (see StandIns.h), so a black-box Halvern.exe inherits the fault from its
// test and an in-process test sets it for a moment.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "filters/Adopt.h"
#include "filters/BaseFilter.h"
#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"
#include "tests/standins/StandIns.h"

using Microsoft::WRL::ComPtr;

namespace {

struct DecrypterFault {
    enum Kind { None, Pace, Abort, Drop, NeverEnd } kind = None;
    double value = 0.0;   // media seconds per wall second, or the media second to abort at
    std::wstring onlyFor; // part of the recording's file name; empty for every recording
};

DecrypterFault ParseFault(const std::string& whole)
{
    DecrypterFault fault;
    const size_t semicolon = whole.find(';');
    if (semicolon != std::string::npos)
        fault.onlyFor.assign(whole.begin() + static_cast<std::ptrdiff_t>(semicolon) + 1, whole.end());
    const std::string text = whole.substr(0, semicolon);
    const std::string name = text.substr(0, text.find('='));
    fault.value = name.size() < text.size() ? std::atof(text.c_str() + name.size() + 1) : 0.0;
    if (name == "pace" && fault.value > 0)
        fault.kind = DecrypterFault::Pace;
    else if (name == "abort" && fault.value >= 0)
        fault.kind = DecrypterFault::Abort;
    else if (text == "drop")
        fault.kind = DecrypterFault::Drop;
    else if (text == "never-end")
        fault.kind = DecrypterFault::NeverEnd;
    return fault;
}

// The file name of the recording whose source gives `peer`; empty if there is none.
std::wstring RecordingOf(IPin* peer)
{
    PIN_INFO info = {};
    if (!peer || FAILED(peer->QueryPinInfo(&info)) || !info.pFilter)
        return std::wstring();
    ComPtr<IBaseFilter> filter = Adopt(info.pFilter);
    ComPtr<IFileSourceFilter> source;
    LPOLESTR name = nullptr;
    if (FAILED(filter.As(&source)) || FAILED(source->GetCurFile(&name, nullptr)) || !name)
        return std::wstring();
    const std::wstring recording = name;
    ::CoTaskMemFree(name);
    return recording;
}

// Offers whatever the input carries, once it is connected.
class CDecrypterOutputPin : public CBaseOutputPin {
public:
    CDecrypterOutputPin(CBaseFilter* decrypter, CBaseInputPin& input)
        : CBaseOutputPin(decrypter, L"Out"), input_(input), seeking_(static_cast<IPin*>(this))
    {
        seeking_.SetInputPin(&input);
    }
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        if (!input_.IsConnected())
            return VFW_E_NOT_CONNECTED;
        const AM_MEDIA_TYPE& carried = input_.ConnectedType().Get();
        return type.majortype == carried.majortype && type.subtype == carried.subtype ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        if (index != 0 || !input_.IsConnected())
            return VFW_S_NO_MORE_ITEMS;
        type = input_.ConnectedType();
        return S_OK;
    }

protected:
    HRESULT QueryPinInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IMediaSeeking)
            return E_NOINTERFACE;
        *object = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }
    // Upstream's samples go on themselves, so this allocator is never drawn from.
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override { properties = {1, 1, 1, 0}; }

private:
    CBaseInputPin& input_;
    CSeekingPassThrough seeking_;
};

// Passes samples to the output as the fault of this run allows.
class CDecrypterInputPin : public CBaseInputPin {
public:
    CDecrypterInputPin(CBaseFilter* decrypter, CDecrypterOutputPin& output)
        : CBaseInputPin(decrypter, L"In(Enc/Tag)"), output_(output)
    {
    }
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
    {
        return type.majortype == MEDIATYPE_Audio || type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
    }

    DecrypterFault fault;
    // Wall time when the graph ran; 0 until it runs. Halvern never pauses a running graph.
    std::atomic<ULONGLONG> runningSince{0};

protected:
    HRESULT OnReceive(IMediaSample* sample) override
    {
        if (fault.kind == DecrypterFault::Drop)
            return S_OK;
        REFERENCE_TIME start = 0, stop = 0;
        const HRESULT hr = sample->GetTime(&start, &stop);
        const bool timed = hr == S_OK || hr == VFW_S_NO_STOP_TIME;
        if (timed && fault.kind == DecrypterFault::Abort && start >= static_cast<REFERENCE_TIME>(fault.value * 1e7 + 0.5)) {
            filter_->NotifyEvent(EC_ERRORABORT, DecrypterFaultError, 0);
            return DecrypterFaultError;
        }
        if (timed && fault.kind == DecrypterFault::Pace && !WaitForPace(start))
            return S_FALSE;
        return output_.Deliver(sample);
    }
    HRESULT OnEndOfStream() override { return fault.kind == DecrypterFault::NeverEnd ? S_OK : output_.DeliverEndOfStream(); }

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

class CStandInDecrypter : public CBaseFilter {
public:
    CStandInDecrypter() : CBaseFilter(StandInDecrypterClsid), output_(this, input_), input_(this, output_) {}

    int PinCount() override { return 2; }
    CBasePin* PinAt(int index) override { return index == 0 ? static_cast<CBasePin*>(&input_) : &output_; }

protected:
    HRESULT OnStartStreaming() override
    {
        char text[MAX_PATH] = {};
        const DWORD length = ::GetEnvironmentVariableA(DecrypterFaultVariable, text, sizeof(text));
        input_.fault = ParseFault(length < sizeof(text) ? text : "");
        if (!input_.fault.onlyFor.empty() && RecordingOf(input_.Peer()).find(input_.fault.onlyFor) == std::wstring::npos)
            input_.fault = DecrypterFault();
        input_.runningSince = 0;
        return S_OK;
    }
    HRESULT OnRun(REFERENCE_TIME) override
    {
        input_.runningSince = ::GetTickCount64();
        return S_OK;
    }

private:
    // The output is built first and only keeps a reference to the input until it connects.
    CDecrypterOutputPin output_;
    CDecrypterInputPin input_;
};

} // namespace

HRESULT CreateStandInDecrypter(IUnknown** object)
{
    *object = static_cast<IBaseFilter*>(new CStandInDecrypter());
    return S_OK;
}
