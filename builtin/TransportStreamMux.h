#pragma once
// Halvern's MPEG-2 transport stream multiplexer: MPEG-2 or H.264 video and MPEG audio, AC-3, E-AC-3
// or AAC become 188-byte transport packets (mpeg::CTransportStreamMultiplexer's), one program.

#include "base/CaptionFileSink.h"
#include "builtin/MuxFilter.h"
#include "filters/FilterObject.h"
#include "media/mpeg/TransportStreamMultiplexer.h"

class CTransportStreamMux : public CFilterObject<CTransportStreamMux, CMuxFilter, ICaptionFileSink>, private mpeg::IPacketSink {
public:
    CTransportStreamMux();

    // ICaptionFileSink: where the next runs write the captions as SubRip, and what the last lost.
    STDMETHODIMP SetCaptionFile(LPCWSTR path) override { return SetCaptionPath(path); }
    STDMETHODIMP GetCaptionPairsLost(ULONG* lost) override { return CaptionPairsLost(lost); }

protected:
    mpeg::IMultiplexer& Multiplexer() override { return multiplexer_; }
    // Each stream gets the language its upstream pin names; raw AAC gets ADTS headers made from the
    // config its media type holds.
    void OnStreamAdded(int stream, const CMuxInputPin& pin) override;

private:
    // Only Release deletes it.
    ~CTransportStreamMux() override = default;

    uint8_t* NextPacketBuffer() override { return OutputRoom(mpeg::TsPacketSize); }
    bool WritePacket(const uint8_t* packet) override { return WriteOutput(packet, mpeg::TsPacketSize); }

    mpeg::CTransportStreamMultiplexer multiplexer_;
};
