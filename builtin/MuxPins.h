#pragma once
// The multiplexer's pins: two inputs that hand their samples to the filter, and the output that
// carries the program stream in large samples.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>

#include "filters/InputPin.h"
#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"
#include "base/ScopedWin.h"
#include "media/mpeg/ElementaryStream.h"

class CProgramStreamMux;

class CMuxInputPin : public CBaseInputPin {
public:
    CMuxInputPin(CProgramStreamMux* mux, const wchar_t* name, bool video);

    bool IsVideo() const { return video_; }
    // The stream the connected type carries; valid while connected.
    mpeg::StreamKind Kind() const;
    // Signalled whenever the filter makes progress that may let a waiting Receive go on.
    HANDLE ProgressEvent() const { return progress_.Get(); }
    // Whether a Receive waits on the event; read and written with the streaming lock held, so
    // that progress signals only a waiter (each event call is a trip to the Wine server).
    bool Waiting() const { return waiting_; }
    void SetWaiting(bool waiting) { waiting_ = waiting; }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int index, CMediaType& type) override;
    void Inactive() override;
    // Waits, outside the streaming lock, while this input is far ahead of the other one.
    STDMETHODIMP Receive(IMediaSample* sample) override;

protected:
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    HRESULT OnBeginFlush() override;
    HRESULT OnEndFlush() override;

private:
    CProgramStreamMux* const mux_;
    const bool video_;
    UniqueHandle progress_;
    bool waiting_ = false;
};

class CMuxOutputPin : public CBaseOutputPin {
public:
    // As large as the file writer's buffer, so each sample is one write and few samples cross the
    // allocator.
    static constexpr long BufferSize = 1 << 20;

    CMuxOutputPin(CProgramStreamMux* mux, CBasePin* seekingInput);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int index, CMediaType& type) override;

    // Copies bytes into the current sample and delivers each one that is full. With the
    // streaming lock held.
    HRESULT Write(const uint8_t* data, size_t size);
    // Delivers the sample in progress, if any.
    HRESULT Flush();
    // With the streaming lock held: Stop decommits the allocator while a Receive may still be
    // writing into the sample in progress, so it is let go only once that Receive has returned.
    void DropPending() { pending_.Reset(); }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override;

private:
    CSeekingPassThrough seeking_;
    Microsoft::WRL::ComPtr<IMediaSample> pending_;
    BYTE* pendingData_ = nullptr;
    long pendingSize_ = 0;
    long pendingUsed_ = 0;
};
