#include "tests/support/ProgramStreamCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>

// Decode times: a unit's DTS, else its PTS. A unit without a stamp is given the previous unit's
// decode time plus that unit's duration: an audio frame's samples, a picture's display duration
// (fields, repeat_first_field, the frame rate). That is exact for audio and for video without
// B-pictures or pulldown; with them it is an estimate, so the report counts late units without a
// stamp apart from the others. Units before a stream's first stamp have no time and leave the
// buffer with the first unit that has one.

namespace ps_check {
namespace {

constexpr int64_t Hz27 = 27000000;
constexpr int64_t MaxGap27 = Hz27 * 7 / 10;
constexpr size_t MessagesPerFault = 6;
constexpr uint64_t None = ~0ull;

struct Chunk {
    uint64_t offset;   // in the elementary stream
    size_t length;
    double arrival;    // 27 MHz, of the first byte
    double perByte;    // 27 MHz ticks per byte at the pack's mux_rate
    size_t pack;
};

struct StampRecord {
    uint64_t offset;
    size_t length;
    int64_t pts, dts; // 90 kHz; dts < 0 when absent
    size_t pack;
};

struct SubstreamRecord {
    uint64_t offset;
    size_t length;
    unsigned frames, pointer;
    size_t pack;
};

struct Unit {
    uint64_t start = 0;          // first byte, headers before the picture included
    uint64_t anchor = 0;         // where a stamp for it must start: the (first) picture start code, the frame start
    uint64_t secondAnchor = None; // the second field picture's start code
    int64_t duration = 0;        // 27 MHz
    bool awaitingSecond = false;
    int64_t decode = 0;          // 27 MHz
    bool timed = false, stamped = false;
};

struct StreamData {
    uint8_t id, substream;
    std::string es;
    std::vector<Chunk> chunks;
    std::vector<StampRecord> stamps;
    std::vector<SubstreamRecord> substreamHeaders;
    size_t declared = 0;
    bool declaredInPes = false;
    size_t packets = 0;
    std::vector<size_t> pstdPackets;
    std::vector<uint64_t> vobuStarts; // video: where the first packet after each navigation pack starts
};

uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

int64_t Timestamp(const uint8_t* p)
{
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (p[1] << 22) | ((p[2] & 0xFE) << 14) | (p[3] << 7) | (p[4] >> 1);
}

std::string Seconds(double ticks27)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.6f s", ticks27 / Hz27);
    return text;
}

std::string Hex(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02X", value);
    return text;
}

std::string StreamName(uint8_t id, uint8_t substream)
{
    return "stream " + Hex(id) + (id == 0xBD ? "/" + Hex(substream) : std::string());
}

// MPEG audio (layers I-III, MPEG-1, -2 and 2.5): size and duration of the frame at p, or false.
bool MpegAudioFrame(const uint8_t* p, size_t left, size_t& size, int64_t& duration)
{
    static const uint16_t Rates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2 layers II, III
    };
    if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const unsigned version = (p[1] >> 3) & 3, layer = 4 - ((p[1] >> 1) & 3), rateIndex = p[2] >> 4, srIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || srIndex == 3)
        return false;
    const bool mpeg1 = version == 3;
    const uint32_t sampleRate = (srIndex == 0 ? 44100u : srIndex == 1 ? 48000u : 32000u) >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const uint32_t kbps = Rates[mpeg1 ? layer - 1 : layer == 1 ? 3 : 4][rateIndex];
    const uint32_t padding = (p[2] >> 1) & 1;
    uint32_t samples = layer == 1 ? 384 : layer == 3 && !mpeg1 ? 576 : 1152;
    size = layer == 1 ? (12 * kbps * 1000 / sampleRate + padding) * 4 : samples / 8 * kbps * 1000 / sampleRate + padding;
    duration = static_cast<int64_t>(samples) * Hz27 / sampleRate;
    return true;
}

bool Ac3Frame(const uint8_t* p, size_t left, size_t& size, int64_t& duration)
{
    static const uint16_t Words48[19] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
    if (left < 6 || p[0] != 0x0B || p[1] != 0x77 || (p[5] >> 3) > 10)
        return false;
    const unsigned fscod = p[4] >> 6, code = p[4] & 0x3F;
    if (fscod == 3 || code >= 38)
        return false;
    const unsigned words48 = Words48[code / 2];
    // 44.1 kHz frames hold a word more in every second size code.
    const unsigned words = fscod == 0 ? words48 : fscod == 2 ? words48 * 3 / 2 : words48 * 48000 / 44100 + (code & 1);
    static const uint32_t SampleRates[3] = {48000, 44100, 32000};
    size = words * 2;
    duration = 1536 * Hz27 / SampleRates[fscod];
    return true;
}

using FrameParser = bool (*)(const uint8_t*, size_t, size_t&, int64_t&);

