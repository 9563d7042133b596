// The times the multiplexer's inputs give their access units: from the picture order, from the
// fields each frame is shown for, and from given times that are checked against each stream's
// cadence. Streams are synthetic, so each case says exactly which times it expects.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "media/mpeg/ElementaryStream.h"
#include "media/wtv/WtvReader.h"
#include "tests/support/BitWriter.h"
#include "tests/support/TestSupport.h"

using namespace mpeg;
using es_units::BitWriter;
using testing_support::ReadFileBytes;
using testing_support::VectorPath;
using testing_support::Wide;

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

// A 1920x1080 Main profile stream: frames, or fields when `fields`; pictures order count type 0 in 8
// bits, frame_num in 4; the VUI's clock (a frame two ticks), pic_struct when it says, and the
// reorder depth (none when -1).
struct AvcStream {
    bool fields = false;
    uint32_t unitsInTick = 1, timeScale = 50;
    bool picStruct = false;
    int reorder = 0;
};

std::string AvcParameterSets(const AvcStream& s)
{
    BitWriter sps;
    sps.U(77, 8).U(0, 8).U(40, 8).Ue(0).Ue(0).Ue(0).Ue(4).Ue(2).U(0, 1).Ue(119).Ue(s.fields ? 33 : 67);
    sps.U(s.fields ? 0 : 1, 1);
    if (s.fields)
        sps.U(0, 1);
    sps.U(1, 1).U(0, 1).U(1, 1);                          // direct_8x8, no cropping, VUI
    sps.U(0, 4).U(1, 1).U(s.unitsInTick, 32).U(s.timeScale, 32).U(1, 1); // timing
    sps.U(0, 2).U(s.picStruct ? 1 : 0, 1).U(s.reorder >= 0 ? 1 : 0, 1);
    if (s.reorder >= 0)
        sps.U(1, 1).Ue(0).Ue(0).Ue(16).Ue(16).Ue(static_cast<uint32_t>(s.reorder)).Ue(4);
    BitWriter pps;
    pps.Ue(0).Ue(0).U(0, 1).U(0, 1).Ue(0).Ue(0).Ue(0).U(0, 3).Ue(0).Ue(0).Ue(0).U(1, 1).U(0, 2);
    return sps.Nal(0x67) + pps.Nal(0x68);
}

struct AvcPicture {
    int type;       // 1 I (an IDR picture), 2 P, 3 B (not a reference)
    int frameNum;
    int poc;        // its order count's lsb
    int field = 0;  // 1 top, 2 bottom field; 0 a frame
    int picStruct = -1;
};

// A picture's access unit: parameter sets before an IDR picture, a picture timing SEI when it has a
// pic_struct, and one slice of `fill` bytes.
std::string AvcPictureBytes(const AvcStream& s, const AvcPicture& p, size_t fill)
{
    std::string bytes = p.type == 1 ? AvcParameterSets(s) : std::string();
    if (p.picStruct >= 0)
        bytes += BitWriter().U(1, 8).U(1, 8).U(static_cast<uint32_t>(p.picStruct), 4).U(0, 4).Nal(0x06);
    BitWriter slice;
    slice.Ue(0).Ue(p.type == 1 ? 7 : p.type == 2 ? 5 : 6).Ue(0).U(static_cast<uint32_t>(p.frameNum), 4);
    if (s.fields) {
        slice.U(p.field ? 1 : 0, 1);
        if (p.field)
            slice.U(p.field == 2 ? 1 : 0, 1);
    }
    if (p.type == 1)
        slice.Ue(0);
    slice.U(static_cast<uint32_t>(p.poc), 8);
    for (size_t i = 0; i < fill; ++i)
        slice.U(0xA5, 8);
    return bytes + slice.Nal(p.type == 1 ? 0x65 : p.type == 2 ? 0x41 : 0x01);
}

// A synthetic open-GOP stream: I2 B0 B1 P5 B3 B4 P8 B6 B7 in decode order.
const Picture OpenGop[] = {{2, 1}, {0, 3}, {1, 3}, {5, 2}, {3, 3}, {4, 3}, {8, 2}, {6, 3}, {7, 3}};

TEST(MpegTimingTest, VideoTimesFollowPictureOrderWhateverTheSampling)
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

