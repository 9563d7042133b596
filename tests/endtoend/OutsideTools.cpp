#include "tests/endtoend/OutsideTools.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "tests/support/TestSupport.h"

namespace endtoend {
namespace {

std::string Quoted(const std::string& windowsPath) { return "'" + testing_support::UnixPath(windowsPath) + "'"; }

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> fields;
    std::istringstream in(text);
    for (std::string field; std::getline(in, field, separator);)
        fields.push_back(field);
    return fields;
}

} // namespace

::testing::AssertionResult VlcPlaysWithoutTimingWarnings(const std::string& windowsPath)
{
    // Played at its own pace, with dummy outputs; only the lines that matter come back: that the
    // demuxer and the video decoder were chosen, and any warning or error about the SCR or lateness.
    // (RunLinuxTool takes no double quotes.)
    const std::string command =
        "user=; [ $(id -u) -eq 0 ] && user='/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/env HOME=/tmp'; "
        "$user /usr/bin/timeout 60 /usr/bin/cvlc -vv --intf dummy --vout dummy --aout dummy --play-and-exit fd://0 <" +
        Quoted(windowsPath) +
        " 2>&1 | /bin/grep -iE 'using demux module|using video decoder module|(warning|error).*(\\bscr\\b|\\blate\\b)'";
    testing_support::ToolOutput output;
    if (!testing_support::RunLinuxTool(command, output, 120000))
        return ::testing::AssertionFailure() << "cvlc did not run or end: " << command;
    // A picture a few frames late is the decoder falling behind on a busy machine, not the file:
    // late delivery shows as an SCR warning or as pictures late by far more.
    constexpr long kDecoderLagMs = 200;
    std::string complaints;
    for (const std::string& line : Split(output.out, '\n')) {
        const size_t missing = line.find("(missing ");
        if (line.find("using ") != std::string::npos ||
            (missing != std::string::npos && std::strtol(line.c_str() + missing + 9, nullptr, 10) < kDecoderLagMs))
            continue;
        complaints += line + "\n";
    }
    if (output.out.find("using demux module \"ps\"") == std::string::npos ||
        output.out.find("using video decoder module") == std::string::npos)
        return ::testing::AssertionFailure() << "cvlc did not play " << windowsPath << " as a program stream:\n" << output.out;
    if (!complaints.empty())
        return ::testing::AssertionFailure() << "cvlc on " << windowsPath << ":\n" << complaints;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult MediaInfoReads(const std::string& windowsPath, const std::string& audioFormat, const std::string& scan,
                                          double seconds)
{
    const std::string command = "/usr/bin/mediainfo '--Inform=General;%Format%|%Duration%|' " + Quoted(windowsPath) +
                                " && /usr/bin/mediainfo '--Inform=Video;%Format%|%Format_Version%|%ScanType% %ScanOrder%|' " +
                                Quoted(windowsPath) + " && /usr/bin/mediainfo '--Inform=Audio;%Format%|' " + Quoted(windowsPath);
    testing_support::ToolOutput output;
    if (!testing_support::RunLinuxTool(command, output))
        return ::testing::AssertionFailure() << "mediainfo did not run: " << command;
    std::string text;
    for (char c : output.out)
        if (c != '\n' && c != '\r')
            text += c;
    const std::vector<std::string> fields = Split(text, '|');
    if (!output.err.empty() || fields.size() < 6)
        return ::testing::AssertionFailure() << "mediainfo on " << windowsPath << ": " << output.out << output.err;
    const double duration = std::atof(fields[1].c_str()) / 1000;
    if (fields[0] != "MPEG-PS" || fields[2] != "MPEG Video" || fields[3] != "Version 2" || fields[5] != audioFormat ||
        fields[4].find(scan) == std::string::npos)
        return ::testing::AssertionFailure() << "mediainfo reads " << windowsPath << " as " << text;
    if (seconds > 0 && (duration < seconds - 0.2 || duration > seconds + 0.5))
        return ::testing::AssertionFailure() << "mediainfo says " << windowsPath << " lasts " << duration << " s, not " << seconds;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult FfprobeReadsWithoutWarning(const std::string& windowsPath)
{
    const std::string command = "/usr/bin/ffprobe -v warning -show_entries packet=stream_index,pts,dts -of csv " + Quoted(windowsPath);
    testing_support::ToolOutput output;
    if (!testing_support::RunLinuxTool(command, output))
        return ::testing::AssertionFailure() << "ffprobe did not run: " << command;
    if (output.out.find("packet,") == std::string::npos || !output.err.empty())
        return ::testing::AssertionFailure() << "ffprobe on " << windowsPath << ": " << output.err.substr(0, 2000);
    return ::testing::AssertionSuccess();
}

} // namespace endtoend