// Audio frames one after another; bytes that are no frame join the frame before them.
std::vector<Unit> AudioUnits(const std::string& es, FrameParser parse)
{
    std::vector<Unit> units;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(es.data());
    const size_t n = es.size();
    size_t size = 0;
    int64_t duration = 0;
    const auto frameAt = [&](size_t at) {
        if (!parse(data + at, n - at, size, duration))
            return false;
        // A sync word is believed when the next frame follows, or the stream ends within the frame.
        size_t nextSize = 0;
        int64_t nextDuration = 0;
        return at + size >= n || parse(data + at + size, n - at - size, nextSize, nextDuration);
    };
    for (size_t at = 0; at < n;) {
        if (!frameAt(at)) {
            ++at;
            continue;
        }
        Unit unit;
        unit.start = unit.anchor = at;
        unit.duration = duration;
        units.push_back(unit);
        at += size;
    }
    return units;
}

int64_t FramePeriod27(unsigned code)
{
    static const int64_t Periods[9] = {0, 1126125, 1125000, 1080000, 900900, 900000, 540000, 450450, 450000};
    return code >= 1 && code <= 8 ? Periods[code] : 1080000;
}

// Pictures, with the sequence and GOP headers before them; two field pictures make one unit.
std::vector<Unit> VideoUnits(const std::string& es)
{
    std::vector<Unit> units;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(es.data());
    const size_t n = es.size();
    Unit current;
    bool hasPicture = false, secondField = false, progressiveSequence = false;
    int64_t period = 1080000;
    const auto startUnit = [&](size_t at) {
        if (hasPicture) {
            units.push_back(current);
            current = Unit();
            current.start = at;
            hasPicture = false;
        }
    };
    for (size_t i = 0; i + 3 < n; ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1)
            continue;
        const uint8_t code = d[i + 3];
        if (code == 0xB3) {
            startUnit(i);
            if (i + 7 < n)
                period = FramePeriod27(d[i + 7] & 0x0F);
        } else if (code == 0xB8) {
            startUnit(i);
        } else if (code == 0x00) {
            if (hasPicture && current.awaitingSecond) {
                current.secondAnchor = i;
                current.awaitingSecond = false;
                secondField = true;
            } else {
                startUnit(i);
                current.anchor = i;
                current.duration = period;
                hasPicture = true;
                secondField = false;
            }
        } else if (code == 0xB5 && i + 8 < n) {
            const unsigned extension = d[i + 4] >> 4;
            if (extension == 1) {
                progressiveSequence = (d[i + 5] >> 3) & 1;
            } else if (extension == 8 && hasPicture && !secondField) {
                const unsigned structure = d[i + 6] & 3;
                const bool topFirst = d[i + 7] >> 7, repeatFirst = (d[i + 7] >> 1) & 1;
                const int fields = structure != 3 ? 2
                                   : progressiveSequence ? (repeatFirst ? (topFirst ? 6 : 4) : 2)
                                                         : 2 + (repeatFirst ? 1 : 0);
                current.awaitingSecond = structure != 3;
                current.duration = period * fields / 2;
            }
        }
        i += 2;
    }
    if (hasPicture)
        units.push_back(current);
    return units;
}

class Checker {
public:
    Report Run(const uint8_t* data, size_t size);

private:
    void Fail(Fault fault, const std::string& message)
    {
        if (report_.counts[static_cast<size_t>(fault)]++ < MessagesPerFault)
            report_.messages.push_back(std::string(FaultName(fault)) + ": " + message);
    }
    size_t Pack(const uint8_t* data, size_t size, size_t at);
    void SystemHeader(const uint8_t* p, size_t length);
    void Pes(const uint8_t* data, size_t at, size_t next, double scr, double perByte, size_t packStart);
    StreamData& StreamFor(uint8_t id, uint8_t substream);
    void CheckStream(StreamData& stream, StreamReport& out);
    bool NavigationPack(const uint8_t* data, size_t size, size_t at) const;
    void CheckVobus(const StreamData& video);

    Report report_;
    std::map<uint16_t, StreamData> streams_;
    std::map<uint8_t, size_t> bounds_; // system header: stream_id (0xB8, 0xB9 for all audio, all video) -> bytes
    bool systemHeader_ = false;
    size_t packIndex_ = 0;
    bool havePrevious_ = false;
    double previousScr_ = 0, previousEnd_ = 0;
    bool vobuOpen_ = false; // a navigation pack came and no video packet after it yet
};

const char* KindOf(uint8_t id, uint8_t substream)
{
    if (id >= 0xE0 && id <= 0xEF)
        return "mpeg2video";
    if (id >= 0xC0 && id <= 0xDF)
        return "mpegaudio";
    return id == 0xBD && substream >= 0x80 && substream <= 0x87 ? "ac3" : "other";
}