// Eight frames at 29.97 Hz: field pictures (I then P field of each frame, each field with its own
// time), else frames with the (tff, rff) pattern 11 00 01 10, only the first timed. Each unit's
// PTS from the first, in ticks; a field is 1501.5 ticks, counted in halves.
void CheckFieldTiming(bool fields, const std::vector<int64_t>& expectedPts)
{
    const int64_t field = 1501;
    CProgramTimeline timeline;
    CElementaryStream stream(StreamKind::Mpeg2Video, timeline);
    for (int frame = 0; frame < 8; ++frame) {
        const std::string head = frame == 0 ? SequenceBytes(4) : std::string();
        const int64_t time = Start + frame * 2 * field + frame;
        if (fields) {
            Push(stream, head + PictureBytes({frame, frame == 0 ? 1 : 2, Top}, 3000), time);
            Push(stream, PictureBytes({frame, 2, Bottom}, 3000), time + field);
        } else {
            static const bool tff[] = {true, false, false, true}, rff[] = {true, false, true, false};
            const Picture picture{frame, frame == 0 ? 1 : 2, FramePicture, tff[frame % 4], rff[frame % 4]};
            Push(stream, head + PictureBytes(picture, 3000), frame == 0 ? time : NoTimestamp);
        }
    }
    stream.End();
    ASSERT_EQ(expectedPts.size(), stream.UnitCount());
    for (size_t i = 0; i < stream.UnitCount(); ++i) {
        EXPECT_EQ(Start + expectedPts[i], stream.Unit(i).pts) << i;
        EXPECT_EQ(stream.Unit(i).pts, stream.Unit(i).dts) << i;
        if (i > 0) {
            EXPECT_EQ(stream.Unit(i).dts, stream.Unit(i - 1).nextDts) << i;
        }
    }
}

// Two field pictures are one frame for timing, even when the second comes in a sample of its own
// with a time one field later.
TEST(MpegTimingTest, AFieldPairIsOneUnit)
{
    CheckFieldTiming(true, {0, 3003, 6006, 9009, 12012, 15015, 18018, 21021});
}

// Frames shown for three fields (3:2 pulldown) make the next frame due a field later, counted
// exactly at 29.97 Hz.
TEST(MpegTimingTest, RepeatedFieldsLengthenTheFrame)
{
    CheckFieldTiming(false, {0, 4504, 7507, 12012, 15015, 19519, 22522, 27027});
}

