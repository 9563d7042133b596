// The sequence header and extension parsers against ffprobe, on every video vector ffmpeg made; the
// run counted as video arrives against what its flags say.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <algorithm>

#include "media/mpeg/VideoHeaders.h"
#include "media/mpeg/VideoRunCounter.h"
#include "tests/media/FieldPictureWriter.h"
#include "tests/support/TestSupport.h"

namespace {

// ffprobe's "key=value" lines of the stream and its side data.
std::map<std::string, std::string> ProbeVideo(const std::string& path)
{
    const std::string command = "/usr/bin/ffprobe -v error -of default=nw=1 -show_entries "
                                "stream=width,height,r_frame_rate,profile,level,field_order:stream_side_data=max_bitrate,"
                                "buffer_size '" + testing_support::UnixPath(path) + "'";
    testing_support::ToolOutput output;
    std::map<std::string, std::string> facts;
    EXPECT_TRUE(testing_support::RunLinuxTool(command, output)) << command;
    std::istringstream lines(output.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            facts[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return facts;
}

std::string ProfileName(int profile)
{
    const char* names[] = {"", "High", "Spatially Scalable", "SNR Scalable", "Main", "Simple"};
    return profile >= 1 && profile <= 5 ? names[profile] : "?";
}

TEST(VideoHeadersTest, SequenceHeadersReadAsFfprobeReadsThem)
{
    const char* vectors[] = {"video.m2v", "video-bframes.m2v", "hd-1080i.m2v", "hd-1080i-nomax.m2v", "hd-1440.m2v",
                             "sd-15m.m2v", "sd-40m.m2v", "ext-15fps.m2v", "high-720p50.m2v"};
    for (const char* name : vectors) {
        SCOPED_TRACE(name);
        const std::string path = testing_support::VectorPath(std::string("es\\") + name);
        const std::string bytes = testing_support::ReadFileBytes(path);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        const size_t extensionAt = mpeg::FindStartCodeOf(data, bytes.size(), mpeg::ExtensionStartCode);
        mpeg::SequenceHeader sequence{};
        mpeg::SequenceExtension extension{};
        ASSERT_TRUE(mpeg::ParseSequenceHeader(data, bytes.size(), sequence));
        ASSERT_TRUE(mpeg::ParseSequenceExtension(data + extensionAt, bytes.size() - extensionAt, extension));
        std::map<std::string, std::string> probed = ProbeVideo(path);
        ASSERT_FALSE(probed.empty());

        EXPECT_EQ(probed["width"], std::to_string(sequence.width | extension.widthHigh));
        EXPECT_EQ(probed["height"], std::to_string(sequence.height | extension.heightHigh));
        const mpeg::FrameRate rate = mpeg::FrameRateOf(sequence.frameRateCode);
        unsigned num = 0, den = 0;
        ASSERT_EQ(2, std::sscanf(probed["r_frame_rate"].c_str(), "%u/%u", &num, &den));
        // Cross-multiplied, as ffprobe reduces the fraction.
        EXPECT_EQ(uint64_t(num) * rate.den * unsigned(extension.frameRateD + 1), uint64_t(den) * rate.num * unsigned(extension.frameRateN + 1));
        // 0x3FFFF says "not given", which ffprobe shows as 0.
        const uint64_t bitRateValue = sequence.bitRateValue | (uint64_t(extension.bitRateHigh) << 18);
        EXPECT_EQ(probed["max_bitrate"], std::to_string(sequence.bitRateValue == 0x3FFFF && !extension.bitRateHigh ? 0 : bitRateValue * 400));
        EXPECT_EQ(probed["buffer_size"], std::to_string((sequence.vbvBufferValue | (uint64_t(extension.vbvHigh) << 10)) * 16384));
        EXPECT_EQ(probed["profile"], ProfileName(extension.profile));
        EXPECT_EQ(probed["level"], std::to_string(extension.level));
        // ffmpeg marks a progressive sequence's stream progressive, an interlaced one by its field order.
        EXPECT_EQ(probed["field_order"] == "progressive", extension.progressiveSequence);
    }
}

} // namespace

// The wide scan against a byte-by-byte one, with start codes and lone zero pairs at every offset
// around its 32-byte steps and at the buffer's end.
TEST(VideoHeadersTest, StartCodeScanFindsWhatAByteScanFinds)
{
    std::vector<uint8_t> data(200, 0x55);
    const auto byteScan = [&](size_t from) {
        for (size_t i = from; i + 2 < data.size(); ++i)
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
                return i;
        return data.size();
    };
    for (size_t at = 0; at + 2 < data.size(); ++at) {
        for (const uint8_t third : {uint8_t{1}, uint8_t{0}, uint8_t{2}}) {
            std::fill(data.begin(), data.end(), 0x55);
            data[at] = data[at + 1] = 0;
            data[at + 2] = third;
            if (at + 40 < data.size())
                data[at + 38] = data[at + 39] = 0, data[at + 40] = 1;
            for (const size_t from : {size_t{0}, at > 0 ? at - 1 : 0, at, at + 1})
                ASSERT_EQ(byteScan(from), mpeg::FindStartCode(data.data(), data.size(), from)) << at << " " << from;
        }
    }
}

// However the pushes cut the stream (through start codes and headers), the run counted as it
// arrives is what the flags say the pictures last: field pictures, repeated fields, repeated frames
// of a progressive sequence, and the vectors' SD at 25 frames a second.
TEST(VideoHeadersTest, TheRunCountedOnArrivalIsWhatTheFlagsSay)
{
    using test_recordings::FieldCoding;
    struct Stream {
        std::string name, bytes;
        int64_t ticks; // 90 kHz
    };
    std::vector<Stream> streams;
    for (const FieldCoding coding : {FieldCoding::FieldPictures, FieldCoding::Pulldown, FieldCoding::Film720p, FieldCoding::Film1080p}) {
        test_recordings::FieldPictureOptions options;
        options.coding = coding;
        options.frames = 40;
        // Each picture to the 90 kHz tick below, as the unit scanner counts it.
        int64_t ticks = 0;
        for (unsigned display = 0; display < options.frames; ++display)
            ticks += test_recordings::FilmPictureDuration27(coding, display) / 300;
        streams.push_back({"coding " + std::to_string(static_cast<int>(coding)), test_recordings::MakeFieldPictureStream(options), ticks});
    }
    for (const char* vector : {"es\\video.m2v", "es\\video-bframes.m2v"})
        streams.push_back({vector, testing_support::ReadFileBytes(testing_support::VectorPath(vector)), 75 * 3600});
    for (const Stream& stream : streams) {
        ASSERT_FALSE(stream.bytes.empty()) << stream.name;
        for (const size_t push : {stream.bytes.size(), size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{11}, size_t{13}, size_t{4096}}) {
            mpeg::CVideoRunCounter counter;
            int64_t ticks = 0;
            for (size_t at = 0; at < stream.bytes.size(); at += push) {
                const size_t size = std::min(push, stream.bytes.size() - at);
                ticks += counter.Count(reinterpret_cast<const uint8_t*>(stream.bytes.data()) + at, size);
            }
            EXPECT_EQ(ticks, stream.ticks) << stream.name << ", pushes of " << push;
        }
    }
}