StreamData& Checker::StreamFor(uint8_t id, uint8_t substream)
{
    const uint16_t key = static_cast<uint16_t>(id << 8 | substream);
    auto found = streams_.find(key);
    if (found == streams_.end()) {
        found = streams_.emplace(key, StreamData{id, substream, {}, {}, {}, {}, 0, false, 0, {}, {}}).first;
        auto bound = bounds_.find(id);
        if (bound == bounds_.end())
            bound = bounds_.find(id >= 0xE0 && id <= 0xEF ? 0xB9 : id >= 0xC0 && id <= 0xDF ? 0xB8 : 0);
        if (bound != bounds_.end())
            found->second.declared = bound->second;
        else if (systemHeader_)
            Fail(Fault::SystemHeader, "pack " + std::to_string(packIndex_) + ": " + StreamName(id, substream) +
                                          " is not in the system header");
    }
    return found->second;
}

void Checker::SystemHeader(const uint8_t* p, size_t length)
{
    if (length < 6 || (length - 6) % 3 != 0) {
        Fail(Fault::SystemHeader, "pack " + std::to_string(packIndex_) + ": system header of length " + std::to_string(length));
        return;
    }
    report_.rateBound = ((p[6] & 0x7Fu) << 15) | (p[7] << 7) | (p[8] >> 1);
    for (size_t at = 12; at + 3 <= 6 + length; at += 3) {
        const unsigned field = p[at + 1] << 8 | p[at + 2];
        if ((field >> 14) != 3)
            Fail(Fault::SystemHeader, "entry for " + Hex(p[at]) + " lacks its '11' bits");
        bounds_[p[at]] = (field & 0x1FFF) * ((field >> 13) & 1 ? 1024u : 128u);
    }
    systemHeader_ = true;
}

void Checker::Pes(const uint8_t* data, size_t at, size_t next, double scr, double perByte, size_t packStart)
{
    const uint8_t id = data[at + 3];
    const size_t h = at + 6;
    if (next < h + 3 || (data[h] & 0xC0) != 0x80 || h + 3 + data[h + 2] > next) {
        Fail(Fault::Framing, "pack " + std::to_string(packIndex_) + ": " + StreamName(id, 0) + " packet at byte " +
                                 std::to_string(at) + " has no sound MPEG-2 PES header");
        return;
    }
    const uint8_t flags = data[h + 1];
    const size_t payload = h + 3 + data[h + 2];
    size_t q = h + 3;
    int64_t pts = -1, dts = -1;
    const unsigned timeFlags = flags >> 6;
    if (timeFlags == 1)
        Fail(Fault::Stamp, "pack " + std::to_string(packIndex_) + ": " + StreamName(id, 0) + " DTS without a PTS");
    if (timeFlags & 2) {
        if ((data[q] >> 4) != (timeFlags == 3 ? 3u : 2u) || (data[q] & 1) == 0)
            Fail(Fault::Framing, "pack " + std::to_string(packIndex_) + ": PTS prefix or marker bits wrong");
        pts = Timestamp(data + q);
        q += 5;
        if (timeFlags == 3) {
            if ((data[q] >> 4) != 1)
                Fail(Fault::Framing, "pack " + std::to_string(packIndex_) + ": DTS prefix wrong");
            dts = Timestamp(data + q);
            q += 5;
        }
    }
    q += (flags & 0x20 ? 6 : 0) + (flags & 0x10 ? 3 : 0) + (flags & 0x08 ? 1 : 0) + (flags & 0x04 ? 1 : 0) + (flags & 0x02 ? 2 : 0);
    size_t pstd = 0;
    if ((flags & 0x01) && q < payload) {
        const uint8_t extension = data[q++];
        q += extension & 0x80 ? 16 : 0;
        if ((extension & 0x40) && q < payload)
            q += 1 + data[q];
        q += extension & 0x20 ? 2 : 0;
        if ((extension & 0x10) && q + 2 <= payload) {
            const unsigned field = data[q] << 8 | data[q + 1];
            if ((field >> 14) != 1)
                Fail(Fault::Framing, "pack " + std::to_string(packIndex_) + ": P-STD extension lacks its '01' bits");
            pstd = (field & 0x1FFF) * ((field >> 13) & 1 ? 1024u : 128u);
        }
    }
    size_t esStart = payload;
    uint8_t substream = 0;
    unsigned frames = 0, pointer = 0;
    if (id == 0xBD) {
        if (next < payload + 4) {
            Fail(Fault::Framing, "pack " + std::to_string(packIndex_) + ": private stream 1 packet without a sub-stream header");
            return;
        }
        substream = data[payload];
        frames = data[payload + 1];
        pointer = data[payload + 2] << 8 | data[payload + 3];
        esStart = payload + 4;
    }
    StreamData& stream = StreamFor(id, substream);
    if (pstd) {
        const auto bound = bounds_.find(id);
        if (bound != bounds_.end() && pstd > bound->second)
            Fail(Fault::SystemHeader, "pack " + std::to_string(packIndex_) + ": " + StreamName(id, substream) + " declares " +
                                          std::to_string(pstd) + " bytes, above the system header's bound of " +
                                          std::to_string(bound->second));
        stream.declared = pstd;
        stream.declaredInPes = true;
        stream.pstdPackets.push_back(stream.packets);
    }
    ++stream.packets;
    const uint64_t offset = stream.es.size();
    if (id >= 0xE0 && id <= 0xEF && vobuOpen_) {
        stream.vobuStarts.push_back(offset);
        vobuOpen_ = false;
    }
    const size_t length = next - esStart;
    if (pts >= 0)
        stream.stamps.push_back({offset, length, pts, dts, packIndex_});
    if (id == 0xBD)
        stream.substreamHeaders.push_back({offset, length, frames, pointer, packIndex_});
    if (length > 0) {
        // The byte holding the SCR's last bit is the pack's ninth.
        const double arrival = scr + (static_cast<double>(esStart) - static_cast<double>(packStart + 8)) * perByte;
        stream.chunks.push_back({offset, length, arrival, perByte, packIndex_});
        stream.es.append(reinterpret_cast<const char*>(data + esStart), length);
    }
}

