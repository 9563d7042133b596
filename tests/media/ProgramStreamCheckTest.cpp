// The tests' program stream checker on streams built here, one pack per packet: a sound stream
// passes, and each fault put into it is caught, alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "media/mpeg/ProgramStreamLayout.h"
#include "tests/support/ProgramStreamCheck.h"

using namespace mpeg;
using ps_check::Fault;

namespace {

constexpr int64_t Frame = 3600;      // 90 kHz, 25 frames/s
constexpr int64_t AudioFrame = 2160; // 1152 samples at 48 kHz
constexpr int64_t FirstDecode = 18000;
constexpr uint64_t Stop = 27000000 * 6 / 10;
constexpr uint32_t DvdRate = 25200; // mux_rate and rate_bound, 50 bytes/s units
const SystemStreamEntry Buffers[] = {{0xE0, true, 232}, {0xC0, false, 100}, {0xBD, true, 58}};
const SystemStreamEntry SmallVideoBuffer = {0xE0, true, 4};
const SystemStreamEntry LargeVideoBuffer = {0xE0, true, 400};

// A system header's values.
struct Bounds {
    uint32_t rateBound;
    SystemStreamEntry buffers[3];
};
const Bounds Larger = {30000, {LargeVideoBuffer, Buffers[1], Buffers[2]}};

struct Packet {
    uint8_t id;
    std::string payload;
    int64_t pts = NoTimestamp, dts = NoTimestamp;
    const SystemStreamEntry* pstd = nullptr;
};

struct Pack {
    uint64_t scr; // 27 MHz
    uint32_t muxRate;
    Packet packet;
    bool endBefore = false;          // the program end code before it: it starts a program stream
    const Bounds* header = nullptr;  // a system header in it
};

struct Stream {
    std::vector<Pack> packs;
    bool systemHeader = true;        // the first pack's, with the DVD rate and Buffers
};

// The headers come from the multiplexer's writers, whose layout the layout test holds byte for byte.
std::string Bytes(const Stream& stream)
{
    std::string out;
    for (size_t i = 0; i < stream.packs.size(); ++i) {
        const Packet& p = stream.packs[i].packet;
        const PesHeader pes{p.id, p.pts, p.dts, p.pstd, 0};
        std::vector<uint8_t> headers(PackHeaderSize + SystemHeaderSize(3) + PesHeaderSize(pes));
        WritePackHeader(headers.data(), stream.packs[i].scr, stream.packs[i].muxRate);
        size_t at = PackHeaderSize;
        if (i == 0 && stream.systemHeader)
            at += WriteSystemHeader(headers.data() + at, DvdRate, 1, 1, Buffers, 3);
        else if (const Bounds* bounds = stream.packs[i].header)
            at += WriteSystemHeader(headers.data() + at, bounds->rateBound, 1, 1, bounds->buffers, 3);
        if (stream.packs[i].endBefore)
            out.append(reinterpret_cast<const char*>(ProgramEndCode), sizeof(ProgramEndCode));
        at += WritePesHeader(headers.data() + at, pes, p.payload.size());
        out.append(reinterpret_cast<const char*>(headers.data()), at);
        out += p.payload;
    }
    return out;
}

// A picture: a sequence header before the first, a picture coding extension for fields.
std::string Picture(size_t fill, bool first, int structure = 3)
{
    std::string bytes;
    if (first)
        bytes.assign("\0\0\1\xB3\x2D\x02\x40\x33\xFF\xFF\xE0\x18\0\0\1\xB8\x00\x08\x00\x00", 20);
    bytes += std::string("\0\0\1\0\0\x0F", 6);
    if (structure != 3)
        bytes += std::string("\0\0\1\xB5\x8F\xFF", 6) + static_cast<char>(0xF0 | structure) + std::string("\x80\x00", 2);
    return bytes + std::string(fill, '\xAA');
}

// Pictures (ten unless told) and twenty audio frames in decode order, one pack each, every
// unit stamped, the packs back to back at the DVD rate (the SCR rounded up per pack). The pictures
// are frames and the audio MPEG, or field pairs and AC-3 in private stream 1.
Stream Sound(bool fieldsAndAc3, int pictures = 10)
{
    // MPEG-1 layer II, 192 kb/s, 48 kHz: 576 bytes; AC-3 at 48 kHz, 384 kb/s: 768 bytes behind its sub-stream header.
    const std::string mp2 = std::string("\xFF\xFD\xA4\x00", 4) + std::string(572, '\x55');
    const std::string ac3 = std::string("\x80\x01\x00\x01\x0B\x77\x00\x00\x14\x40", 10) + std::string(762, '\x55');
    struct Unit {
        int64_t decode;
        Packet packet;
    };
    std::vector<Unit> units;
    for (int k = 0; k < pictures; ++k) {
        const int64_t time = FirstDecode + k * Frame;
        if (fieldsAndAc3) {
            units.push_back({time, {0xE0, Picture(1500, k == 0, 1), time}});
            units.push_back({time, {0xE0, Picture(1500, false, 2)}});
        } else {
            units.push_back({time, {0xE0, Picture(3000, k == 0), time}});
        }
    }
    for (int n = 0; n < 20; ++n) {
        const int64_t time = FirstDecode + n * AudioFrame;
        units.push_back({time, {static_cast<uint8_t>(fieldsAndAc3 ? 0xBD : 0xC0), fieldsAndAc3 ? ac3 : mp2, time}});
    }
    std::stable_sort(units.begin(), units.end(), [](const Unit& a, const Unit& b) { return a.decode < b.decode; });
    Stream stream;
    uint64_t scr = 0;
    for (Unit& unit : units) {
        if (stream.packs.size() < 2)
            unit.packet.pstd = &*std::find_if(std::begin(Buffers), std::end(Buffers),
                                              [&](const SystemStreamEntry& e) { return e.streamId == unit.packet.id; });
        stream.packs.push_back({scr, DvdRate, unit.packet});
        // Room for the system header that Bytes adds to the first pack.
        const size_t bytes = Bytes(Stream{{stream.packs.back()}, false}).size() + SystemHeaderSize(3);
        scr += (bytes * 540000 + DvdRate - 1) / DvdRate;
    }
    return stream;
}

// Index of the pack carrying the nth unit of a stream.
size_t PackOf(const Stream& stream, uint8_t id, size_t nth)
{
    for (size_t i = 0; i < stream.packs.size(); ++i)
        if (stream.packs[i].packet.id == id && nth-- == 0)
            return i;
    return 0;
}

// From picture 5 on, a second program stream with larger bounds, at a higher rate, its video
// buffer said larger; or only part of that.
void SecondProgram(Stream& s, bool endCode, bool header, uint32_t muxRate, const SystemStreamEntry* videoBuffer)
{
    const size_t first = PackOf(s, 0xE0, 5);
    s.packs[first].endBefore = endCode;
    s.packs[first].header = header ? &Larger : nullptr;
    s.packs[first].packet.pstd = videoBuffer;
    for (size_t i = first; i < s.packs.size(); ++i)
        s.packs[i].muxRate = muxRate;
}

struct Case {
    const char* name;
    std::function<void(Stream&)> fault;
    std::vector<Fault> expected;
    bool fieldsAndAc3 = false;
};

void Check(std::initializer_list<Case> cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stream stream = Sound(c.fieldsAndAc3);
        c.fault(stream);
        const ps_check::Report report = ps_check::CheckProgramStream(Bytes(stream));
        EXPECT_EQ(c.expected, report.Found()) << report.Text();
    }
}

