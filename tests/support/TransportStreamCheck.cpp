#include "tests/support/TransportStreamCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace ts_check {
namespace {

using namespace es_units;

constexpr size_t PacketSize = 188;
constexpr double MaxTableGap27 = Hz27 / 10.0;
constexpr double MaxPcrGap27 = Hz27 * 0.040;
constexpr double PcrTolerance27 = 13.5; // 500 ns
constexpr double TransportBuffer = 512;

struct Pes {
    size_t packet;
    uint64_t offset;   // of its payload in the elementary stream
    int64_t pts, dts;  // 90 kHz; -1 when absent
    size_t length;     // PES_packet_length; 0 unbounded
    size_t got;        // bytes after the length field
};

struct Carried {
    size_t packet;
    uint64_t offset;   // of its payload in the elementary stream
    size_t length;     // 0 for a packet of adaptation field only
    double exit = 0;   // 27 MHz: when the transport buffer has passed its last byte on
};

struct PidData {
    StreamReport out;
    bool listed = false;
    int cc = -1;
    bool repeated = false;
    std::vector<Pes> pes;
    std::vector<Carried> packets;
};

// What an MPEG-2 video stream's sequence headers declare that its buffers depend on.
struct VideoFacts {
    double vbvBytes = 0;
    double levelVbvBytes = 0;
    double levelRate = 0;
    double bitRate = 0;
};

uint32_t Crc32(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

std::string At(size_t packet) { return "packet " + std::to_string(packet) + ": "; }
std::string PidName(uint16_t pid)
{
    char text[16];
    std::snprintf(text, sizeof(text), "PID 0x%04X", pid);
    return text;
}

bool IsVideoType(uint8_t type) { return type == 0x01 || type == 0x02; }
bool IsMpegAudioType(uint8_t type) { return type == 0x03 || type == 0x04; }
bool IsAc3Type(uint8_t type) { return type == 0x81 || type == 0x06; }

VideoFacts ReadVideoFacts(const std::string& es)
{
    VideoFacts facts;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(es.data());
    for (size_t i = 0; i + 12 < es.size(); ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1)
            continue;
        if (d[i + 3] == 0xB3) {
            const unsigned rate = (d[i + 8] << 10) | (d[i + 9] << 2) | (d[i + 10] >> 6);
            const unsigned vbv = ((d[i + 10] & 0x1F) << 5) | (d[i + 11] >> 3);
            facts.vbvBytes = std::max(facts.vbvBytes, vbv * 2048.0);
            if (rate != 0x3FFFF)
                facts.bitRate = std::max(facts.bitRate, rate * 400.0);
        } else if (d[i + 3] == 0xB5 && (d[i + 4] >> 4) == 1) {
            const unsigned level = d[i + 5] >> 4;
            static const double Vbv[] = {9781248, 7340032, 1835008, 475136};
            static const double Rates[] = {80e6, 60e6, 15e6, 4e6};
            if (level == 4 || level == 6 || level == 8 || level == 10) {
                facts.levelVbvBytes = std::max(facts.levelVbvBytes, Vbv[(level - 4) / 2] / 8);
                facts.levelRate = std::max(facts.levelRate, Rates[(level - 4) / 2]);
            }
        }
    }
    return facts;
}

// Reads the RBSP of a NAL unit (emulation prevention bytes dropped) bit by bit.
class RbspBits {
public:
    RbspBits(const uint8_t* nal, size_t size)
    {
        int zeros = 0;
        for (size_t i = 0; i < size; ++i) {
            if (zeros >= 2 && nal[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = nal[i] == 0 ? zeros + 1 : 0;
            rbsp_.push_back(nal[i]);
        }
    }
    bool Ok() const { return ok_; }
    uint32_t U(int count)
    {
        uint32_t value = 0;
        for (int k = 0; k < count; ++k) {
            if (at_ >= rbsp_.size() * 8) {
                ok_ = false;
                return 0;
            }
            value = (value << 1) | ((rbsp_[at_ / 8] >> (7 - at_ % 8)) & 1);
            ++at_;
        }
        return value;
    }
    uint32_t Ue()
    {
        int zeros = 0;
        while (ok_ && U(1) == 0 && zeros < 32)
            ++zeros;
        return zeros >= 32 ? (ok_ = false, 0) : (1u << zeros) - 1 + U(zeros);
    }
    int32_t Se()
    {
        const uint32_t v = Ue();
        return v & 1 ? static_cast<int32_t>((v + 1) / 2) : -static_cast<int32_t>(v / 2);
    }

private:
    std::vector<uint8_t> rbsp_;
    size_t at_ = 0;
    bool ok_ = true;
};

// What an H.264 stream's sequence parameter set declares that its T-STD buffers depend on (ITU-T
// H.264 7.3.2.1, E.1): profile and level, and the NAL HRD's first bit rate and CPB size.
struct AvcFacts {
    int profile = -1;
    int level = -1;
    double hrdRate = 0;   // bits per second
    double hrdCpbBits = 0;
};

void ReadHrd(RbspBits& r, AvcFacts& facts, bool keep)
{
    const uint32_t count = r.Ue() + 1;
    const uint32_t rateScale = r.U(4), sizeScale = r.U(4);
    for (uint32_t i = 0; i < count && i < 32 && r.Ok(); ++i) {
        const double rate = (r.Ue() + 1.0) * std::pow(2.0, 6 + rateScale);
        const double size = (r.Ue() + 1.0) * std::pow(2.0, 4 + sizeScale);
        r.U(1);
        if (i == 0 && keep && r.Ok()) {
            facts.hrdRate = rate;
            facts.hrdCpbBits = size;
        }
    }
    r.U(20);
}

bool ReadSps(const uint8_t* nal, size_t size, AvcFacts& facts)
{
    RbspBits r(nal + 1, size - 1);
    facts.profile = static_cast<int>(r.U(8));
    r.U(8);
    facts.level = static_cast<int>(r.U(8));
    r.Ue();
    static const int HighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(HighProfiles), std::end(HighProfiles), facts.profile) != std::end(HighProfiles)) {
        const uint32_t chroma = r.Ue();
        if (chroma == 3)
            r.U(1);
        r.Ue();
        r.Ue();
        r.U(1);
        if (r.U(1)) {
            for (int i = 0; i < (chroma != 3 ? 8 : 12) && r.Ok(); ++i) {
                if (!r.U(1))
                    continue;
                int last = 8, next = 8;
                for (int j = 0; j < (i < 6 ? 16 : 64) && r.Ok(); ++j) {
                    if (next != 0)
                        next = (last + r.Se() + 256) % 256;
                    last = next == 0 ? last : next;
                }
            }
        }
    }
    r.Ue();
    const uint32_t pocType = r.Ue();
    if (pocType == 0) {
        r.Ue();
    } else if (pocType == 1) {
        r.U(1);
        r.Se();
        r.Se();
        const uint32_t cycle = r.Ue();
        for (uint32_t i = 0; i < cycle && i < 256 && r.Ok(); ++i)
            r.Se();
    }
    r.Ue();
    r.U(1);
    r.Ue();
    r.Ue();
    if (!r.U(1))
        r.U(1);
    r.U(1);
    if (r.U(1)) {
        for (int i = 0; i < 4; ++i)
            r.Ue();
    }
    if (!r.U(1))
        return r.Ok();
    if (r.U(1) && r.U(8) == 255)
        r.U(32);
    if (r.U(1))
        r.U(1);
    if (r.U(1)) {
        r.U(4);
        if (r.U(1))
            r.U(24);
    }
    if (r.U(1)) {
        r.Ue();
        r.Ue();
    }
    if (r.U(1))
        r.U(65);
    if (r.U(1))
        ReadHrd(r, facts, true);
    return r.Ok();
}

// The first sequence parameter set's facts (later ones of a recording repeat it).
AvcFacts ReadAvcFacts(const std::string& es)
{
    AvcFacts facts;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(es.data());
    for (size_t i = 0; i + 4 < es.size(); ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1 || (d[i + 3] & 0x1F) != 7)
            continue;
        size_t end = i + 3;
        while (end + 3 <= es.size() && !(d[end] == 0 && d[end + 1] == 0 && (d[end + 2] == 1 || d[end + 2] == 0)))
            ++end;
        AvcFacts read;
        if (ReadSps(d + i + 3, std::min(end, es.size()) - i - 3, read))
            return read;
    }
    return facts;
}

