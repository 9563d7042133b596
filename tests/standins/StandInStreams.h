#pragma once
// What the stand-in recording's two streams are made of: fixed facts that both the source and
// the expected output are written from.

#include <windows.h>
#include <strmif.h>

namespace standin {

constexpr REFERENCE_TIME UnitsPerSecond = 10000000;

// "DVR Out - 1" carries audio, "DVR Out - 3" (or "DVR Out - 2") video.
constexpr char AudioTag = 'A';
constexpr char VideoTag = 'V';
constexpr REFERENCE_TIME AudioSamplePeriod = 1000000; // 100 ms
constexpr REFERENCE_TIME VideoSamplePeriod = 400000;  // 40 ms

constexpr const char* RecordingMagic = "HALVERN STAND-IN RECORDING 1";
constexpr const char* ProgramStreamHeader = "HALVERN STAND-IN PROGRAM STREAM\n";
constexpr const char* ProgramStreamTrailer = "END\n";

// Media seconds to 100-ns units, rounded to the nearest unit.
REFERENCE_TIME ToUnits(double seconds);

} // namespace standin
