// The tests' program stream checker on streams built by hand here, one pack per packet: a sound
// stream passes, and each fault put into it is caught, alone.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/ProgramStreamCheck.h"

using ps_check::Fault;

namespace {

constexpr int64_t Frame = 3600;      // 90 kHz, 25 frames/s
constexpr int64_t AudioFrame = 2160; // 1152 samples at 48 kHz
constexpr int64_t FirstDecode = 18000;
constexpr uint64_t Stop = 27000000 * 6 / 10;
constexpr uint32_t DvdRate = 25200; // mux_rate and rate_bound, 50 bytes/s units

struct Packet {
    uint8_t id;
    std::string payload;
    int64_t pts = -1, dts = -1;
    unsigned pstd = 0; // P-STD extension field (scale and size), 0 for none
};

struct Pack {
    uint64_t scr; // 27 MHz
    uint32_t muxRate;
    Packet packet;
};

struct Stream {
    std::vector<Pack> packs;
    bool systemHeader = true;
};

void Timestamp(std::string& out, unsigned prefix, int64_t time)
{
    out += static_cast<char>(prefix << 4 | ((time >> 29) & 0x0E) | 1);
    out += static_cast<char>(time >> 22);
    out += static_cast<char>(((time >> 14) & 0xFE) | 1);
    out += static_cast<char>(time >> 7);
    out += static_cast<char>(((time << 1) & 0xFE) | 1);
}

std::string Bytes(const Stream& stream)
{
    std::string out;
    for (size_t i = 0; i < stream.packs.size(); ++i) {
        const Pack& pack = stream.packs[i];
        const uint64_t base = pack.scr / 300, extension = pack.scr % 300;
        const uint8_t header[14] = {0, 0, 1, 0xBA,
                                    static_cast<uint8_t>(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03)),
                                    static_cast<uint8_t>(base >> 20),
                                    static_cast<uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03)),
                                    static_cast<uint8_t>(base >> 5),
                                    static_cast<uint8_t>(((base << 3) & 0xF8) | 0x04 | ((extension >> 7) & 0x03)),
                                    static_cast<uint8_t>((extension << 1) | 1),
                                    static_cast<uint8_t>(pack.muxRate >> 14), static_cast<uint8_t>(pack.muxRate >> 6),
                                    static_cast<uint8_t>((pack.muxRate << 2) | 3), static_cast<uint8_t>(0xF8 | (i % 3))};
        out.append(reinterpret_cast<const char*>(header), sizeof(header));
        out.append(i % 3, '\xFF'); // pack stuffing of 0 to 2 bytes
        if (i == 0 && stream.systemHeader) {
            const uint32_t r = DvdRate;
            const uint8_t system[] = {0, 0, 1, 0xBB, 0, 15, static_cast<uint8_t>(0x80 | (r >> 15)), static_cast<uint8_t>(r >> 7),
                                      static_cast<uint8_t>((r << 1) | 1), 0x04, 0xE1, 0xFF,
                                      0xE0, 0xE0, 232, 0xC0, 0xC0, 100, 0xBD, 0xE0, 58};
            out.append(reinterpret_cast<const char*>(system), sizeof(system));
        }
        const Packet& p = pack.packet;
        std::string fields;
        if (p.pts >= 0)
            Timestamp(fields, p.dts >= 0 ? 3 : 2, p.pts);
        if (p.dts >= 0)
            Timestamp(fields, 1, p.dts);
        if (p.pstd)
            fields += std::string("\x10", 1) + static_cast<char>(0x40 | p.pstd >> 8) + static_cast<char>(p.pstd);
        const size_t length = 3 + fields.size() + p.payload.size();
        out += std::string("\0\0\1", 3) + static_cast<char>(p.id) + static_cast<char>(length >> 8) + static_cast<char>(length);
        out += static_cast<char>(0x81);
        out += static_cast<char>((p.pts >= 0 ? 0x80 : 0) | (p.dts >= 0 ? 0x40 : 0) | (p.pstd ? 1 : 0));
        out += static_cast<char>(fields.size());
        out += fields + p.payload;
        if (i % 4 == 1)
            out += std::string("\0\0\1\xBE\0\x04\xFF\xFF\xFF\xFF", 10); // a padding packet now and then
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

