#pragma once
// ASF data packets of a test recording: objects split into payloads, every packet-level encoding of
// the format in turn, and the options' noise and unknown streams.

#include <cstdint>
#include <memory>
#include <string>

#include "tests/media/RecordingWriter.h"

namespace test_recordings {

class Packetizer {
public:
    explicit Packetizer(const RecordingOptions& options);
    ~Packetizer();

    // Lays an object into payloads of packets sent at sendMs, split where a packet is full;
    // compressed objects (captions) are never split. Gives the packets of its first and last byte.
    void AddObject(unsigned stream, uint32_t number, uint32_t presentationMs, const std::string& extensions,
                   const std::string& bytes, bool compressed, int64_t sendMs, unsigned& firstPacket, unsigned& lastPacket);
    // Ends the packet in progress; the packets written so far.
    const std::string& Finish();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace test_recordings
