#pragma once
// Halvern's MPEG-2 program stream multiplexer: MPEG-2 video and MPEG audio or AC-3 become DVD-style
// 2048-byte packs (mpeg::CProgramStreamMultiplexer's).

#include "builtin/MuxFilter.h"
#include "filters/FilterObject.h"
#include "media/mpeg/Multiplexer.h"

class CProgramStreamMux : public CFilterObject<CProgramStreamMux, CMuxFilter>, private mpeg::IPackSink {
public:
    CProgramStreamMux();

protected:
    mpeg::IMultiplexer& Multiplexer() override { return multiplexer_; }

private:
    // Only Release deletes it.
    ~CProgramStreamMux() override = default;

    bool WritePack(const uint8_t* pack) override { return WriteOutput(pack, mpeg::PackSize); }
    // What a program stream of Halvern's does not carry: the transport stream graph does.
    HRESULT Refuse(mpeg::Coding coding) const override;

    mpeg::CProgramStreamMultiplexer multiplexer_;
};
