#pragma once
// An EIA-608 (CEA-608) decoder of channel CC1: field-1 byte pairs in display order become timed
// cues of text. Pop-on, roll-up and paint-on captions; the standard, special and extended
// characters; styles (colours, underline, italics, mid-row codes) are not kept. A cue is the screen
// between two of the moments a viewer sees it change as a whole: an end of caption, an erase of the
// display, a carriage return in roll-up. No allocation once the decoder is made.

#include <cstddef>
#include <cstdint>

namespace captions {

class ICueSink {
public:
    // 90 kHz times on the caller's time line; `text` is UTF-8, rows separated by '\n'.
    virtual void OnCue(int64_t start, int64_t end, const char* text, size_t size) = 0;

protected:
    ~ICueSink() = default;
};

class CEia608Decoder {
public:
    static constexpr int Rows = 15;
    static constexpr int Columns = 32;

    explicit CEia608Decoder(ICueSink& sink);
    CEia608Decoder(const CEia608Decoder&) = delete;
    CEia608Decoder& operator=(const CEia608Decoder&) = delete;

    void Reset();
    // One field-1 pair as received (parity bits included), shown at `time`.
    void Decode(uint8_t first, uint8_t second, int64_t time);
    // The stream ends at `time`: what is on screen becomes a cue up to then.
    void Finish(int64_t time);

private:
    enum class Mode { PopOn, RollUp, PaintOn, Text };
    using Screen = char32_t[Rows][Columns];

    void Control(uint8_t first, uint8_t second, int64_t time);
    void Misc(uint8_t code, int64_t time);
    void Preamble(uint8_t first, uint8_t second, int64_t time);
    void Put(char32_t character, int64_t time);
    void Backspace(int64_t time);
    void CarriageReturn(int64_t time);
    void Capture(int64_t time);
    void Touched(int64_t time);
    Screen& Target() { return mode_ == Mode::PopOn ? hidden_ : shown_; }
    static void Clear(Screen& screen);
    // The screen as text: its rows that hold anything, without their trailing spaces.
    size_t Render(const Screen& screen);

    ICueSink& sink_;
    Screen shown_;
    Screen hidden_;
    Mode mode_ = Mode::PopOn;
    int rollRows_ = 2;
    int row_ = Rows - 1;
    int column_ = 0;
    bool channelOne_ = true;   // text goes to the channel addressed last
    uint16_t lastControl_ = 0; // a control code just acted on, whose repeat is ignored
    bool showing_ = false;     // the shown screen has been a cue since showSince_
    int64_t showSince_ = 0;
    char text_[Rows * (Columns * 4 + 1)];
};

} // namespace captions
