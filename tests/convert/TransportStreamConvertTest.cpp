// Recordings converted with the shipped transport stream graph: each output must satisfy the tests'
// checker, carry every stream byte for byte as the recording holds it, and be read without complaint
// by every outside reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "convert/ConversionEngine.h"
#include "tests/convert/ReportObserver.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TransportStreamCheck.h"

namespace {

using testing_support::RunLinuxTool;
using testing_support::ToolOutput;
using testing_support::Wide;

struct Case {
    const char* name;
    const char* video;
    const char* audio;
    std::vector<std::string> moreAudio;
    std::vector<std::string> probed; // ffprobe's codec names (and languages), in PID order
    std::vector<std::string> languages; // each audio stream's tag in the recording's Language List
};

// The vectors' paths of a stream's parts, which the recording writer joins ('|' between them).
std::string Parts(const std::string& joined)
{
    std::string paths;
    for (size_t at = 0, end; at <= joined.size(); at = end + 1) {
        end = std::min(joined.find('|', at), joined.size());
        paths += (at ? "|" : "") + testing_support::VectorPath(joined.substr(at, end - at));
    }
    return paths;
}

std::string Tool(const std::string& command)
{
    ToolOutput output;
    EXPECT_TRUE(RunLinuxTool(command, output, 180000)) << command;
    return output.out + output.err;
}

// ffprobe finds the codings (and languages) in PID order; the others take it without a complaint.
void ExpectEveryReaderTakes(const std::string& output, const std::vector<std::string>& probed)
{
    const std::string path = testing_support::Quoted(output);
    // ffprobe lists the streams under the program as well (ending in an empty field for video).
    std::string codecs = Tool("/usr/bin/ffprobe -v error -show_entries stream=index,codec_name:stream_tags=language:"
                              "program_stream_tags=language -of csv=p=0 " + path + " | sed 's/,$//' | grep . | sort -u");
    std::string wanted;
    for (size_t i = 0; i < probed.size(); ++i)
        wanted += std::to_string(i) + "," + probed[i] + "\n";
    EXPECT_EQ(codecs, wanted);
    EXPECT_EQ(Tool("/usr/bin/ffmpeg -v error -xerror -i " + path + " -map 0 -f null - && echo decoded"), "decoded\n");
    const std::string tsinfo = Tool("/usr/bin/tsinfo " + path);
    EXPECT_NE(tsinfo.find("PMT with PID 0100"), std::string::npos) << tsinfo;
    EXPECT_NE(tsinfo.find(probed[0] == "h264" ? "Stream type 1b" : "Stream type 02"), std::string::npos) << tsinfo;
    const std::string tsreport = Tool("/usr/bin/tsreport " + path);
    EXPECT_NE(tsreport.find("TS packets"), std::string::npos) << tsreport;
    EXPECT_EQ(tsreport.find("rror"), std::string::npos) << tsreport;
    // gstreamer's tsdemux finds every stream (this machine has no MPEG-2 video decoder for it). With
    // a decoder missing, the discoverer at times ends on that message before it has gathered the
    // streams, and prints no "Properties" at all (three times in a row on a busy machine): only
    // such a run is asked again.
    std::string gst;
    for (int attempt = 0; attempt < 8 && gst.find("Properties:") == std::string::npos; ++attempt)
        gst = Tool("/usr/bin/gst-discoverer-1.0 " + path);
    EXPECT_EQ(gst.find("rror"), std::string::npos) << gst;
    EXPECT_NE(gst.find(probed[0] == "h264" ? "H.264" : "mpegversion=(int)2"), std::string::npos) << gst;
    const std::string mediainfo = Tool("/usr/bin/mediainfo " + path);
    EXPECT_NE(mediainfo.find("MPEG-TS"), std::string::npos) << mediainfo;
    EXPECT_TRUE(testing_support::VlcPlaysWithoutTimingWarnings(output, "ts"));
}

// Converts with the shipped transport stream graph in a directory of the test's own.
template <typename Param>
class ShippedGraphTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(testing_support::VectorPath("es\\video.m2v").empty()) << "run under CTest, whose fixture makes the vectors";
        directory_ = testing_support::MakeScratchDirectory("transport-stream");
        graphs_.ProgramDirectory = Wide(testing_support::ModuleDirectory());
    }

    ::testing::AssertionResult Convert(const std::string& input, const std::string& output)
    {
        CConversionEngine engine(graphs_, observer_);
        if (engine.ConvertFile(ConversionRequest{Wide(input), Wide(output), L"Built-in recording to MPEG-TS.xgr", Wide(directory_)}) !=
            ConversionResult::Converted)
            return ::testing::AssertionFailure() << observer_.report;
        return ::testing::AssertionSuccess();
    }

    ScopedComInit com_;
    GraphSource graphs_;
    ReportObserver observer_;
    std::string directory_;
};

using TransportStreamConvertTest = ShippedGraphTest<Case>;

