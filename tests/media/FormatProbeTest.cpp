// The read-ahead both readers share: a stream waits for its codec before its frames count.

#include <gtest/gtest.h>

#include "media/FormatProbe.h"

namespace {

using media::Codec;

// A recording that starts far into a group of pictures: the video shows its sequence header only
// after more frames than the probe counts, long after the audio has shown enough.
TEST(FormatProbeTest, FramesCountOnlyOnceTheCodecIsKnown)
{
    std::vector<media::StreamFormat> formats(3);
    formats[2].codec = Codec::Captions;
    const auto identify = [](const media::MediaObject& object, media::StreamFormat& format) {
        if (object.streamIndex == 1 || object.data[0] == 0xB3)
            format.codec = object.streamIndex == 1 ? Codec::MpegAudio : Codec::Mpeg2Video;
    };
    media::CFormatProbe probe(formats, identify, [&](size_t i) { return formats[i].codec != Codec::Captions; });
    const auto push = [&](size_t stream, uint8_t first, int64_t time) {
        media::MediaObject object;
        object.streamIndex = stream;
        object.data = &first;
        object.size = 1;
        object.time = time;
        return probe.OnObject(object);
    };
    for (int frame = 0; frame < 40; ++frame) {
        ASSERT_TRUE(push(1, 0xFF, 1000 + frame));
        ASSERT_TRUE(push(0, 0x00, 500 + frame)) << "video frame " << frame << " before any sequence header";
        ASSERT_TRUE(push(2, 0x00, 0));
    }
    EXPECT_EQ(Codec::Unknown, formats[0].codec);
    for (unsigned frame = 1; frame < media::CFormatProbe::FramesPerStream; ++frame)
        ASSERT_TRUE(push(0, frame == 1 ? 0xB3 : 0x00, 2000 + frame)) << "identified video frame " << frame;
    EXPECT_EQ(Codec::Mpeg2Video, formats[0].codec);
    EXPECT_FALSE(push(0, 0x00, 3000)) << "every awaited stream has shown enough frames";
    EXPECT_EQ(1000, probe.Earliest()) << "times of a stream not yet identified do not count";
}

} // namespace
