#pragma once
// A generator of legal MPEG-2 video elementary streams of flat grey pictures in the two codings
// ffmpeg cannot make: every frame two field pictures (top then bottom, as much 1080i broadcast
// is), or progressive frames carried at 29.97 with 3:2 pulldown flags (23.976 film). Closed GOPs
// of I, P and B pictures in decode order; user data pads each frame to a chosen size so the
// stream has a broadcaster's rate.

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
    unsigned frameRateCode = 4;    // 4: 30000/1001, 3: 25
    unsigned width = 1920, height = 1080;
    uint32_t bitRate = 18000000;   // what the sequence header declares
    unsigned vbvBufferSize = 488;  // 16 384-bit units (ATSC's largest)
    size_t frameBytes = 0;         // > 0: user data pads each coded frame to about this size
};

// The elementary stream.
std::string MakeFieldPictureStream(const FieldPictureOptions& options);

} // namespace test_recordings