TEST_P(TransportStreamConvertTest, ConvertsToAStreamEveryReaderTakesWithTheStreamsUnchanged)
{
    const Case& c = GetParam();
    test_recordings::RecordingOptions options;
    options.videoPath = Parts(c.video);
    options.audioPath = Parts(c.audio);
    for (const std::string& more : c.moreAudio)
        options.moreAudio.push_back(testing_support::VectorPath(more));
    options.audioLanguages = c.languages;
    test_recordings::WrittenRecording written;
    std::string error;
    const std::string input = directory_ + "Show.dvr-ms", output = directory_ + "Show.ts";
    ASSERT_TRUE(test_recordings::WriteRecording(input, options, written, error)) << error;
    ASSERT_TRUE(Convert(input, output));

    // The tests' checker, and the streams as the recording holds them: video on the first PID,
    // then each audio stream in the recording's order.
    const ts_check::Report report = ts_check::CheckTransportStream(testing_support::ReadFileBytes(output));
    EXPECT_TRUE(report.Clean()) << report.Text();
    std::map<unsigned, std::string> expected; // ASF stream number -> bytes
    unsigned videoStream = 0;
    for (const test_recordings::WrittenObject& object : written.objects) {
        if (object.kind == test_recordings::Kind::Captions)
            continue;
        expected[object.stream] += object.bytes;
        if (object.kind == test_recordings::Kind::Video)
            videoStream = object.stream;
    }
    ASSERT_EQ(report.streams.size(), 1 + written.audioStreams.size()) << report.Text();
    EXPECT_TRUE(report.streams[0].elementary == expected[videoStream]) << "video";
    for (size_t a = 0; a < written.audioStreams.size(); ++a)
        EXPECT_TRUE(report.streams[1 + a].elementary == expected[written.audioStreams[a]]) << "audio " << a + 1;

    ExpectEveryReaderTakes(output, c.probed);
}

INSTANTIATE_TEST_SUITE_P(Recordings, TransportStreamConvertTest,
                         ::testing::Values(Case{"sd_mp2", "es\\video-bframes.m2v", "es\\audio.mp2", {}, {"mpeg2video", "mp2"}, {}},
                                           // A language list that names none for the stream: no descriptor.
                                           Case{"hd_ac3", "es\\hd-1080i.m2v", "es\\audio-5.1.ac3", {}, {"mpeg2video", "ac3"}, {""}},
                                           // Each stream's language in the PMT, as its three letters.
                                           Case{"sd_mp2_and_ac3", "es\\video.m2v", "es\\audio.mp2", {"es\\audio.ac3"},
                                                {"mpeg2video", "mp2,eng", "ac3,fra"}, {"en-US", "fr"}},
                                           // SD at 4 Mb/s, then 1080i at 15 Mb/s: the rate and buffers follow.
                                           Case{"sd_then_hd", "corpus\\sd-bframes.m2v|corpus\\switch-hd.m2v",
                                                "corpus\\audio-15.ac3", {}, {"mpeg2video", "ac3"}, {}}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// WTV recordings as ffmpeg writes HD channels' H.264, with each kind of sound they come with.
// raw_aac and interlaced_eac3 keep the multiplexer honest about the audio's main buffer: the ADTS
// header it adds to each raw frame, and the bytes a packet without adaptation field carries beyond
// what was planned, both fill it.
struct WtvCase {
    const char* name;
    const char* recording;
    const char* video; // ffmpeg's extraction of the recording's video
    std::vector<std::string> probed;
};

using H264TransportStreamTest = ShippedGraphTest<WtvCase>;

TEST_P(H264TransportStreamTest, ConvertsWithTheVideoUnchanged)
{
    const WtvCase& c = GetParam();
    const std::string output = directory_ + "Hd.ts";
    ASSERT_TRUE(Convert(testing_support::VectorPath(c.recording), output));
    const ts_check::Report report = ts_check::CheckTransportStream(testing_support::ReadFileBytes(output));
    EXPECT_TRUE(report.Clean()) << report.Text();
    ASSERT_EQ(report.streams.size(), c.probed.size()) << report.Text();
    EXPECT_TRUE(report.streams[0].elementary == testing_support::ReadFileBytes(testing_support::VectorPath(c.video)))
        << "video";
    ExpectEveryReaderTakes(output, c.probed);
}

INSTANTIATE_TEST_SUITE_P(Recordings, H264TransportStreamTest,
                         ::testing::Values(WtvCase{"raw_aac", "wtv\\h264-aac.wtv", "wtv\\h264-aac.h264", {"h264", "aac"}},
                                           WtvCase{"adts", "wtv\\h264-adts.wtv", "wtv\\h264-adts.h264", {"h264", "aac"}},
                                           WtvCase{"latm", "wtv\\h264-latm.wtv", "wtv\\h264-latm.h264", {"h264", "aac_latm"}},
                                           WtvCase{"interlaced_eac3", "wtv\\h264i-eac3.wtv", "wtv\\h264i-eac3.h264", {"h264", "eac3"}}),
                         [](const ::testing::TestParamInfo<WtvCase>& info) { return std::string(info.param.name); });

} // namespace
