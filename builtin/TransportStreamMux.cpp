#include "builtin/TransportStreamMux.h"

#include "builtin/BuiltinClasses.h"
#include "builtin/MuxMediaTypes.h"

CTransportStreamMux::CTransportStreamMux()
    : CFilterObject(CLSID_HalvernTransportStreamMux, MuxSubtypeMpeg2Transport), multiplexer_(*this)
{
}

void CTransportStreamMux::OnStreamAdded(int stream, const CMuxInputPin& pin)
{
    if (pin.Language()[0])
        multiplexer_.SetLanguage(stream, pin.Language());
    if (pin.Coding() != mpeg::Coding::AacRaw)
        return;
    const std::vector<uint8_t> config = pin.AacConfig();
    multiplexer_.SetAacConfig(stream, config.data(), config.size());
}
