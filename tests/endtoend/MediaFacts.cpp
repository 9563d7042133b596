#include "tests/endtoend/MediaFacts.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace endtoend {
namespace {

// Single quotes for the shell RunLinuxTool runs the command in; paths hold no quote.
std::string Quoted(const std::string& windowsPath)
{
    return "'" + UnixPath(windowsPath) + "'";
}

std::string FirstWord(const std::string& text)
{
    std::istringstream in(text);
    std::string word;
    in >> word;
    return word;
}

bool Run(const std::string& command, std::string& out, std::string& error)
{
    ToolOutput output;
    if (!RunLinuxTool(command, output)) {
        error = "could not run: " + command;
        return false;
    }
    out = output.out;
    if (!output.err.empty())
        error += output.err;
    return true;
}

// "stream_index,pts_time,duration_time" lines of ffprobe's packet list.
void ReadPackets(const std::string& csv, const std::vector<std::string>& kinds, MediaFacts& facts)
{
    std::istringstream lines(csv);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, pts, duration;
        std::getline(fields, index, ',');
        std::getline(fields, pts, ',');
        std::getline(fields, duration, ',');
        const size_t stream = static_cast<size_t>(std::atoi(index.c_str()));
        if (stream >= kinds.size())
            continue;
        if (kinds[stream] != "video" && kinds[stream] != "audio")
            continue;
        StreamFacts& into = kinds[stream] == "video" ? facts.video : facts.audio;
        ++into.packets;
        if (pts.empty() || pts == "N/A")
            continue;
        const double start = std::atof(pts.c_str());
        const double length = duration == "N/A" ? 0.0 : std::atof(duration.c_str());
        into.starts.push_back(start);
        into.end = std::max(into.end, start + length);
    }
}

} // namespace

double StreamFacts::First() const
{
    return starts.empty() ? 0.0 : *std::min_element(starts.begin(), starts.end());
}

bool ReadMediaFacts(const std::string& windowsPath, MediaFacts& facts, std::string& error)
{
    const std::string file = Quoted(windowsPath);
    std::string out;
    if (!Run("/usr/bin/ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 " + file, out, error))
        return false;
    facts.format = FirstWord(out);
    if (!Run("/usr/bin/ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 " + file, out, error))
        return false;
    std::vector<std::string> kinds;
    std::istringstream streams(out);
    std::string line;
    while (std::getline(streams, line)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        const std::string codec = line.substr(0, comma);
        // Video lines end in an empty side-data field.
        std::string kind = line.substr(comma + 1);
        kind = kind.substr(0, kind.find_first_of(",\r"));
        kinds.push_back(kind);
        StreamFacts* stream = kind == "video" ? &facts.video : kind == "audio" ? &facts.audio : nullptr;
        if (stream && stream->codec.empty())
            stream->codec = codec;
    }
    if (!Run("/usr/bin/ffprobe -v error -show_entries packet=stream_index,pts_time,duration_time -of csv=p=0 " + file,
             out, error))
        return false;
    ReadPackets(out, kinds, facts);
    const auto digest = [&](const char* map, const std::string& format, std::string& into) {
        std::string md5;
        if (!Run("/usr/bin/ffmpeg -v error -i " + file + " -map 0:" + map + ":0 -c copy -f " + format + " - | /usr/bin/md5sum",
                 md5, error))
            return false;
        into = FirstWord(md5);
        return true;
    };
    if (!facts.video.codec.empty() && !digest("v", "mpeg2video", facts.video.digest))
        return false;
    if (!facts.audio.codec.empty() && !digest("a", facts.audio.codec == "ac3" ? "ac3" : "mp2", facts.audio.digest))
        return false;
    return !facts.format.empty();
}

std::string FileDigest(const std::string& windowsPath)
{
    std::string out, error;
    if (!Run("/usr/bin/md5sum " + Quoted(windowsPath), out, error))
        return std::string();
    return FirstWord(out);
}

} // namespace endtoend
