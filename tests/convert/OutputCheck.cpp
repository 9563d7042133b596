#include "tests/convert/OutputCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TransportStreamCheck.h"

namespace output_check {
namespace {

using test_recordings::Kind;
using test_recordings::WrittenObject;
using testing_support::FirstLines;
using testing_support::Quoted;
using testing_support::RunLinuxTool;
using testing_support::ToolOutput;

constexpr int64_t PtsGap90 = 63000; // the checker's limit between a stream's stamps, 0.7 s
constexpr int64_t Slack90 = 2;      // rounding of true times and of the output's to 90 kHz
constexpr int64_t SecondIn100ns = 10000000;

std::string Seconds(int64_t ticks90)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%+.3f s", static_cast<double>(ticks90) / 90000);
    return text;
}

// A stream the output must carry, and what of it the recording kept.
struct ExpectedStream {
    std::string name;
    uint8_t id = 0xE0, substream = 0;
    std::string probeId;           // as ffprobe names the stream
    std::string format;            // ffmpeg's elementary format
    std::string gstPad, gstParser;
    std::string bytes = {};
    std::vector<int64_t> truth = {};  // each unit's true time, 90 kHz, in stream order
    std::vector<size_t> segment = {}; // each unit's: how many breaks every stream shares came before it
};

// Where spans end in which every stream lost data at once (send time): the losses of single streams
// that overlap are a loss of every stream, which a recording cannot tell from one.
std::vector<int64_t> SharedLossEnds(const test_recordings::WrittenRecording& written)
{
    constexpr int64_t Hole = SecondIn100ns * 3 / 20; // no stream sends its units that far apart
    std::map<unsigned, std::vector<int64_t>> sent;
    for (const WrittenObject& object : written.objects)
        if (object.kind != Kind::Captions)
            sent[object.stream].push_back(object.sendTime);
    std::vector<std::pair<int64_t, int64_t>> shared; // spans every stream seen so far lost
    bool first = true;
    for (auto& stream : sent) {
        std::vector<int64_t>& times = stream.second;
        std::sort(times.begin(), times.end());
        std::vector<std::pair<int64_t, int64_t>> holes, both;
        for (size_t k = 1; k < times.size(); ++k)
            if (times[k] - times[k - 1] > Hole)
                holes.push_back({times[k - 1], times[k]});
        for (const auto& a : first ? holes : shared)
            for (const auto& b : holes)
                if (std::max(a.first, b.first) < std::min(a.second, b.second))
                    both.push_back({std::max(a.first, b.first), std::min(a.second, b.second)});
        shared = first ? holes : both;
        first = false;
    }
    std::vector<int64_t> ends;
    for (const auto& span : shared)
        ends.push_back(span.second);
    return ends;
}

// The output's streams in the recording's order: the video, then each audio stream, MPEG audio
// numbered from 0xC0 and AC-3 from sub-stream 0x80 of private stream 1.
std::vector<ExpectedStream> ExpectedStreams(const Expectation& expected)
{
    const test_recordings::RecordingOptions& options = *expected.options;
    const test_recordings::WrittenRecording& written = *expected.written;
    // A dropout of every stream may be kept as a gap or closed, and a jump of every stream's clock
    // closed or kept as a gap (a short jump forward looks like a dropout): either way every stream
    // moves alike, so the times on each side are judged apart. The objects after a dropout were
    // sent after its span (video is lost up to a group of pictures sent after it).
    std::vector<int64_t> breaks;
    for (const test_recordings::ReceptionEvent& event : options.events) {
        if (event.kind == test_recordings::EventKind::Jump)
            breaks.push_back(options.firstTime + event.at);
        if (event.kind == test_recordings::EventKind::Dropout && event.stream == test_recordings::EveryStream)
            breaks.push_back(options.firstTime + event.at + event.length);
    }
    for (const int64_t end : SharedLossEnds(written))
        if (std::none_of(breaks.begin(), breaks.end(), [&](int64_t at) { return std::llabs(at - end) < SecondIn100ns; }))
            breaks.push_back(end);

    std::vector<ExpectedStream> streams(1 + written.audioStreams.size());
    streams[0] = {"video", 0xE0, 0, "0x1e0", "mpeg2video", "video_e0", "mpegvideoparse"};
    std::map<unsigned, size_t> indexOf; // ASF stream number -> expected stream
    unsigned mpegAudio = 0, ac3 = 0;
    for (size_t nth = 0; nth < written.audioStreams.size(); ++nth) {
        const bool isAc3 = written.audioCodecs[nth] == "ac3";
        const unsigned number = isAc3 ? 0x80 + ac3++ : 0xC0 + mpegAudio++;
        char hex[8];
        std::snprintf(hex, sizeof(hex), "%02x", number);
        streams[nth + 1] = {"audio " + std::to_string(nth + 1) + (isAc3 ? " (AC-3, 0x" : " (MP2, 0x") + hex + ")",
                            static_cast<uint8_t>(isAc3 ? 0xBD : number), static_cast<uint8_t>(isAc3 ? number : 0),
                            (isAc3 ? "0x" : "0x1") + std::string(hex), isAc3 ? "ac3" : "mp2", "audio_" + std::string(hex),
                            isAc3 ? "ac3parse" : "mpegaudioparse"};
        indexOf[written.audioStreams[nth]] = nth + 1;
    }
    for (const WrittenObject& object : written.objects) {
        if (!object.frameStart || object.kind == Kind::Captions)
            continue;
        ExpectedStream& s = streams[object.kind == Kind::Video ? 0 : indexOf.at(object.stream)];
        s.bytes += object.bytes;
        s.truth.push_back(object.time * 9 / 1000);
        s.segment.push_back(static_cast<size_t>(
            std::count_if(breaks.begin(), breaks.end(), [&](int64_t at) { return at <= object.sendTime; })));
    }
    return streams;
}

// The tests' checker of either kind of stream: no fault beyond the gaps the recording itself has in
// a stream's stamps. The clock goes on where every stream lost the same span, kept or closed.
template <typename Fault, typename Report>
void CheckDecoderModel(const Report& report, const std::vector<ExpectedStream>& streams, std::vector<std::string>& faults)
{
    size_t ptsGaps = 0;
    for (const ExpectedStream& stream : streams)
        for (size_t k = 1; k < stream.truth.size(); ++k)
            ptsGaps += std::llabs(stream.truth[k] - stream.truth[k - 1]) > PtsGap90;
    for (size_t f = 0; f < static_cast<size_t>(Fault::Count); ++f) {
        const Fault fault = static_cast<Fault>(f);
        const size_t allowed = fault == Fault::PtsGap ? ptsGaps : 0;
        if (report.Count(fault) <= allowed)
            continue;
        const std::string name = FaultName(fault);
        std::string line = "decoder model: " + std::to_string(report.Count(fault)) + " " + name +
                           (allowed ? " (the recording's own gaps: " + std::to_string(allowed) + ")" : "");
        size_t shown = 0;
        for (const std::string& message : report.messages)
            if (message.compare(0, name.size() + 1, name + ":") == 0 && shown++ < 3)
                line += "; " + message.substr(name.size() + 2);
        faults.push_back(line);
    }
}

// Where a stream's offset (output PTS minus true time) changes, relative to the video's first:
// "+0.000 s from unit 0 (true 10.000 s), -1.216 s from unit 300 (true 16.000 s)".
std::string OffsetRuns(const ps_check::StreamReport& out, const ExpectedStream& stream, int64_t reference)
{
    std::string runs;
    int64_t current = 0;
    size_t count = 0;
    for (size_t k = 0; k < out.pts.size() && k < stream.truth.size(); ++k) {
        if (out.pts[k] < 0)
            continue;
        const int64_t offset = out.pts[k] - stream.truth[k];
        if (count > 0 && std::llabs(offset - current) <= Slack90)
            continue;
        if (count++ == 6) {
            runs += ", ...";
            break;
        }
        current = offset;
        runs += (runs.empty() ? "" : ", ") + Seconds(offset - reference) + " from unit " + std::to_string(k) + " (true " +
                Seconds(stream.truth[k]).substr(1) + ")";
    }
    return runs;
}

// Every stamped unit at its true time plus one constant per stream, and the streams within an
// audio frame of each other: on each side of a break that every stream shares, apart. `outs`: the
// output's units of each stream, in the same order.
void CheckSync(const std::vector<const ps_check::StreamReport*>& outs, const std::vector<ExpectedStream>& streams,
               std::vector<std::string>& faults)
{
    int64_t audioFrame = INT64_MAX;
    for (size_t s = 1; s < streams.size(); ++s)
        for (size_t k = 1; k < streams[s].truth.size(); ++k)
            audioFrame = std::min(audioFrame, streams[s].truth[k] - streams[s].truth[k - 1]);
    size_t segments = 1;
    for (size_t s = 0; s < streams.size(); ++s) {
        if (outs[s]->pts.size() != streams[s].truth.size()) {
            faults.push_back("streams: " + streams[s].name + " has " + std::to_string(outs[s]->pts.size()) +
                             " units, the recording " + std::to_string(streams[s].truth.size()));
            return;
        }
        if (!streams[s].segment.empty())
            segments = std::max(segments, streams[s].segment.back() + 1);
    }
    std::string problems;
    for (size_t segment = 0; segment < segments; ++segment) {
        // The units of the segment, as reports of their own for the checker's comparison.
        std::vector<ps_check::StreamReport> parts(streams.size());
        std::vector<ps_check::ExpectedTimes> times;
        for (size_t s = 0; s < streams.size(); ++s) {
            parts[s].id = streams[s].id;
            parts[s].substream = streams[s].substream;
            ps_check::ExpectedTimes expected{&parts[s], {}};
            for (size_t k = 0; k < streams[s].truth.size(); ++k) {
                if (streams[s].segment[k] != segment)
                    continue;
                parts[s].pts.push_back(outs[s]->pts[k]);
                expected.truth.push_back(streams[s].truth[k]);
            }
            // A stream need not be stamped more often than the PTS gap allows: a part shorter than
            // that, between two breaks close together, may have no stamp of its own.
            if (expected.truth.empty())
                continue;
            const bool stamped = std::any_of(parts[s].pts.begin(), parts[s].pts.end(), [](int64_t pts) { return pts >= 0; });
            const auto span = std::minmax_element(expected.truth.begin(), expected.truth.end());
            if (stamped || *span.second - *span.first >= PtsGap90)
                times.push_back(expected);
        }
        const std::string kept = ps_check::TimesKept(times, Slack90, audioFrame == INT64_MAX ? Slack90 : audioFrame);
        if (!kept.empty())
            problems += (segments > 1 ? "after break " + std::to_string(segment) + ": " : "") + kept;
    }
    if (problems.empty())
        return;
    const auto firstStamp = std::find_if(outs[0]->pts.begin(), outs[0]->pts.end(), [](int64_t pts) { return pts >= 0; });
    const int64_t reference =
        firstStamp == outs[0]->pts.end() ? 0 : *firstStamp - streams[0].truth[firstStamp - outs[0]->pts.begin()];
    std::string line = "sync: output PTS minus true time, against the video's first:";
    for (size_t s = 0; s < streams.size(); ++s)
        line += " " + streams[s].name + ": " + OffsetRuns(*outs[s], streams[s], reference) + ";";
    faults.push_back(line + " [" + FirstLines(problems, 3) + "]");
}

// The video of an output whose recording had a caption stream, without the captions put into it:
// there must be some, as every picture (in the DVD layout, every group of pictures) takes a block,
// empty when it has no pairs.
std::string RecordedVideo(const std::string& video, std::vector<std::string>& faults)
{
    std::string recorded = ps_check::WithoutCaptionUserData(video);
    if (recorded.size() == video.size())
        faults.push_back("captions: none went into the video");
    return recorded;
}

// ffmpeg copies each stream out of the output as the recording holds it, less what it lost.
void CheckBytes(const std::string& output, const std::vector<ExpectedStream>& streams, bool captions, std::vector<std::string>& faults)
{
    ToolOutput probe;
    if (!RunLinuxTool("/usr/bin/ffprobe -v error -show_entries stream=index,id -of csv=p=0 " + Quoted(output), probe)) {
        faults.push_back("bytes: ffprobe did not run");
        return;
    }
    std::map<std::string, std::string> indexOf; // ffprobe's stream id -> index
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t id = line.find(",0x") + 1;
        if (id != 0)
            indexOf[line.substr(id, line.find(',', id) - id)] = line.substr(0, id - 1);
    }
    const std::string directory = testing_support::MakeScratchDirectory("output-check-streams");
    std::string command = "/usr/bin/ffmpeg -v error -y -i " + Quoted(output);
    for (size_t s = 0; s < streams.size(); ++s) {
        const auto found = indexOf.find(streams[s].probeId);
        if (found == indexOf.end()) {
            faults.push_back("bytes: ffprobe finds no " + streams[s].name + " in the output");
            return;
        }
        command += " -map 0:" + found->second + " -c copy -f " + streams[s].format + " " + Quoted(directory + std::to_string(s));
    }
    command += " 2>&1";
    ToolOutput copied;
    if (!RunLinuxTool(command, copied)) {
        faults.push_back("bytes: ffmpeg did not run");
        return;
    }
    for (size_t s = 0; s < streams.size(); ++s) {
        std::string bytes = testing_support::ReadFileBytes(directory + std::to_string(s));
        if (s == 0 && captions)
            bytes = RecordedVideo(bytes, faults);
        if (bytes == streams[s].bytes)
            continue;
        const auto differ = std::mismatch(bytes.begin(), bytes.end(), streams[s].bytes.begin(), streams[s].bytes.end());
        faults.push_back("bytes: ffmpeg copies " + std::to_string(bytes.size()) + " bytes of " + streams[s].name +
                         ", the recording kept " + std::to_string(streams[s].bytes.size()) + "; they differ from byte " +
                         std::to_string(differ.first - bytes.begin()) +
                         (copied.out.empty() ? "" : " (" + FirstLines(copied.out, 2) + ")"));
    }
}

