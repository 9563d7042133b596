// The tests' transport stream checker on a stream the multiplexer makes of the SD vectors: it
// passes, carries the streams byte for byte, and each fault put into it is caught, alone.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "media/mpeg/TransportStreamMultiplexer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TransportStreamCheck.h"

using namespace mpeg;
using ts_check::Fault;

namespace {

class CCollectingSink : public IPacketSink {
public:
    bool WritePacket(const uint8_t* packet) override
    {
        bytes.append(reinterpret_cast<const char*>(packet), TsPacketSize);
        return true;
    }
    std::string bytes;
};

constexpr uint16_t VideoPid = FirstStreamPid;
constexpr uint16_t AudioPid = FirstStreamPid + 1;

struct Fixture {
    std::string video, audio, stream;
};

const Fixture& Sound()
{
    static const Fixture fixture = [] {
        Fixture f;
        f.video = testing_support::ReadFileBytes(testing_support::VectorPath("es\\video.m2v"));
        f.audio = testing_support::ReadFileBytes(testing_support::VectorPath("es\\audio.mp2"));
        CCollectingSink sink;
        CTransportStreamMultiplexer mux(sink);
        const int video = mux.AddStream(Coding::Mpeg2Video), audio = mux.AddStream(Coding::Mpeg1Audio);
        const auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
        // As a recording interleaves them: a second of each at a time.
        const size_t videoStep = f.video.size() / 3, audioStep = f.audio.size() / 3;
        for (size_t k = 0; k < 3; ++k) {
            const size_t v = k == 2 ? f.video.size() - 2 * videoStep : videoStep, a = k == 2 ? f.audio.size() - 2 * audioStep : audioStep;
            mux.Push(video, bytes(f.video) + k * videoStep, v, k == 0 ? 0 : NoTimestamp);
            mux.Push(audio, bytes(f.audio) + k * audioStep, a, k == 0 ? 0 : NoTimestamp);
        }
        mux.End(video);
        mux.End(audio);
        f.stream = sink.bytes;
        return f;
    }();
    return fixture;
}

uint16_t Pid(const std::string& s, size_t packet) { return static_cast<uint16_t>(((s[packet * 188 + 1] & 0x1F) << 8) | static_cast<uint8_t>(s[packet * 188 + 2])); }
bool Starts(const std::string& s, size_t packet) { return s[packet * 188 + 1] & 0x40; }
bool HasPcr(const std::string& s, size_t packet)
{
    const size_t at = packet * 188;
    return (s[at + 3] & 0x20) && s[at + 4] != 0 && (s[at + 5] & 0x10);
}
size_t Payload(const std::string& s, size_t packet)
{
    const size_t at = packet * 188;
    return at + ((s[at + 3] & 0x20) ? 5 + static_cast<uint8_t>(s[at + 4]) : 4);
}

// Every packet index of a PID that starts a PES (or section), in order.
std::vector<size_t> Starting(const std::string& s, uint16_t pid)
{
    std::vector<size_t> found;
    for (size_t i = 0; i < s.size() / 188; ++i)
        if (Pid(s, i) == pid && Starts(s, i))
            found.push_back(i);
    return found;
}

void AddToTimestamp(std::string& s, size_t at, int64_t ticks)
{
    uint8_t* p = reinterpret_cast<uint8_t*>(&s[at]);
    WriteTimestamp(p, p[0] >> 4, es_units::Timestamp(p) + ticks);
}

// Moves the PTS (and DTS) of the PES starting in the packet.
void MoveStamps(std::string& s, size_t packet, int64_t ticks)
{
    const size_t pes = Payload(s, packet);
    AddToTimestamp(s, pes + 9, ticks);
    if ((static_cast<uint8_t>(s[pes + 7]) >> 6) == 3)
        AddToTimestamp(s, pes + 14, ticks);
}

TEST(TransportStreamCheckTest, TheMultiplexersStreamIsSoundAndCarriesTheStreamsAsTheyAre)
{
    const ts_check::Report report = ts_check::CheckTransportStream(Sound().stream);
    EXPECT_TRUE(report.Clean()) << report.Text();
    ASSERT_EQ(report.streams.size(), 2u);
    ASSERT_TRUE(report.Stream(VideoPid) && report.Stream(AudioPid));
    EXPECT_EQ(report.Stream(VideoPid)->streamType, 0x02);
    EXPECT_EQ(report.Stream(AudioPid)->streamType, 0x03);
    EXPECT_TRUE(report.Stream(VideoPid)->elementary == Sound().video);
    EXPECT_TRUE(report.Stream(AudioPid)->elementary == Sound().audio);
    EXPECT_EQ(report.pcrPid, VideoPid);
}

struct PlantedFault {
    const char* name;
    Fault fault;
    std::function<void(std::string&)> plant;
};

const PlantedFault PlantedFaults[] = {
    {"a null packet without its sync byte", Fault::Sync,
     [](std::string& s) {
         for (size_t i = 0; i < s.size() / 188; ++i)
             if (Pid(s, i) == NullPid) {
                 s[i * 188] = 0x48;
                 return;
             }
     }},
    {"a video counter that skips one", Fault::Continuity,
     [](std::string& s) {
         for (size_t i = Starting(s, VideoPid)[3] + 1; i < s.size() / 188; ++i)
             if (Pid(s, i) == VideoPid)
                 s[i * 188 + 3] = static_cast<char>((s[i * 188 + 3] & 0xF0) | ((s[i * 188 + 3] + 1) & 0x0F));
     }},
    {"a PMT with a broken CRC", Fault::Tables, [](std::string& s) { s[Starting(s, PmtPid)[5] * 188 + 20] ^= 0x01; }},
    {"PCRs missing for a while", Fault::PcrInterval,
     [](std::string& s) {
         for (size_t i = s.size() / 188 / 3, n = 0; n < 3 && i < s.size() / 188; ++i)
             if (HasPcr(s, i) && ++n)
                 s[i * 188 + 5] &= ~0x10;
     }},
    {"one PCR 11 microseconds off", Fault::PcrAccuracy,
     [](std::string& s) {
         size_t n = 0;
         for (size_t i = 0; i < s.size() / 188; ++i)
             if (HasPcr(s, i) && ++n == 20) {
                 // The base's last bit: 300 ticks of 27 MHz, 11 microseconds.
                 s[i * 188 + 10] = static_cast<char>(s[i * 188 + 10] ^ 0x80);
                 return;
             }
     }},
    {"an audio PES longer than it says", Fault::Pes,
     [](std::string& s) { s[Payload(s, Starting(s, AudioPid)[4]) + 5] -= 1; }},
    {"audio stamped on a time it already had", Fault::DecodeOrder,
     [](std::string& s) { MoveStamps(s, Starting(s, AudioPid)[6], -2160 * 3); }},
    {"a second of pictures without stamps", Fault::PtsGap,
     [](std::string& s) {
         const std::vector<size_t> pes = Starting(s, VideoPid);
         for (size_t k = 20; k < 50 && k < pes.size(); ++k)
             s[Payload(s, pes[k]) + 7] &= 0x3F; // the stamps' bytes stay as header stuffing
     }},
    {"pictures due before they arrive", Fault::Late,
     [](std::string& s) {
         const std::vector<size_t> pes = Starting(s, VideoPid);
         for (size_t k = 0; k < pes.size(); ++k)
             MoveStamps(s, pes[k], -44000); // the first picture due 11 ms after the first packet
     }},
    {"audio decoded a second later than sent", Fault::Overflow,
     [](std::string& s) {
         for (size_t i : Starting(s, AudioPid))
             MoveStamps(s, i, 90000 / 2);
     }},
};

TEST(TransportStreamCheckTest, EachPlantedFaultIsCaughtAlone)
{
    for (const PlantedFault& planted : PlantedFaults) {
        std::string s = Sound().stream;
        planted.plant(s);
        const ts_check::Report report = ts_check::CheckTransportStream(s);
        EXPECT_EQ(report.Found(), std::vector<Fault>{planted.fault}) << planted.name << ": " << report.Text();
    }
}

} // namespace
