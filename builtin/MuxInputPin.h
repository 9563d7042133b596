#pragma once
// An input of a multiplexer: takes MPEG-2 or H.264 video, MPEG audio, AC-3, E-AC-3 or AAC, or
// line-21 caption byte pairs, and hands samples and stream events to whoever it was made for (a
// multiplexer that cannot carry a coding refuses it when the run starts, saying why).

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filters/InputPin.h"
#include "filters/LendingAllocator.h"
#include "base/ScopedWin.h"
#include "media/mpeg/MuxPlanning.h"

class CMuxInputPin;

// What the pin tells its filter; Receive, EndOfStream and the flushes come with the streaming lock
// held, the connection calls with the state lock held.
class IMuxInputEvents {
public:
    virtual HRESULT OnReceive(CMuxInputPin& pin, IMediaSample* sample) = 0;
    virtual HRESULT OnEndOfStream(CMuxInputPin& pin) = 0;
    virtual HRESULT OnBeginFlush() = 0;
    virtual HRESULT OnEndFlush() = 0;
    // Before the streaming lock is taken: returns once the pin may deliver a sample, or its end.
    virtual void OnWaitForRoom(CMuxInputPin& pin) = 0;
    virtual void OnWaitForOthers(CMuxInputPin& pin) = 0;
    // After the pin was connected, or before its connection goes.
    virtual void OnConnectionChanged(CMuxInputPin& pin, bool connected) = 0;
    // Room where the pin's next received bytes are kept (IRoomLender), asked for by its allocator
    // on the upstream filter's thread, without the filter's locks held.
    virtual bool OnLendRoom(CMuxInputPin& pin, size_t size, std::shared_ptr<void>& keep, BYTE*& room) = 0;

protected:
    ~IMuxInputEvents() = default;
};

enum class MuxInputRole { Video, Audio, Captions };

class CMuxInputPin : public CBaseInputPin, private IRoomLender {
public:
    CMuxInputPin(CBaseFilter* filter, IMuxInputEvents& events, const std::wstring& name, MuxInputRole role);
    ~CMuxInputPin() override;

    bool IsVideo() const { return role_ == MuxInputRole::Video; }
    bool IsAudio() const { return role_ == MuxInputRole::Audio; }
    bool IsCaptions() const { return role_ == MuxInputRole::Captions; }
    // The coding the connected type carries; valid while connected.
    mpeg::Coding Coding() const;
    // Raw AAC: the AudioSpecificConfig the connected type holds (empty when none).
    std::vector<uint8_t> AacConfig() const;
    // The ISO 639-2 code the upstream pin names for its stream (StreamLanguage.h); all zero when it
    // names none. Read when the pin was connected.
    const char* Language() const { return language_; }
    // Signalled whenever the filter makes progress that may let a waiting Receive go on.
    HANDLE ProgressEvent() const { return progress_.Get(); }
    // Whether a Receive waits on the event; read and written with the streaming lock held, so
    // that progress signals only a waiter (each event call is a trip to the Wine server).
    bool Waiting() const { return waiting_; }
    void SetWaiting(bool waiting) { waiting_ = waiting; }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int index, CMediaType& type) override;
    void Inactive() override;
    // Waits, outside the streaming lock, while this input is far ahead of the others.
    STDMETHODIMP Receive(IMediaSample* sample) override;
    // Waits, outside the streaming lock, a while for inputs that have not delivered yet.
    STDMETHODIMP EndOfStream() override;

protected:
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    HRESULT OnBeginFlush() override;
    HRESULT OnEndFlush() override;
    // The upstream filter puts its bytes where the multiplexer keeps them, when it takes this.
    HRESULT MakeAllocator(Microsoft::WRL::ComPtr<IMemAllocator>& made) override;

private:
    bool LendRoom(size_t size, std::shared_ptr<void>& keep, BYTE*& room) override;

    IMuxInputEvents& events_;
    const MuxInputRole role_;
    UniqueHandle progress_;
    bool waiting_ = false;
    char language_[3] = {};
    Microsoft::WRL::ComPtr<CLendingAllocator> allocator_; // made once, detached as the pin goes
};
