#pragma once
// A generator of legal MPEG-2 video elementary streams of flat grey pictures in the codings ffmpeg
// cannot make: 1080i at 29.97 with every frame two field pictures (top then bottom, as much 1080i
// broadcast is), or 23.976 film carried by repeat flags: progressive frames of an interlaced
// 1080 sequence with 3:2 pulldown, or a progressive sequence (720p at 59.94, 1080p at 29.97) whose
// pictures repeat whole frames. Closed GOPs of I, P and B pictures in decode order; user data pads
// each frame to a chosen size so the stream has a broadcaster's rate, below the 18 Mb/s and ATSC's
// largest buffer its header declares.

#include <cstddef>
#include <cstdint>
#include <string>

namespace test_recordings {

enum class FieldCoding {
    FieldPictures, // two field pictures per frame, one temporal_reference
    Pulldown,      // frame pictures, progressive_frame 1, (tff, rff) = (1,1) (0,0) (0,1) (1,0) in display order
    // progressive_sequence 1: (rff, tff) (1,1) shows a picture for 3 frames, (1,0) for 2, (0,0) for 1.
    Film720p,      // 1280x720 at 59.94 (frame_rate_code 7): pictures shown 3 then 2 frames
    Film1080p,     // 1920x1080 at 29.97 (frame_rate_code 4): pictures shown 2, 1, 1, 1 frames
};

struct FieldPictureOptions {
    FieldCoding coding = FieldCoding::FieldPictures;
    unsigned frames = 60;          // coded frames, rounded up to whole GOPs of ten
    size_t frameBytes = 0;         // > 0: user data pads each coded frame to about this size
};

// The elementary stream.
std::string MakeFieldPictureStream(const FieldPictureOptions& options);

// How long the picture shown `display`-th lasts, and when it is shown, in 27 MHz ticks: what the
// stream's flags say, which is what a player must keep.
int64_t FilmPictureDuration27(FieldCoding coding, unsigned display);
int64_t FilmPictureTime27(FieldCoding coding, unsigned display);

} // namespace test_recordings
