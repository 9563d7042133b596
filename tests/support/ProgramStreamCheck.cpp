#include "tests/support/ProgramStreamCheck.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <utility>

namespace ps_check {
namespace {

using namespace es_units;

constexpr int64_t MaxGap27 = Hz27 * 7 / 10;

struct Packet {
    uint64_t offset;     // of its payload in the elementary stream
    size_t length;
    size_t pack;
    double arrival;      // 27 MHz, of the payload's first byte
    double perByte;      // 27 MHz ticks per byte at the pack's mux_rate
    int64_t pts, dts;    // 90 kHz; -1 when absent
    unsigned frames, pointer; // private stream 1's sub-stream header
    size_t program;      // the program stream it is in, from 1
};

struct StreamData {
    StreamReport out; // filled in as the packets come, finished by CheckStream
    std::vector<Packet> packets;
    std::vector<uint64_t> vobuStarts; // video: where the first packet after each navigation pack starts
    std::vector<std::pair<double, size_t>> sizes; // the buffer's size from a time (27 MHz) on
    size_t unlistedIn = 0;            // the program stream whose system header was found not to list it
};

uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// A buffer size as the system header and the P-STD field give it: 13 bits in units of 128 or 1024 bytes.
size_t BufferBytes(uint8_t high, uint8_t low) { return ((high & 0x1Fu) << 8 | low) * (high & 0x20 ? 1024u : 128u); }

bool IsVideo(uint8_t id) { return id >= 0xE0 && id <= 0xEF; }
bool IsMpegAudio(uint8_t id) { return id >= 0xC0 && id <= 0xDF; }

std::string At(size_t pack) { return "pack " + std::to_string(pack) + ": "; }

std::string StreamName(uint8_t id, uint8_t substream)
{
    char text[24];
    std::snprintf(text, sizeof(text), id == 0xBD ? "stream 0x%02X/0x%02X" : "stream 0x%02X", id, substream);
    return text;
}

class Checker {
public:
    Report Run(const uint8_t* data, size_t size);

private:
    void Fail(Fault fault, const std::string& message) { report_.Add(fault, message); }
    size_t Pack(const uint8_t* data, size_t size, size_t at);
    void NewProgram();
    void SystemHeader(const uint8_t* p, size_t length, double scr);
    const size_t* Bound(uint8_t id) const;
    void Pes(const uint8_t* data, size_t at, size_t next, double scr, double perByte, size_t packStart);
    StreamData& StreamFor(uint8_t id, uint8_t substream);
    void CheckStream(StreamData& stream);
    bool NavigationPack(const uint8_t* data, size_t size, size_t at) const;
    void CheckVobus(const StreamData& video, const std::vector<Unit>& units);

