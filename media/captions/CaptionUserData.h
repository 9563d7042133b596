#pragma once
// Line-21 byte pairs in the video, both ways: ATSC A/53 cc_data in an MPEG-2 picture's user data or
// in an H.264 access unit's SEI (registered user data), and the DVD layout's "CC" block in a group
// of pictures' user data. Only field-1 pairs (CC1/CC2) are written and read.

#include <cstddef>
#include <cstdint>

namespace captions {

struct BytePair {
    uint8_t first;
    uint8_t second;
};

// A/53 allows 31 triplets a picture; the DVD block counts its frames in five bits as well.
constexpr size_t MaxPairsPerBlock = 31;
// The largest block either layout writes: its start code and header, and 31 entries.
constexpr size_t MaxUserDataSize = 11 + 6 * MaxPairsPerBlock + 1;

// user_data with `count` pairs (up to MaxPairsPerBlock) as A/53 cc_data: one padding triplet when
// there are none. Returns the bytes written.
size_t WriteA53UserData(const BytePair* pairs, size_t count, uint8_t* out);
// The DVD layout's block for a group of pictures: `slots` frames (at least `count`, up to
// MaxPairsPerBlock), each with its field-1 pair (80 80 once the pairs run out) and an empty field 2.
size_t WriteDvdUserData(const BytePair* pairs, size_t count, size_t slots, uint8_t* out);

// An H.264 SEI NAL unit, start code included, with the same cc_data as WriteA53UserData: its bytes
// escaped as a NAL unit's are. Returns the bytes written, at most MaxSeiSize.
constexpr size_t MaxSeiSize = 4 + 2 * (MaxUserDataSize + 4);
size_t WriteA53Sei(const BytePair* pairs, size_t count, uint8_t* out);

enum class UserDataKind { Other, A53Captions, DvdCaptions, Scte20Captions };

// What a user_data block holds. `data` points at 00 00 01 B2; `size` runs to the next start code.
UserDataKind KindOfUserData(const uint8_t* data, size_t size);
// The field-1 pairs of an A/53 or DVD block, in order, up to `capacity`; returns how many.
size_t ReadCaptionPairs(const uint8_t* data, size_t size, BytePair* pairs, size_t capacity);
// The same for an H.264 SEI NAL unit (`nal` at its header byte, `size` to its end): whether one of
// its messages is A/53 cc_data, and its field-1 pairs, up to `capacity`.
bool ReadSeiCaptionPairs(const uint8_t* nal, size_t size, BytePair* pairs, size_t capacity, size_t& found);

} // namespace captions