// ITU-T H.264 Table A-1 (MaxBR, MaxCPB in 1000 bits) times Table A-2's cpbBrNalFactor: the NAL
// unit stream's peak rate and CPB at the profile and level; false for a level it does not list.
bool AvcLevelLimits(int profile, int level, double& rate, double& cpbBits)
{
    static const struct { int level; double maxBr, maxCpb; } Levels[] = {
        {9, 128, 350},        {10, 64, 175},        {11, 192, 500},       {12, 384, 1000},      {13, 768, 2000},
        {20, 2000, 2000},     {21, 4000, 4000},     {22, 4000, 4000},     {30, 10000, 10000},   {31, 14000, 14000},
        {32, 20000, 20000},   {40, 20000, 25000},   {41, 50000, 62500},   {42, 50000, 62500},   {50, 135000, 135000},
        {51, 240000, 240000}, {52, 240000, 240000}, {60, 240000, 240000}, {61, 480000, 480000}, {62, 800000, 800000}};
    const double factor = profile == 100 ? 1500 : profile == 110 ? 3600 : profile == 122 || profile == 244 || profile == 44 ? 4800 : 1200;
    for (const auto& entry : Levels) {
        if (entry.level == level) {
            rate = entry.maxBr * factor;
            cpbBits = entry.maxCpb * factor;
            return true;
        }
    }
    return false;
}

