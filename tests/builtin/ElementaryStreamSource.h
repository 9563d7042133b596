#pragma once
// A test source that plays elementary stream files made by ffmpeg: pin "Video" gives one MPEG-2
// video access unit per sample, pin "Audio" one MPEG audio or AC-3 frame, each with its time and
// with the media type the recording source offers. Options make faults.

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <string>
#include <vector>

#include "filters/BaseFilter.h"

namespace mux_tests {

struct ElementaryStreamOptions {
    std::string videoPath; // Windows paths; empty leaves the pin out
    std::string audioPath;
    bool audioSilent = false; // the pin delivers nothing until the graph stops
    int videoEndAfter = -1;   // >= 0: end of stream after this many units
    int audioEndAfter = -1;
    int audioGarbageAt = -1;  // >= 0: a sample of garbage goes out before this audio unit
};

struct Unit {
    size_t offset;
    size_t size;
    REFERENCE_TIME start; // 100 ns
};

class CElementaryStreamPin;

class CElementaryStreamSource : public CBaseFilter {
public:
    explicit CElementaryStreamSource(const ElementaryStreamOptions& options);

    // Reads and splits the files; false when one is missing or not an elementary stream.
    bool Load();
    int PinCount() override;
    CBasePin* PinAt(int index) override;
    IPin* VideoPin();
    IPin* AudioPin();
    // The video pin's thread has delivered its end of stream (or was stopped).
    bool VideoFinished() const;
    // The units of each stream as the files hold them, whether or not all are delivered.
    const std::vector<Unit>& VideoUnits() const { return units_[0]; }
    const std::vector<Unit>& AudioUnits() const { return units_[1]; }
    const std::string& VideoBytes() const { return bytes_[0]; }
    const std::string& AudioBytes() const { return bytes_[1]; }

private:
    ~CElementaryStreamSource() override;

    const ElementaryStreamOptions options_;
    std::string bytes_[2];
    std::vector<Unit> units_[2];
    std::vector<std::unique_ptr<CElementaryStreamPin>> pins_;
};

} // namespace mux_tests
