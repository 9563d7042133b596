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

// Collects the packs; fails once `failAfter` packs are in, when that is set.
class CCollectingSink : public IPackSink {
public:
    bool WritePack(const uint8_t* pack) override
    {
        if (failAfter >= 0 && packs >= failAfter)
            return false;
        bytes.insert(bytes.end(), pack, pack + PackSize);
        ++packs;
        return true;
    }
    std::vector<uint8_t> bytes;
    int packs = 0;
    int failAfter = -1;
};

TEST(MpegMultiplexerTest, InterleavesEncodedStreamsByteForByteWithinBufferLimits)
{
    struct Case {
        const char* video;
        const char* audio;
        StreamKind kind;
        uint8_t audioId;
        int64_t audioStart; // 90 kHz; the gap to the video's first time must survive
        size_t audioBuffer;
    } cases[] = {
        {"es\\video.m2v", "es\\audio.mp2", StreamKind::MpegAudio, MpegAudioStreamId, 0, 4096},
        {"es\\video-bframes.m2v", "es\\audio.ac3", StreamKind::Ac3Audio, PrivateStream1Id, 27000, 58 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video);
        const std::string bytes[2] = {testing_support::ReadFileBytes(testing_support::VectorPath(c.video)), // video, audio
                                      testing_support::ReadFileBytes(testing_support::VectorPath(c.audio))};
        ASSERT_GT(bytes[0].size(), 100000u);
        ASSERT_GT(bytes[1].size(), 10000u);
        CCollectingSink sink;
        CProgramStreamMultiplexer mux(sink);
        const int streams[2] = {mux.AddStream(StreamKind::Mpeg2Video), mux.AddStream(c.kind)};
        const int64_t starts[2] = {0, c.audioStart};
        // Both streams in irregular pieces, audio first, the video's twenty times larger, with a time
        // only on the first piece of each.
        size_t at[2] = {0, 0};
        for (size_t k = 0; at[0] < bytes[0].size() || at[1] < bytes[1].size(); ++k) {
            for (int s : {1, 0}) {
                const size_t n = std::min((300 + k * 7919 % 1000) * (s == 0 ? 20 : 1), bytes[s].size() - at[s]);
                if (n == 0)
                    continue;
                ASSERT_TRUE(mux.Push(streams[s], reinterpret_cast<const uint8_t*>(bytes[s].data() + at[s]), n,
                                     at[s] == 0 ? starts[s] : NoTimestamp));
                if ((at[s] += n) == bytes[s].size()) {
                    ASSERT_TRUE(mux.End(streams[s]));
                }
            }
        }
        ASSERT_TRUE(mux.Finished());
        EXPECT_EQ(0u, mux.Damaged());

        // The checker holds the buffers, decode order, stamps and AC-3 sub-stream headers to the rules.
        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        EXPECT_EQ(0u, report.firstScr);
        // Whole packs; in a DVD stream the last one ends with the end code.
        EXPECT_EQ(report.endCode ? PackSize - sizeof(ProgramEndCode) : PackSize, report.smallestPack);
        EXPECT_EQ(PackSize, report.largestPack);
        EXPECT_EQ(DvdMuxRate, report.lowestMuxRate);
        EXPECT_EQ(DvdMuxRate, report.highestMuxRate);
        const ps_check::StreamReport* video = report.Stream(VideoStreamId);
        const ps_check::StreamReport* audio = report.Stream(c.audioId);
        ASSERT_TRUE(video && audio) << report.Text();
        EXPECT_TRUE(video->elementary == bytes[0]);
        EXPECT_TRUE(audio->elementary == bytes[1]);
        EXPECT_EQ(std::vector<size_t>{0}, video->pstdPackets);
        EXPECT_EQ(std::vector<size_t>{0}, audio->pstdPackets);
        EXPECT_EQ(232 * 1024u, video->declared);
        EXPECT_EQ(c.audioBuffer, audio->declared);
        ASSERT_FALSE(video->pts.empty() || audio->pts.empty());
        const bool bPictures = video->firstDts != video->pts[0];
        EXPECT_EQ(c.kind == StreamKind::Ac3Audio, bPictures);
        EXPECT_EQ(c.audioStart, audio->pts[0] - video->pts[0]);
        EXPECT_EQ(CProgramStreamMultiplexer::Preload + (bPictures ? 3600 : 0), video->pts[0]);
    }
}

// A vector's units with their 90 kHz times from `start`, and the order a recorder sends them in
// (video a frame ahead of its first display, audio at its time).
struct Timed {
    std::vector<std::string> units;
    std::vector<int64_t> times, sendKeys;
};