// One pack from `at`; gives where the next thing starts.
size_t Checker::Pack(const uint8_t* data, size_t size, size_t at)
{
    const std::string where = "pack " + std::to_string(packIndex_);
    if (size - at < 14 || (data[at + 4] & 0xC4) != 0x44 || (data[at + 6] & 4) == 0 || (data[at + 8] & 4) == 0 ||
        (data[at + 9] & 1) == 0 || (data[at + 12] & 3) != 3) {
        Fail(Fault::Framing, where + " at byte " + std::to_string(at) + " has no MPEG-2 pack header");
        return size - at < 14 ? size : at + 4;
    }
    const uint8_t* p = data + at;
    const uint64_t base = (static_cast<uint64_t>(p[4] & 0x38) << 27) | (static_cast<uint64_t>(p[4] & 0x03) << 28) |
                          (p[5] << 20) | ((p[6] & 0xF8) << 12) | ((p[6] & 0x03) << 13) | (p[7] << 5) | (p[8] >> 3);
    const double scr = static_cast<double>(base * 300 + (((p[8] & 0x03) << 7) | (p[9] >> 1)));
    const uint32_t muxRate = (p[10] << 14) | (p[11] << 6) | (p[12] >> 2);
    const double perByte = muxRate ? 540000.0 / muxRate : 0;
    if (muxRate == 0)
        Fail(Fault::MuxRate, where + ": program_mux_rate 0");
    if (report_.packs == 0)
        report_.firstScr = static_cast<uint64_t>(scr);
    report_.lowestMuxRate = report_.packs ? std::min(report_.lowestMuxRate, muxRate) : muxRate;
    report_.highestMuxRate = std::max(report_.highestMuxRate, muxRate);

    size_t q = at + 14 + (p[13] & 7);
    bool systemHeaderHere = false;
    bool privateStream2 = false;
    while (q + 4 <= size && (Be32(data + q) >> 8) == 1 && data[q + 3] != 0xBA && data[q + 3] != 0xB9) {
        const uint8_t id = data[q + 3];
        if (id < 0xBB || q + 6 > size) {
            Fail(Fault::Framing, where + ": start code " + Hex(id) + " at byte " + std::to_string(q) + " is no packet");
            break;
        }
        const size_t next = q + 6 + (data[q + 4] << 8 | data[q + 5]);
        if (next > size) {
            Fail(Fault::Framing, where + ": " + StreamName(id, 0) + " packet at byte " + std::to_string(q) + " runs past the end");
            q = size;
            break;
        }
        if (id == 0xBB) {
            systemHeaderHere = true;
            SystemHeader(data + q, next - q - 6);
        } else if (id == 0xBF) {
            privateStream2 = true;
        } else if (id != 0xBE && id != 0xBC) {
            Pes(data, q, next, scr, perByte, at);
        }
        q = next;
    }
    if (report_.packs == 0 && !systemHeaderHere)
        Fail(Fault::SystemHeader, "the first pack has no system header");
    if (privateStream2) {
        if (NavigationPack(data, size, at)) {
            if (report_.navigationPacks++ == 0 && report_.packs != 0)
                Fail(Fault::Navigation, where + " is the first navigation pack: the stream does not start with one");
            vobuOpen_ = true;
        } else {
            Fail(Fault::Navigation, where + " has private stream 2 outside a DVD navigation pack");
        }
    }
    if (systemHeader_ && report_.rateBound && muxRate > report_.rateBound)
        Fail(Fault::MuxRate, where + ": program_mux_rate " + std::to_string(muxRate) + " above rate_bound " +
                                 std::to_string(report_.rateBound));
    // What follows the packets must be the next pack or the end code.
    size_t end = q;
    if (q < size && !(q + 4 <= size && (Be32(data + q) == 0x1BA || Be32(data + q) == 0x1B9))) {
        Fail(Fault::Framing, where + ": bytes at " + std::to_string(q) + " are neither a packet nor a pack");
        end = q + 1;
        while (end + 4 <= size && Be32(data + end) != 0x1BA)
            ++end;
        if (end + 4 > size)
            end = size;
    }
    const size_t bytes = q - at;
    report_.smallestPack = report_.packs ? std::min(report_.smallestPack, bytes) : bytes;
    report_.largestPack = std::max(report_.largestPack, bytes);

    if (havePrevious_) {
        if (scr < previousScr_)
            Fail(Fault::ScrBackwards, where + ": SCR " + Seconds(scr) + " after " + Seconds(previousScr_));
        else if (scr + 2 < previousEnd_)
            Fail(Fault::PackOverlap, where + ": SCR " + Seconds(scr) + " before the pack before it is delivered, at " +
                                         Seconds(previousEnd_));
        if (scr - previousScr_ > MaxGap27)
            Fail(Fault::ScrGap, where + ": SCR " + Seconds(scr) + ", " + Seconds(scr - previousScr_) + " after the last");
    }
    havePrevious_ = true;
    previousScr_ = scr;
    previousEnd_ = scr + static_cast<double>(bytes) * perByte;
    ++report_.packs;
    ++packIndex_;
    return end;
}

