#pragma once
// A generator of legal MPEG-2 video elementary streams of flat grey 1920x1080 pictures at 29.97 in
// the two codings ffmpeg cannot make: every frame two field pictures (top then bottom, as much
// 1080i broadcast is), or progressive frames with 3:2 pulldown flags (23.976 film). Closed GOPs of
// I, P and B pictures in decode order; user data pads each frame to a chosen size so the stream
// has a broadcaster's rate, below the 18 Mb/s and ATSC's largest buffer its header declares.

#include <cstddef>
#include <cstdint>
#include <string>

namespace test_recordings {

enum class FieldCoding {
    FieldPictures, // two field pictures per frame, one temporal_reference
    Pulldown,      // frame pictures, progressive_frame 1, (tff, rff) = (1,1) (0,0) (0,1) (1,0) in display order
};

struct FieldPictureOptions {
    FieldCoding coding = FieldCoding::FieldPictures;
    unsigned frames = 60;          // coded frames, a whole number of GOPs is not needed
    size_t frameBytes = 0;         // > 0: user data pads each coded frame to about this size
};

// The elementary stream.
std::string MakeFieldPictureStream(const FieldPictureOptions& options);

} // namespace test_recordings
