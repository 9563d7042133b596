#include "media/FormatProbe.h"

#include <algorithm>
#include <utility>

#include "base/MediaErrors.h"

namespace media {

CFormatProbe::CFormatProbe(std::vector<StreamFormat>& formats, Identify identify, Awaited awaited)
    : formats_(formats), identify_(std::move(identify)), awaited_(std::move(awaited))
{
}

bool CFormatProbe::OnObject(const MediaObject& object)
{
    StreamFormat& format = formats_[object.streamIndex];
    if (format.codec == Codec::Unknown)
        identify_(object, format);
    if (IsAudioOrVideo(format.codec) && object.StartsFrame()) {
        if (frames_.size() <= object.streamIndex)
            frames_.resize(object.streamIndex + 1, 0);
        ++frames_[object.streamIndex];
        earliest_ = std::min(earliest_, object.time);
    }
    return !Done();
}

HRESULT CFormatProbe::Outcome() const
{
    const bool any = std::any_of(formats_.begin(), formats_.end(),
                                 [](const StreamFormat& format) { return IsAudioOrVideo(format.codec); });
    return any ? S_OK : HALVERN_E_NO_STREAMS;
}

bool CFormatProbe::Done() const
{
    bool any = false;
    for (size_t i = 0; i < formats_.size(); ++i) {
        if (!awaited_(i))
            continue;
        if (i >= frames_.size() || frames_[i] < FramesPerStream)
            return false;
        any = true;
    }
    return any;
}

} // namespace media