// Every stream decoded. The frames keep the output's own times, in its own time base: at the frame
// rate's, the fields that film repeats would round two pictures to one time.
void CheckDecode(const std::string& output, std::vector<std::string>& faults)
{
    ToolOutput decoded;
    if (!RunLinuxTool("/usr/bin/ffmpeg -nostdin -v error -xerror -i " + Quoted(output) +
                          " -map 0:v -map 0:a -fps_mode passthrough -enc_time_base -1 -f null - 2>&1",
                      decoded))
        faults.push_back("decode: ffmpeg did not run or end");
    else if (!decoded.out.empty() || !decoded.err.empty())
        faults.push_back("decode: " + FirstLines(decoded.out + decoded.err, 3));
}

// The DVD-ready part of an output that leaves DVD-Video's limits on the way: the packs up to the one
// that ends with the program end code, a title for dvdauthor as it is.
void CheckDvdPart(const std::string& bytes, size_t navigationPacks, const std::vector<int64_t>& audioGaps, std::vector<std::string>& faults)
{
    if (navigationPacks == 0) {
        faults.push_back("dvd: the output does not start DVD-ready");
        return;
    }
    constexpr size_t Pack = 2048;
    const std::string endCode("\0\0\1\xB9", 4);
    size_t end = 0;
    while (end + Pack < bytes.size() && bytes.compare(end + Pack - 4, endCode.size(), endCode) != 0)
        end += Pack;
    const std::string title = testing_support::MakeScratchDirectory("output-check-dvd-part") + "title.mpg";
    testing_support::WriteFileBytes(title, bytes.substr(0, end + Pack));
    const ::testing::AssertionResult accepted = testing_support::DvdAuthorAccepts(title, audioGaps, Slack90);
    if (!accepted)
        faults.push_back(std::string("dvd part: ") + accepted.message());
}