// As DVD has it, and as authoring tools find it: pack header, a 24-byte system header, then PCI and
// DSI packets that fill the pack.
bool Checker::NavigationPack(const uint8_t* data, size_t size, size_t at) const
{
    if (size - at < 2048 || (data[at + 13] & 7) != 0)
        return false;
    const uint8_t* p = data + at;
    const auto packet = [&](size_t offset, uint8_t id, size_t length, int substream) {
        return Be32(p + offset) == (0x100u | id) && static_cast<size_t>(p[offset + 4] << 8 | p[offset + 5]) == length &&
               (substream < 0 || p[offset + 6] == substream);
    };
    return packet(14, 0xBB, 18, -1) && packet(38, 0xBF, 980, 0x00) && packet(1024, 0xBF, 1018, 0x01);
}

// Each group of pictures (a sequence header, or a GOP header with none before it since the last
// picture) starts the first video packet of a VOBU, and each VOBU's first video packet starts one.
void Checker::CheckVobus(const StreamData& video)
{
    std::vector<uint64_t> groups;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(video.es.data());
    bool open = false;
    for (size_t i = 0; i + 3 < video.es.size(); ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1)
            continue;
        if ((d[i + 3] == 0xB3 || d[i + 3] == 0xB8) && !open) {
            groups.push_back(i);
            open = true;
        } else if (d[i + 3] == 0x00) {
            open = false;
        }
        i += 2;
    }
    std::vector<uint64_t> missing, stray;
    std::set_difference(groups.begin(), groups.end(), video.vobuStarts.begin(), video.vobuStarts.end(), std::back_inserter(missing));
    std::set_difference(video.vobuStarts.begin(), video.vobuStarts.end(), groups.begin(), groups.end(), std::back_inserter(stray));
    for (uint64_t offset : missing)
        Fail(Fault::Navigation, "the group of pictures at video byte " + std::to_string(offset) + " starts no VOBU");
    for (uint64_t offset : stray)
        Fail(Fault::Navigation, "a VOBU's video starts at byte " + std::to_string(offset) + ", not at a group of pictures");
}

