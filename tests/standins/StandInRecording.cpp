#include "tests/standins/StandIns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/standins/StandInStreams.h"

namespace standin {

REFERENCE_TIME ToUnits(double seconds)
{
    return static_cast<REFERENCE_TIME>(std::llround(seconds * UnitsPerSecond));
}

} // namespace standin

using namespace standin;

namespace {

std::string Line(const char* key, const std::string& value)
{
    return std::string(key) + ": " + value + "\n";
}

// Reads "key: value\n" at `position`; false when the line is not there.
bool ReadLine(const std::string& bytes, size_t& position, const char* key, std::string& value)
{
    const size_t end = bytes.find('\n', position);
    if (end == std::string::npos)
        return false;
    const std::string prefix = std::string(key) + ": ";
    if (bytes.compare(position, prefix.size(), prefix) != 0)
        return false;
    value = bytes.substr(position + prefix.size(), end - position - prefix.size());
    position = end + 1;
    return !value.empty();
}

bool ParseInteger(const std::string& text, long long& value)
{
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end && *end == '\0';
}

bool ParseDouble(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == '\0' && std::isfinite(value);
}

} // namespace

std::string StandInRecordingBytes(const StandInRecording& recording)
{
    char pace[64];
    std::snprintf(pace, sizeof(pace), "%.17g", recording.pace);
    const REFERENCE_TIME failAt = recording.failAtSeconds >= 0 ? ToUnits(recording.failAtSeconds) : -1;
    std::string bytes = std::string(RecordingMagic) + "\n";
    bytes += Line("pins", recording.hasPin3 ? "1 3" : "1 2");
    bytes += Line("duration", std::to_string(ToUnits(recording.durationSeconds)));
    bytes += Line("pace", pace);
    bytes += Line("fail-at", std::to_string(failAt));
    bytes += Line("payload", std::to_string(recording.payload.size()));
    bytes += recording.payload;
    return bytes;
}

void WriteStandInRecording(const std::string& path, const StandInRecording& recording)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = StandInRecordingBytes(recording);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write stand-in recording " + path);
}

bool ParseStandInRecording(const std::string& bytes, StandInRecording& recording)
{
    const std::string magic = std::string(RecordingMagic) + "\n";
    if (bytes.compare(0, magic.size(), magic) != 0)
        return false;
    size_t position = magic.size();
    std::string pins, duration, pace, failAt, payloadSize;
    if (!ReadLine(bytes, position, "pins", pins) || !ReadLine(bytes, position, "duration", duration) ||
        !ReadLine(bytes, position, "pace", pace) || !ReadLine(bytes, position, "fail-at", failAt) ||
        !ReadLine(bytes, position, "payload", payloadSize))
        return false;

    StandInRecording parsed;
    if (pins == "1 3")
        parsed.hasPin3 = true;
    else if (pins == "1 2")
        parsed.hasPin3 = false;
    else
        return false;
    long long durationUnits = 0, failAtUnits = 0, size = 0;
    if (!ParseInteger(duration, durationUnits) || durationUnits < 0)
        return false;
    if (!ParseDouble(pace, parsed.pace) || parsed.pace < 0)
        return false;
    if (!ParseInteger(failAt, failAtUnits) || failAtUnits < -1)
        return false;
    if (!ParseInteger(payloadSize, size) || size < 0 || static_cast<size_t>(size) != bytes.size() - position)
        return false;
    parsed.durationSeconds = static_cast<double>(durationUnits) / UnitsPerSecond;
    parsed.failAtSeconds = failAtUnits >= 0 ? static_cast<double>(failAtUnits) / UnitsPerSecond : -1.0;
    parsed.payload = bytes.substr(position);
    recording = parsed;
    return true;
}

std::string ExpectedStandInOutput(const StandInRecording& recording)
{
    // Written straight from the layout rather than through the filters: both streams cut at the
    // failure time (if there is one) or at the end, merged by start time, video first on ties.
    const REFERENCE_TIME duration = ToUnits(recording.durationSeconds);
    const REFERENCE_TIME failAt = recording.failAtSeconds >= 0 ? ToUnits(recording.failAtSeconds) : -1;
    const REFERENCE_TIME end = (failAt >= 0 && failAt <= duration) ? failAt : duration;

    std::ostringstream out;
    out << ProgramStreamHeader;
    auto emit = [&](char tag, unsigned index, REFERENCE_TIME period) {
        const REFERENCE_TIME start = index * period;
        std::ostringstream body;
        body << tag << ' ' << index << ' ' << start << ' ' << std::min(start + period, duration) << ' '
             << recording.payload << '\n';
        const std::string text = body.str();
        out << "PACK " << tag << ' ' << start << ' ' << text.size() << '\n' << text;
    };
    unsigned video = 0, audio = 0;
    for (;;) {
        const REFERENCE_TIME videoStart = video * VideoSamplePeriod;
        const REFERENCE_TIME audioStart = audio * AudioSamplePeriod;
        const bool videoLeft = videoStart < end;
        const bool audioLeft = audioStart < end;
        if (!videoLeft && !audioLeft)
            break;
        if (videoLeft && (!audioLeft || videoStart <= audioStart))
            emit(VideoTag, video++, VideoSamplePeriod);
        else
            emit(AudioTag, audio++, AudioSamplePeriod);
    }
    out << ProgramStreamTrailer;
    return out.str();
}