// H.264 pictures are timed as MPEG-2's: display order from the picture order counts (the reorder
// depth from the VUI, or from the pictures themselves), a field pair one frame, pic_struct's
// doubled and tripled frames as long as it says.
TEST(MpegTimingTest, H264PicturesAreTimedAsMpeg2Pictures)
{
    const int64_t field = 1501; // 1501.5 ticks at 29.97 frames a second
    // I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 in decode order: display index, type.
    const std::pair<int, int> bOrder[] = {{0, 1}, {3, 2}, {1, 3}, {2, 3}, {6, 2}, {4, 3}, {5, 3}, {9, 2}, {7, 3}, {8, 3}};
    struct Case {
        const char* name;
        AvcStream stream;
        int kind; // 0 B pictures each with its time, 1 field pairs each field with its own, 2 3:2 by pic_struct
    } cases[] = {
        {"B pictures, depth from the VUI", {false, 1, 50, false, 1}, 0},
        {"B pictures, depth from the order counts", {false, 1, 50, false, -1}, 0},
        {"field pairs", {true, 1001, 60000, false, 0}, 1},
        {"film at 59.94 by pic_struct", {false, 1001, 120000, true, 0}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProgramTimeline timeline;
        CElementaryStream stream(StreamKind::H264Video, timeline);
        std::vector<std::pair<int64_t, int64_t>> expected, times;
        int frameNum = 0; // counts the reference pictures before
        for (int i = 0; i < 10; ++i) {
            if (c.kind == 0) {
                const auto [display, type] = bOrder[i];
                Push(stream, AvcPictureBytes(c.stream, {type, frameNum % 16, 2 * display}, 3000), Start + display * Frame);
                frameNum += type != 3 ? 1 : 0;
                const int64_t pts = Start + display * Frame;
                expected.push_back({pts, type == 3 ? pts : Start - Frame + Frame * i});
            } else if (c.kind == 1) {
                const int64_t time = Start + i * 2 * field + i;
                Push(stream, AvcPictureBytes(c.stream, {i == 0 ? 1 : 2, i % 16, 4 * i, 1}, 2000), time);
                Push(stream, AvcPictureBytes(c.stream, {2, i % 16, 4 * i + 1, 2}, 2000), time + field);
                expected.push_back({time, time});
            } else {
                // Three frames and two in turn: 3:2 pulldown of film, as 720p broadcasts carry it.
                Push(stream, AvcPictureBytes(c.stream, {i == 0 ? 1 : 2, i % 16, 2 * i, 0, i % 2 ? 7 : 8}, 3000),
                     i == 0 ? Start : NoTimestamp);
                static const int64_t pulldown[] = {0, 4504, 7507, 12012, 15015, 19519, 22522, 27027, 30030, 34534};
                expected.push_back({Start + pulldown[i], Start + pulldown[i]});
            }
        }
        stream.End();
        for (size_t i = 0; i < stream.UnitCount(); ++i)
            times.push_back({stream.Unit(i).pts, stream.Unit(i).dts});
        EXPECT_EQ(expected, times);
        EXPECT_EQ(0u, stream.Outliers() + stream.Damaged());
    }
}

// A unit that does not parse is counted as damage in every kind of stream, and the units around
// it are still found.
TEST(MpegTimingTest, UnitsThatDoNotParseAreCountedAsDamage)
{
    const std::string badPicture = PictureBytes({1, 0}, 500); // picture type 0
    const std::string mpeg2[] = {SequenceBytes(3) + PictureBytes({0, 1}, 500), badPicture, PictureBytes({2, 2}, 500)};
    // An H.264 slice before any parameter set names none.
    const std::string avc[] = {AvcPictureBytes(AvcStream(), {2, 0, 0}, 500), AvcPictureBytes(AvcStream(), {1, 0, 0}, 500),
                               AvcPictureBytes(AvcStream(), {2, 1, 2}, 500)};
    // Audio that loses its sync after two frames, and finds it again.
    const std::string audio[] = {AudioFrameBytes(), AudioFrameBytes(), std::string(100, '\x11'), AudioFrameBytes(),
                                 AudioFrameBytes()};
    struct Case {
        const char* name;
        StreamKind kind;
        const std::string* samples;
        size_t count;
        size_t units; // found around the damage
    } cases[] = {
        {"MPEG-2 video", StreamKind::Mpeg2Video, mpeg2, 3, 2},
        {"H.264", StreamKind::H264Video, avc, 3, 2},
        {"MPEG audio", StreamKind::MpegAudio, audio, 5, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProgramTimeline timeline;
        CElementaryStream stream(c.kind, timeline);
        for (size_t i = 0; i < c.count; ++i)
            Push(stream, c.samples[i], i == 0 ? Start : NoTimestamp);
        stream.End();
        EXPECT_GE(stream.Damaged(), 1u);
        EXPECT_EQ(c.units, stream.UnitCount());
    }
}

// Given times against the cadence, on a video and an audio stream of one program, pushed as a file
// interleaves them. A single bad time is replaced; a jump both streams make is closed by one amount;
// data lost from one stream leaves a gap kept however long, as the other stream runs on beside it;
// times that jump in one stream while its data stays beside the other's old times are its own
// fault and closed, and so is their return (audio's that come back soon are each replaced); a
// stream that starts without times counts back from the first one. Every unit left ends on its
// true time, moved by the step where one was kept or a loss of both closed. H.264 video is judged
// as MPEG-2 video is.
TEST(MpegTimingTest, GivenTimesAreJudgedAcrossStreams)
{
    for (const StreamKind videoKind : {StreamKind::Mpeg2Video, StreamKind::H264Video}) {
        SCOPED_TRACE(videoKind == StreamKind::H264Video ? "H.264" : "MPEG-2");
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
            {"audio times 0.5 s late for 0.2 s (8 frames)", AudioOnly, 40, 45, 45000, 0, 8, 0},
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
            CElementaryStream video(videoKind, timeline), audio(StreamKind::MpegAudio, timeline);
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
            int idrFrame = 0;
            for (int frame = 0; frame < Frames; ++frame) {
                const int64_t time = Start + frame * Frame;
                const int64_t given = changed(time, frame, VideoOnly);
                // The first picture of the group after a loss starts with a sequence header.
                const bool head = frame == 0 || (c.change == Lost && frame == c.to && (c.which & VideoOnly));
                if (given != Lost) {
                    idrFrame = head ? frame : idrFrame;
                    const int n = frame - idrFrame;
                    Push(video,
                         videoKind == StreamKind::Mpeg2Video
                             ? (head ? SequenceBytes(3) : std::string()) + PictureBytes({frame, frame ? 2 : 1}, 4000)
                             : AvcPictureBytes(AvcStream(), {head ? 1 : 2, n % 16, (2 * n) % 256}, 4000),
                         given);
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
}

// Recordings ffmpeg made (x264 with B pictures, SD and 1080i; AAC raw, ADTS and LOAS, E-AC-3): every
// stream's units are as many as ffprobe's packets, with its times to within a tick of 90 kHz.
// Raw AAC, which ffprobe regroups, is held to the recording's own frame times.
TEST(MpegTimingTest, RecordedH264IsTimedAsFfprobeTimesIt)
{
    // ffprobe's lines: "pts" or "pts,dts" in 100 ns, N/A where it has none; seconds for a file of its own.
    const auto read = [](const std::string& name, bool seconds) {
        std::vector<std::pair<int64_t, int64_t>> times;
        std::istringstream lines(ReadFileBytes(VectorPath(name)));
        std::string line;
        const auto ticks = [seconds](const std::string& text) {
            if (text.empty() || text == "N/A")
                return NoTimestamp;
            return seconds ? std::llround(std::stod(text) * 90000) : std::llround(std::stod(text) * 9 / 1000);
        };
        while (std::getline(lines, line)) {
            const size_t comma = line.find(',');
            times.push_back({ticks(line.substr(0, comma)), comma == std::string::npos ? NoTimestamp : ticks(line.substr(comma + 1))});
        }
        return times;
    };
    struct Case {
        const char* name;
        StreamKind audioKind;
        const char* audioTimes; // ffprobe's, or none: the recording's own
        bool audioSeconds;
    } cases[] = {
        {"h264-aac", StreamKind::AacAudio, nullptr, false},
        {"h264i-eac3", StreamKind::Eac3Audio, "wtv\\h264i-eac3.a.times", false},
        {"h264-adts", StreamKind::AacAudio, "wtv\\audio.adts.times", true},
        {"h264-latm", StreamKind::AacAudio, "wtv\\audio.latm.times", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wtv::CReader reader;
        ASSERT_EQ(S_OK, reader.Open(Wide(VectorPath(std::string("wtv\\") + c.name + ".wtv")).c_str()));
        CProgramTimeline timeline;
        CElementaryStream video(StreamKind::H264Video, timeline), audio(c.audioKind, timeline);
        struct Sink : media::IObjectSink {
            const std::vector<media::StreamFormat>* formats;
            CElementaryStream *video, *audio;
            std::vector<std::pair<int64_t, int64_t>> audioGiven;
            bool OnObject(const media::MediaObject& object) override
            {
                const media::Codec codec = (*formats)[object.streamIndex].codec;
                const int64_t time = object.hasTiming ? (object.time * 9 + 500) / 1000 : NoTimestamp;
                CElementaryStream* stream = codec == media::Codec::H264Video                            ? video
                                            : codec == media::Codec::Aac || codec == media::Codec::Eac3 ? audio
                                                                                                        : nullptr;
                if (stream)
                    stream->Push(object.data, object.size, time);
                if (stream == audio)
                    audioGiven.push_back({time, NoTimestamp});
                return true;
            }
        } sink;
        sink.formats = &reader.Formats();
        sink.video = &video;
        sink.audio = &audio;
        for (const media::StreamFormat& format : reader.Formats()) {
            if (format.codec == media::Codec::Aac && !format.audio.aacConfig.empty()) {
                ASSERT_TRUE(audio.SetAacConfig(format.audio.aacConfig.data(), format.audio.aacConfig.size()));
            }
        }
        ASSERT_EQ(S_OK, reader.Read(sink));
        video.End();
        audio.End();
        EXPECT_EQ(0u, video.Damaged() + audio.Damaged() + video.Outliers() + audio.Outliers() + video.Jumps() + audio.Jumps());

        const auto compare = [](const CElementaryStream& stream, const std::vector<std::pair<int64_t, int64_t>>& expected,
                                bool fromFirst) {
            ASSERT_EQ(expected.size(), stream.UnitCount());
            for (size_t i = 0; i < expected.size(); ++i) {
                SCOPED_TRACE(i);
                const int64_t base = fromFirst ? stream.Unit(0).pts - expected[0].first : 0;
                EXPECT_LE(std::llabs(stream.Unit(i).pts - base - expected[i].first), 1);
                if (expected[i].second != NoTimestamp) {
                    EXPECT_LE(std::llabs(stream.Unit(i).dts - expected[i].second), 1);
                }
            }
        };
        compare(video, read(std::string("wtv\\") + c.name + ".v.times", false), false);
        compare(audio, c.audioTimes ? read(c.audioTimes, c.audioSeconds) : sink.audioGiven, c.audioSeconds);
    }
}

} // namespace
