#pragma once
// Reads program stream packs back for the multiplexer's tests: a sink that collects them, a
// walker that checks each pack's framing and splits it into packets, and a fixed pseudo-random
// sequence.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/mpeg/Multiplexer.h"

namespace pack_walk {

class CCollectingSink : public mpeg::IPackSink {
public:
    bool WritePack(const uint8_t* pack) override;
    std::vector<uint8_t> bytes;
    int packs = 0;
    int failAfter = -1;
};

struct Packet {
    size_t pack;
    uint64_t scr; // 27 MHz
    uint8_t streamId;
    int64_t pts = mpeg::NoTimestamp;
    int64_t dts = mpeg::NoTimestamp;
    bool pstd = false;
    int ac3Frames = -1;
    int ac3Pointer = -1;
    std::string payload;
};

// Every pack: 2048 bytes, a pack header, the system header in the first one only, then PES and
// padding packets that end exactly at the pack's end (checked with EXPECTs).
std::vector<Packet> Walk(const std::vector<uint8_t>& bytes);
std::string Concatenated(const std::vector<Packet>& packets, uint8_t id);

struct Lcg {
    uint32_t state = 12345;
    uint32_t Next(uint32_t range)
    {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % range;
    }
};

} // namespace pack_walk