TEST(ProgramStreamCheckTest, PassesSoundStreamsAndCatchesEachFaultAlone)
{
    Check({
        {"sound", [](Stream&) {}, {}},
        {"a second program stream with larger bounds, sound", [](Stream& s) { SecondProgram(s, true, true, 30000, &LargeVideoBuffer); },
         {}},
        {"field pairs and AC-3, sound", [](Stream&) {}, {}, true},
        {"late units: the SCR stops for 0.6 s before picture 5",
         [](Stream& s) {
             for (size_t i = PackOf(s, 0xE0, 5); i < s.packs.size(); ++i)
                 s.packs[i].scr += Stop;
         },
         {Fault::Late}},
        {"overflow: a 4 KiB video buffer declared",
         [](Stream& s) { s.packs[PackOf(s, 0xE0, 0)].packet.pstd = &SmallVideoBuffer; }, {Fault::Overflow}},
        {"backwards decode time",
         [](Stream& s) { std::swap(s.packs[PackOf(s, 0xE0, 3)].packet.pts, s.packs[PackOf(s, 0xE0, 4)].packet.pts); },
         {Fault::DecodeOrder}},
        {"overlapping packs", [](Stream& s) { s.packs[6].scr = s.packs[5].scr + 1000; }, {Fault::PackOverlap}},
        {"SCR gap: SCRs and times a second later from pack 10 on (the times may step)", [](Stream& s) {
             for (size_t i = 10; i < s.packs.size(); ++i) {
                 s.packs[i].scr += 27000000;
                 s.packs[i].packet.pts += 90000;
             }
         },
         {Fault::ScrGap}},
        {"PTS gap: 30 pictures, 1 to 20 without a stamp", [](Stream& s) {
             s = Sound(false, 30);
             for (size_t k = 1; k <= 20; ++k)
                 s.packs[PackOf(s, 0xE0, k)].packet.pts = NoTimestamp;
         },
         {Fault::PtsGap}},
        {"PTS before DTS", [](Stream& s) { s.packs[PackOf(s, 0xE0, 2)].packet.dts = FirstDecode + 2 * Frame + 1; },
         {Fault::Stamp}},
        {"mux rate above the rate bound", [](Stream& s) { s.packs[3].muxRate = 30000; }, {Fault::MuxRate}},
        {"no system header", [](Stream& s) { s.systemHeader = false; }, {Fault::SystemHeader}},
        {"a second program stream without a system header", [](Stream& s) { SecondProgram(s, true, false, DvdRate, nullptr); },
         {Fault::SystemHeader}},
        {"a system header unlike the first in the same program stream",
         [](Stream& s) { SecondProgram(s, false, true, DvdRate, nullptr); }, {Fault::SystemHeader}},
        {"a mux rate above the first program stream's bound, the larger one only after it",
         [](Stream& s) {
             SecondProgram(s, true, true, 30000, nullptr);
             s.packs[PackOf(s, 0xE0, 5) - 1].muxRate = 30000;
         },
         {Fault::MuxRate}},
        {"a buffer larger than the first program stream's bound, the larger one only after it",
         [](Stream& s) {
             SecondProgram(s, true, true, DvdRate, nullptr);
             s.packs[PackOf(s, 0xE0, 4)].packet.pstd = &LargeVideoBuffer;
         },
         {Fault::SystemHeader}},
        {"a smaller buffer said while it holds more, a larger one again before a picture leaves",
         [](Stream& s) {
             s.packs[PackOf(s, 0xE0, 5)].packet.pstd = &SmallVideoBuffer;
             s.packs[PackOf(s, 0xE0, 6)].packet.pstd = &Buffers[0];
         },
         {Fault::Overflow}},
        {"a start code that begins no packet", [](Stream& s) { s.packs[5].packet.id = 0xB5; }, {Fault::Framing}},
        {"private stream 2 outside a navigation pack", [](Stream& s) { s.packs[5].packet.id = 0xBF; }, {Fault::Navigation}},
        {"stamp where no unit starts: picture 4's start code gone",
         [](Stream& s) {
             Packet& packet = s.packs[PackOf(s, 0xE0, 4)].packet;
             packet.payload = packet.payload.substr(0, 20) + std::string(3000, '\xAA');
             packet.payload.erase(0, 6);
         },
         {Fault::Stamp}},
        {"a stamp on a second field", [](Stream& s) { s.packs[PackOf(s, 0xE0, 3)].packet.pts = FirstDecode + 2 * Frame; },
         {Fault::Stamp}, true},
        {"an AC-3 sub-stream header that counts two frames", [](Stream& s) { s.packs[PackOf(s, 0xBD, 4)].packet.payload[1] = 2; },
         {Fault::SubstreamHeader}, true},
    });
}

} // namespace
