#pragma once
// The SubRip file the multiplexer writes beside the output: the decoder's cues, counted from the
// first picture shown and moved past each jump of the recording's clock the multiplexer closed,
// so that they run on the output's time line. Cues are kept until the video has ended, when every
// jump is known, and the file is created with the first cue written, so a recording without
// captions leaves none. A file that cannot be written is given up (and removed): the captions
// never cost the conversion.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "media/captions/Eia608Decoder.h"
#include "media/mpeg/ElementaryStream.h"

class CCaptionFile : public captions::ICueSink {
public:
    void SetPath(const wchar_t* path) { path_ = path ? path : L""; }
    bool Wanted() const { return !path_.empty(); }
    // A new run: nothing written yet, no time known.
    void Start();
    // Cues count from `zero` (input time line): the first picture shown.
    void SetZero(int64_t zero);
    bool ZeroKnown() const { return zeroKnown_; }
    // The video's jumps the multiplexer closed, in the order it closed them.
    void AddJump(const mpeg::ClosedJump& jump);
    void OnCue(int64_t start, int64_t end, const char* text, size_t size) override;
    // Writes the cues kept and closes the file; without a first picture they count from the first cue.
    void Finish();

private:
    struct WaitingCue {
        int64_t start;
        int64_t end;
        std::string text;
    };
    // Hours of roll-up captions; past this the oldest is written with the jumps known so far.
    static constexpr size_t MaxWaiting = 20000;

    // The output time of a cue time; times come in display order, so a jump applies from the first
    // time nearer its new times than its old ones (a jump back makes times come again).
    int64_t OutputTime(int64_t time);
    void Write(const WaitingCue& cue);
    void GiveUp();

    std::wstring path_;
    UniqueFileHandle file_;
    bool failed_ = false;
    unsigned cues_ = 0;
    bool zeroKnown_ = false;
    int64_t zero_ = 0;
    std::vector<mpeg::ClosedJump> jumps_;
    size_t applied_ = 0;  // jumps_ before this are behind the cue times written
    int64_t shift_ = 0;   // taken off input times: theirs
    std::deque<WaitingCue> waiting_;
};
