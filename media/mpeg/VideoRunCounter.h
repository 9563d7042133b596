#pragma once
// How long MPEG-2 video runs, counted as its bytes arrive: the fields each picture is shown (as
// the video's unit scanner counts them, film flags included), for video that something holds back
// on its way to the multiplexer (the caption inserter) while the other streams go on. Start codes
// and headers may straddle two pushes.

#include <cstddef>
#include <cstdint>

namespace mpeg {

class CVideoRunCounter {
public:
    void Reset() { *this = CVideoRunCounter(); }
    // 90 kHz ticks of the pictures whose length these bytes complete.
    int64_t Count(const uint8_t* data, size_t size);

private:
    // The header at `data` (a start code, and up to HeaderBytes after it): false when it needs
    // more bytes than `size`.
    bool OnHeader(const uint8_t* data, size_t size, int64_t& ticks);
    void ClosePicture(int fields, int64_t& ticks);

    // The longest header read, start code included (a sequence header's 12 bytes).
    static constexpr size_t HeaderBytes = 12;
    // The end of the last push: a start code's first bytes, or a header it cut short.
    uint8_t tail_[HeaderBytes] = {};
    size_t tailSize_ = 0;
    int64_t framePeriod27_ = 0;
    int64_t codedFramePeriod27_ = 0;
    bool progressiveSequence_ = false;
    bool pictureOpen_ = false;
    int firstField_ = 0; // the structure of a field picture whose pair has not come yet
};

} // namespace mpeg