class Checker {
public:
    Report Run(const uint8_t* data, size_t size);

private:
    void Fail(Fault fault, const std::string& message) { report_.Add(fault, message); }
    void Packet(const uint8_t* p, size_t index);
    void Tables(const uint8_t* p, size_t index, uint16_t pid, const uint8_t* payload, size_t length);
    void PesData(PidData& pid, const uint8_t* payload, size_t length, bool start, size_t index);
    void CheckClock(size_t packets);
    void CheckRepetition(const std::vector<size_t>& at, const char* name, size_t packets);
    void CheckStream(PidData& pid);
    // 27 MHz arrival time of byte `byte` of packet `packet`, from the PCRs around it.
    double Time(size_t packet, size_t byte = 0) const;

    Report report_;
    std::map<uint16_t, PidData> pids_;
    std::vector<std::pair<uint64_t, double>> pcrs_; // byte position of each PCR, its value
    std::vector<size_t> pats_, pmts_;
    uint16_t pmtPid_ = 0xFFFF;
    bool pmtSeen_ = false;
};

double Checker::Time(size_t packet, size_t byte) const
{
    const double position = static_cast<double>(packet * PacketSize + byte);
    if (pcrs_.size() < 2)
        return 0;
    size_t k = static_cast<size_t>(std::upper_bound(pcrs_.begin(), pcrs_.end(), position,
                                                    [](double p, const std::pair<uint64_t, double>& c) { return p < static_cast<double>(c.first); }) -
                                   pcrs_.begin());
    k = std::min(std::max<size_t>(k, 1), pcrs_.size() - 1);
    const auto& a = pcrs_[k - 1];
    const auto& b = pcrs_[k];
    return a.second + (position - static_cast<double>(a.first)) * (b.second - a.second) / static_cast<double>(b.first - a.first);
}

