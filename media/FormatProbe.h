#pragma once
// The read-ahead both readers make before streaming: each stream's codec, found in its payload by
// the reader's own rules, and the earliest time. It reads until every awaited stream has shown
// enough frames to get past the reordering of B-frames. A stream counts its frames only once its
// codec is known, so a recording that starts far from a sequence header (a long group of pictures,
// field pictures in chunks of their own) is read on until one comes; the reader bounds the
// share of the file this may take.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "media/RecordingReader.h"

namespace media {

class CFormatProbe : public IObjectSink {
public:
    static constexpr unsigned FramesPerStream = 24;
    // Sets the format's codec when the object shows it; called until it does.
    using Identify = std::function<void(const MediaObject& object, StreamFormat& format)>;
    // Whether reading waits for this stream; the formats may grow while the probe reads.
    using Awaited = std::function<bool(size_t streamIndex)>;

    CFormatProbe(std::vector<StreamFormat>& formats, Identify identify, Awaited awaited);

    bool OnObject(const MediaObject& object) override;
    // The earliest time of a stream with a known codec; 0 when there was none.
    int64_t Earliest() const { return earliest_ == std::numeric_limits<int64_t>::max() ? 0 : earliest_; }
    // S_OK when the read-ahead identified a stream of pictures or sound, else HALVERN_E_NO_STREAMS.
    // Streams of a codec Halvern does not know stay without a format, and without a pin.
    HRESULT Outcome() const;

private:
    bool Done() const;

    std::vector<StreamFormat>& formats_;
    const Identify identify_;
    const Awaited awaited_;
    std::vector<unsigned> frames_; // identified frames seen, per stream
    int64_t earliest_ = std::numeric_limits<int64_t>::max();
};

} // namespace media
