#pragma once
// The SubRip file the multiplexer writes beside the output: the decoder's cues, counted from a
// time the multiplexer gives (the first picture shown). Created with the first cue, so a recording
// without captions leaves no file. A file that cannot be written is given up (and removed): the
// captions never cost the conversion.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "media/captions/Eia608Decoder.h"

class CCaptionFile : public captions::ICueSink {
public:
    void SetPath(const wchar_t* path) { path_ = path ? path : L""; }
    bool Wanted() const { return !path_.empty(); }
    // A new run: nothing written yet, the time line not known.
    void Start();
    // Output time = input time + offset; cues count from `zero` on the output's time line.
    void SetTimeLine(int64_t offset, int64_t zero);
    bool TimeLineKnown() const { return timeLineKnown_; }
    void OnCue(int64_t start, int64_t end, const char* text, size_t size) override;
    // Closes the file; cues still waiting for the time line count from the first of them.
    void Finish();

private:
    struct WaitingCue {
        int64_t start;
        int64_t end;
        std::string text;
    };
    // Cues that come before the first pack fixes the time line; a few at most in practice.
    static constexpr size_t MaxWaiting = 64;

    void Write(int64_t start, int64_t end, const char* text, size_t size);
    void GiveUp();

    std::wstring path_;
    UniqueFileHandle file_;
    bool failed_ = false;
    unsigned cues_ = 0;
    bool timeLineKnown_ = false;
    int64_t offset_ = 0;
    int64_t zero_ = 0;
    std::vector<WaitingCue> waiting_;
};
