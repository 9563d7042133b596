#pragma once
// Halvern's MPEG-2 program stream multiplexer: MPEG-2 video and MPEG audio or AC-3 become DVD-style
// 2048-byte packs (mpeg::CProgramStreamMultiplexer's).

#include "base/CaptionFileSink.h"
#include "builtin/MuxFilter.h"
#include "filters/FilterObject.h"
#include "media/mpeg/Multiplexer.h"

class CProgramStreamMux : public CFilterObject<CProgramStreamMux, CMuxFilter, ICaptionFileSink>, private mpeg::IPackSink {
public:
    CProgramStreamMux();

    // ICaptionFileSink: where the next runs write the captions as SubRip, and what the last lost.
    STDMETHODIMP SetCaptionFile(LPCWSTR path) override { return SetCaptionPath(path); }
    STDMETHODIMP GetCaptionPairsLost(ULONG* lost) override { return CaptionPairsLost(lost); }

protected:
    mpeg::IMultiplexer& Multiplexer() override { return multiplexer_; }
    // A DVD-ready output carries captions as DVDs do, once a group of pictures.
    bool DvdLayout(const mpeg::VideoFacts& facts) override { return multiplexer_.WouldFitDvd(facts); }

private:
    // Only Release deletes it.
    ~CProgramStreamMux() override = default;

    uint8_t* NextPackBuffer() override { return OutputRoom(mpeg::PackSize); }
    bool WritePack(const uint8_t* pack) override { return WriteOutput(pack, mpeg::PackSize); }
    // What a program stream of Halvern's does not carry: the transport stream graph does.
    HRESULT Refuse(mpeg::Coding coding) const override;

    mpeg::CProgramStreamMultiplexer multiplexer_;
};