Timed TimedUnits(const std::string& path, bool video, int64_t start)
{
    Timed timed;
    std::vector<int64_t> times;
    EXPECT_TRUE(test_recordings::SplitFrames(path, timed.units, &times));
    const int64_t period = times.size() > 1 ? *std::max_element(times.begin(), times.end()) * 9 / 1000 / static_cast<int64_t>(times.size() - 1) : 0;
    for (size_t i = 0; i < times.size(); ++i) {
        timed.times.push_back(start + times[i] * 9 / 1000);
        timed.sendKeys.push_back(video ? start + (static_cast<int64_t>(i) - 1) * period : timed.times.back());
    }
    return timed;
}

StreamKind KindOf(const std::string& vector)
{
    return vector.find(".m2v") != std::string::npos ? StreamKind::Mpeg2Video
           : vector.find(".ac3") != std::string::npos ? StreamKind::Ac3Audio
                                                      : StreamKind::MpegAudio;
}

// The streams' units through a new multiplexer a unit at a time, the earliest send time first.
::testing::AssertionResult Multiplex(const std::vector<StreamKind>& kinds, const std::vector<Timed>& timed, CCollectingSink& sink,
                                     bool* dvd = nullptr)
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
        if (!mux.Push(streams[s], reinterpret_cast<const uint8_t*>(unit.data()), unit.size(), timed[s].times[next[s]]))
            return ::testing::AssertionFailure() << "a push failed";
        if (++next[s] == timed[s].units.size() && !mux.End(streams[s]))
            return ::testing::AssertionFailure() << "an end failed";
    }
    if (dvd)
        *dvd = mux.DvdNavigation();
    if (mux.Damaged())
        return ::testing::AssertionFailure() << mux.Damaged() << " units damaged";
    return mux.Finished() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "not finished";
}

