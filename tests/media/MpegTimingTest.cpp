// The times the multiplexer's inputs give their access units: from the picture order, from the
// fields each frame is shown for, and from given times that are checked against each stream's
// cadence. Streams are synthetic, so each case says exactly which times it expects.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/mpeg/ElementaryStream.h"

using namespace mpeg;

namespace {

constexpr int64_t Frame = 3600; // 25 frames a second
constexpr int64_t Start = 10000;

enum Structure { Top = 1, Bottom = 2, FramePicture = 3 };

struct Picture {
    int temporalReference;
    int type; // 1 I, 2 P, 3 B
    int structure = FramePicture;
    bool topFirst = true;
    bool repeatFirst = false;
};

// Sequence header (1920x1080, frame_rate_code, rate unknown, a VBV of 488 x 2 KiB), sequence
// extension (main profile at high level, interlaced) and a group header.
std::string SequenceBytes(int frameRateCode)
{
    const uint8_t bytes[] = {0, 0, 1, 0xB3, 0x78, 0x04, 0x38, static_cast<uint8_t>(0x30 | frameRateCode), 0xFF, 0xFF, 0xEF, 0x40,
                             0, 0, 1, 0xB5, 0x14, 0x42, 0x00, 0x01, 0x00, 0x00,
                             0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

// Picture header, picture coding extension and `fill` bytes standing for its slices.
std::string PictureBytes(const Picture& p, size_t fill)
{
    const uint8_t bytes[] = {0, 0, 1, 0, static_cast<uint8_t>(p.temporalReference >> 2),
                             static_cast<uint8_t>(((p.temporalReference & 3) << 6) | (p.type << 3) | 7), 0xFF, 0xF8,
                             0, 0, 1, 0xB5, 0x8F, 0xFF, static_cast<uint8_t>(0xF0 | p.structure),
                             static_cast<uint8_t>((p.topFirst ? 0x80 : 0) | (p.repeatFirst ? 0x02 : 0)), 0x80};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)) + std::string(fill, '\xAA');
}

// An MPEG-1 layer II frame, 48 kHz 192 kbit/s: 576 bytes, 1152 samples (2160 ticks).
std::string AudioFrameBytes() { return std::string("\xFF\xFD\xA4", 3) + std::string(573, '\0'); }
constexpr int64_t AudioFrame = 2160;

void Push(CElementaryStream& stream, const std::string& bytes, int64_t time)
{
    stream.Push(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), time);
}

// A synthetic open-GOP stream: I2 B0 B1 P5 B3 B4 P8 B6 B7 in decode order.
const Picture OpenGop[] = {{2, 1}, {0, 3}, {1, 3}, {5, 2}, {3, 3}, {4, 3}, {8, 2}, {6, 3}, {7, 3}};

TEST(MpegTimingTest, VideoTimesFollowPictureOrderWhateverTheSamples)
{
    struct Case {
        size_t fill;  // bytes of each picture after its headers
        size_t piece; // 0: a push for each picture, with its time; else pushes of this size, the first timed
    } cases[] = {{5000, 0}, {100, 0}, {5000, 1 << 20}, {3000, 777}, {100, 250}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fill << " " << c.piece);
        CProgramTimeline timeline;
        CElementaryStream stream(StreamKind::Mpeg2Video, timeline);
        std::string all;
        for (size_t i = 0; i < std::size(OpenGop); ++i) {
            const std::string bytes = (i == 0 ? SequenceBytes(3) : std::string()) + PictureBytes(OpenGop[i], c.fill);
            all += bytes;
            if (!c.piece)
                Push(stream, bytes, Start + OpenGop[i].temporalReference * Frame);
        }
        for (size_t at = 0; c.piece && at < all.size(); at += c.piece)
            Push(stream, all.substr(at, c.piece), at == 0 ? Start + 2 * Frame : NoTimestamp);
        stream.End();
        // One frame a step in decode order from a frame before the first presentation; B pictures
        // are decoded when shown, I and P pictures a reordering delay before.
        std::vector<std::pair<int64_t, int64_t>> expected, times;
        for (size_t i = 0; i < std::size(OpenGop); ++i) {
            const int64_t pts = Start + Frame * OpenGop[i].temporalReference;
            expected.push_back({pts, OpenGop[i].type == 3 ? pts : Start - Frame + Frame * static_cast<int64_t>(i)});
        }
        for (size_t i = 0; i < stream.UnitCount(); ++i)
            times.push_back({stream.Unit(i).pts, stream.Unit(i).dts});
        EXPECT_EQ(expected, times);
        EXPECT_EQ(0u, stream.Outliers());
    }
}