void Checker::Tables(const uint8_t* p, size_t index, uint16_t pid, const uint8_t* payload, size_t length)
{
    if (!(p[1] & 0x40) || length < 1)
        return;
    const size_t pointer = payload[0];
    if (1 + pointer + 3 > length) {
        Fail(Fault::Tables, At(index) + "a section cut short");
        return;
    }
    const uint8_t* section = payload + 1 + pointer;
    const size_t sectionLength = ((section[1] & 0x0F) << 8) | section[2];
    if (1 + pointer + 3 + sectionLength > length || sectionLength < 9) {
        Fail(Fault::Tables, At(index) + "a section longer than its packet");
        return;
    }
    if (Crc32(section, 3 + sectionLength) != 0) {
        Fail(Fault::Tables, At(index) + PidName(pid) + " section CRC fails");
        return;
    }
    if (pid == 0) {
        if (section[0] != 0x00) {
            Fail(Fault::Tables, At(index) + "table 0x" + std::to_string(section[0]) + " on PID 0");
            return;
        }
        pats_.push_back(index);
        for (size_t at = 8; at + 4 <= 3 + sectionLength - 4; at += 4) {
            if (((section[at] << 8) | section[at + 1]) != 0)
                pmtPid_ = static_cast<uint16_t>(((section[at + 2] & 0x1F) << 8) | section[at + 3]);
        }
        return;
    }
    if (section[0] != 0x02) {
        Fail(Fault::Tables, At(index) + "table " + std::to_string(section[0]) + " on the PMT's PID");
        return;
    }
    pmts_.push_back(index);
    if (pmtSeen_)
        return;
    pmtSeen_ = true;
    report_.pcrPid = static_cast<uint16_t>(((section[8] & 0x1F) << 8) | section[9]);
    const size_t infoLength = ((section[10] & 0x0F) << 8) | section[11];
    const size_t end = 3 + sectionLength - 4;
    for (size_t at = 12 + infoLength; at + 5 <= end;) {
        const uint16_t stream = static_cast<uint16_t>(((section[at + 1] & 0x1F) << 8) | section[at + 2]);
        const size_t esInfo = ((section[at + 3] & 0x0F) << 8) | section[at + 4];
        PidData& data = pids_[stream];
        data.listed = true;
        data.out.pid = stream;
        data.out.streamType = section[at];
        at += 5 + esInfo;
    }
}

void Checker::PesData(PidData& pid, const uint8_t* payload, size_t length, bool start, size_t index)
{
    std::string& es = pid.out.elementary;
    if (start) {
        if (!pid.pes.empty() && pid.pes.back().length && pid.pes.back().got != pid.pes.back().length)
            Fail(Fault::Pes, At(pid.pes.back().packet) + PidName(pid.out.pid) + " PES of " + std::to_string(pid.pes.back().got) +
                                 " bytes says " + std::to_string(pid.pes.back().length));
        if (length < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1 || 9u + payload[8] > length) {
            Fail(Fault::Pes, At(index) + PidName(pid.out.pid) + " a PES start without its start code and header");
            return;
        }
        Pes pes = {index, es.size(), -1, -1, static_cast<size_t>((payload[4] << 8) | payload[5]), length - 6};
        const unsigned flags = payload[7] >> 6;
        if (flags >= 2)
            pes.pts = Timestamp(payload + 9);
        if (flags == 3)
            pes.dts = Timestamp(payload + 14);
        pid.pes.push_back(pes);
        const size_t header = 9u + payload[8];
        pid.packets.push_back({index, es.size(), length - header});
        es.append(reinterpret_cast<const char*>(payload + header), length - header);
        return;
    }
    if (pid.pes.empty()) {
        pid.packets.push_back({index, es.size(), 0}); // before the first PES: into the buffer, not the stream
        return;
    }
    pid.pes.back().got += length;
    pid.packets.push_back({index, es.size(), length});
    es.append(reinterpret_cast<const char*>(payload), length);
}

