// Program stream headers against the layout of ISO/IEC 13818-1, and the audio frame parsers
// against known header values (video headers are parsed in every test that splits the vectors).

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "media/mpeg/AudioFrames.h"
#include "media/mpeg/ProgramStreamLayout.h"

using namespace mpeg;

namespace {

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size)
{
    return std::vector<uint8_t>(data, data + size);
}

TEST(MpegLayoutTest, PackHeaderSplitsScrAndMuxRateWithMarkers)
{
    uint8_t out[PackHeaderSize];
    // SCR base 0x123456789, extension 0x123.
    WritePackHeader(out, 0x123456789ull * 300 + 0x123, DvdMuxRate);
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA, 0x66, 0x34, 0x57, 0x3C, 0x4E, 0x47, 0x01, 0x89, 0xC3, 0xF8}),
              Bytes(out, sizeof(out)));
}

TEST(MpegLayoutTest, PesHeaderFields)
{
    const SystemStreamEntry video = {VideoStreamId, true, 232};
    struct Case {
        PesHeader header;
        size_t payload;
        std::vector<uint8_t> expected;
    } cases[] = {
        // PTS and DTS, P-STD extension, two stuffing bytes.
        {{VideoStreamId, 0x1ABCDEF01, 0x0FEDCBA98, &video, 2}, 100,
         {0x00, 0x00, 0x01, 0xE0, 0x00, 0x76, 0x81, 0xC1, 0x0F,
          0x3D, 0xAF, 0x37, 0xDE, 0x03, 0x17, 0xFB, 0x73, 0x75, 0x31, 0x1E, 0x60, 0xE8, 0xFF, 0xFF}},
        // PTS alone: prefix 0010.
        {{MpegAudioStreamId, 0x1ABCDEF01, NoTimestamp, nullptr, 0}, 0x700,
         {0x00, 0x00, 0x01, 0xC0, 0x07, 0x08, 0x81, 0x80, 0x05, 0x2D, 0xAF, 0x37, 0xDE, 0x03}},
        // No timestamp at all.
        {{PrivateStream1Id, NoTimestamp, NoTimestamp, nullptr, 0}, 2000,
         {0x00, 0x00, 0x01, 0xBD, 0x07, 0xD3, 0x81, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        uint8_t out[64];
        const size_t size = WritePesHeader(out, c.header, c.payload);
        EXPECT_EQ(PesHeaderSize(c.header), size);
        EXPECT_EQ(c.expected, Bytes(out, size));
    }
}

TEST(MpegLayoutTest, SystemHeaderAndPadding)
{
    const SystemStreamEntry streams[] = {{VideoStreamId, true, 232}, {PrivateStream1Id, true, 58}};
    uint8_t out[64];
    ASSERT_EQ(SystemHeaderSize(2), WriteSystemHeader(out, DvdMuxRate, 1, 1, streams, 2));
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0x7F,
                                    0xE0, 0xE0, 0xE8, 0xBD, 0xE0, 0x3A}),
              Bytes(out, SystemHeaderSize(2)));

    uint8_t padding[10];
    WritePaddingPacket(padding, sizeof(padding));
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBE, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}), Bytes(padding, 10));
}

TEST(MpegLayoutTest, AudioFrameHeaders)
{
    struct Case {
        std::vector<uint8_t> header;
        bool valid;
        uint32_t size, samples, rate;
    } cases[] = {
        {{0xFF, 0xFD, 0xA4, 0x00}, true, 576, 1152, 48000},          // MPEG-1 layer II 192k 48 kHz
        {{0xFF, 0xFB, 0x92, 0x00}, true, 418, 1152, 44100},          // layer III 128k 44.1 kHz, padded
        {{0xFF, 0xF3, 0x80, 0x00}, true, 208, 576, 22050},           // MPEG-2 layer III 64k 22.05 kHz
        {{0xFF, 0xFF, 0x40, 0x00}, true, 136, 384, 44100},           // layer I 128k 44.1 kHz
        {{0xFF, 0xFD, 0xF4, 0x00}, false, 0, 0, 0},                  // bitrate index 15
        {{0xFF, 0xFD, 0x0C, 0x00}, false, 0, 0, 0},                  // free format
        {{0x0B, 0x77, 0x00, 0x00, 0x14, 0x40}, true, 768, 1536, 48000},  // AC-3 192k 48 kHz
        {{0x0B, 0x77, 0x00, 0x00, 0x55, 0x40}, true, 836, 1536, 44100},  // 192k 44.1 kHz, odd code
        {{0x0B, 0x77, 0x00, 0x00, 0x14, 0x80}, false, 0, 0, 0},         // bsid 16: E-AC-3
    };
    for (const Case& c : cases) {
        AudioFrame frame{};
        const bool ac3 = c.header[0] == 0x0B;
        const bool valid = ac3 ? ParseAc3Frame(c.header.data(), c.header.size(), frame)
                               : ParseMpegAudioFrame(c.header.data(), c.header.size(), frame);
        ASSERT_EQ(c.valid, valid) << std::hex << int(c.header[1]) << int(c.header[2]);
        if (!valid)
            continue;
        EXPECT_EQ(c.size, frame.size);
        EXPECT_EQ(c.samples, frame.samples);
        EXPECT_EQ(c.rate, frame.sampleRate);
    }
}

} // namespace