// Two field pictures are one frame for timing, even when the second comes in a sample of its own
// with a time one field later; frames shown for three fields (3:2 pulldown) make the next frame
// due a field later, counted exactly at 29.97 Hz.
TEST(MpegTimingTest, FieldPairsAreOneUnitAndRepeatedFieldsLengthenTheFrame)
{
    const int64_t field = 1501; // 1501.5 ticks at 29.97 frames a second, counted in halves
    struct Case {
        const char* name;
        bool fields; // field pictures (I then P field of each frame), else frames with the (tff, rff)
                     // pattern 11 00 01 10, only the first timed
        std::vector<int64_t> expectedPts; // from the first
    } cases[] = {
        {"field pairs", true, {0, 3003, 6006, 9009, 12012, 15015, 18018, 21021}},
        {"3:2 pulldown", false, {0, 4504, 7507, 12012, 15015, 19519, 22522, 27027}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProgramTimeline timeline;
        CElementaryStream stream(StreamKind::Mpeg2Video, timeline);
        for (int frame = 0; frame < 8; ++frame) {
            const std::string head = frame == 0 ? SequenceBytes(4) : std::string();
            const int64_t time = Start + frame * 2 * field + frame;
            if (c.fields) {
                Push(stream, head + PictureBytes({frame, frame == 0 ? 1 : 2, Top}, 3000), time);
                Push(stream, PictureBytes({frame, 2, Bottom}, 3000), time + field);
            } else {
                static const bool tff[] = {true, false, false, true}, rff[] = {true, false, true, false};
                const Picture picture{frame, frame == 0 ? 1 : 2, FramePicture, tff[frame % 4], rff[frame % 4]};
                Push(stream, head + PictureBytes(picture, 3000), frame == 0 ? time : NoTimestamp);
            }
        }
        stream.End();
        ASSERT_EQ(c.expectedPts.size(), stream.UnitCount());
        for (size_t i = 0; i < stream.UnitCount(); ++i) {
            EXPECT_EQ(Start + c.expectedPts[i], stream.Unit(i).pts) << i;
            EXPECT_EQ(stream.Unit(i).pts, stream.Unit(i).dts) << i;
            if (i > 0) {
                EXPECT_EQ(stream.Unit(i).dts, stream.Unit(i - 1).nextDts) << i;
            }
        }
    }
}

// Given times against the cadence, on a video and an audio stream of one program, pushed as a file
// interleaves them. A single bad time is replaced; a jump both streams make is closed by one amount;
// data lost from one stream leaves a gap kept however long, as the other stream runs on beside it;
// times that jump in one stream while its data stays beside the other's old times are its own
// fault and closed, and so is their return; a stream that starts without times counts back from
// the first one. Every unit left ends on its true time, moved by the step where
// one was kept or a loss of both closed.
TEST(MpegTimingTest, GivenTimesAreJudgedByTheCadenceAndByTheOtherStream)
{
    enum Which { VideoOnly = 1, AudioOnly = 2, Both = 3 };
    constexpr int64_t Lost = NoTimestamp + 1;
    constexpr int Frames = 150;
    struct Case {
        const char* name;
        int which;
        int from;          // the frame (video) / the 40 ms span (audio) the change starts at
        int to;            // ... and ends before
        int64_t change;    // added to the given times there; NoTimestamp: none given; Lost: no data
        int64_t moved;     // how far the output moves the units from `from` on against their true times
        uint32_t outliers; // per stream that has the change
        uint32_t jumps;
    } cases[] = {
        {"one video time a second early", VideoOnly, 20, 21, -90000, 0, 1, 0},
        {"one audio time two seconds late", AudioOnly, 20, 21, 180000, 0, 1, 0},
        {"both jump 20 s back", Both, 15, Frames, -20 * 90000, 0, 0, 1},
        {"both jump 5 s forward", Both, 15, Frames, 5 * 90000, 0, 0, 1},
        {"both step 0.4 s forward", Both, 15, Frames, 36000, 0, 0, 1},
        {"a run of five audio times 0.5 s late", AudioOnly, 40, 45, 45000, 0, 0, 2},
        {"audio loses 0.8 s", AudioOnly, 40, 60, Lost, 0, 0, 0},
        {"audio loses 1.2 s", AudioOnly, 40, 70, Lost, 0, 0, 0},
        {"audio loses 3 s", AudioOnly, 40, 115, Lost, 0, 0, 0},
        {"video loses 3 s", VideoOnly, 36, 111, Lost, 0, 0, 0},
        // As a jump of both clocks looks: closed alike.
        {"both lose 3 s", Both, 36, 111, Lost, -75 * Frame, 0, 1},
        {"audio times 3 s late from a point, its data in place", AudioOnly, 40, Frames, 270000, 0, 0, 1},
        {"video starts untimed", VideoOnly, 0, 3, NoTimestamp, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProgramTimeline timeline;
        CElementaryStream video(StreamKind::Mpeg2Video, timeline), audio(StreamKind::MpegAudio, timeline);
        const auto changed = [&](int64_t time, int at, Which stream) {
            if (!(c.which & stream) || at < c.from || at >= c.to)
                return time;
            return c.change == NoTimestamp || c.change == Lost ? c.change : time + c.change;
        };
        // What each unit left should be given out as, in stream order.
        std::vector<int64_t> videoTimes, audioTimes;
        const auto expect = [&](std::vector<int64_t>& times, int64_t time, int at) {
            times.push_back(time + (at >= c.from ? c.moved : 0));
        };
        int audioFrames = 0;
        for (int frame = 0; frame < Frames; ++frame) {
            const int64_t time = Start + frame * Frame;
            const int64_t given = changed(time, frame, VideoOnly);
            // The first picture of the group after a loss starts with a sequence header.
            const bool head = frame == 0 || (c.change == Lost && frame == c.to && (c.which & VideoOnly));
            if (given != Lost) {
                Push(video, (head ? SequenceBytes(3) : std::string()) + PictureBytes({frame, frame ? 2 : 1}, 4000), given);
                expect(videoTimes, time, frame);
            }
            // Audio frames up to this video frame's time, each with its own time.
            for (; audioFrames * AudioFrame < (frame + 1) * Frame; ++audioFrames) {
                const int64_t audioTime = Start + audioFrames * AudioFrame;
                const int64_t audioGiven = changed(audioTime, static_cast<int>(audioFrames * AudioFrame / Frame), AudioOnly);
                if (audioGiven != Lost) {
                    Push(audio, AudioFrameBytes(), audioGiven);
                    expect(audioTimes, audioTime, static_cast<int>(audioFrames * AudioFrame / Frame));
                }
            }
        }
        video.End();
        audio.End();
        EXPECT_EQ(0u, video.Damaged() + audio.Damaged());
        EXPECT_EQ(c.which & VideoOnly ? c.outliers : 0u, video.Outliers());
        EXPECT_EQ(c.which & AudioOnly ? c.outliers : 0u, audio.Outliers());
        EXPECT_EQ(c.which & VideoOnly ? c.jumps : 0u, video.Jumps());
        EXPECT_EQ(c.which & AudioOnly ? c.jumps : 0u, audio.Jumps());
        const auto dtsOf = [](const CElementaryStream& stream) {
            std::vector<int64_t> times;
            for (size_t i = 0; i < stream.UnitCount(); ++i)
                times.push_back(stream.Unit(i).dts);
            return times;
        };
        EXPECT_EQ(videoTimes, dtsOf(video));
        EXPECT_EQ(audioTimes, dtsOf(audio));
    }
}

} // namespace
