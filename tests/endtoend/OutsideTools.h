#pragma once
// What players and probes of Linux say of an output: VLC playing it, mediainfo and ffprobe reading
// it. Each runs through RunLinuxTool, as Wine does not pass exit codes on reliably, so each
// judges by what the tool printed.

#include <gtest/gtest.h>

#include <string>

namespace endtoend {

// cvlc plays the file to its end (as a program stream, its video decoded) with no warning of the
// SCR or of late pictures. VLC refuses to run as root, so under root it runs as nobody.
::testing::AssertionResult VlcPlaysWithoutTimingWarnings(const std::string& windowsPath);

// mediainfo reads an MPEG-PS with MPEG-2 video (its scan type or order containing `scan`, when
// given) and audio of the format given ("AC-3", "MPEG Audio"), lasting `seconds` (within 0.2 s
// less or 0.5 s more; 0: not checked), and has nothing to say on standard error.
::testing::AssertionResult MediaInfoReads(const std::string& windowsPath, const std::string& audioFormat, const std::string& scan,
                                          double seconds);

// ffprobe lists every packet of the file without a warning.
::testing::AssertionResult FfprobeReadsWithoutWarning(const std::string& windowsPath);

} // namespace endtoend
