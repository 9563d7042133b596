#pragma once
// The multiplexer's output: the program or transport stream in large samples, with seeking passed upstream.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>

#include "filters/OutputPin.h"
#include "filters/SeekingPassThrough.h"

class CMuxOutputPin : public CBaseOutputPin {
public:
    // As large as the file writer's buffer, so each sample is one write and few samples cross the
    // allocator.
    static constexpr long BufferSize = 1 << 20;

    CMuxOutputPin(CBaseFilter* mux, CBasePin* seekingInput, const GUID& subtype);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int index, CMediaType& type) override;

    // Copies bytes into the current sample and delivers each one that is full; bytes built in the
    // Room given are taken where they are. With the streaming lock held.
    HRESULT Write(const uint8_t* data, size_t size);
    // The next `size` bytes of the current sample (begun if there is none), to build output in
    // and then Write; null when the sample has less left, or none could be had (Write then tells why).
    uint8_t* Room(size_t size);
    // Delivers the sample in progress, if any.
    HRESULT Flush();
    // With the streaming lock held: Stop decommits the allocator while a Receive may still be
    // writing into the sample in progress, so it is let go only once that Receive has returned.
    void DropPending() { pending_.Reset(); }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override;

private:
    HRESULT BeginSample();

    const GUID subtype_;
    CSeekingPassThrough seeking_;
    Microsoft::WRL::ComPtr<IMediaSample> pending_;
    BYTE* pendingData_ = nullptr;
    long pendingSize_ = 0;
    long pendingUsed_ = 0;
};
