#pragma once
// What the caption inserter lets go of the video, one sample after another.

#include <string>

#include "media/captions/CaptionInserter.h"

class CCollectingVideo : public captions::IVideoOut {
public:
    bool OnVideo(const mpeg::ByteRange* pieces, size_t count, int64_t) override
    {
        for (size_t i = 0; i < count; ++i)
            bytes.append(reinterpret_cast<const char*>(pieces[i].data), pieces[i].size);
        return true;
    }
    bool DvdLayout(const mpeg::VideoFacts&) override { return false; }
    std::string bytes;
};
