// Program stream headers against the layout of ISO/IEC 13818-1, and the audio frame parsers
// against known header values (video headers and start codes are found in every test that splits
// the vectors, and in the timing test's pushes of any size).

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/ProgramStreamLayout.h"

using namespace mpeg;

namespace {

// Each writer's output for one set of fields, byte for byte.
TEST(MpegLayoutTest, EachHeaderIsLaidOutWithItsMarkers)
{
    static const SystemStreamEntry video = {VideoStreamId, true, 232}, both[] = {video, {PrivateStream1Id, true, 58}};
    const auto pes = [](const PesHeader& header, size_t payload) {
        std::vector<uint8_t> out(64);
        out.resize(WritePesHeader(out.data(), header, payload));
        EXPECT_EQ(PesHeaderSize(header), out.size());
        return out;
    };
    const struct {
        const char* name;
        std::function<std::vector<uint8_t>()> write;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"pack header, SCR base 0x123456789 extension 0x123",
         [] { std::vector<uint8_t> out(PackHeaderSize); WritePackHeader(out.data(), 0x123456789ull * 300 + 0x123, DvdMuxRate); return out; },
         {0x00, 0x00, 0x01, 0xBA, 0x66, 0x34, 0x57, 0x3C, 0x4E, 0x47, 0x01, 0x89, 0xC3, 0xF8}},
        {"PES with PTS and DTS, P-STD extension, two stuffing bytes",
         [&] { return pes({VideoStreamId, 0x1ABCDEF01, 0x0FEDCBA98, &video, 2}, 100); },
         {0x00, 0x00, 0x01, 0xE0, 0x00, 0x76, 0x81, 0xC1, 0x0F,
          0x3D, 0xAF, 0x37, 0xDE, 0x03, 0x17, 0xFB, 0x73, 0x75, 0x31, 0x1E, 0x60, 0xE8, 0xFF, 0xFF}},
        {"PES with PTS alone: prefix 0010", [&] { return pes({MpegAudioStreamId, 0x1ABCDEF01, NoTimestamp, nullptr, 0}, 0x700); },
         {0x00, 0x00, 0x01, 0xC0, 0x07, 0x08, 0x81, 0x80, 0x05, 0x2D, 0xAF, 0x37, 0xDE, 0x03}},
        {"PES with no timestamp", [&] { return pes({PrivateStream1Id, NoTimestamp, NoTimestamp, nullptr, 0}, 2000); },
         {0x00, 0x00, 0x01, 0xBD, 0x07, 0xD3, 0x81, 0x00, 0x00}},
        {"system header",
         [] { std::vector<uint8_t> out(SystemHeaderSize(2)); EXPECT_EQ(out.size(), WriteSystemHeader(out.data(), DvdMuxRate, 1, 1, both, 2)); return out; },
         {0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0x7F, 0xE0, 0xE0, 0xE8, 0xBD, 0xE0, 0x3A}},
        {"padding", [] { std::vector<uint8_t> out(10); WritePaddingPacket(out.data(), out.size()); return out; },
         {0x00, 0x00, 0x01, 0xBE, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, c.write()) << c.name;
}

TEST(MpegLayoutTest, AudioFrameHeaders)
{
    struct Case {
        std::vector<uint8_t> header;
        bool valid;
        uint32_t size, samples, rate;
    } cases[] = {
        {{0xFF, 0xFB, 0x92, 0x00}, true, 418, 1152, 44100},          // layer III 128k 44.1 kHz, padded
        {{0xFF, 0xFD, 0xF4, 0x00}, false, 0, 0, 0},                  // bitrate index 15
        {{0x0B, 0x77, 0x00, 0x00, 0x55, 0x40}, true, 836, 1536, 44100},  // AC-3 192k 44.1 kHz, odd code
        {{0x0B, 0x77, 0x00, 0x00, 0x14, 0x80}, false, 0, 0, 0},         // bsid 16: E-AC-3
    };
    for (const Case& c : cases) {
        AudioFrame frame{};
        const bool ac3 = c.header[0] == 0x0B;
        const bool valid = ac3 ? ParseAc3Frame(c.header.data(), c.header.size(), frame)
                               : ParseMpegAudioFrame(c.header.data(), c.header.size(), frame);
        ASSERT_EQ(c.valid, valid) << std::hex << int(c.header[1]) << int(c.header[2]);
        if (valid) {
            EXPECT_EQ(std::make_tuple(c.size, c.samples, c.rate), std::make_tuple(frame.size, frame.samples, frame.sampleRate));
        }
    }
}

} // namespace
