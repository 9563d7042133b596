#pragma once
// A checker of MPEG-2 program streams (ISO/IEC 13818-1) written for the tests, independent of the
// multiplexer it judges: it walks packs of any size, finds the access units in the payload
// (MPEG-2 pictures, MPEG-1 layer II and AC-3 frames) and runs the P-STD buffer model with the sizes
// the stream declares, as they change. Program streams may follow one another, each but the last
// closed by the program end code and each with its own system header; they are taken as one
// recording, on one clock, whose decoder buffers carry on from one to the next. Marker bits are
// left to the layout test of the writers. Plain C++; it holds each elementary stream in memory, so
// it is meant for outputs of test size.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/ElementaryUnits.h"

namespace ps_check {

enum class Fault {
    Framing,           // bytes that are not a pack, packet or end code where one belongs (the walk stops there);
                       // a bad PES header; a stream with bytes and not one unit
    SystemHeader,      // none in a program stream's first pack, one unlike the program stream's first, a stream
                       // it does not declare, or a P-STD buffer above its bound
    MuxRate,           // 0, or above the program stream's rate_bound
    PackOverlap,       // a pack starts before the one before it has been delivered at its own mux_rate, or goes back
    ScrGap,            // more than 0.7 s between SCRs
    Stamp,             // a PTS with no unit starting in the packet, or on a second field; a PTS before its DTS
    DecodeOrder,       // decode times not strictly rising in a stream
    PtsGap,            // more than 0.7 s between a stream's PTSs
    Late,              // the last byte of a unit arrives after its decode time
    Overflow,          // a buffer holds more than its declared size
    SubstreamHeader,   // private stream 1's frame count or first-unit pointer is wrong
    Navigation,        // private stream 2 outside a DVD navigation pack (system header, PCI of 980 bytes and DSI
                       // of 1018 at their places); with navigation packs, a program stream that does not start
                       // with one, or a group of pictures in it that does not start the first video packet after one
    Count
};
const char* FaultName(Fault fault);

struct StreamReport {
    uint8_t id = 0;               // stream_id
    uint8_t substream = 0;        // private stream 1 sub-stream (0x80 for the first AC-3), else 0
    size_t declared = 0;          // buffer size in bytes at the end: the latest P-STD extension, else the system header's bound
    std::string elementary;       // the stream's bytes, as the packets carry them
    std::vector<int64_t> pts;     // of each unit (a field pair is one), 90 kHz; -1 where it has none
};

struct Report : es_units::FaultLog<Fault> { // messages with pack index, stream and times
    size_t packs = 0;
    uint64_t bytes = 0;           // all of the stream
    uint32_t lowestMuxRate = 0, highestMuxRate = 0; // 50 bytes/s units
    size_t programs = 0;          // program streams: more than one when end codes come before the end
    bool endCode = false;         // the last one ends with the program end code
    size_t navigationPacks = 0;
    std::vector<StreamReport> streams;

    bool Clean() const;
    const StreamReport* Stream(uint8_t id) const;
    uint64_t Payload() const; // the elementary streams' bytes
    std::string Text() const;
};

// A stream's units with the display time each should have (90 kHz).
struct ExpectedTimes {
    const StreamReport* stream;
    std::vector<int64_t> truth;
};
// Whether every stamped unit kept its time: output PTS minus true time is one value per stream
// (give or take `slack`) and the streams' values lie within `sync` of each other. Empty when they
// do, else what differs.
std::string TimesKept(const std::vector<ExpectedTimes>& streams, int64_t slack, int64_t sync);

Report CheckProgramStream(const uint8_t* data, size_t size);
inline Report CheckProgramStream(const std::string& bytes)
{
    return CheckProgramStream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
inline Report CheckProgramStream(const std::vector<uint8_t>& bytes) { return CheckProgramStream(bytes.data(), bytes.size()); }

// The video without the caption user data put into it (A/53 cc_data, in MPEG-2 user data or an
// H.264 SEI unit, and DVD "CC" blocks): what the recording's video was when its caption stream went
// into it.
std::string WithoutCaptionUserData(const std::string& video);

} // namespace ps_check