// gstreamer's first run on a machine builds its plugin registry, and the plugins that cannot load
// here warn then: the machine's complaints, not an output's. Built once, before any check.
void BuildGstreamerRegistry()
{
    static const bool built = [] {
        ToolOutput ignored;
        return RunLinuxTool("/usr/bin/gst-inspect-1.0 >/dev/null 2>&1", ignored, 180000);
    }();
    static_cast<void>(built);
}

// mpegpsdemux passes over damage without a warning of its own: its log tells when it lost the
// packet structure ("non PES sync", bytes flushed to find a start code again), met an SCR jump or
// a stream it did not expect, or when a stream's data broke off (a second discontinuous buffer).
// Each stream goes through its parser to a sink that does not wait to preroll: a stream that
// starts seconds after another would otherwise wait behind the other's full queue.
std::vector<std::string> GstreamerReadsEveryStream(const std::string& output, const Expectation& expected)
{
    BuildGstreamerRegistry();
    std::string pipeline = "filesrc location=" + Quoted(output) + " ! mpegpsdemux name=d";
    for (const ExpectedStream& stream : ExpectedStreams(expected))
        pipeline += " d." + stream.gstPad + " ! queue ! " + stream.gstParser + " ! fakesink sync=false async=false";
    const std::string command =
        "GST_DEBUG_NO_COLOR=1 GST_DEBUG='*:2,basesrc:1,mpegpsdemux:6' /usr/bin/timeout 120 /usr/bin/gst-launch-1.0 " + pipeline +
        " 2>&1 | /bin/grep -E 'Got EOS|ERROR|WARN|non PES sync|flushing [0-9]+ bytes|after [1-9][0-9]* bytes|lost sync|"
        "expecting|discont found|Wrong SCR|Dropping buffer|error in|No resync|wrong internal|discont buffer to pad'";
    // A run that printed nothing at all, not even its end or a stream's start, did not get going
    // (seen once on a busy machine); only such a run is made again.
    ToolOutput out;
    for (int attempt = 0; attempt < 2 && out.out.empty(); ++attempt) {
        if (!RunLinuxTool(command, out, 180000))
            return {"gstreamer: gst-launch-1.0 did not run or end"};
    }
    std::vector<std::string> faults;
    std::map<std::string, size_t> discontinuities; // by pad
    std::string complaints;
    std::istringstream lines(out.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t pad = line.find("discont buffer to pad <d:");
        if (pad != std::string::npos) {
            ++discontinuities[line.substr(pad + 25, line.find('>', pad) - pad - 25)];
        } else if (line.find("Got EOS") == std::string::npos && line.find("flushing demuxer") == std::string::npos) {
            // The file and line the message came from, and the message.
            const size_t source = line.find(".c:");
            const size_t from = source == std::string::npos ? 0 : line.rfind(' ', source) + 1;
            complaints += (complaints.empty() ? "" : " | ") + line.substr(from, 160);
        }
    }
    if (out.out.find("Got EOS") == std::string::npos)
        faults.push_back("gstreamer: the pipeline did not reach its end (a stream never came?)");
    for (const ExpectedStream& stream : ExpectedStreams(expected)) {
        const size_t count = discontinuities[stream.gstPad];
        if (count != 1)
            faults.push_back("gstreamer: " + std::to_string(count) + " discontinuous buffers of " + stream.name);
    }
    if (!complaints.empty())
        faults.push_back("gstreamer: " + complaints.substr(0, 600));
    return faults;
}