void Checker::CheckStream(StreamData& stream, StreamReport& out)
{
    const std::string name = StreamName(stream.id, stream.substream);
    out.id = stream.id;
    out.substream = stream.substream;
    out.kind = KindOf(stream.id, stream.substream);
    out.payload = stream.es.size();
    out.declared = stream.declared;
    out.pstdPackets = stream.pstdPackets;
    std::vector<Unit> units = out.kind == "mpeg2video"  ? VideoUnits(stream.es)
                              : out.kind == "mpegaudio" ? AudioUnits(stream.es, MpegAudioFrame)
                              : out.kind == "ac3"       ? AudioUnits(stream.es, Ac3Frame)
                                                        : std::vector<Unit>();
    out.units = units.size();
    out.elementary = stream.es;
    if (units.empty())
        return;

    // The sub-stream header counts the frames that start in the packet and points at the first.
    for (const SubstreamRecord& record : stream.substreamHeaders) {
        const auto first = std::lower_bound(units.begin(), units.end(), record.offset,
                                            [](const Unit& u, uint64_t offset) { return u.anchor < offset; });
        unsigned count = 0;
        for (auto u = first; u != units.end() && u->anchor < record.offset + record.length; ++u)
            ++count;
        const unsigned pointer = count ? static_cast<unsigned>(first->anchor - record.offset + 1) : 0;
        if (count != record.frames || pointer != record.pointer)
            Fail(Fault::SubstreamHeader, "pack " + std::to_string(record.pack) + ": " + name + " says " +
                                             std::to_string(record.frames) + " frames from " + std::to_string(record.pointer) +
                                             ", the packet holds " + std::to_string(count) + " from " + std::to_string(pointer));
    }

    // Stamps go to the unit whose start code is the first to begin in their packet.
    std::vector<std::pair<int64_t, int64_t>> stamps(units.size(), {-1, -1});
    std::vector<uint64_t> secondFields;
    for (const Unit& unit : units)
        if (unit.secondAnchor != None)
            secondFields.push_back(unit.secondAnchor);
    for (const StampRecord& stamp : stream.stamps) {
        const auto first = std::lower_bound(units.begin(), units.end(), stamp.offset,
                                            [](const Unit& u, uint64_t offset) { return u.anchor < offset; });
        const bool unitStarts = first != units.end() && first->anchor < stamp.offset + stamp.length;
        const auto second = std::lower_bound(secondFields.begin(), secondFields.end(), stamp.offset);
        const bool secondFirst = second != secondFields.end() && *second < stamp.offset + stamp.length &&
                                 (!unitStarts || *second < first->anchor);
        if (secondFirst)
            Fail(Fault::Stamp, "pack " + std::to_string(stamp.pack) + ": " + name + " PTS " + Seconds(stamp.pts * 300.0) +
                                   " on the second field of a picture");
        else if (!unitStarts)
            Fail(Fault::Stamp, "pack " + std::to_string(stamp.pack) + ": " + name + " PTS " + Seconds(stamp.pts * 300.0) +
                                   " in a packet where no unit starts");
        else
            stamps[static_cast<size_t>(first - units.begin())] = {stamp.pts, stamp.dts};
    }

    out.pts.reserve(units.size());
    for (const auto& stamp : stamps)
        out.pts.push_back(stamp.first);
    int64_t lastStampedPts = -1;
    const Unit* previous = nullptr;
    for (size_t k = 0; k < units.size(); ++k) {
        Unit& unit = units[k];
        const int64_t pts = stamps[k].first, dts = stamps[k].second;
        if (pts >= 0) {
            unit.stamped = unit.timed = true;
            unit.decode = (dts >= 0 ? dts : pts) * 300;
            ++out.stamped;
            if (dts > pts)
                Fail(Fault::Stamp, name + " unit " + std::to_string(k) + ": PTS " + Seconds(pts * 300.0) + " before its DTS " +
                                       Seconds(dts * 300.0));
            if (lastStampedPts >= 0 && std::llabs(pts - lastStampedPts) * 300 > MaxGap27)
                Fail(Fault::PtsGap, name + " unit " + std::to_string(k) + ": PTS " + Seconds(pts * 300.0) + " after " +
                                        Seconds(lastStampedPts * 300.0));
            lastStampedPts = pts;
        } else if (previous) {
            unit.timed = true;
            unit.decode = previous->decode + previous->duration;
        }
        if (!unit.timed)
            continue;
        if (previous && unit.decode <= previous->decode)
            Fail(Fault::DecodeOrder, name + " unit " + std::to_string(k) + ": decode time " + Seconds(static_cast<double>(unit.decode)) +
                                         " after " + Seconds(static_cast<double>(previous->decode)));
        if (!previous)
            out.firstDts = unit.decode / 300;
        out.lastDts = unit.decode / 300;
        previous = &unit;
    }
    if (!previous)
        return;

    // Arrival time of an elementary stream byte, and how many bytes have arrived by a time.
    const auto arrivalOf = [&](uint64_t offset) {
        const auto chunk = std::upper_bound(stream.chunks.begin(), stream.chunks.end(), offset,
                                            [](uint64_t o, const Chunk& c) { return o < c.offset; }) - 1;
        return chunk->arrival + static_cast<double>(offset - chunk->offset) * chunk->perByte;
    };
    const auto chunkOf = [&](uint64_t offset) {
        return (std::upper_bound(stream.chunks.begin(), stream.chunks.end(), offset,
                                 [](uint64_t o, const Chunk& c) { return o < c.offset; }) - 1)->pack;
    };
    const auto arrivedBy = [&](double time) -> uint64_t {
        const auto chunk = std::upper_bound(stream.chunks.begin(), stream.chunks.end(), time,
                                            [](double t, const Chunk& c) { return t < c.arrival; });
        if (chunk == stream.chunks.begin())
            return 0;
        const Chunk& c = *(chunk - 1);
        const double within = c.perByte > 0 ? (time - c.arrival) / c.perByte + 1 : static_cast<double>(c.length);
        return c.offset + std::min<uint64_t>(c.length, static_cast<uint64_t>(std::max(0.0, within)));
    };

    // Removal times: units before the first time leave with the first timed unit; never earlier than the one before.
    units.front().start = 0;
    std::vector<int64_t> removal(units.size());
    int64_t firstTime = 0;
    for (const Unit& unit : units)
        if (unit.timed) {
            firstTime = unit.decode;
            break;
        }
    for (size_t k = 0; k < units.size(); ++k)
        removal[k] = std::max(k ? removal[k - 1] : firstTime, units[k].timed ? units[k].decode : firstTime);

    for (size_t k = 0; k < units.size(); ++k) {
        const uint64_t end = k + 1 < units.size() ? units[k + 1].start : stream.es.size();
        if (end == 0 || !units[k].timed)
            continue;
        const double arrived = arrivalOf(end - 1);
        const double late = arrived - static_cast<double>(units[k].decode);
        if (late > 300) {
            ++out.late;
            out.lateUnstamped += units[k].stamped ? 0 : 1;
            out.worstLate = std::max(out.worstLate, static_cast<int64_t>(late));
            Fail(Fault::Late, "pack " + std::to_string(chunkOf(end - 1)) + ": " + name + " unit " + std::to_string(k) +
                                  (units[k].stamped ? "" : " (no stamp)") + " decoded at " +
                                  Seconds(static_cast<double>(units[k].decode)) + " is whole only at " + Seconds(arrived) +
                                  ", " + Seconds(late) + " late");
        }
        out.longestWait = std::max(out.longestWait, static_cast<int64_t>(removal[k] - arrivalOf(units[k].start)));
    }

    // Occupancy peaks at the end of each packet's delivery and just before each removal.
    size_t overflowAt = 0;
    const auto occupancy = [&](uint64_t arrived, uint64_t removed, size_t pack, double time) {
        const uint64_t held = arrived > removed ? arrived - removed : 0;
        out.maxOccupancy = std::max<size_t>(out.maxOccupancy, static_cast<size_t>(held));
        if (stream.declared && held > stream.declared && overflowAt++ < 1)
            Fail(Fault::Overflow, "pack " + std::to_string(pack) + ": " + name + " holds " + std::to_string(held) + " bytes at " +
                                      Seconds(time) + ", declared " + std::to_string(stream.declared));
    };
    for (const Chunk& chunk : stream.chunks) {
        const double time = chunk.arrival + static_cast<double>(chunk.length - 1) * chunk.perByte;
        const size_t gone = static_cast<size_t>(std::upper_bound(removal.begin(), removal.end(), static_cast<int64_t>(time)) -
                                                removal.begin());
        occupancy(chunk.offset + chunk.length, gone ? (gone < units.size() ? units[gone].start : stream.es.size()) : 0,
                  chunk.pack, time);
    }
    for (size_t k = 0; k < units.size(); ++k) {
        if (k > 0 && removal[k] == removal[k - 1])
            continue;
        const double time = static_cast<double>(removal[k]) - 0.5;
        occupancy(arrivedBy(time), units[k].start, chunkOf(units[k].start), time);
    }
    // Every point over the size counts, the first is told.
    if (overflowAt > 1)
        report_.counts[static_cast<size_t>(Fault::Overflow)] += overflowAt - 1;
}