// Ten pictures and twenty audio frames in decode order, one pack each, every unit stamped, the
// packs back to back at the DVD rate (the SCR rounded up per pack). The pictures are frames and the
// audio MPEG, or field pairs and AC-3 in private stream 1.
Stream Sound(bool fieldsAndAc3)
{
    // MPEG-1 layer II, 192 kb/s, 48 kHz: 576 bytes; AC-3 at 48 kHz, 384 kb/s: 768 bytes behind its sub-stream header.
    const std::string mp2 = std::string("\xFF\xFD\xA4\x00", 4) + std::string(572, '\x55');
    const std::string ac3 = std::string("\x80\x01\x00\x01\x0B\x77\x00\x00\x14\x40", 10) + std::string(762, '\x55');
    struct Unit {
        int64_t decode;
        Packet packet;
    };
    std::vector<Unit> units;
    for (int k = 0; k < 10; ++k) {
        const int64_t time = FirstDecode + k * Frame;
        if (fieldsAndAc3) {
            units.push_back({time, {0xE0, Picture(1500, k == 0, 1), time, -1}});
            units.push_back({time, {0xE0, Picture(1500, false, 2)}});
        } else {
            units.push_back({time, {0xE0, Picture(3000, k == 0), time, -1}});
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
            unit.packet.pstd = unit.packet.id == 0xE0 ? 0x2000 | 232 : unit.packet.id == 0xC0 ? 100 : 0x2000 | 58;
        stream.packs.push_back({scr, DvdRate, unit.packet});
        // Room for the stuffing, padding and system header that Bytes adds to some packs.
        scr += ((Bytes(Stream{{stream.packs.back()}, false}).size() + 40) * 540000 + DvdRate - 1) / DvdRate;
    }
    return stream;
}

std::vector<Fault> Faults(const ps_check::Report& report)
{
    std::vector<Fault> faults;
    for (size_t f = 0; f < static_cast<size_t>(Fault::Count); ++f)
        if (report.Count(static_cast<Fault>(f)))
            faults.push_back(static_cast<Fault>(f));
    return faults;
}

// Index of the pack carrying the nth unit of a stream.
size_t PackOf(const Stream& stream, uint8_t id, size_t nth)
{
    for (size_t i = 0; i < stream.packs.size(); ++i)
        if (stream.packs[i].packet.id == id && nth-- == 0)
            return i;
    return 0;
}

TEST(ProgramStreamCheckTest, PassesASoundStreamAndCatchesEachFaultAlone)
{
    const struct Case {
        const char* name;
        std::function<void(Stream&)> fault;
        std::vector<Fault> expected;
        bool fieldsAndAc3 = false;
    } cases[] = {
        {"sound", [](Stream&) {}, {}},
        {"sound, stamps on I-pictures only (the others implied)",
         [](Stream& s) {
             for (size_t k = 1; k < 10; ++k)
                 s.packs[PackOf(s, 0xE0, k)].packet.pts = -1;
         },
         {}},
        {"late units: the SCR stops for 0.6 s before picture 5",
         [](Stream& s) {
             for (size_t i = PackOf(s, 0xE0, 5); i < s.packs.size(); ++i)
                 s.packs[i].scr += Stop;
         },
         {Fault::Late}},
        {"overflow: a 4 KiB video buffer declared",
         [](Stream& s) { s.packs[PackOf(s, 0xE0, 0)].packet.pstd = 0x2000 | 4; }, {Fault::Overflow}},
        {"backwards decode time",
         [](Stream& s) { std::swap(s.packs[PackOf(s, 0xE0, 3)].packet.pts, s.packs[PackOf(s, 0xE0, 4)].packet.pts); },
         {Fault::DecodeOrder}},
        {"backwards SCR", [](Stream& s) { s.packs[6].scr = s.packs[4].scr; }, {Fault::PackOverlap}},
        {"overlapping packs", [](Stream& s) { s.packs[6].scr = s.packs[5].scr + 1000; }, {Fault::PackOverlap}},
        {"SCR gap: times and SCRs a second later from pack 10 on", [](Stream& s) {
             for (size_t i = 10; i < s.packs.size(); ++i) {
                 s.packs[i].scr += 27000000;
                 s.packs[i].packet.pts += 90000;
             }
         },
         {Fault::ScrGap, Fault::PtsGap}},
        {"PTS before DTS", [](Stream& s) { s.packs[PackOf(s, 0xE0, 2)].packet.dts = FirstDecode + 2 * Frame + 1; },
         {Fault::Stamp}},
        {"mux rate above the rate bound", [](Stream& s) { s.packs[3].muxRate = 30000; }, {Fault::MuxRate}},
        {"mux rate 0", [](Stream& s) { s.packs.back().muxRate = 0; }, {Fault::MuxRate}},
        {"no system header", [](Stream& s) { s.systemHeader = false; }, {Fault::SystemHeader}},
        {"a start code that begins no packet", [](Stream& s) { s.packs[5].packet.id = 0xB5; }, {Fault::Framing}},
        {"private stream 2 outside a navigation pack", [](Stream& s) { s.packs[5].packet.id = 0xBF; }, {Fault::Navigation}},
        {"stamp where no unit starts: picture 4's start code gone",
         [](Stream& s) {
             Packet& packet = s.packs[PackOf(s, 0xE0, 4)].packet;
             packet.payload = packet.payload.substr(0, 20) + std::string(3000, '\xAA');
             packet.payload.erase(0, 6);
         },
         {Fault::Stamp}},
        {"field pairs and AC-3, sound", [](Stream&) {}, {}, true},
        {"a stamp on a second field", [](Stream& s) { s.packs[PackOf(s, 0xE0, 3)].packet.pts = FirstDecode + 2 * Frame; },
         {Fault::Stamp}, true},
        {"an AC-3 sub-stream header that counts two frames", [](Stream& s) { s.packs[PackOf(s, 0xBD, 4)].packet.payload[1] = 2; },
         {Fault::SubstreamHeader}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stream stream = Sound(c.fieldsAndAc3);
        c.fault(stream);
        const ps_check::Report report = ps_check::CheckProgramStream(Bytes(stream));
        EXPECT_EQ(c.expected, Faults(report)) << report.Text();
        const ps_check::StreamReport* audio = report.Stream(c.fieldsAndAc3 ? 0xBD : 0xC0);
        ASSERT_TRUE(report.streams.size() == 2 && report.Stream(0xE0) && audio) << report.Text();
        EXPECT_EQ(c.fieldsAndAc3 ? 58u * 1024 : 12800u, audio->declared);
        if (c.expected.empty()) {
            EXPECT_EQ(stream.packs.size(), report.packs);
            EXPECT_EQ(10u, report.Stream(0xE0)->units); // a field pair is one
            EXPECT_EQ(20u, audio->units);
        }
    }
}

} // namespace
