#include "media/captions/DisplayOrder.h"

#include <algorithm>

namespace captions {

void CDisplayOrder::Reset()
{
    count_ = 0;
    last_ = 0;
    any_ = false;
}

void CDisplayOrder::OnPictureCaptions(int64_t pts, const BytePair* pairs, size_t count)
{
    // A picture well before the latest one: the clock jumped back, and all held are shown before it.
    if (any_ && pts < last_ - MaxReorder) {
        while (count_ > 0)
            SendFirst();
        last_ = pts;
    }
    SendBefore(pts);
    last_ = any_ ? std::max(last_, pts) : pts;
    any_ = true;
    if (count == 0)
        return;
    if (count_ == Capacity)
        SendFirst(); // times that run backwards without end: the earliest cannot wait longer
    size_t at = count_;
    while (at > 0 && entries_[at - 1].pts > pts) {
        entries_[at] = entries_[at - 1];
        --at;
    }
    Entry& entry = entries_[at];
    entry.pts = pts;
    entry.count = static_cast<uint8_t>(std::min(count, MaxPairsPerBlock));
    std::copy(pairs, pairs + entry.count, entry.pairs);
    ++count_;
}

void CDisplayOrder::SendBefore(int64_t pts)
{
    size_t sent = 0;
    while (sent < count_ && entries_[sent].pts < pts) {
        for (size_t i = 0; i < entries_[sent].count; ++i)
            decoder_.Decode(entries_[sent].pairs[i].first, entries_[sent].pairs[i].second, entries_[sent].pts);
        ++sent;
    }
    std::copy(entries_ + sent, entries_ + count_, entries_);
    count_ -= sent;
}

void CDisplayOrder::SendFirst()
{
    SendBefore(entries_[0].pts + 1);
}

void CDisplayOrder::Finish()
{
    while (count_ > 0)
        SendFirst();
    if (any_)
        decoder_.Finish(last_);
}

} // namespace captions
