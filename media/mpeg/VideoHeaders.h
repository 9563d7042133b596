#pragma once
// MPEG-1/2 video start codes and the header fields that the multiplexer and the recording reader
// need (ISO/IEC 13818-2).

#include <cstddef>
#include <cstdint>

namespace mpeg {

constexpr uint8_t PictureStartCode = 0x00;
constexpr uint8_t SequenceHeaderCode = 0xB3;
constexpr uint8_t ExtensionStartCode = 0xB5;
constexpr uint8_t SequenceEndCode = 0xB7;
constexpr uint8_t GroupStartCode = 0xB8;

enum class PictureType { I = 1, P = 2, B = 3, D = 4 };

// Offset of the next 00 00 01 prefix at or after `from`, or `size` when there is none.
size_t FindStartCode(const uint8_t* data, size_t size, size_t from);
// Offset of the first whole 00 00 01 <code>, or `size` when there is none.
size_t FindStartCodeOf(const uint8_t* data, size_t size, uint8_t code);

struct PictureHeader {
    int temporalReference; // display order within the group, 10 bits
    PictureType type;
};
// `data` points at 00 00 01 00; needs 6 bytes. False for a reserved picture type.
bool ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader& header);

struct SequenceHeader {
    int width;
    int height;
    int aspectCode;    // 1 square pixels, 2 4:3, 3 16:9, 4 2.21:1
    int frameRateCode;
    uint32_t bitRate;  // bits per second; with the extension's high bits only when it is added
    uint32_t bitRateValue;   // the 18-bit field; 0x3FFFF means "unknown" in variable-rate streams
    uint32_t vbvBufferValue; // the 10-bit field, in 16 384-bit units
};
// `data` points at 00 00 01 B3; needs 12 bytes. The fields are filled whenever they are there;
// false also for a forbidden or reserved frame rate.
bool ParseSequenceHeader(const uint8_t* data, size_t size, SequenceHeader& header);

struct FrameRate {
    unsigned num;
    unsigned den;
};
// Frames per second for a frame_rate_code (1-8), {0, 1} for others.
FrameRate FrameRateOf(int frameRateCode);
// One frame in 27 MHz ticks for a frame_rate_code (1-8), 0 for others.
int64_t FramePeriod27MHz(int frameRateCode);

struct SequenceExtension {
    int profile;    // 3-bit profile code (1 High ... 5 Simple)
    int level;      // 4-bit level code (4 High ... 10 Low)
    int widthHigh;  // bits 12-13 of the width, already shifted
    int heightHigh; // bits 12-13 of the height, already shifted
    bool lowDelay;  // the stream declares it has no B pictures
    bool progressiveSequence;
    uint32_t bitRateHigh; // bits 18-29 of the bit rate value
    uint32_t vbvHigh;     // bits 10-17 of the VBV buffer size value
    int frameRateN;       // the frame rate is the code's times (n + 1) / (d + 1)
    int frameRateD;
};
// `data` points at 00 00 01 B5; needs 10 bytes. False for other extensions.
bool ParseSequenceExtension(const uint8_t* data, size_t size, SequenceExtension& extension);

// MPEG-2's level codes, as the sequence extension gives them: the lower the level, the higher the code.
constexpr int HighLevel = 4;
constexpr int High1440Level = 6;
constexpr int MainLevel = 8;
constexpr int LowLevel = 10;

// Largest VBV buffer a decoder of the level must have, in bytes, and its largest bit rate; 0 when
// the level is not one of MPEG-2's four.
uint32_t LevelVbvBytes(int level);
uint32_t LevelMaxBitRate(int level);

enum class PictureStructure { TopField = 1, BottomField = 2, Frame = 3 };

struct PictureCodingExtension {
    PictureStructure structure;
    bool topFieldFirst;
    bool repeatFirstField;
    bool progressiveFrame;
};
// `data` points at 00 00 01 B5; needs 9 bytes. False for other extensions or a reserved structure.
bool ParsePictureCodingExtension(const uint8_t* data, size_t size, PictureCodingExtension& extension);
// Fields a frame picture is shown: two, three with its first repeated; in a progressive sequence
// it repeats whole frames: two, four or six fields.
int FieldsShown(const PictureCodingExtension& picture, bool progressiveSequence);

} // namespace mpeg
