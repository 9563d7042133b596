#include "builtin/ProgramStreamMux.h"

#include "base/MediaErrors.h"
#include "builtin/BuiltinClasses.h"
#include "builtin/MuxMediaTypes.h"

CProgramStreamMux::CProgramStreamMux()
    : CFilterObject(CLSID_HalvernProgramStreamMux, MuxSubtypeMpeg2Program), multiplexer_(*this)
{
}

HRESULT CProgramStreamMux::Refuse(mpeg::Coding coding) const
{
    switch (coding) {
    case mpeg::Coding::H264Video:
        return HALVERN_E_H264_VIDEO;
    case mpeg::Coding::AacAdts:
    case mpeg::Coding::AacLatm:
    case mpeg::Coding::AacRaw:
    case mpeg::Coding::Eac3:
        return HALVERN_E_AUDIO_NOT_IN_PS;
    default:
        return S_OK;
    }
}
