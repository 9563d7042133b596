#include "tests/support/ElementaryUnits.h"

#include <algorithm>

namespace es_units {

namespace {

int64_t FramePeriod27(unsigned code)
{
    static const int64_t Periods[9] = {0, 1126125, 1125000, 1080000, 900900, 900000, 540000, 450450, 450000};
    return code >= 1 && code <= 8 ? Periods[code] : 1080000;
}

} // namespace

// MPEG-1 layer II, the MPEG audio of DVD and of every test: size and duration of the frame at p, or false.
bool MpegAudioFrame(const uint8_t* p, size_t left, size_t& size, int64_t& duration)
{
    static const uint16_t Kbps[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static const uint32_t SampleRates[3] = {44100, 48000, 32000};
    if (left < 4 || p[0] != 0xFF || (p[1] & 0xFE) != 0xFC)
        return false;
    const unsigned rateIndex = p[2] >> 4, rate = (p[2] >> 2) & 3;
    if (rateIndex == 0 || rateIndex == 15 || rate == 3)
        return false;
    size = 144 * Kbps[rateIndex] * 1000 / SampleRates[rate] + ((p[2] >> 1) & 1);
    duration = 1152 * Hz27 / SampleRates[rate];
    return true;
}

bool Ac3Frame(const uint8_t* p, size_t left, size_t& size, int64_t& duration)
{
    static const uint16_t Words48[19] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
    static const uint32_t SampleRates[3] = {48000, 44100, 32000};
    if (left < 6 || p[0] != 0x0B || p[1] != 0x77 || (p[5] >> 3) > 10)
        return false;
    const unsigned fscod = p[4] >> 6, code = p[4] & 0x3F;
    if (fscod == 3 || code >= 38)
        return false;
    const unsigned words48 = Words48[code / 2];
    // 44.1 kHz frames hold a word more in every second size code.
    const unsigned words = fscod == 0 ? words48 : fscod == 2 ? words48 * 3 / 2 : words48 * 48000 / 44100 + (code & 1);
    size = words * 2;
    duration = 1536 * Hz27 / SampleRates[fscod];
    return true;
}

// Audio frames one after another; bytes that are no frame join the frame before them. A sync word
// is believed when the next frame follows, or the stream ends within the frame.
std::vector<Unit> AudioUnits(const std::string& es, FrameParser parse)
{
    std::vector<Unit> units;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(es.data());
    const size_t n = es.size();
    for (size_t at = 0; at < n;) {
        size_t size = 0, nextSize = 0;
        int64_t duration = 0, nextDuration = 0;
        if (!parse(data + at, n - at, size, duration) ||
            (at + size < n && !parse(data + at + size, n - at - size, nextSize, nextDuration))) {
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

// Pictures, with the sequence and GOP headers before them; two field pictures make one unit.
std::vector<Unit> VideoUnits(const std::string& es)
{
    std::vector<Unit> units;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(es.data());
    const size_t n = es.size();
    Unit current;
    bool hasPicture = false, progressiveSequence = false;
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
        if (code == 0xB3 || code == 0xB8) {
            startUnit(i);
            if (current.start == i)
                current.group = true;
        }
        if (code == 0xB3 && i + 7 < n) {
            period = FramePeriod27(d[i + 7] & 0x0F);
        } else if (code == 0x00 && hasPicture && current.awaitingSecond) {
            current.secondAnchor = i;
            current.awaitingSecond = false;
        } else if (code == 0x00) {
            startUnit(i);
            current.anchor = i;
            current.duration = period;
            hasPicture = true;
        } else if (code == 0xB5 && i + 8 < n && (d[i + 4] >> 4) == 1) {
            progressiveSequence = (d[i + 5] >> 3) & 1;
        } else if (code == 0xB5 && i + 8 < n && (d[i + 4] >> 4) == 8 && hasPicture && current.secondAnchor == None) {
            const unsigned structure = d[i + 6] & 3;
            const bool topFirst = d[i + 7] >> 7, repeatFirst = (d[i + 7] >> 1) & 1;
            const int fields = structure != 3 ? 2
                               : progressiveSequence ? (repeatFirst ? (topFirst ? 6 : 4) : 2)
                                                     : 2 + (repeatFirst ? 1 : 0);
            current.awaitingSecond = structure != 3;
            current.duration = period * fields / 2;
        }
        i += 2;
    }
    if (hasPicture)
        units.push_back(current);
    return units;
}

int64_t Timestamp(const uint8_t* p)
{
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (p[1] << 22) | ((p[2] & 0xFE) << 14) | (p[3] << 7) | (p[4] >> 1);
}

std::string Seconds(double ticks27) { return std::to_string(ticks27 / Hz27) + " s"; }

void DecodeTimes(std::vector<Unit>& units, const std::vector<int64_t>& pts, const std::vector<int64_t>& dts,
                 const std::string& name, const std::function<void(TimingFault, const std::string&)>& fail)
{
    const Unit* previous = nullptr;
    int64_t lastStamped = -1; // decode time, 27 MHz
    for (size_t k = 0; k < units.size(); ++k) {
        Unit& unit = units[k];
        const std::string where = name + " unit " + std::to_string(k) + ": ";
        if (pts[k] >= 0) {
            unit.timed = true;
            unit.decode = (dts[k] >= 0 ? dts[k] : pts[k]) * 300;
            if (dts[k] > pts[k])
                fail(TimingFault::PtsBeforeDts, where + "PTS " + Seconds(pts[k] * 300.0) + " before its DTS " + Seconds(dts[k] * 300.0));
            if (previous && lastStamped >= 0 && previous->decode + previous->duration - lastStamped > Hz27 * 7 / 10)
                fail(TimingFault::PtsGap, where + "PTS " + Seconds(pts[k] * 300.0) + " after units without one from " +
                                              Seconds(static_cast<double>(lastStamped)));
            lastStamped = unit.decode;
        } else if (previous) {
            unit.timed = true;
            unit.decode = previous->decode + previous->duration;
        }
        if (!unit.timed)
            continue;
        if (previous && unit.decode <= previous->decode)
            fail(TimingFault::DecodeOrder, where + "decode time " + Seconds(static_cast<double>(unit.decode)) + " after " +
                                               Seconds(static_cast<double>(previous->decode)));
        previous = &unit;
    }
}

std::vector<int64_t> RemovalTimes(const std::vector<Unit>& units)
{
    const auto first = std::find_if(units.begin(), units.end(), [](const Unit& u) { return u.timed; });
    if (first == units.end())
        return {};
    std::vector<int64_t> removal(units.size());
    for (size_t k = 0; k < units.size(); ++k)
        removal[k] = std::max(k ? removal[k - 1] : first->decode, units[k].timed ? units[k].decode : first->decode);
    return removal;
}

} // namespace es_units
