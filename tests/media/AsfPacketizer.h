#pragma once
// ASF data packets of a test recording: objects split into payloads, every packet-level encoding of
// the format in turn, and the options' noise.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/media/RecordingWriter.h"

namespace test_recordings {

class Packetizer {
public:
    explicit Packetizer(const RecordingOptions& options) : options_(options) {}

    // Lays an object into payloads of packets sent at sendMs, split where a packet is full;
    // compressed objects (captions) are never split. Gives the packets of its first and last byte.
    void AddObject(unsigned stream, uint32_t number, uint32_t presentationMs, const std::string& extensions,
                   const std::string& bytes, bool compressed, int64_t sendMs, unsigned& firstPacket, unsigned& lastPacket);
    // Ends the packet in progress; the packets written so far.
    const std::string& Finish();

private:
    struct Fragment {
        unsigned stream;
        uint32_t objectNumber, offset, objectSize, presentationMs;
        std::string extensions, data;
        bool compressed;
    };

    size_t Room(size_t overhead) const;
    unsigned Index() const { return static_cast<unsigned>(packets_.size() / options_.packetSize); }
    void Close();

    const RecordingOptions& options_;
    std::vector<Fragment> fragments_;
    size_t used_ = 0;
    std::string packets_;
    int64_t sendMs_ = 0;
    uint32_t noise_ = 12345;
};

} // namespace test_recordings
