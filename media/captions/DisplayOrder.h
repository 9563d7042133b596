#pragma once
// Pictures' caption pairs come in decode order; a decoder of them needs display order. A picture
// is shown after every picture decoded before it whose time is earlier, and B pictures come
// between the reference pictures they are shown between: once a picture of time t has come, the
// held ones before t are complete and go, and all of them once the clock jumps back. Holds a
// bounded number of pictures.

#include <cstddef>
#include <cstdint>

#include "media/captions/CaptionInserter.h"
#include "media/captions/Eia608Decoder.h"

namespace captions {

class CDisplayOrder : public IPictureCaptions {
public:
    static constexpr size_t Capacity = 64;
    // Pictures are shown at most this long (90 kHz) before one decoded earlier; a picture further
    // back follows a jump of the clock.
    static constexpr int64_t MaxReorder = 90000;

    explicit CDisplayOrder(CEia608Decoder& decoder) : decoder_(decoder) {}

    void Reset();
    void OnPictureCaptions(int64_t pts, const BytePair* pairs, size_t count) override;
    // All that is held goes to the decoder, which then ends at the last time.
    void Finish();

private:
    struct Entry {
        int64_t pts;
        uint8_t count;
        BytePair pairs[MaxPairsPerBlock];
    };
    void SendBefore(int64_t pts);
    void SendFirst();

    CEia608Decoder& decoder_;
    Entry entries_[Capacity]; // ordered by time
    size_t count_ = 0;
    int64_t last_ = 0;
    bool any_ = false;
};

} // namespace captions