Report Checker::Run(const uint8_t* data, size_t size)
{
    report_.bytes = size;
    for (size_t at = 0; at < size;) {
        if (size - at >= 4 && Be32(data + at) == 0x1B9) {
            report_.endCode = true;
            if (at + 4 != size)
                Fail(Fault::Framing, std::to_string(size - at - 4) + " bytes after the program end code");
            break;
        }
        if (size - at < 4 || Be32(data + at) != 0x1BA) {
            Fail(Fault::Framing, "no pack starts at byte " + std::to_string(at));
            size_t next = at + 1;
            while (next + 4 <= size && Be32(data + next) != 0x1BA)
                ++next;
            at = next + 4 <= size ? next : size;
            continue;
        }
        at = Pack(data, size, at);
    }
    for (auto& entry : streams_) {
        if (report_.navigationPacks && entry.second.id >= 0xE0 && entry.second.id <= 0xEF)
            CheckVobus(entry.second);
        StreamReport stream;
        CheckStream(entry.second, stream);
        report_.streams.push_back(stream);
    }
    return report_;
}

} // namespace

const char* FaultName(Fault fault)
{
    static const char* const Names[] = {"framing",   "system header", "mux rate",     "SCR backwards", "pack overlap",
                                        "SCR gap",   "stamp",         "decode order", "PTS gap",       "late",
                                        "overflow",  "sub-stream header", "navigation"};
    static_assert(sizeof(Names) / sizeof(Names[0]) == static_cast<size_t>(Fault::Count), "a name for each fault");
    return Names[static_cast<size_t>(fault)];
}