// A transport stream holds the video on its first PID, then each audio stream in the recording's
// order, each byte for byte (the video but for captions put into it); its units are timed as a
// program stream's are.
std::vector<std::string> CheckTransportStream(const std::string& output, const std::vector<ExpectedStream>& streams, bool captions)
{
    const ts_check::Report report = ts_check::CheckTransportStream(testing_support::ReadFileBytes(output));
    if (report.packets == 0)
        return {"no transport stream in " + output};
    std::vector<std::string> faults;
    CheckDecoderModel<ts_check::Fault>(report, streams, faults);
    if (report.streams.size() != streams.size()) {
        faults.push_back("streams: the output has " + std::to_string(report.streams.size()) + ", the recording " +
                         std::to_string(streams.size()));
        return faults;
    }
    std::vector<ps_check::StreamReport> units(streams.size());
    std::vector<const ps_check::StreamReport*> outs;
    for (size_t s = 0; s < streams.size(); ++s) {
        const std::string& carried = report.streams[s].elementary;
        const std::string recorded = s == 0 && captions ? RecordedVideo(carried, faults) : carried;
        if (recorded != streams[s].bytes)
            faults.push_back("bytes: the output carries " + std::to_string(carried.size()) + " bytes of " +
                             streams[s].name + ", the recording kept " + std::to_string(streams[s].bytes.size()));
        units[s].id = streams[s].id;
        units[s].substream = streams[s].substream;
        units[s].pts = report.streams[s].pts;
        outs.push_back(&units[s]);
    }
    CheckSync(outs, streams, faults);
    CheckDecode(output, faults);
    return faults;
}

} // namespace