void Checker::Packet(const uint8_t* p, size_t index)
{
    if (p[0] != 0x47 || (p[1] & 0x80)) {
        Fail(Fault::Sync, At(index) + (p[0] != 0x47 ? "no sync byte" : "transport error indicator set"));
        return;
    }
    const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
    if (pid == 0x1FFF) {
        ++report_.nullPackets;
        return;
    }
    const unsigned control = (p[3] >> 4) & 3;
    const int cc = p[3] & 0x0F;
    PidData& data = pids_[pid];
    data.out.pid = pid;
    if (data.cc >= 0) {
        const bool payload = control & 1;
        const bool next = cc == ((data.cc + (payload ? 1 : 0)) & 0x0F);
        const bool duplicate = payload && cc == data.cc && !data.repeated;
        if (!next && !duplicate)
            Fail(Fault::Continuity, At(index) + PidName(pid) + " counter " + std::to_string(cc) + " after " + std::to_string(data.cc));
        data.repeated = duplicate;
    }
    data.cc = cc;
    size_t at = 4;
    if (control & 2) {
        const size_t length = p[4];
        if (length > 0 && (p[5] & 0x10) && length >= 7) {
            const uint64_t base = (static_cast<uint64_t>(p[6]) << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
            const uint64_t extension = ((p[10] & 1) << 8) | p[11];
            if (pid == report_.pcrPid || !pmtSeen_)
                pcrs_.emplace_back(index * PacketSize + 10, static_cast<double>(base * 300 + extension));
        }
        at = 5 + length;
    }
    if (!(control & 1) || at > PacketSize) {
        if (pid != 0 && pid != pmtPid_)
            data.packets.push_back({index, data.out.elementary.size(), 0});
        return;
    }
    if (pid == 0 || pid == pmtPid_)
        Tables(p, index, pid, p + at, PacketSize - at);
    else
        PesData(data, p + at, PacketSize - at, p[1] & 0x40, index);
}

void Checker::CheckClock(size_t packets)
{
    report_.pcrs = pcrs_.size();
    for (size_t k = 1; k < pcrs_.size(); ++k) {
        const double gap = pcrs_[k].second - pcrs_[k - 1].second;
        const size_t packet = static_cast<size_t>(pcrs_[k].first / PacketSize);
        if (gap <= 0 || gap > MaxPcrGap27)
            Fail(Fault::PcrInterval, At(packet) + "PCR " + Seconds(gap) + " after the one before");
        const double rate = static_cast<double>(pcrs_[k].first - pcrs_[k - 1].first) * 8 * Hz27 / gap;
        report_.lowestRate = k == 1 ? rate : std::min(report_.lowestRate, rate);
        report_.highestRate = std::max(report_.highestRate, rate);
        // Off the line of the two before it while the next one is on it: misplaced, not a new rate.
        if (k >= 2 && k + 1 < pcrs_.size()) {
            const auto& a = pcrs_[k - 2];
            const auto& b = pcrs_[k - 1];
            const auto line = [&](uint64_t at) {
                return b.second + static_cast<double>(at - b.first) * (b.second - a.second) / static_cast<double>(b.first - a.first);
            };
            const double off = pcrs_[k].second - line(pcrs_[k].first);
            if (std::fabs(off) > PcrTolerance27 && std::fabs(pcrs_[k + 1].second - line(pcrs_[k + 1].first)) <= PcrTolerance27)
                Fail(Fault::PcrAccuracy, At(packet) + "PCR off by " + std::to_string(off / 27) + " us");
        }
    }
    if (packets > 0 && pcrs_.size() < 2)
        Fail(Fault::PcrInterval, "fewer than two PCRs on the PMT's PCR PID");
}

void Checker::CheckRepetition(const std::vector<size_t>& at, const char* name, size_t packets)
{
    if (at.empty()) {
        Fail(Fault::Tables, std::string("no ") + name);
        return;
    }
    double last = Time(0);
    for (size_t k = 0; k <= at.size(); ++k) {
        const double time = k < at.size() ? Time(at[k]) : Time(packets);
        if (time - last > MaxTableGap27)
            Fail(Fault::Tables, At(k < at.size() ? at[k] : packets) + name + " " + Seconds(time - last) + " after the one before");
        last = time;
    }
}

void Checker::CheckStream(PidData& pid)
{
    StreamReport& out = pid.out;
    const std::string& es = out.elementary;
    const std::string name = PidName(out.pid);
    const uint8_t type = out.streamType;
    std::vector<Unit> units;
    if (IsVideoType(type)) {
        units = VideoUnits(es);
    } else if (IsMpegAudioType(type) || IsAc3Type(type)) {
        units = AudioUnits(es, IsAc3Type(type) ? Ac3Frame : MpegAudioFrame);
    } else {
        // Codings the checker finds no units in: one per PES.
        for (const Pes& pes : pid.pes) {
            Unit unit;
            unit.start = unit.anchor = pes.offset;
            units.push_back(unit);
        }
    }
    if (units.empty())
        return;

    // Buffers: the transport buffer's leak and the elementary buffer's size.
    double leak = 2e6 / 8;
    if (type == 0x1B) {
        // ISO/IEC 13818-1's T-STD for H.264: TB leaks at 1.2 times the NAL HRD's bit rate, else
        // 1.2 times the level's; EB is the HRD's CPB (else the level's) and MB holds BSmux + BSoh
        // and what the level's CPB has beyond the HRD's, both reckoned from the level's rate.
        const AvcFacts facts = ReadAvcFacts(es);
        double levelRate = 0, levelCpbBits = 0;
        if (!AvcLevelLimits(facts.profile, facts.level, levelRate, levelCpbBits)) {
            Fail(Fault::Pes, name + " H.264 without a sequence parameter set of a known level (" + std::to_string(facts.level) + ")");
            return;
        }
        const bool hrd = facts.hrdRate > 0 && facts.hrdCpbBits > 0;
        leak = 1.2 * (hrd ? facts.hrdRate : levelRate) / 8;
        const double muxRate = std::max(levelRate, 2e6);
        out.bufferBytes = static_cast<size_t>((std::max(hrd ? facts.hrdCpbBits : 0.0, levelCpbBits) + 0.004 * muxRate + muxRate / 750) / 8);
    } else if (IsVideoType(type)) {
        const VideoFacts facts = ReadVideoFacts(es);
        const double rmax = std::max(facts.levelRate ? facts.levelRate : 15e6, facts.bitRate);
        leak = 1.2 * rmax / 8;
        // EB holds the larger of the coded and the level's buffer; MB adds what it holds.
        out.bufferBytes = static_cast<size_t>(std::max(facts.vbvBytes, facts.levelVbvBytes) + (0.004 * rmax + rmax / 750) / 8);
    } else {
        out.bufferBytes = IsAc3Type(type) ? 2592 : type == 0x87 ? 5696 : 3584;
    }

    // Stamps go to the first unit that starts in their PES.
    const auto unitFrom = [&](uint64_t offset) {
        return std::lower_bound(units.begin(), units.end(), offset, [](const Unit& u, uint64_t o) { return u.anchor < o; });
    };
    out.pts.assign(units.size(), -1);
    std::vector<int64_t> dts(units.size(), -1);
    for (size_t i = 0; i < pid.pes.size(); ++i) {
        const Pes& pes = pid.pes[i];
        if (pes.pts < 0)
            continue;
        const uint64_t end = i + 1 < pid.pes.size() ? pid.pes[i + 1].offset : es.size();
        const auto first = unitFrom(pes.offset);
        if (first == units.end() || first->anchor >= end) {
            Fail(Fault::Stamp, At(pes.packet) + name + " PTS " + Seconds(pes.pts * 300.0) + " in a PES where no unit starts");
            continue;
        }
        out.pts[first - units.begin()] = pes.pts;
        dts[first - units.begin()] = pes.dts;
    }
    DecodeTimes(units, out.pts, dts, name, [&](TimingFault fault, const std::string& message) {
        Fail(fault == TimingFault::PtsBeforeDts ? Fault::Stamp : fault == TimingFault::PtsGap ? Fault::PtsGap : Fault::DecodeOrder, message);
    });

    // The transport buffer: every packet of the PID enters it whole and leaves at the leak rate.
    double exit = 0;
    const double drain = PacketSize * Hz27 / leak;
    for (Carried& packet : pid.packets) {
        const double time = Time(packet.packet);
        const double held = std::max(0.0, exit - time) / drain * PacketSize;
        if (held + PacketSize > TransportBuffer + 1)
            Fail(Fault::Overflow, At(packet.packet) + name + " transport buffer holds " + std::to_string(held + PacketSize));
        exit = std::max(exit, time) + drain;
        packet.exit = exit;
    }
    std::vector<const Carried*> carrying;
    for (const Carried& packet : pid.packets) {
        if (packet.length)
            carrying.push_back(&packet);
    }
    if (carrying.empty())
        return;
    const auto packetOf = [&](uint64_t offset) -> const Carried& {
        return **(std::upper_bound(carrying.begin(), carrying.end(), offset, [](uint64_t o, const Carried* c) { return o < c->offset; }) - 1);
    };
    // Bytes out of the transport buffer by a time: a packet's payload leaves over its drain time.
    const auto arrivedBy = [&](double time) -> uint64_t {
        const auto after = std::upper_bound(carrying.begin(), carrying.end(), time, [](double t, const Carried* c) { return t < c->exit; });
        uint64_t bytes = after == carrying.begin() ? 0 : (*(after - 1))->offset + (*(after - 1))->length;
        if (after != carrying.end()) {
            const Carried& c = **after;
            const double part = (time - (c.exit - drain)) / drain;
            if (part > 0)
                bytes = c.offset + static_cast<uint64_t>(part * static_cast<double>(c.length));
        }
        return bytes;
    };
    const std::vector<int64_t> removal = RemovalTimes(units);
    if (removal.empty())
        return;
    units.front().start = 0;
    for (size_t k = 0; k < units.size(); ++k) {
        const uint64_t end = k + 1 < units.size() ? units[k + 1].start : es.size();
        if (end == 0 || !units[k].timed)
            continue;
        const Carried& last = packetOf(end - 1);
        const double late = last.exit - static_cast<double>(units[k].decode);
        if (late > 300)
            Fail(Fault::Late, At(last.packet) + name + " unit " + std::to_string(k) + " is whole " + Seconds(late) + " after its decode time");
        if (k == 0 || removal[k] != removal[k - 1]) {
            const double time = static_cast<double>(removal[k]) - 0.5;
            const uint64_t arrived = arrivedBy(time);
            const uint64_t held = arrived > units[k].start ? arrived - units[k].start : 0;
            if (held > out.bufferBytes)
                Fail(Fault::Overflow, At(packetOf(units[k].start).packet) + name + " buffer holds " + std::to_string(held) + " bytes at " +
                                          Seconds(time) + ", its size " + std::to_string(out.bufferBytes));
        }
    }
}

Report Checker::Run(const uint8_t* data, size_t size)
{
    if (size % PacketSize)
        Fail(Fault::Sync, std::to_string(size % PacketSize) + " bytes after the last whole packet");
    const size_t packets = size / PacketSize;
    report_.packets = packets;
    for (size_t i = 0; i < packets; ++i)
        Packet(data + i * PacketSize, i);
    CheckClock(packets);
    CheckRepetition(pats_, "PAT", packets);
    CheckRepetition(pmts_, "PMT", packets);
    for (auto& entry : pids_) {
        PidData& pid = entry.second;
        if (entry.first == 0 || entry.first == pmtPid_)
            continue;
        if (!pid.listed && !pid.out.elementary.empty())
            Fail(Fault::Tables, PidName(entry.first) + " carries data the PMT does not list");
        if (!pid.pes.empty() && pid.pes.back().length && pid.pes.back().got != pid.pes.back().length)
            Fail(Fault::Pes, At(pid.pes.back().packet) + PidName(entry.first) + " last PES shorter than it says");
        if (pid.listed) {
            CheckStream(pid);
            report_.streams.push_back(pid.out);
        }
    }
    return report_;
}

} // namespace

const char* FaultName(Fault fault)
{
    static const char* const Names[] = {"sync", "continuity", "tables", "PCR interval", "PCR accuracy", "PES",
                                        "stamp", "PTS gap", "decode order", "late", "overflow"};
    static_assert(sizeof(Names) / sizeof(Names[0]) == static_cast<size_t>(Fault::Count), "a name for each fault");
    return Names[static_cast<size_t>(fault)];
}

bool Report::Clean() const { return Found().empty(); }

const StreamReport* Report::Stream(uint16_t pid) const
{
    for (const StreamReport& s : streams)
        if (s.pid == pid)
            return &s;
    return nullptr;
}

std::string Report::Text() const
{
    std::string text = std::to_string(packets) + " packets (" + std::to_string(nullPackets) + " null), " + std::to_string(pcrs) +
                       " PCRs, " + std::to_string(lowestRate / 1e6) + " to " + std::to_string(highestRate / 1e6) + " Mbit/s";
    for (const std::string& message : messages)
        text += "\n  " + message;
    return text;
}

Report CheckTransportStream(const uint8_t* data, size_t size)
{
    return Checker().Run(data, size);
}

} // namespace ts_check
