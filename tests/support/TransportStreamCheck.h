#pragma once
// A checker of MPEG-2 transport streams written for the tests, independent of the multiplexer it
// judges: TR 101 290's first and second priority checks that a file can show (sync, continuity,
// PAT and PMT repetition and CRC, PCR interval and accuracy, PTS repetition) and ISO/IEC 13818-1's
// transport system target decoder: each PID's 512-byte transport buffer leaking at its rate, each
// elementary buffer with the units found in the payload (MPEG-2 pictures, MPEG audio and AC-3
// frames; one unit per PES of other codings) leaving at their decode times, H.264's buffers sized
// from its sequence parameter set (profile, level, NAL HRD). Byte arrival times come from the PCRs, between two of
// them at the rate they give. Plain C++; it holds each elementary stream in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/ElementaryUnits.h"

namespace ts_check {

enum class Fault {
    Sync,          // a packet that does not start with 0x47, or a file that is no whole number of packets
    Continuity,    // a continuity counter that skips (a packet lost or out of order)
    Tables,        // PAT or PMT more than 100 ms apart in PCR time, or missing; a CRC that fails; a PID with
                   // data the PMT does not list
    PcrInterval,   // more than 40 ms between PCRs, or a PCR going back
    PcrAccuracy,   // a PCR off the line its neighbours give by more than 500 ns (the one after it is on it)
    Pes,           // a PES that does not start with a start code, or whose length disagrees with its data
    Stamp,         // a PES with a PTS where no unit starts, or a PTS before its DTS
    PtsGap,        // more than 0.7 s between a stream's PTSs
    DecodeOrder,   // decode times not strictly rising in a stream
    Late,          // the last byte of a unit leaves the transport buffer after its decode time
    Overflow,      // a transport buffer above 512 bytes, or an elementary buffer above its size
    Count
};
const char* FaultName(Fault fault);

struct StreamReport {
    uint16_t pid = 0;
    uint8_t streamType = 0;         // as the PMT says
    std::string elementary;         // the stream's bytes, as the PES packets carry them
    std::vector<int64_t> pts;       // of each unit, 90 kHz; -1 where it has none
    size_t bufferBytes = 0;         // the elementary buffer the checks used
};

struct Report : es_units::FaultLog<Fault> {
    size_t packets = 0;
    size_t nullPackets = 0;
    size_t pcrs = 0;
    uint16_t pcrPid = 0;
    double lowestRate = 0, highestRate = 0; // bits per second between PCRs
    std::vector<StreamReport> streams;

    bool Clean() const;
    const StreamReport* Stream(uint16_t pid) const;
    std::string Text() const;
};

Report CheckTransportStream(const uint8_t* data, size_t size);
inline Report CheckTransportStream(const std::string& bytes)
{
    return CheckTransportStream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace ts_check
