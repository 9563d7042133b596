// The multiplexer core fed with elementary streams, its output judged by the tests' program stream
// checker.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "media/mpeg/Multiplexer.h"
#include "tests/media/RecordingWriter.h"
#include "tests/media/StreamProbe.h"
#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"

using namespace mpeg;

namespace {

class CCollectingSink : public IPackSink {
public:
    bool WritePack(const uint8_t* pack) override
    {
        bytes.insert(bytes.end(), pack, pack + PackSize);
        return true;
    }
    std::vector<uint8_t> bytes;
};

// Units with their 90 kHz times, and the order a recorder sends them in (video a frame ahead of its
// first display, audio at its time).
struct Timed {
    std::vector<std::string> units;
    std::vector<int64_t> times, sendKeys;

    std::string Bytes() const
    {
        std::string bytes;
        for (const std::string& unit : units)
            bytes += unit;
        return bytes;
    }
};

// Vectors one after another in one stream, each starting when the one before ends (reckoned in
// ffprobe's 100 ns, as the units' times are).
Timed Joined(const std::vector<const char*>& vectors, bool video, int64_t start)
{
    Timed joined;
    int64_t offset = 0;
    for (const char* vector : vectors) {
        std::vector<std::string> units;
        std::vector<int64_t> times;
        EXPECT_TRUE(test_recordings::SplitFrames(testing_support::VectorPath(vector), units, &times));
        if (times.size() < 2)
            break;
        const int64_t last = *std::max_element(times.begin(), times.end());
        const int64_t period = last / static_cast<int64_t>(times.size() - 1);
        for (size_t i = 0; i < times.size(); ++i) {
            joined.units.push_back(units[i]);
            joined.times.push_back(start + (offset + times[i]) * 9 / 1000);
            joined.sendKeys.push_back(video ? start + (offset + (static_cast<int64_t>(i) - 1) * period) * 9 / 1000 : joined.times.back());
        }
        offset += last + period;
    }
    return joined;
}

// One vector's units but the last `dropped`.
Timed TimedUnits(const char* vector, bool video, int64_t start, size_t dropped = 0)
{
    Timed timed = Joined({vector}, video, start);
    for (auto* times : {&timed.times, &timed.sendKeys})
        times->resize(times->size() - dropped);
    timed.units.resize(timed.units.size() - dropped);
    return timed;
}

StreamKind KindOf(const std::string& vector)
{
    return vector.find(".m2v") != std::string::npos ? StreamKind::Mpeg2Video
           : vector.find(".ac3") != std::string::npos ? StreamKind::Ac3Audio
                                                      : StreamKind::MpegAudio;
}

// The streams' units through a new multiplexer a unit at a time, the earliest send time first; when
// `untimed`, only each stream's first unit is pushed with its time.
::testing::AssertionResult Multiplex(const std::vector<StreamKind>& kinds, const std::vector<Timed>& timed, bool untimed,
                                     CCollectingSink& sink, bool& dvd)
{
    CProgramStreamMultiplexer mux(sink);
    std::vector<int> streams;
    for (StreamKind kind : kinds)
        streams.push_back(mux.AddStream(kind));
    std::vector<size_t> next(timed.size(), 0);
    for (;;) {
        size_t s = timed.size();
        for (size_t k = 0; k < timed.size(); ++k) {
            if (next[k] < timed[k].units.size() && (s == timed.size() || timed[k].sendKeys[next[k]] < timed[s].sendKeys[next[s]]))
                s = k;
        }
        if (s == timed.size())
            break;
        const std::string& unit = timed[s].units[next[s]];
        const int64_t time = untimed && next[s] > 0 ? NoTimestamp : timed[s].times[next[s]];
        if (!mux.Push(streams[s], reinterpret_cast<const uint8_t*>(unit.data()), unit.size(), time))
            return ::testing::AssertionFailure() << "a push failed";
        if (++next[s] == timed[s].units.size() && !mux.End(streams[s]))
            return ::testing::AssertionFailure() << "an end failed";
    }
    dvd = mux.DvdNavigation();
    if (mux.Damaged())
        return ::testing::AssertionFailure() << mux.Damaged() << " units damaged";
    return mux.Finished() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "not finished";
}

// Recordings of every rate, with up to the eight audio streams a DVD has, of both kinds mixed and each
// a different length so none can pass for another, through the multiplexer in send order. Streams
// within DVD limits get DVD's rate and buffers, a navigation pack before each group of pictures and
// the program end code; others neither. A stream alone keeps a gap of under a second, with clock
// references still at most 0.7 s apart. (Field pictures, pulldown and broken times: the timing
// test, and the end-to-end conversions.)
struct Layout {
    const char* video;
    std::vector<const char*> audio;
    int64_t audioDelay; // 90 kHz; the gap to the video's first time must survive
    bool untimed;
    bool dvd;
    int64_t videoGap = 0; // 90 kHz, after the video's middle unit
};

struct Muxed {
    const Layout* layout;
    std::vector<StreamKind> kinds;
    std::vector<Timed> timed;
    CCollectingSink sink;
    bool dvd = false;
    ::testing::AssertionResult done = ::testing::AssertionSuccess();
    ps_check::Report report;
};

// Each layout multiplexed once for every test of it.
const std::vector<Muxed>& Layouts()
{
    static const Layout layouts[] = {
        {"es\\video-bframes.m2v", {"es\\audio.ac3", "es\\audio.mp2"}, 27000, true, true},
        {"es\\video.m2v", {"es\\audio-5.1.ac3"}, 0, false, true},
        {"es\\hd-1080i.m2v", {"es\\audio-5.1.ac3"}, 0, false, false},
        {"es\\hd-1080i-nomax.m2v", {"es\\audio.ac3"}, 0, false, false},
        {"es\\hd-1440.m2v",
         {"es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3",
          "es\\audio.ac3", "es\\audio-5.1.ac3"},
         0, false, false},
        {"es\\sd-15m.m2v", {"es\\audio.mp2", "es\\audio-5.1.ac3", "es\\audio.mp2", "es\\audio.ac3"}, 0, false, false},
        {"es\\sd-40m.m2v", {"es\\audio-5.1.ac3"}, 0, false, false},
        {"es\\video.m2v", {}, 0, false, true, 24 * 3600},
    };
    static const std::vector<Muxed> muxed = [] {
        std::vector<Muxed> all(std::size(layouts));
        for (size_t i = 0; i < all.size(); ++i) {
            const Layout& c = layouts[i];
            Muxed& m = all[i];
            const int64_t start = 3600 * 90000LL;
            m.layout = &c;
            m.timed = {TimedUnits(c.video, true, start)};
            for (auto* times : {&m.timed[0].times, &m.timed[0].sendKeys})
                for (size_t u = times->size() / 2; u < times->size(); ++u)
                    (*times)[u] += c.videoGap;
            m.kinds = {StreamKind::Mpeg2Video};
            for (size_t a = 0; a < c.audio.size(); ++a) {
                m.kinds.push_back(KindOf(c.audio[a]));
                m.timed.push_back(TimedUnits(c.audio[a], false, start + c.audioDelay, 5 * a));
            }
            m.done = Multiplex(m.kinds, m.timed, c.untimed, m.sink, m.dvd);
            m.report = ps_check::CheckProgramStream(m.sink.bytes);
        }
        return all;
    }();
    return muxed;
}

// The system target decoder's rules kept, with little overhead: packs, PES headers and padding are a
// few per cent; on a DVD also a navigation pack and a short last video packet for each group of pictures.
TEST(MpegMultiplexerTest, EveryLayoutKeepsTheDecoderModel)
{
    for (const Muxed& m : Layouts()) {
        SCOPED_TRACE(m.layout->video);
        ASSERT_TRUE(m.done);
        EXPECT_TRUE(m.report.Clean()) << m.report.Text();
        EXPECT_LT(m.report.bytes, m.report.Payload() * 1.04 + 2.0 * PackSize * m.report.navigationPacks) << m.report.Text();
    }
}

// Each stream under its number, in the order added (MPEG audio from 0xC0, AC-3 from sub-stream 0x80
// of private stream 1), with its bytes and its times.
TEST(MpegMultiplexerTest, EachStreamKeepsItsNumberBytesAndTimes)
{
    for (const Muxed& m : Layouts()) {
        SCOPED_TRACE(m.layout->video);
        ASSERT_EQ(m.kinds.size(), m.report.streams.size()) << m.report.Text();
        std::vector<ps_check::ExpectedTimes> expected;
        uint8_t mpegAudioId = MpegAudioStreamId, ac3Substream = Ac3SubstreamId;
        for (size_t s = 0; s < m.kinds.size(); ++s) {
            SCOPED_TRACE(s);
            const bool mpegAudio = m.kinds[s] == StreamKind::MpegAudio, ac3 = m.kinds[s] == StreamKind::Ac3Audio;
            const uint8_t id = ac3 ? PrivateStream1Id : mpegAudio ? mpegAudioId++ : VideoStreamId;
            const uint8_t substream = ac3 ? ac3Substream++ : 0;
            const auto found = std::find_if(m.report.streams.begin(), m.report.streams.end(),
                                            [&](const ps_check::StreamReport& r) { return r.id == id && r.substream == substream; });
            ASSERT_TRUE(found != m.report.streams.end()) << m.report.Text();
            EXPECT_TRUE(found->elementary == m.timed[s].Bytes());
            expected.push_back({&*found, m.timed[s].times});
        }
        EXPECT_EQ("", ps_check::TimesKept(expected, 2, 2));
    }
}

TEST(MpegMultiplexerTest, OnlyDvdLayoutsGetDvdRateBuffersAndNavigation)
{
    for (const Muxed& m : Layouts()) {
        SCOPED_TRACE(m.layout->video);
        EXPECT_EQ(m.layout->dvd, m.dvd);
        EXPECT_EQ(m.dvd, m.report.endCode);
        EXPECT_EQ(m.dvd, m.report.navigationPacks > 0);
        if (!m.dvd)
            continue;
        EXPECT_EQ(DvdMuxRate, m.report.lowestMuxRate);
        EXPECT_EQ(DvdMuxRate, m.report.highestMuxRate);
        for (const ps_check::StreamReport& stream : m.report.streams)
            EXPECT_EQ(stream.id == PrivateStream1Id ? 58 * 1024u : stream.id == VideoStreamId ? 232 * 1024u : 4096u, stream.declared);
    }
}

// The navigation packs as the checker finds them; then one gone (padding in its place).
TEST(MpegMultiplexerTest, TheCheckerMissesNoNavigationPack)
{
    const Muxed& m = Layouts().front();
    ASSERT_TRUE(m.dvd);
    std::vector<size_t> navigation;
    for (size_t at = 0; at + PackSize <= m.sink.bytes.size(); at += PackSize) {
        if (m.sink.bytes[at + 17] == 0xBB && m.sink.bytes[at + 41] == PrivateStream2Id)
            navigation.push_back(at);
    }
    ASSERT_EQ(m.report.navigationPacks, navigation.size());
    ASSERT_GT(navigation.size(), 2u);
    std::vector<uint8_t> gone = m.sink.bytes;
    WritePaddingPacket(gone.data() + navigation[2] + PackHeaderSize, PackSize - PackHeaderSize);
    const ps_check::Report faulty = ps_check::CheckProgramStream(gone);
    EXPECT_EQ(1u, faulty.Count(ps_check::Fault::Navigation)) << faulty.Text();
}

// ffprobe finds each stream and reads as many packets of it as it has units, without an error.
::testing::AssertionResult FfprobeReadsEveryStream(const std::vector<uint8_t>& bytes,
                                                   const std::vector<std::pair<std::string, size_t>>& streams)
{
    const std::string path = testing_support::MakeScratchDirectory("mpeg-multiplexer-ffprobe") + "output.mpg";
    testing_support::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
    testing_support::ToolOutput out;
    const std::string command = "/usr/bin/ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets -of csv=p=0 '" +
                                testing_support::UnixPath(path) + "'";
    if (!testing_support::RunLinuxTool(command, out) || !out.err.empty())
        return ::testing::AssertionFailure() << command << ":\n" << out.err;
    for (const auto& stream : streams) {
        if (out.out.find(stream.first + "," + std::to_string(stream.second) + ",") == std::string::npos &&
            out.out.find(stream.first + "," + std::to_string(stream.second) + "\n") == std::string::npos)
            return ::testing::AssertionFailure() << "not " << stream.second << " packets of " << stream.first << ":\n" << out.out;
    }
    return ::testing::AssertionSuccess();
}

// Video and audio that change format on the way (picture size, level, rate and buffer; audio rate and
// layout) keep the system target decoder's rules after the change too: the rate and the video buffer
// follow the stream, no unit arrives late and no buffer overflows. Where the new ones pass what the
// system header declared, or a DVD title's one format ends, a new program stream begins after the
// program end code, and a DVD-ready part is a DVD title up to there.
TEST(MpegMultiplexerTest, FormatChangesKeepTheDecoderModel)
{
    const struct Case {
        const char* name;
        std::vector<const char*> video, audio; // vectors one after another
        size_t programs;                       // program streams
        bool dvd;                              // navigation packs from the start
        uint32_t videoBufferKiB;               // at the end
        bool dvdRateAtEnd;                     // the last pack's mux rate DVD's: the rate came down with SD
    } cases[] = {
        {"SD within DVD limits, then 1080i", {"es\\video-bframes.m2v", "es\\hd-1080i.m2v"}, {"es\\audio.ac3", "es\\audio.ac3"},
         2, true, 1202, false},
        {"1080i, then SD", {"es\\hd-1080i.m2v", "es\\video-bframes.m2v"}, {"es\\audio.ac3", "es\\audio.ac3"}, 1, false, 232, true},
        {"1440x1080i, then 1080i with a larger buffer", {"es\\hd-1440.m2v", "es\\hd-1080i.m2v"}, {"es\\audio.ac3", "es\\audio.ac3"},
         2, false, 1202, false},
        {"AC-3 2.0 at 192 kb/s, then 5.1 at 448 kb/s", {"es\\video-bframes.m2v"}, {"es\\audio.ac3", "es\\audio-5.1.ac3"},
         2, true, 232, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t start = 3600 * 90000LL;
        const std::vector<Timed> timed{Joined(c.video, true, start), Joined(c.audio, false, start)};
        CCollectingSink sink;
        bool dvd = false;
        ASSERT_TRUE(Multiplex({StreamKind::Mpeg2Video, StreamKind::Ac3Audio}, timed, false, sink, dvd));
        EXPECT_EQ(c.dvd, dvd);

        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        EXPECT_EQ(c.programs, report.programs) << report.Text();
        EXPECT_EQ(c.dvd, report.navigationPacks > 0);
        const ps_check::StreamReport* video = report.Stream(VideoStreamId);
        const ps_check::StreamReport* audio = report.Stream(PrivateStream1Id);
        ASSERT_TRUE(video && audio) << report.Text();
        EXPECT_EQ(c.videoBufferKiB * 1024, video->declared);
        const uint8_t* last = sink.bytes.data() + sink.bytes.size() - PackSize;
        EXPECT_EQ(c.dvdRateAtEnd, static_cast<uint32_t>(last[10] << 14 | last[11] << 6 | last[12] >> 2) == DvdMuxRate);
        EXPECT_TRUE(video->elementary == timed[0].Bytes());
        EXPECT_TRUE(audio->elementary == timed[1].Bytes());
        EXPECT_EQ("", ps_check::TimesKept({{video, timed[0].times}, {audio, timed[1].times}}, 2, 2));
        EXPECT_TRUE(FfprobeReadsEveryStream(sink.bytes, {{"mpeg2video", timed[0].units.size()}, {"ac3", timed[1].units.size()}}));
        if (!c.dvd)
            continue;
        // The DVD-ready part: up to the pack that ends with the program end code.
        size_t end = 0;
        while (end < sink.bytes.size() && !std::equal(ProgramEndCode, ProgramEndCode + 4, sink.bytes.begin() + end + PackSize - 4))
            end += PackSize;
        ASSERT_LT(end, sink.bytes.size());
        const std::string title = testing_support::MakeScratchDirectory("mpeg-multiplexer-dvd") + "title.mpg";
        testing_support::WriteFileBytes(title, std::string(sink.bytes.begin(), sink.bytes.begin() + end + PackSize));
        EXPECT_TRUE(testing_support::DvdAuthorAccepts(title));
    }
}

// Bytes that never show a unit are passed on once they pile up, rather than held for ever. (Garbage
// between frames is the multiplexer filter's test's.)
TEST(MpegMultiplexerTest, BacklogStaysBounded)
{
    CCollectingSink sink;
    CProgramStreamMultiplexer mux(sink);
    const int noise = mux.AddStream(StreamKind::Mpeg2Video);
    const std::string piece(1 << 20, '\xAA');
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(mux.Push(noise, reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), NoTimestamp));
        EXPECT_LE(mux.Queued(noise), CElementaryStream::MaxUntimedBacklog);
    }
}

} // namespace