// Recordings of every rate through the multiplexer, a unit per push with its time, in send order: the
// output keeps the system target decoder's rules and every frame its time. (Field pictures, pulldown
// and broken times: the timing test, and the end-to-end conversions through the whole graph.)
TEST(MpegMultiplexerTest, EveryRateOfRecordingKeepsTheDecoderModelAndItsTimes)
{
    const struct Case {
        const char* video;
        const char* audio;
    } cases[] = {
        {"es\\video-bframes.m2v", "es\\audio.ac3"},   {"es\\hd-1080i.m2v", "es\\audio-5.1.ac3"},
        {"es\\hd-1080i-nomax.m2v", "es\\audio.ac3"},  {"es\\hd-1440.m2v", "es\\audio.mp2"},
        {"es\\sd-15m.m2v", "es\\audio.mp2"},          {"es\\sd-40m.m2v", "es\\audio-5.1.ac3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video);
        const int64_t start = 7200 * 90000LL;
        const std::string paths[2] = {testing_support::VectorPath(c.video), testing_support::VectorPath(c.audio)};
        const std::string es[2] = {testing_support::ReadFileBytes(paths[0]), testing_support::ReadFileBytes(paths[1])};
        const Timed timed[2] = {TimedUnits(paths[0], true, start), TimedUnits(paths[1], false, start)};
        ASSERT_GT(timed[0].units.size(), 10u);
        ASSERT_GT(timed[1].units.size(), 10u);
        const bool ac3 = es[1].compare(0, 2, "\x0B\x77") == 0;

        CCollectingSink sink;
        bool dvd = false;
        ASSERT_TRUE(Multiplex({StreamKind::Mpeg2Video, ac3 ? StreamKind::Ac3Audio : StreamKind::MpegAudio}, {timed[0], timed[1]}, sink, &dvd));

        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        // Whole packs; in a DVD stream the last one ends with the end code.
        EXPECT_EQ(report.endCode ? PackSize - sizeof(ProgramEndCode) : PackSize, report.smallestPack);
        EXPECT_EQ(PackSize, report.largestPack);
        // Packs, PES headers and padding: a few per cent; on a DVD also a navigation pack and a short last
        // video packet for each group of pictures.
        const double navigation = 2.0 * PackSize * report.navigationPacks / static_cast<double>(report.Payload());
        EXPECT_LT(report.Overhead(), 0.04 + navigation) << report.Text();
        EXPECT_EQ(dvd, report.navigationPacks > 0);
        EXPECT_EQ(dvd, report.endCode);
        const ps_check::StreamReport* out[2] = {report.Stream(VideoStreamId), report.Stream(ac3 ? PrivateStream1Id : MpegAudioStreamId)};
        ASSERT_TRUE(out[0] && out[1]) << report.Text();
        EXPECT_TRUE(out[0]->elementary == es[0]);
        EXPECT_TRUE(out[1]->elementary == es[1]);
        EXPECT_EQ("", ps_check::TimesKept({{out[0], timed[0].times, {}}, {out[1], timed[1].times, {}}}, 2, 2));
    }
}

// Up to the most audio streams a DVD has, of both kinds mixed, each a different length so none can
// pass for another: MPEG audio is numbered from 0xC0, AC-3 from sub-stream 0x80 of private stream 1,
// in the order they were added; each keeps its bytes and times, and the decoder model holds with
// the AC-3 sub-streams sharing private stream 1's buffer.
TEST(MpegMultiplexerTest, EveryAudioStreamKeepsItsBytesTimesAndNumber)
{
    struct Case {
        const char* video;
        std::vector<const char*> audio;
        std::vector<std::pair<uint8_t, uint8_t>> ids; // stream_id and sub-stream of each audio stream
    } cases[] = {
        {"es\\video-bframes.m2v", {"es\\audio.ac3", "es\\audio.mp2"}, {{0xBD, 0x80}, {0xC0, 0}}},
        {"es\\sd-15m.m2v",
         {"es\\audio.mp2", "es\\audio-5.1.ac3", "es\\audio.mp2", "es\\audio.ac3"},
         {{0xC0, 0}, {0xBD, 0x80}, {0xC1, 0}, {0xBD, 0x81}}},
        {"es\\hd-1440.m2v",
         {"es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3", "es\\audio.ac3",
          "es\\audio.ac3", "es\\audio-5.1.ac3"},
         {{0xBD, 0x80}, {0xBD, 0x81}, {0xBD, 0x82}, {0xBD, 0x83}, {0xBD, 0x84}, {0xBD, 0x85}, {0xBD, 0x86}, {0xBD, 0x87}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.video);
        const int64_t start = 3600 * 90000LL;
        std::vector<Timed> timed{TimedUnits(testing_support::VectorPath(c.video), true, start)};
        for (size_t a = 0; a < c.audio.size(); ++a) {
            timed.push_back(TimedUnits(testing_support::VectorPath(c.audio[a]), false, start));
            Timed& t = timed.back();
            const size_t keep = t.units.size() - 5 * a; // a different length for each
            t.units.resize(keep);
            t.times.resize(keep);
            t.sendKeys.resize(keep);
        }

        // No more than eight audio streams, nor a second video stream.
        {
            CCollectingSink unused;
            CProgramStreamMultiplexer mux(unused);
            EXPECT_EQ(0, mux.AddStream(StreamKind::Mpeg2Video));
            for (const char* audio : c.audio)
                EXPECT_LE(0, mux.AddStream(KindOf(audio)));
            EXPECT_EQ(c.audio.size() < CProgramStreamMultiplexer::MaxAudioStreams, mux.AddStream(StreamKind::MpegAudio) >= 0);
            EXPECT_EQ(-1, mux.AddStream(StreamKind::Mpeg2Video));
        }
        std::vector<StreamKind> kinds{StreamKind::Mpeg2Video};
        for (const char* audio : c.audio)
            kinds.push_back(KindOf(audio));
        CCollectingSink sink;
        ASSERT_TRUE(Multiplex(kinds, timed, sink));

        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        EXPECT_EQ(1 + c.audio.size(), report.streams.size()) << report.Text();
        std::vector<ps_check::ExpectedTimes> expected;
        const ps_check::StreamReport* video = report.Stream(VideoStreamId);
        ASSERT_TRUE(video);
        expected.push_back({video, timed[0].times, {}});
        for (size_t a = 0; a < c.audio.size(); ++a) {
            SCOPED_TRACE(a);
            const auto found = std::find_if(report.streams.begin(), report.streams.end(), [&](const ps_check::StreamReport& r) {
                return r.id == c.ids[a].first && r.substream == c.ids[a].second;
            });
            ASSERT_TRUE(found != report.streams.end()) << report.Text();
            std::string bytes;
            for (const std::string& unit : timed[a + 1].units)
                bytes += unit;
            EXPECT_TRUE(found->elementary == bytes);
            expected.push_back({&*found, timed[a + 1].times, {}});
        }
        EXPECT_EQ("", ps_check::TimesKept(expected, 2, 2));
    }
}

// Streams within DVD limits get a VOBU for each group of pictures, a navigation pack first, and the
// program end code in a last pack, all in whole sectors; others get neither. The checker holds the
// VOBUs to the groups of pictures, and catches a missing or broken navigation pack.
TEST(MpegMultiplexerTest, StreamsWithinDvdLimitsStartEachGroupOfPicturesWithANavigationPack)
{
    const struct Case {
        const char* why;
        std::vector<const char*> vectors; // video first
        bool dvd;
    } cases[] = {
        {"SD with B-frames, AC-3 and MP2", {"es\\video-bframes.m2v", "es\\audio.ac3", "es\\audio.mp2"}, true},
        {"SD with 5.1", {"es\\video.m2v", "es\\audio-5.1.ac3"}, true},
        {"SD above DVD's video rate", {"es\\sd-15m.m2v", "es\\audio.mp2"}, false},
        {"HD", {"es\\hd-1440.m2v", "es\\audio.ac3"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<Timed> timed;
        std::vector<StreamKind> kinds;
        for (const char* vector : c.vectors) {
            kinds.push_back(KindOf(vector));
            timed.push_back(TimedUnits(testing_support::VectorPath(vector),
                                       kinds.back() == StreamKind::Mpeg2Video, 600 * 90000LL));
        }
        CCollectingSink sink;
        bool dvd = false;
        ASSERT_TRUE(Multiplex(kinds, timed, sink, &dvd));
        EXPECT_EQ(c.dvd, dvd);
        const ps_check::Report report = ps_check::CheckProgramStream(sink.bytes);
        EXPECT_TRUE(report.Clean()) << report.Text();
        EXPECT_EQ(0u, sink.bytes.size() % PackSize);
        EXPECT_EQ(c.dvd, report.endCode);
        // A group of pictures starts with each sequence header in these streams.
        const std::string& video = report.Stream(VideoStreamId)->elementary;
        size_t groups = 0;
        for (size_t at = video.find(std::string("\0\0\1\xB3", 4)); at != std::string::npos; at = video.find(std::string("\0\0\1\xB3", 4), at + 4))
            ++groups;
        ASSERT_GT(groups, 3u);
        EXPECT_EQ(c.dvd ? groups : 0u, report.navigationPacks);
        if (!c.dvd)
            continue;

        // The navigation packs as the checker finds them; then one gone (padding in its place), and one
        // whose PCI is not a PCI.
        std::vector<size_t> navigation;
        for (size_t at = 0; at + PackSize <= sink.bytes.size(); at += PackSize) {
            if (sink.bytes[at + 17] == 0xBB && sink.bytes[at + 41] == PrivateStream2Id)
                navigation.push_back(at);
        }
        ASSERT_EQ(groups, navigation.size());
        EXPECT_EQ(0u, navigation.front());
        // The placeholders hold the pack's own number (PCI and DSI) and SCR base (DSI), as a tool reads them.
        const auto be32 = [&](size_t at) {
            return static_cast<uint32_t>(sink.bytes[at] << 24 | sink.bytes[at + 1] << 16 | sink.bytes[at + 2] << 8 | sink.bytes[at + 3]);
        };
        for (size_t at : navigation) {
            const uint8_t* p = sink.bytes.data() + at;
            const uint64_t scrBase = (static_cast<uint64_t>(p[4] & 0x38) << 27) | (static_cast<uint64_t>(p[4] & 0x03) << 28) |
                                     (p[5] << 20) | ((p[6] & 0xF8) << 12) | ((p[6] & 0x03) << 13) | (p[7] << 5) | (p[8] >> 3);
            EXPECT_EQ(at / PackSize, be32(at + 45));
            EXPECT_EQ(static_cast<uint32_t>(scrBase), be32(at + 1031));
            EXPECT_EQ(at / PackSize, be32(at + 1035));
        }
        std::vector<uint8_t> gone = sink.bytes;
        WritePaddingPacket(gone.data() + navigation[2] + PackHeaderSize, PackSize - PackHeaderSize);
        ps_check::Report faulty = ps_check::CheckProgramStream(gone);
        EXPECT_EQ(1u, faulty.Count(ps_check::Fault::Navigation)) << faulty.Text();
        std::vector<uint8_t> broken = sink.bytes;
        broken[navigation[1] + PackHeaderSize + DvdSystemHeaderSize + 6] = 0x05;
        faulty = ps_check::CheckProgramStream(broken);
        EXPECT_LE(1u, faulty.Count(ps_check::Fault::Navigation)) << faulty.Text();
    }
}

// Bytes that never show a unit are passed on once they pile up, rather than held for ever; a sink
// that fails stops the multiplexer for good. (Garbage between frames is the multiplexer filter's test's.)
TEST(MpegMultiplexerTest, BacklogStaysBoundedAndAFailedSinkStopsAll)
{
    CCollectingSink sink;
    sink.failAfter = 3;
    CProgramStreamMultiplexer mux(sink);
    const int noise = mux.AddStream(StreamKind::Mpeg2Video);
    const std::string piece(1 << 20, '\xAA');
    for (int i = 0; i < 5 && !mux.Failed(); ++i) {
        EXPECT_LE(mux.Queued(noise), CElementaryStream::MaxUntimedBacklog);
        mux.Push(noise, reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), NoTimestamp);
    }
    EXPECT_TRUE(mux.Failed());
    EXPECT_EQ(3, sink.packs);
    EXPECT_FALSE(mux.Push(noise, reinterpret_cast<const uint8_t*>(piece.data()), 100, NoTimestamp));
}

} // namespace
