#include "media/captions/CaptionUserData.h"

#include <algorithm>
#include <cstring>

namespace captions {
namespace {

constexpr uint8_t UserDataStart[] = {0x00, 0x00, 0x01, 0xB2};
constexpr uint8_t A53Header[] = {0x47, 0x41, 0x39, 0x34, 0x03}; // "GA94", cc_data
constexpr uint8_t DvdHeader[] = {0x43, 0x43, 0x01, 0xF8};       // "CC", DVD line-21 data

bool Starts(const uint8_t* data, size_t size, const uint8_t* prefix, size_t length)
{
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

} // namespace

size_t WriteA53UserData(const BytePair* pairs, size_t count, uint8_t* out)
{
    count = std::min(count, MaxPairsPerBlock);
    uint8_t* p = out;
    std::memcpy(p, UserDataStart, sizeof(UserDataStart));
    p += sizeof(UserDataStart);
    std::memcpy(p, A53Header, sizeof(A53Header));
    p += sizeof(A53Header);
    // process_em_data (reserved, 1), process_cc_data, cc_count; then em_data (reserved).
    *p++ = static_cast<uint8_t>(0xC0 | (count ? count : 1));
    *p++ = 0xFF;
    for (size_t i = 0; i < count; ++i) {
        *p++ = 0xFC; // valid, NTSC field 1
        *p++ = pairs[i].first;
        *p++ = pairs[i].second;
    }
    if (count == 0) {
        *p++ = 0xFA; // not valid: padding
        *p++ = 0x00;
        *p++ = 0x00;
    }
    *p++ = 0xFF; // marker bits
    return static_cast<size_t>(p - out);
}

size_t WriteDvdUserData(const BytePair* pairs, size_t count, size_t slots, uint8_t* out)
{
    slots = std::min(std::max(slots, count), MaxPairsPerBlock);
    count = std::min(count, slots);
    uint8_t* p = out;
    std::memcpy(p, UserDataStart, sizeof(UserDataStart));
    p += sizeof(UserDataStart);
    std::memcpy(p, DvdHeader, sizeof(DvdHeader));
    p += sizeof(DvdHeader);
    // Field 1 first, the number of frames, no extra field.
    *p++ = static_cast<uint8_t>(0x80 | (slots << 1));
    for (size_t i = 0; i < slots; ++i) {
        *p++ = 0xFF;
        *p++ = i < count ? pairs[i].first : 0x80;
        *p++ = i < count ? pairs[i].second : 0x80;
        *p++ = 0xFE;
        *p++ = 0x80;
        *p++ = 0x80;
    }
    return static_cast<size_t>(p - out);
}

UserDataKind KindOfUserData(const uint8_t* data, size_t size)
{
    if (!Starts(data, size, UserDataStart, sizeof(UserDataStart)))
        return UserDataKind::Other;
    data += sizeof(UserDataStart);
    size -= sizeof(UserDataStart);
    if (Starts(data, size, A53Header, sizeof(A53Header)) && size > 5 && (data[5] & 0x40) && (data[5] & 0x1F))
        return UserDataKind::A53Captions;
    if (Starts(data, size, DvdHeader, sizeof(DvdHeader)))
        return UserDataKind::DvdCaptions;
    // SCTE 20: user_data_type_code 03 and a vbi_data_flag byte whose low seven bits are 01.
    if (size >= 2 && data[0] == 0x03 && (data[1] & 0x7F) == 0x01)
        return UserDataKind::Scte20Captions;
    return UserDataKind::Other;
}

size_t ReadCaptionPairs(const uint8_t* data, size_t size, BytePair* pairs, size_t capacity)
{
    const UserDataKind kind = KindOfUserData(data, size);
    data += sizeof(UserDataStart);
    size -= std::min(size, sizeof(UserDataStart));
    size_t found = 0;
    if (kind == UserDataKind::A53Captions) {
        const size_t count = data[5] & 0x1F;
        for (size_t i = 0; i < count && 7 + 3 * i + 3 <= size && found < capacity; ++i) {
            const uint8_t* triplet = data + 7 + 3 * i;
            if ((triplet[0] & 0x07) == 0x04) // valid, field 1
                pairs[found++] = {triplet[1], triplet[2]};
        }
    } else if (kind == UserDataKind::DvdCaptions) {
        // Entries by their markers: FF field 1, FE field 2.
        for (size_t at = 5; at + 3 <= size && found < capacity; at += 3) {
            if (data[at] == 0xFF)
                pairs[found++] = {data[at + 1], data[at + 2]};
            else if (data[at] != 0xFE)
                break;
        }
    }
    return found;
}

} // namespace captions
