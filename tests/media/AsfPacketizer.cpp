#include "tests/media/AsfPacketizer.h"

#include <algorithm>

#include "tests/media/AsfBytes.h"

namespace test_recordings {
namespace {

// Field widths by their ASF type codes (0 none, 1 byte, 2 word, 3 dword).
struct Style {
    bool multiple;
    unsigned packetLengthType; // 0, or the width of a field that says P - padding
    unsigned sequenceType;
    unsigned paddingType;      // 0: padding only through a shorter packet length
    unsigned replicatedType, offsetType, objectNumberType, payloadLengthType;
};

// Every packet-level encoding in turn; widths too small for a value are widened when written.
// Always with error-correction data, as recorders write it: ffmpeg finds packets by it.
constexpr Style Styles[] = {
    {true, 3, 0, 2, 1, 3, 1, 2},
    {true, 2, 1, 1, 2, 2, 2, 1},
    {false, 2, 0, 0, 1, 3, 3, 0},
    {true, 0, 2, 3, 3, 3, 1, 3},
};
constexpr size_t WorstPacketHead = 3 + 2 + 4 + 4 + 4 + 6 + 1;

const Style& StyleOf(unsigned packet)
{
    return Styles[packet % (sizeof(Styles) / sizeof(Styles[0]))];
}

unsigned Widen(unsigned type, uint64_t value)
{
    if (value > 0xFFFF)
        return 3;
    if (value > 0xFF)
        return std::max(type, 2u);
    return std::max(type, 1u);
}

} // namespace

// Room for data in the current packet after a fragment head of the given size; 0 when none.
size_t Packetizer::Room(size_t overhead) const
{
    const Style& style = StyleOf(Index());
    if ((!style.multiple && !fragments_.empty()) || fragments_.size() == 63)
        return 0;
    const size_t free = options_.packetSize - WorstPacketHead - used_;
    return free > overhead ? free - overhead : 0;
}

void Packetizer::Close()
{
    if (fragments_.empty())
        return;
    const unsigned index = Index();
    Style style = StyleOf(index);
    uint64_t maxOffset = 0, maxReplicated = 0, maxSize = 0;
    for (const Fragment& f : fragments_) {
        maxOffset = std::max<uint64_t>(maxOffset, f.compressed ? f.presentationMs : f.offset);
        maxReplicated = std::max<uint64_t>(maxReplicated, f.compressed ? 1 : 8 + f.extensions.size());
        maxSize = std::max<uint64_t>(maxSize, f.data.size() + (f.compressed ? 1 : 0));
    }
    style.offsetType = Widen(style.offsetType, maxOffset);
    style.replicatedType = Widen(style.replicatedType, maxReplicated);
    if (style.multiple)
        style.payloadLengthType = Widen(style.payloadLengthType, maxSize);
    if (style.packetLengthType)
        style.packetLengthType = Widen(style.packetLengthType, options_.packetSize);

    Bytes payloads;
    for (const Fragment& f : fragments_) {
        payloads.U8(f.stream | 0x80);
        payloads.Field(style.objectNumberType, f.objectNumber & 0xFF);
        payloads.Field(style.offsetType, f.compressed ? f.presentationMs : f.offset);
        if (f.compressed) {
            payloads.Field(style.replicatedType, 1).U8(0);
        } else {
            payloads.Field(style.replicatedType, static_cast<uint32_t>(8 + f.extensions.size()))
                .U32(f.objectSize).U32(f.presentationMs).Raw(f.extensions);
        }
        if (style.multiple)
            payloads.Field(style.payloadLengthType, static_cast<uint32_t>(f.data.size() + (f.compressed ? 1 : 0)));
        if (f.compressed)
            payloads.U8(static_cast<uint32_t>(f.data.size()));
        payloads.Raw(f.data);
    }

    // The padding field's width depends on the padding, which depends on the head's size.
    size_t padding = 0;
    for (unsigned width = 4; width != style.paddingType;) {
        width = style.paddingType;
        padding = options_.packetSize - payloads.s.size() - (11 + (style.multiple ? 1 : 0)) -
                  Bytes::Width(style.packetLengthType) - Bytes::Width(style.sequenceType) - Bytes::Width(width);
        style.paddingType = width ? Widen(width, padding) : 0;
    }
    Bytes head;
    head.U8(0x82).U8(0).U8(0)
        .U8((style.multiple ? 1 : 0) | (style.sequenceType << 1) | (style.paddingType << 3) | (style.packetLengthType << 5))
        .U8(style.replicatedType | (style.offsetType << 2) | (style.objectNumberType << 4) | (1 << 6))
        .Field(style.packetLengthType, static_cast<uint32_t>(options_.packetSize - (style.paddingType ? 0 : padding)))
        .Field(style.sequenceType, 0).Field(style.paddingType, static_cast<uint32_t>(padding))
        .U32(static_cast<uint32_t>(sendMs_)).U16(0);
    if (style.multiple)
        head.U8(static_cast<uint32_t>(fragments_.size()) | (style.payloadLengthType << 6));
    std::string packet = head.s + payloads.s;
    packet.resize(options_.packetSize, '\0');
    if (options_.garbageEvery > 0 && (index + 1) % options_.garbageEvery == 0) {
        for (char& c : packet) {
            noise_ = noise_ * 1103515245u + 12345u;
            c = static_cast<char>(noise_ >> 16);
        }
    }
    packets_ += packet;
    fragments_.clear();
    used_ = 0;
}

void Packetizer::AddObject(unsigned stream, uint32_t number, uint32_t presentationMs, const std::string& extensions,
                           const std::string& bytes, bool compressed, int64_t sendMs, unsigned& firstPacket, unsigned& lastPacket)
{
    sendMs_ = std::max<int64_t>(0, sendMs);
    const size_t overhead = compressed ? 19 : 25 + extensions.size();
    for (size_t offset = 0; offset < bytes.size();) {
        size_t room = Room(overhead);
        if (room == 0 || (compressed && room < bytes.size())) {
            Close();
            room = Room(overhead);
        }
        const size_t size = std::min(room, bytes.size() - offset);
        if (offset == 0)
            firstPacket = Index();
        lastPacket = Index();
        fragments_.push_back({stream, number, static_cast<uint32_t>(offset), static_cast<uint32_t>(bytes.size()), presentationMs,
                              extensions, bytes.substr(offset, size), compressed});
        used_ += overhead + size;
        offset += size;
    }
}

const std::string& Packetizer::Finish()
{
    Close();
    return packets_;
}

} // namespace test_recordings
