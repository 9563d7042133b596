#pragma once
// Test-side writer of line-21 captions: known text as EIA-608 pop-on and roll-up (two rows)
// captions of channel CC1, one byte pair (odd parity) for each frame shown, 80 80 where nothing is
// sent, as a recorder's caption stream carries them; and the cues a decoder shows for them.

#include <string>
#include <vector>

namespace test_captions {

enum class Style { PopOn, RollUp };

struct Caption {
    Style style;
    std::string text;  // one row; UTF-8, of ASCII and the few others the writer knows (é ñ ♪ ¡)
    int shown;         // pop-on: the frame its end of caption comes in; roll-up: its first character's
    int ended;         // pop-on: the frame the display is erased in; roll-up: its carriage return's
};

// One pair a frame for `frames` frames. Captions are sent as a caption service sends them: the
// codes twice; a pop-on one loaded in the frames before it shows, a roll-up one after its codes.
// False when two captions would need the same frames.
bool EncodeCaptions(const std::vector<Caption>& captions, int frames, std::vector<std::string>& pairs, std::string& error);

struct Cue {
    std::string text;  // rows joined by '\n'
    int start;         // frames
    int end;
    bool popOn;        // its start is exact; a roll-up window's start is not (decoders differ)
};

// What a viewer sees: each pop-on caption from its end of caption to its erase; each roll-up
// window from its first character (or the carriage return before it) to the next carriage return,
// and the last line after it to the erase that follows at `erasedAt` (< 0: none).
std::vector<Cue> ExpectedCues(const std::vector<Caption>& captions, int erasedAt);

// The pair that erases the display (sent twice), for roll-up captions that end in an erase.
std::string ErasePair();

// The byte's seven bits with odd parity, as line 21 sends them.
char OddParity(int byte);

} // namespace test_captions
