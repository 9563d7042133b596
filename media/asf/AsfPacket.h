#pragma once
// One fixed-size ASF data packet split into its payloads, checked as a whole before any of it is
// used: a packet that does not parse is skipped entire, at its fixed boundary.

#include <cstdint>

namespace asf {

struct Payload {
    unsigned stream = 0;
    bool keyFrame = false;
    uint32_t objectNumber = 0;
    uint32_t offset = 0;          // into the object; with compressed payloads, the presentation time
    uint32_t objectSize = 0;      // 0 when the payload carries no replicated data
    uint32_t presentationMs = 0;
    const uint8_t* extensions = nullptr; // replicated data after object size and time
    uint32_t extensionsSize = 0;
    bool compressed = false;      // data is a run of sub-payloads, each a whole object
    uint8_t timeDelta = 0;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

struct Packet {
    static constexpr unsigned MaxPayloads = 63;
    Payload payloads[MaxPayloads];
    unsigned count = 0;
    uint32_t sendTimeMs = 0;
};

// False when the packet cannot be parsed (sizes that do not fit, unknown encodings).
bool ParsePacket(const uint8_t* data, uint32_t size, Packet& packet);

} // namespace asf
