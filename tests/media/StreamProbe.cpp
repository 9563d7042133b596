#include "tests/media/StreamProbe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace test_recordings {
namespace {

using Fields = std::map<std::string, std::string>;

// ffprobe's compact output, "section|key=value|...", a section a line; its name under the key "".
std::vector<Fields> Sections(const std::string& text)
{
    std::vector<Fields> sections;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream parts(line);
        Fields fields;
        std::getline(parts, fields[""], '|');
        for (std::string part; std::getline(parts, part, '|');) {
            const size_t equals = part.find('=');
            if (equals != std::string::npos)
                fields[part.substr(0, equals)] = part.substr(equals + 1);
        }
        sections.push_back(fields);
    }
    return sections;
}

int64_t Number(const Fields& fields, const char* key)
{
    const auto found = fields.find(key);
    return found == fields.end() ? 0 : std::strtoll(found->second.c_str(), nullptr, 10);
}

bool Probe(const std::string& path, ProbedStream& stream, std::string& error)
{
    const std::string unixPath = testing_support::UnixPath(path);
    const std::string bytes = testing_support::ReadFileBytes(path);
    // Frames are decoded for video only: their order is the display order, their types the pictures'.
    const std::string command = "/usr/bin/ffprobe -v error -of compact -show_entries "
                                "stream=codec_name,codec_type,time_base,channels,sample_rate,bit_rate:"
                                "packet=pos,size,pts,duration:frame=pkt_pos,pict_type '" + unixPath + "'";
    testing_support::ToolOutput output;
    // Every picture is decoded: the bench's gigabyte recordings take minutes on a busy machine.
    if (unixPath.empty() || bytes.empty() || !testing_support::RunLinuxTool(command, output, 900000)) {
        error = "ffprobe did not run on " + path;
        return false;
    }
    long long num = 0, den = 0;
    bool video = false;
    std::vector<Fields> packets;
    std::vector<std::string> displayed; // frames' packet positions, in display order
    std::map<std::string, std::string> typeAt;
    for (Fields& fields : Sections(output.out)) {
        if (fields[""] == "packet") {
            packets.push_back(fields);
        } else if (fields[""] == "frame") {
            displayed.push_back(fields["pkt_pos"]);
            typeAt[fields["pkt_pos"]] = fields["pict_type"];
        } else if (fields[""] == "stream") {
            stream.codec = fields["codec_name"];
            video = fields["codec_type"] == "video";
            std::sscanf(fields["time_base"].c_str(), "%lld/%lld", &num, &den);
            stream.channels = static_cast<unsigned>(Number(fields, "channels"));
            stream.sampleRate = static_cast<unsigned>(Number(fields, "sample_rate"));
            stream.bitRate = static_cast<unsigned>(Number(fields, "bit_rate"));
        }
    }
    if (packets.empty() || num <= 0 || den <= 0 || (video && displayed.size() != packets.size())) {
        error = "ffprobe found no whole stream in " + path + ": " + output.err.substr(0, 500);
        return false;
    }
    const auto hundredNs = [&](int64_t ticks) { return ticks * 10000000 * num / den; };
    std::map<std::string, size_t> indexAt;
    int64_t shortest = INT64_MAX, firstPts = Number(packets[0], "pts");
    for (const Fields& packet : packets) {
        const size_t pos = static_cast<size_t>(Number(packet, "pos")), size = static_cast<size_t>(Number(packet, "size"));
        if (pos + size > bytes.size()) {
            error = "ffprobe's packets run past the end of " + path;
            return false;
        }
        shortest = std::min(shortest, Number(packet, "duration"));
        const std::string type = video ? typeAt[packet.at("pos")] : "";
        ProbedFrame frame{bytes.substr(pos, size), hundredNs(Number(packet, "pts") - firstPts),
                          type == "I" ? 1u : type == "P" ? 2u : type == "B" ? 3u : 0u};
        indexAt[packet.at("pos")] = stream.frames.size();
        stream.frames.push_back(frame);
    }
    // Video packets of raw streams carry no display times: each frame follows those shown before it.
    int64_t shownTicks = 0;
    for (size_t shown = 0; video && shown < displayed.size(); ++shown) {
        const size_t index = indexAt.at(displayed[shown]);
        stream.frames[index].time = hundredNs(shownTicks);
        shownTicks += Number(packets[index], "duration");
    }
    stream.framePeriod = hundredNs(shortest);
    return true;
}

// Parts joined end to end, as a broadcaster changes format within one stream: each part's times
// follow the end of the part before it; the format is the first part's.
bool ProbeParts(const std::string& paths, ProbedStream& stream, std::string& error)
{
    stream = ProbedStream();
    std::istringstream parts(paths);
    int64_t start = 0;
    for (std::string path; std::getline(parts, path, '|');) {
        ProbedStream part;
        if (!ProbeStream(path, part, error))
            return false;
        if (stream.frames.empty()) {
            stream = part;
            stream.frames.clear();
        }
        if (part.codec != stream.codec) {
            error = path + " is " + part.codec + ", not " + stream.codec;
            return false;
        }
        stream.framePeriod = std::min(stream.framePeriod, part.framePeriod);
        int64_t end = start;
        for (ProbedFrame& frame : part.frames) {
            frame.time += start;
            end = std::max(end, frame.time + part.framePeriod);
            stream.frames.push_back(std::move(frame));
        }
        start = end;
    }
    return true;
}

} // namespace

bool ProbeStream(const std::string& path, ProbedStream& stream, std::string& error)
{
    if (path.find('|') != std::string::npos)
        return ProbeParts(path, stream, error);
    static std::map<std::string, ProbedStream> probed;
    const std::string key = path + "|" + std::to_string(std::hash<std::string>()(testing_support::ReadFileBytes(path)));
    const auto found = probed.find(key);
    if (found != probed.end()) {
        stream = found->second;
        return true;
    }
    stream = ProbedStream();
    if (!Probe(path, stream, error))
        return false;
    probed[key] = stream;
    return true;
}

bool SplitFrames(const std::string& path, std::vector<std::string>& frames, std::vector<int64_t>* times)
{
    ProbedStream stream;
    std::string error;
    if (!ProbeStream(path, stream, error))
        return false;
    for (const ProbedFrame& frame : stream.frames) {
        frames.push_back(frame.bytes);
        if (times)
            times->push_back(frame.time);
    }
    return true;
}

} // namespace test_recordings