std::vector<std::string> CheckOutput(const std::string& output, const Expectation& expected)
{
    const std::vector<ExpectedStream> streams = ExpectedStreams(expected);
    if (expected.transportStream)
        return CheckTransportStream(output, streams, expected.captions);
    const std::string bytes = testing_support::ReadFileBytes(output);
    const ps_check::Report report = ps_check::CheckProgramStream(bytes);
    std::vector<std::string> faults;
    if (report.packs == 0)
        return {"no program stream in " + output};
    CheckDecoderModel<ps_check::Fault>(report, streams, faults);
    std::vector<const ps_check::StreamReport*> outs;
    for (const ExpectedStream& stream : streams) {
        const auto out = std::find_if(report.streams.begin(), report.streams.end(), [&](const ps_check::StreamReport& s) {
            return s.id == stream.id && s.substream == stream.substream;
        });
        if (out == report.streams.end()) {
            faults.push_back("streams: the output has no " + stream.name);
            break;
        }
        outs.push_back(&*out);
    }
    if (outs.size() == streams.size())
        CheckSync(outs, streams, faults);
    CheckBytes(output, streams, expected.captions, faults);
    CheckDecode(output, faults);
    for (const std::string& fault : GstreamerReadsEveryStream(output, expected))
        faults.push_back(fault);
    std::vector<int64_t> audioGaps;
    for (size_t s = 1; s < streams.size(); ++s) {
        const std::vector<int64_t>& truth = streams[s].truth;
        for (size_t k = 2; k < truth.size(); ++k)
            if (truth[k] - truth[k - 1] > truth[k - 1] - truth[k - 2] + Slack90)
                audioGaps.push_back(truth[k] - truth[k - 1] - (truth[k - 1] - truth[k - 2]));
    }
    if (expected.dvd) {
        const ::testing::AssertionResult accepted = testing_support::DvdAuthorAccepts(output, audioGaps, Slack90);
        if (!accepted)
            faults.push_back(accepted.message());
    }
    if (expected.dvdFirstPart)
        CheckDvdPart(bytes, report.navigationPacks, audioGaps, faults);
    return faults;
}

::testing::AssertionResult Holds(const std::string& output, const Expectation& expected)
{
    const std::vector<std::string> faults = CheckOutput(output, expected);
    if (faults.empty())
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (const std::string& fault : faults)
        failure << "\n  " << fault;
    return failure;
}

} // namespace output_check
