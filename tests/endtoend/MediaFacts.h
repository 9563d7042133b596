#pragma once
// What ffprobe and ffmpeg say of a media file: its format, each stream's codec, packet times and
// the digest of its elementary stream, so a conversion can be compared with its recording.

#include <string>
#include <vector>

namespace endtoend {

struct StreamFacts {
    std::string codec;             // empty when the file has no such stream
    std::vector<double> starts;    // presentation times of the packets that have one (seconds)
    double end = 0;                // latest presentation time + that packet's duration
    size_t packets = 0;
    std::string digest;            // MD5 of the elementary stream, copied out by ffmpeg

    double First() const;
};

struct MediaFacts {
    std::string format;
    StreamFacts video;
    StreamFacts audio;
};

// False (with a reason) when ffprobe or ffmpeg could not be run or read nothing.
bool ReadMediaFacts(const std::string& windowsPath, MediaFacts& facts, std::string& error);
// MD5 of a file's bytes as md5sum prints it.
std::string FileDigest(const std::string& windowsPath);

} // namespace endtoend
