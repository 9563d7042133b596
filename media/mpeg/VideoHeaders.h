#pragma once
// MPEG-1/2 video start codes and the few header fields a multiplexer needs (ISO/IEC 13818-2).

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

struct PictureHeader {
    int temporalReference; // display order within the group, 10 bits
    PictureType type;
};
// `data` points at 00 00 01 00; needs 6 bytes. False for a reserved picture type.
bool ParsePictureHeader(const uint8_t* data, size_t size, PictureHeader& header);

struct SequenceHeader {
    int width;
    int height;
    int frameRateCode;
};
// `data` points at 00 00 01 B3; needs 8 bytes. False for a forbidden or reserved frame rate.
bool ParseSequenceHeader(const uint8_t* data, size_t size, SequenceHeader& header);
// One frame in 27 MHz ticks for a frame_rate_code (1-8), 0 for others.
int64_t FramePeriod27MHz(int frameRateCode);
// From a sequence extension (00 00 01 B5, identifier 1; needs 10 bytes): true when the stream
// declares it has no B pictures. False for other extensions.
bool SequenceExtensionLowDelay(const uint8_t* data, size_t size);

} // namespace mpeg