bool Report::Clean() const
{
    for (size_t count : counts)
        if (count)
            return false;
    return packs > 0;
}

const StreamReport* Report::Stream(uint8_t id) const
{
    for (const StreamReport& stream : streams)
        if (stream.id == id)
            return &stream;
    return nullptr;
}

uint64_t Report::Payload() const
{
    uint64_t payload = 0;
    for (const StreamReport& stream : streams)
        payload += stream.payload;
    return payload;
}

double Report::Overhead() const
{
    const uint64_t payload = Payload();
    return payload ? static_cast<double>(bytes - payload) / static_cast<double>(payload) : 0;
}

std::string Report::Text() const
{
    char line[400];
    std::snprintf(line, sizeof(line),
                  "%zu packs of %zu-%zu bytes (%zu navigation), mux_rate %u-%u (rate_bound %u), %llu bytes, overhead %.2f%%%s\n",
                  packs, smallestPack, largestPack, navigationPacks, lowestMuxRate, highestMuxRate, rateBound,
                  static_cast<unsigned long long>(bytes), Overhead() * 100, endCode ? ", end code" : "");
    std::string text = line;
    for (const StreamReport& s : streams) {
        std::snprintf(line, sizeof(line),
                      "  %s %s: %llu bytes, %zu units (%zu stamped), DTS %.4f-%.4f s, %zu late (%zu unstamped, worst %.4f s), "
                      "buffer %zu of %zu bytes, longest wait %.3f s\n",
                      StreamName(s.id, s.substream).c_str(), s.kind.c_str(), static_cast<unsigned long long>(s.payload), s.units,
                      s.stamped, s.firstDts / 90000.0, s.lastDts / 90000.0, s.late, s.lateUnstamped,
                      static_cast<double>(s.worstLate) / Hz27, s.maxOccupancy, s.declared,
                      static_cast<double>(s.longestWait) / Hz27);
        text += line;
    }
    for (size_t fault = 0; fault < static_cast<size_t>(Fault::Count); ++fault)
        if (counts[fault]) {
            std::snprintf(line, sizeof(line), "  %zu x %s\n", counts[fault], FaultName(static_cast<Fault>(fault)));
            text += line;
        }
    for (const std::string& message : messages)
        text += "  " + message + "\n";
    return text;
}

std::string TimesKept(const std::vector<ExpectedTimes>& streams, int64_t slack, int64_t sync)
{
    std::string problems;
    int parts = 1;
    for (const ExpectedTimes& expected : streams)
        for (int part : expected.part)
            parts = std::max(parts, part + 1);
    for (int part = 0; part < parts; ++part) {
        int64_t lowest = INT64_MAX, highest = INT64_MIN;
        for (const ExpectedTimes& expected : streams) {
            const StreamReport& stream = *expected.stream;
            const std::string name = StreamName(stream.id, stream.substream) + " part " + std::to_string(part);
            if (stream.pts.size() != expected.truth.size()) {
                problems += name + ": " + std::to_string(stream.pts.size()) + " units, " + std::to_string(expected.truth.size()) +
                            " expected\n";
                continue;
            }
            int64_t low = INT64_MAX, high = INT64_MIN;
            size_t lowAt = 0, highAt = 0;
            for (size_t k = 0; k < stream.pts.size(); ++k) {
                if (stream.pts[k] < 0 || (k < expected.part.size() ? expected.part[k] : 0) != part)
                    continue;
                const int64_t offset = stream.pts[k] - expected.truth[k];
                if (offset < low)
                    low = offset, lowAt = k;
                if (offset > high)
                    high = offset, highAt = k;
            }
            if (low == INT64_MAX) {
                problems += name + ": no stamped unit\n";
                continue;
            }
            if (high - low > slack)
                problems += name + ": unit " + std::to_string(lowAt) + " is off its time by " + std::to_string(low) + ", unit " +
                            std::to_string(highAt) + " by " + std::to_string(high) + " (90 kHz)\n";
            lowest = std::min(lowest, low);
            highest = std::max(highest, low);
        }
        if (lowest != INT64_MAX && highest - lowest > sync)
            problems += "part " + std::to_string(part) + ": the streams are " + std::to_string(highest - lowest) +
                        " (90 kHz) out of step\n";
    }
    return problems;
}

Report CheckProgramStream(const uint8_t* data, size_t size)
{
    return Checker().Run(data, size);
}

} // namespace ps_check
