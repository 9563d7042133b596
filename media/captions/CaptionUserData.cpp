#include "media/captions/CaptionUserData.h"

#include <algorithm>
#include <cstring>

#include "media/mpeg/AvcSyntax.h"
#include "media/mpeg/RbspReader.h"

namespace captions {
namespace {

constexpr uint8_t UserDataStart[] = {0x00, 0x00, 0x01, 0xB2};
constexpr uint8_t A53Header[] = {0x47, 0x41, 0x39, 0x34, 0x03}; // "GA94", cc_data
constexpr uint8_t DvdHeader[] = {0x43, 0x43, 0x01, 0xF8};       // "CC", DVD line-21 data
constexpr uint8_t A53Registration[] = {0xB5, 0x00, 0x31};      // ITU-T T.35: United States, ATSC
constexpr uint8_t SeiNalHeader = 0x06;                         // not a reference, SEI
constexpr uint8_t SeiRegisteredUserData = 4;
constexpr uint8_t RbspStopBit = 0x80;

bool Starts(const uint8_t* data, size_t size, const uint8_t* prefix, size_t length)
{
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

// A/53 cc_data with captions in it: `data` at its "GA94".
bool IsA53Captions(const uint8_t* data, size_t size)
{
    return Starts(data, size, A53Header, sizeof(A53Header)) && size > 5 && (data[5] & 0x40) && (data[5] & 0x1F);
}

size_t ReadA53Pairs(const uint8_t* data, size_t size, BytePair* pairs, size_t capacity)
{
    size_t found = 0;
    const size_t count = data[5] & 0x1F;
    for (size_t i = 0; i < count && 7 + 3 * i + 3 <= size && found < capacity; ++i) {
        const uint8_t* triplet = data + 7 + 3 * i;
        if ((triplet[0] & 0x07) == 0x04) // valid, field 1
            pairs[found++] = {triplet[1], triplet[2]};
    }
    return found;
}

} // namespace

size_t WriteA53Sei(const BytePair* pairs, size_t count, uint8_t* out)
{
    // One registered user data message: the T.35 registration, then the user data as MPEG-2 video
    // has it after its start code (at most 101 bytes, so its size takes one byte).
    uint8_t block[MaxUserDataSize];
    const size_t blockSize = WriteA53UserData(pairs, count, block);
    uint8_t rbsp[MaxUserDataSize + 4];
    size_t size = 0;
    rbsp[size++] = SeiRegisteredUserData;
    rbsp[size++] = static_cast<uint8_t>(sizeof(A53Registration) + blockSize - sizeof(UserDataStart));
    std::memcpy(rbsp + size, A53Registration, sizeof(A53Registration));
    size += sizeof(A53Registration);
    std::memcpy(rbsp + size, block + sizeof(UserDataStart), blockSize - sizeof(UserDataStart));
    size += blockSize - sizeof(UserDataStart);
    rbsp[size++] = RbspStopBit;
    // The start code, then the unit with an emulation prevention byte wherever two zeros would be
    // followed by a byte a start code could begin with (pairs go as they came, zeros included).
    uint8_t* p = out;
    *p++ = 0x00;
    *p++ = 0x00;
    *p++ = 0x01;
    *p++ = SeiNalHeader;
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && rbsp[i] <= 0x03) {
            *p++ = 0x03;
            zeros = 0;
        }
        *p++ = rbsp[i];
        zeros = rbsp[i] == 0 ? zeros + 1 : 0;
    }
    return static_cast<size_t>(p - out);
}

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
    if (IsA53Captions(data, size))
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
        found = ReadA53Pairs(data, size, pairs, capacity);
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

bool ReadSeiCaptionPairs(const uint8_t* nal, size_t size, BytePair* pairs, size_t capacity, size_t& found)
{
    found = 0;
    if (size < 2 || mpeg::NalType(nal[0]) != mpeg::nal::Sei)
        return false;
    bool carries = false;
    mpeg::CSeiMessages messages(nal, size);
    uint32_t type = 0, length = 0;
    // Captions come in small messages; a longer one (an encoder's own notes) is passed over.
    uint8_t message[sizeof(A53Registration) + MaxUserDataSize];
    while (messages.Next(type, length)) {
        if (type != SeiRegisteredUserData || length > sizeof(message))
            continue;
        if (!messages.Payload().ReadBytes(message, length))
            break;
        if (Starts(message, length, A53Registration, sizeof(A53Registration)) &&
            IsA53Captions(message + sizeof(A53Registration), length - sizeof(A53Registration))) {
            carries = true;
            found += ReadA53Pairs(message + sizeof(A53Registration), length - sizeof(A53Registration), pairs + found,
                                  capacity - found);
        }
    }
    return carries;
}

} // namespace captions