    Report report_;
    std::map<uint16_t, StreamData> streams_;
    size_t packIndex_ = 0;
    double previousScr_ = -1, previousEnd_ = 0;
    std::vector<bool> navigated_ = {false}; // by program stream, from 1: whether it has navigation packs
    // Of the program stream being walked.
    size_t programPacks_ = 0;
    std::string systemHeader_;         // its first, as bytes; empty while none
    std::map<uint8_t, size_t> bounds_; // system header: stream_id (0xB8, 0xB9 for all audio, all video) -> bytes
    uint32_t rateBound_ = 0;
    bool vobuOpen_ = false; // a navigation pack came and no video packet after it yet
};

StreamData& Checker::StreamFor(uint8_t id, uint8_t substream)
{
    const uint16_t key = static_cast<uint16_t>(id << 8 | substream);
    auto found = streams_.find(key);
    if (found != streams_.end())
        return found->second;
    StreamData& stream = streams_[key];
    stream.out.id = id;
    stream.out.substream = substream;
    if (const size_t* bound = Bound(id))
        stream.sizes.emplace_back(-1.0, *bound);
    return stream;
}

// The program stream's system header bound of a stream, or null.
const size_t* Checker::Bound(uint8_t id) const
{
    auto bound = bounds_.find(id);
    if (bound == bounds_.end())
        bound = bounds_.find(IsVideo(id) ? 0xB9 : IsMpegAudio(id) ? 0xB8 : 0);
    return bound != bounds_.end() ? &bound->second : nullptr;
}

// After a program end code: the next program stream declares its own bounds.
void Checker::NewProgram()
{
    programPacks_ = 0;
    systemHeader_.clear();
    bounds_.clear();
    rateBound_ = 0;
    vobuOpen_ = false;
}

// The values of every system header of a program stream are the same; a decoder takes a new
// program stream's buffers at their bounds until P-STD extensions say their sizes.
void Checker::SystemHeader(const uint8_t* p, size_t length, double scr)
{
    if (length < 6 || (length - 6) % 3 != 0) {
        Fail(Fault::SystemHeader, At(packIndex_) + "system header of length " + std::to_string(length));
        return;
    }
    const std::string bytes(reinterpret_cast<const char*>(p), 6 + length);
    if (!systemHeader_.empty()) {
        if (bytes != systemHeader_)
            Fail(Fault::SystemHeader, At(packIndex_) + "a system header unlike the program stream's first");
        return;
    }
    systemHeader_ = bytes;
    rateBound_ = ((p[6] & 0x7Fu) << 15) | (p[7] << 7) | (p[8] >> 1);
    for (size_t at = 12; at + 3 <= 6 + length; at += 3)
        bounds_[p[at]] = BufferBytes(p[at + 1], p[at + 2]);
    for (auto& entry : streams_) {
        if (const size_t* bound = Bound(entry.second.out.id))
            entry.second.sizes.emplace_back(scr, *bound);
    }
}

void Checker::Pes(const uint8_t* data, size_t at, size_t next, double scr, double perByte, size_t packStart)
{
    const uint8_t id = data[at + 3];
    const size_t h = at + 6;
    if (next < h + 3 || (data[h] & 0xC0) != 0x80 || h + 3 + data[h + 2] > next) {
        Fail(Fault::Framing, At(packIndex_) + StreamName(id, 0) + ": no sound MPEG-2 PES header");
        return;
    }
    const uint8_t flags = data[h + 1];
    const size_t payload = h + 3 + data[h + 2];
    size_t q = h + 3;
    int64_t pts = -1, dts = -1;
    if (flags & 0x80) {
        pts = Timestamp(data + q);
        dts = flags & 0x40 ? Timestamp(data + q + 5) : -1;
        q += flags & 0x40 ? 10 : 5;
    }
    q += (flags & 0x20 ? 6 : 0) + (flags & 0x10 ? 3 : 0) + (flags & 0x08 ? 1 : 0) + (flags & 0x04 ? 1 : 0) + (flags & 0x02 ? 2 : 0);
    // The P-STD buffer field, when it is the extension's only one (as the multiplexer writes it).
    size_t pstd = 0;
    if ((flags & 0x01) && q + 3 <= payload && (data[q] & 0xF1) == 0x10)
        pstd = BufferBytes(data[q + 1], data[q + 2]);
    const bool substreamHeader = id == 0xBD;
    if (substreamHeader && next < payload + 4) {
        Fail(Fault::Framing, At(packIndex_) + "private stream 1 packet without a sub-stream header");
        return;
    }
    StreamData& stream = StreamFor(id, substreamHeader ? data[payload] : 0);
    const size_t* bound = Bound(id);
    if (!bound && !systemHeader_.empty() && stream.unlistedIn != report_.programs) {
        Fail(Fault::SystemHeader, At(packIndex_) + StreamName(id, stream.out.substream) + " is not in the system header");
        stream.unlistedIn = report_.programs;
    }
    if (pstd && bound && pstd > *bound)
        Fail(Fault::SystemHeader, At(packIndex_) + StreamName(id, stream.out.substream) + " above its bound");
    const uint64_t offset = stream.out.elementary.size();
    if (IsVideo(id) && vobuOpen_) {
        stream.vobuStarts.push_back(offset);
        vobuOpen_ = false;
    }
    const size_t esStart = payload + (substreamHeader ? 4 : 0);
    // The byte holding the SCR's last bit is the pack's ninth.
    const double arrival = scr + (static_cast<double>(esStart) - static_cast<double>(packStart + 8)) * perByte;
    // The new size holds from the header that says it, just before the payload.
    if (pstd)
        stream.sizes.emplace_back(arrival, pstd);
    const unsigned frames = substreamHeader ? data[payload + 1] : 0;
    const unsigned pointer = substreamHeader ? data[payload + 2] << 8 | data[payload + 3] : 0;
    stream.packets.push_back({offset, next - esStart, packIndex_, arrival, perByte, pts, dts, frames, pointer, report_.programs});
    stream.out.elementary.append(reinterpret_cast<const char*>(data + esStart), next - esStart);
}

// One pack from `at`; gives where the next one starts, or the end after bytes that are not one.
size_t Checker::Pack(const uint8_t* data, size_t size, size_t at)
{
    const std::string where = At(packIndex_);
    if (size - at < 14 || (data[at + 4] & 0xC0) != 0x40) {
        Fail(Fault::Framing, where + "no MPEG-2 pack header at byte " + std::to_string(at));
        return size;
    }
    const uint8_t* p = data + at;
    const uint64_t base = (static_cast<uint64_t>(p[4] & 0x38) << 27) | (static_cast<uint64_t>(p[4] & 0x03) << 28) |
                          (p[5] << 20) | ((p[6] & 0xF8) << 12) | ((p[6] & 0x03) << 13) | (p[7] << 5) | (p[8] >> 3);
    const double scr = static_cast<double>(base * 300 + (((p[8] & 0x03) << 7) | (p[9] >> 1)));
    const uint32_t muxRate = (p[10] << 14) | (p[11] << 6) | (p[12] >> 2);
    const double perByte = muxRate ? 540000.0 / muxRate : 0;
    const bool programStart = programPacks_++ == 0;
    if (programStart) {
        ++report_.programs;
        navigated_.push_back(false);
    }

    size_t q = at + 14 + (p[13] & 7);
    bool systemHeaderHere = false, privateStream2 = false;
    while (q + 4 <= size && (Be32(data + q) >> 8) == 1 && data[q + 3] != 0xBA && data[q + 3] != 0xB9) {
        const uint8_t id = data[q + 3];
        const size_t next = q + 6 + (q + 6 <= size ? data[q + 4] << 8 | data[q + 5] : 0);
        if (id < 0xBB || next > size) {
            Fail(Fault::Framing, where + "no whole packet at byte " + std::to_string(q) + " (" + StreamName(id, 0) + ")");
            return size;
        }
        if (id == 0xBB) {
            systemHeaderHere = true;
            SystemHeader(data + q, next - q - 6, scr);
        } else if (id == 0xBF) {
            privateStream2 = true;
        } else if (id != 0xBE && id != 0xBC) {
            Pes(data, q, next, scr, perByte, at);
        }
        q = next;
    }
    if (q < size && !(q + 4 <= size && (Be32(data + q) == 0x1BA || Be32(data + q) == 0x1B9))) {
        Fail(Fault::Framing, where + "bytes at " + std::to_string(q) + " are neither a packet nor a pack");
        return size;
    }

    if (programStart && !systemHeaderHere)
        Fail(Fault::SystemHeader, where + "the first pack of program stream " + std::to_string(report_.programs) +
                                      " has no system header");
    if (privateStream2 && !NavigationPack(data, size, at))
        Fail(Fault::Navigation, where + "private stream 2 outside a DVD navigation pack");
    if (privateStream2 && NavigationPack(data, size, at)) {
        if (!navigated_[report_.programs] && !programStart)
            Fail(Fault::Navigation, where + "the first navigation pack: the program stream does not start with one");
        navigated_[report_.programs] = true;
        ++report_.navigationPacks;
        vobuOpen_ = true;
    }
    if (muxRate == 0)
        Fail(Fault::MuxRate, where + "program_mux_rate 0");
    if (rateBound_ && muxRate > rateBound_)
        Fail(Fault::MuxRate, where + "program_mux_rate " + std::to_string(muxRate) + " above rate_bound");
    if (scr + 2 < previousEnd_)
        Fail(Fault::PackOverlap, where + "SCR " + Seconds(scr) + " before the pack before it is delivered");
    if (previousScr_ >= 0 && scr - previousScr_ > MaxGap27)
        Fail(Fault::ScrGap, where + "SCR " + Seconds(scr) + ", " + Seconds(scr - previousScr_) + " after the last");

    const size_t bytes = q - at;
    report_.lowestMuxRate = report_.packs++ ? std::min(report_.lowestMuxRate, muxRate) : muxRate;
    report_.highestMuxRate = std::max(report_.highestMuxRate, muxRate);
    previousScr_ = scr;
    previousEnd_ = scr + static_cast<double>(bytes) * perByte;
    ++packIndex_;
    return q;
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

// Each group of pictures (a unit that starts with a sequence or GOP header) of a program stream with
// navigation packs starts the first video packet of a VOBU, and each VOBU's first video packet starts one.
void Checker::CheckVobus(const StreamData& video, const std::vector<Unit>& units)
{
    std::vector<uint64_t> groups, missing, stray;
    for (const Unit& unit : units) {
        const auto packet = std::upper_bound(video.packets.begin(), video.packets.end(), unit.start,
                                             [](uint64_t o, const Packet& c) { return o < c.offset; });
        if (unit.group && packet != video.packets.begin() && navigated_[(packet - 1)->program])
            groups.push_back(unit.start);
    }
    std::set_difference(groups.begin(), groups.end(), video.vobuStarts.begin(), video.vobuStarts.end(), std::back_inserter(missing));
    std::set_difference(video.vobuStarts.begin(), video.vobuStarts.end(), groups.begin(), groups.end(), std::back_inserter(stray));
    for (uint64_t offset : missing)
        Fail(Fault::Navigation, "the group of pictures at video byte " + std::to_string(offset) + " starts no VOBU");
    for (uint64_t offset : stray)
        Fail(Fault::Navigation, "a VOBU's video starts at byte " + std::to_string(offset) + ", not at a group of pictures");
}

void Checker::CheckStream(StreamData& stream)
{
    StreamReport& out = stream.out;
    const std::string& es = out.elementary;
    const std::string name = StreamName(out.id, out.substream);
    // Private stream 1 carries AC-3 alone in what the multiplexer writes.
    std::vector<Unit> units = IsVideo(out.id)       ? VideoUnits(es)
                              : IsMpegAudio(out.id) ? AudioUnits(es, MpegAudioFrame)
                                                       : AudioUnits(es, Ac3Frame);
    if (!stream.sizes.empty())
        out.declared = stream.sizes.back().second;
    if (units.empty() && !es.empty())
        Fail(Fault::Framing, name + ": " + std::to_string(es.size()) + " bytes and not one unit");
    if (units.empty())
        return;
    if (IsVideo(out.id))
        CheckVobus(stream, units);

    // The first unit whose start code begins at or after an elementary stream offset.
    const auto unitFrom = [&](uint64_t offset) {
        return std::lower_bound(units.begin(), units.end(), offset, [](const Unit& u, uint64_t o) { return u.anchor < o; });
    };
    // Stamps go to the unit whose start code is the first to begin in their packet; the sub-stream
    // header counts the frames that start in the packet and points at the first.
    out.pts.assign(units.size(), -1);
    std::vector<int64_t> dts(units.size(), -1);
    for (const Packet& packet : stream.packets) {
        const auto first = unitFrom(packet.offset);
        const unsigned count = static_cast<unsigned>(unitFrom(packet.offset + packet.length) - first);
        const unsigned pointer = count ? static_cast<unsigned>(first->anchor - packet.offset + 1) : 0;
        if (out.id == 0xBD && (count != packet.frames || pointer != packet.pointer))
            Fail(Fault::SubstreamHeader, At(packet.pack) + name + " holds " + std::to_string(count) + " frames from " +
                                             std::to_string(pointer) + ", not as its header says");
        if (packet.pts < 0)
            continue;
        // A second field that starts in the packet before any unit does is the previous unit's.
        const uint64_t second = first == units.begin() ? None : (first - 1)->secondAnchor;
        const std::string stamp = At(packet.pack) + name + " PTS " + Seconds(packet.pts * 300.0);
        if (second >= packet.offset && second < packet.offset + packet.length) {
            Fail(Fault::Stamp, stamp + " on the second field of a picture");
        } else if (!count) {
            Fail(Fault::Stamp, stamp + " in a packet where no unit starts");
        } else {
            out.pts[first - units.begin()] = packet.pts;
            dts[first - units.begin()] = packet.dts;
        }
    }

    DecodeTimes(units, out.pts, dts, name, [&](TimingFault fault, const std::string& message) {
        Fail(fault == TimingFault::PtsBeforeDts ? Fault::Stamp : fault == TimingFault::PtsGap ? Fault::PtsGap : Fault::DecodeOrder, message);
    });
    const std::vector<int64_t> removal = RemovalTimes(units);
    if (removal.empty())
        return;

    // The packet that carries an elementary stream byte, and how many bytes have arrived by a time.
    const auto packetOf = [&](uint64_t offset) -> const Packet& {
        return *(std::upper_bound(stream.packets.begin(), stream.packets.end(), offset,
                                  [](uint64_t o, const Packet& c) { return o < c.offset; }) - 1);
    };
    const auto arrivedBy = [&](double time) -> uint64_t {
        const auto packet = std::upper_bound(stream.packets.begin(), stream.packets.end(), time,
                                             [](double t, const Packet& c) { return t < c.arrival; });
        if (packet == stream.packets.begin())
            return 0;
        const Packet& c = *(packet - 1);
        const double within = c.perByte > 0 ? (time - c.arrival) / c.perByte + 1 : static_cast<double>(c.length);
        return c.offset + std::min<uint64_t>(c.length, static_cast<uint64_t>(std::max(0.0, within)));
    };

    units.front().start = 0;
    for (size_t k = 0; k < units.size(); ++k) {
        const uint64_t end = k + 1 < units.size() ? units[k + 1].start : es.size();
        if (end == 0 || !units[k].timed)
            continue;
        const Packet& last = packetOf(end - 1);
        const double arrived = last.arrival + static_cast<double>(end - 1 - last.offset) * last.perByte;
        const double late = arrived - static_cast<double>(units[k].decode);
        if (late > 300)
            Fail(Fault::Late, At(last.pack) + name + " unit " + std::to_string(k) + " is whole " + Seconds(late) +
                                  " after its decode time" + (out.pts[k] >= 0 ? "" : " (no stamp)"));
    }

    // What the buffer holds at a time, with units from the kth on still in it, against its size then.
    const auto checkHeld = [&](size_t k, double time) {
        const auto size = std::upper_bound(stream.sizes.begin(), stream.sizes.end(), time,
                                           [](double t, const std::pair<double, size_t>& s) { return t < s.first; });
        const size_t declared = size == stream.sizes.begin() ? 0 : (size - 1)->second;
        const uint64_t arrived = arrivedBy(time);
        const uint64_t held = arrived > units[k].start ? arrived - units[k].start : 0;
        if (declared && held > declared)
            Fail(Fault::Overflow, At(packetOf(units[k].start).pack) + name + " holds " + std::to_string(held) + " bytes at " +
                                      Seconds(time) + ", declared " + std::to_string(declared));
    };
    // Occupancy peaks just before each removal: between removals bytes only arrive, and bytes that
    // arrive after the last one are late. A smaller size holds from when it is said.
    for (size_t k = 0; k < units.size(); ++k) {
        if (k == 0 || removal[k] != removal[k - 1])
            checkHeld(k, static_cast<double>(removal[k]) - 0.5);
    }
    for (size_t i = 1; i < stream.sizes.size(); ++i) {
        const double time = stream.sizes[i].first;
        const auto staying = std::upper_bound(removal.begin(), removal.end(), time,
                                              [](double t, int64_t r) { return t < static_cast<double>(r); });
        if (stream.sizes[i].second < stream.sizes[i - 1].second && staying != removal.end())
            checkHeld(static_cast<size_t>(staying - removal.begin()), time);
    }
}

Report Checker::Run(const uint8_t* data, size_t size)
{
    report_.bytes = size;
    for (size_t at = 0; at < size;) {
        if (size - at >= 4 && Be32(data + at) == 0x1B9) {
            at += 4;
            report_.endCode = at == size;
            NewProgram();
            continue;
        }
        if (size - at < 4 || Be32(data + at) != 0x1BA) {
            Fail(Fault::Framing, "no pack starts at byte " + std::to_string(at));
            break;
        }
        at = Pack(data, size, at);
    }
    for (auto& entry : streams_) {
        CheckStream(entry.second);
        report_.streams.push_back(std::move(entry.second.out));
    }
    return report_;
}

} // namespace

const char* FaultName(Fault fault)
{
    static const char* const Names[] = {"framing", "system header", "mux rate", "pack overlap", "SCR gap", "stamp",
                                        "decode order", "PTS gap", "late", "overflow", "sub-stream header", "navigation"};
    static_assert(sizeof(Names) / sizeof(Names[0]) == static_cast<size_t>(Fault::Count), "a name for each fault");
    return Names[static_cast<size_t>(fault)];
}

bool Report::Clean() const { return packs > 0 && Found().empty(); }

const StreamReport* Report::Stream(uint8_t id) const
{
    const auto found = std::find_if(streams.begin(), streams.end(), [&](const StreamReport& s) { return s.id == id; });
    return found != streams.end() ? &*found : nullptr;
}

uint64_t Report::Payload() const
{
    uint64_t payload = 0;
    for (const StreamReport& stream : streams)
        payload += stream.elementary.size();
    return payload;
}

std::string Report::Text() const
{
    std::string text = std::to_string(packs) + " packs (" + std::to_string(navigationPacks) + " navigation), " +
                       (programs > 1 ? std::to_string(programs) + " program streams, " : std::string()) +
                       std::to_string(streams.size()) + " streams, mux_rate " + std::to_string(lowestMuxRate) + "-" +
                       std::to_string(highestMuxRate) + (endCode ? ", end code\n" : "\n");
    for (const std::string& message : messages)
        text += "  " + message + "\n";
    return text;
}

std::string TimesKept(const std::vector<ExpectedTimes>& streams, int64_t slack, int64_t sync)
{
    std::string problems;
    int64_t lowest = INT64_MAX, highest = INT64_MIN;
    for (const ExpectedTimes& expected : streams) {
        const StreamReport& stream = *expected.stream;
        const std::string name = StreamName(stream.id, stream.substream);
        if (stream.pts.size() != expected.truth.size()) {
            problems += name + ": " + std::to_string(stream.pts.size()) + " units, " +
                        std::to_string(expected.truth.size()) + " expected\n";
            continue;
        }
        std::vector<std::pair<int64_t, size_t>> offsets; // output PTS minus true time, and the unit
        for (size_t k = 0; k < stream.pts.size(); ++k)
            if (stream.pts[k] >= 0)
                offsets.emplace_back(stream.pts[k] - expected.truth[k], k);
        if (offsets.empty()) {
            problems += name + ": no stamped unit\n";
            continue;
        }
        const auto range = std::minmax_element(offsets.begin(), offsets.end());
        const int64_t low = range.first->first, high = range.second->first;
        if (high - low > slack)
            problems += name + ": unit " + std::to_string(range.first->second) + " is off its time by " +
                        std::to_string(low) + ", unit " + std::to_string(range.second->second) + " by " +
                        std::to_string(high) + " (90 kHz)\n";
        lowest = std::min(lowest, low);
        highest = std::max(highest, low);
    }
    if (problems.empty() && highest - lowest > sync)
        problems += "the streams are " + std::to_string(highest - lowest) + " (90 kHz) out of step\n";
    return problems;
}

Report CheckProgramStream(const uint8_t* data, size_t size)
{
    return Checker().Run(data, size);
}

std::string WithoutCaptionUserData(const std::string& video)
{
    const std::string start("\0\0\1", 3), a53("GA94\x03", 5), dvd("CC\x01\xF8", 4);
    // H.264's: an SEI unit of registered user data, ATSC's.
    const std::string sei("\x06\x04", 2), registered("\xB5\x00\x31GA94\x03", 8);
    std::string kept;
    size_t from = 0;
    for (size_t at = video.find(start); at != std::string::npos; at = video.find(start, at + 3)) {
        const bool userData = video.compare(at + 3, 1, "\xB2") == 0 &&
                              (video.compare(at + 4, a53.size(), a53) == 0 || video.compare(at + 4, dvd.size(), dvd) == 0);
        const bool inSei = video.compare(at + 3, sei.size(), sei) == 0 && video.compare(at + 6, registered.size(), registered) == 0;
        if (!userData && !inSei)
            continue;
        kept += video.substr(from, at - from);
        from = std::min(video.find(start, at + 3), video.size());
        at = from - 3;
    }
    return kept + video.substr(from);
}

} // namespace ps_check
