#include "media/captions/Eia608Decoder.h"

#include <cstring>

namespace captions {
namespace {

constexpr char32_t Block = U'\u2588';

// The standard set is ASCII but for these.
char32_t Standard(uint8_t code)
{
    switch (code) {
    case 0x2A: return U'\u00E1';
    case 0x5C: return U'\u00E9';
    case 0x5E: return U'\u00ED';
    case 0x5F: return U'\u00F3';
    case 0x60: return U'\u00FA';
    case 0x7B: return U'\u00E7';
    case 0x7C: return U'\u00F7';
    case 0x7D: return U'\u00D1';
    case 0x7E: return U'\u00F1';
    case 0x7F: return Block;
    default: return code;
    }
}

// 11 30 to 11 3F; 11 39 is the transparent space.
constexpr char32_t Special[16] = {U'\u00AE', U'\u00B0', U'\u00BD', U'\u00BF', U'\u2122', U'\u00A2', U'\u00A3', U'\u266A',
                                  U'\u00E0', U' ',      U'\u00E8', U'\u00E2', U'\u00EA', U'\u00EE', U'\u00F4', U'\u00FB'};
// 12 20 to 12 3F and 13 20 to 13 3F: each replaces the standard character sent before it.
constexpr char32_t Extended[2][32] = {
    {U'\u00C1', U'\u00C9', U'\u00D3', U'\u00DA', U'\u00DC', U'\u00FC', U'\u2018', U'\u00A1', U'*',      U'\u2019', U'\u2014',
     U'\u00A9', U'\u2120', U'\u2022', U'\u201C', U'\u201D', U'\u00C0', U'\u00C2', U'\u00C7', U'\u00C8', U'\u00CA', U'\u00CB',
     U'\u00EB', U'\u00CE', U'\u00CF', U'\u00EF', U'\u00D4', U'\u00D9', U'\u00F9', U'\u00DB', U'\u00AB', U'\u00BB'},
    {U'\u00C3', U'\u00E3', U'\u00CD', U'\u00CC', U'\u00EC', U'\u00D2', U'\u00F2', U'\u00D5', U'\u00F5', U'{',      U'}',
     U'\\',     U'^',      U'_',      U'|',      U'~',      U'\u00C4', U'\u00E4', U'\u00D6', U'\u00F6', U'\u00DF', U'\u00A5',
     U'\u00A4', U'\u00A6', U'\u00C5', U'\u00E5', U'\u00D8', U'\u00F8', U'\u250C', U'\u2510', U'\u2514', U'\u2518'}};

// The first row (0-based) a preamble's first byte (channel bit cleared) addresses.
int PreambleRow(uint8_t code)
{
    switch (code) {
    case 0x11: return 0;
    case 0x12: return 2;
    case 0x15: return 4;
    case 0x16: return 6;
    case 0x17: return 8;
    case 0x10: return 10;
    case 0x13: return 11;
    default: return 13; // 0x14
    }
}

bool OddParity(uint8_t byte)
{
    int bits = 0;
    for (; byte; byte &= static_cast<uint8_t>(byte - 1))
        ++bits;
    return (bits & 1) != 0;
}

size_t Utf8(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
}

} // namespace

CEia608Decoder::CEia608Decoder(ICueSink& sink) : sink_(sink)
{
    Reset();
}

void CEia608Decoder::Reset()
{
    Clear(shown_);
    Clear(hidden_);
    mode_ = Mode::PopOn;
    rollRows_ = 2;
    row_ = Rows - 1;
    column_ = 0;
    channelOne_ = true;
    lastControl_ = 0;
    showing_ = false;
    showSince_ = 0;
}

void CEia608Decoder::Clear(Screen& screen)
{
    std::memset(screen, 0, sizeof(Screen));
}

void CEia608Decoder::Decode(uint8_t first, uint8_t second, int64_t time)
{
    // A pair whose second byte fails parity is lost; a failed first byte of text shows as a block.
    if (!OddParity(second))
        return;
    const bool firstGood = OddParity(first);
    const uint8_t a = first & 0x7F, b = second & 0x7F;
    if (a == 0 && b == 0)
        return; // null padding: neither text nor a break between a code and its repeat
    if (a >= 0x10 && a < 0x20) {
        if (firstGood)
            Control(a, b, time);
        return;
    }
    lastControl_ = 0;
    if (a < 0x10 || !channelOne_)
        return; // extended data services, or text of the other channel
    Put(firstGood ? Standard(a) : Block, time);
    if (b >= 0x20)
        Put(Standard(b), time);
}

void CEia608Decoder::Control(uint8_t first, uint8_t second, int64_t time)
{
    // Codes are sent twice so that one survives a reception error; the repeat does nothing.
    const uint16_t code = static_cast<uint16_t>(first << 8 | second);
    if (code == lastControl_) {
        lastControl_ = 0;
        return;
    }
    lastControl_ = code;
    channelOne_ = (first & 0x08) == 0;
    if (!channelOne_)
        return;
    if (second >= 0x40) {
        Preamble(first, second, time);
        return;
    }
    if ((first == 0x14 || first == 0x15) && second >= 0x20 && second <= 0x2F) {
        Misc(second, time);
        return;
    }
    if (first == 0x17 && second >= 0x21 && second <= 0x23) {
        column_ = column_ + second - 0x20 < Columns ? column_ + second - 0x20 : Columns - 1;
        return;
    }
    if (first == 0x11 && second >= 0x20 && second <= 0x2F) {
        Put(U' ', time); // a mid-row style change takes the place of a space
        return;
    }
    if (first == 0x11 && second >= 0x30 && second <= 0x3F) {
        Put(Special[second - 0x30], time);
        return;
    }
    if ((first == 0x12 || first == 0x13) && second >= 0x20 && second <= 0x3F) {
        if (column_ > 0)
            Backspace(time);
        Put(Extended[first - 0x12][second - 0x20], time);
    }
}

void CEia608Decoder::Misc(uint8_t code, int64_t time)
{
    switch (code) {
    case 0x20: // resume caption loading
        mode_ = Mode::PopOn;
        break;
    case 0x21:
        Backspace(time);
        break;
    case 0x24: { // delete to end of row
        Screen& target = Target();
        for (int c = column_; c < Columns; ++c)
            target[row_][c] = 0;
        if (mode_ != Mode::PopOn)
            Touched(time);
        break;
    }
    case 0x25:
    case 0x26:
    case 0x27: // roll-up, two to four rows
        if (mode_ != Mode::RollUp) {
            Capture(time);
            Clear(shown_);
            Clear(hidden_);
            column_ = 0;
        }
        mode_ = Mode::RollUp;
        rollRows_ = code - 0x23;
        break;
    case 0x29: // resume direct captioning
        mode_ = Mode::PaintOn;
        break;
    case 0x2A:
    case 0x2B: // text mode: what follows is not captions
        mode_ = Mode::Text;
        break;
    case 0x2C: // erase displayed memory
        Capture(time);
        Clear(shown_);
        break;
    case 0x2D:
        if (mode_ == Mode::RollUp)
            CarriageReturn(time);
        break;
    case 0x2E: // erase non-displayed memory
        Clear(hidden_);
        break;
    case 0x2F: { // end of caption: the loaded caption shows
        Capture(time);
        Screen swap;
        std::memcpy(swap, shown_, sizeof(Screen));
        std::memcpy(shown_, hidden_, sizeof(Screen));
        std::memcpy(hidden_, swap, sizeof(Screen));
        mode_ = Mode::PopOn;
        Touched(time);
        break;
    }
    default: // alarm codes, flash
        break;
    }
}

void CEia608Decoder::Preamble(uint8_t first, uint8_t second, int64_t time)
{
    const int row = PreambleRow(first) + ((second & 0x20) ? 1 : 0);
    if (mode_ == Mode::RollUp && row != row_) {
        // The roll-up window moves to the new base row with what it holds.
        Screen moved;
        Clear(moved);
        for (int i = 0; i < rollRows_; ++i) {
            const int from = row_ - i, to = row - i;
            if (from >= 0 && to >= 0)
                std::memcpy(moved[to], shown_[from], sizeof(moved[to]));
        }
        std::memcpy(shown_, moved, sizeof(Screen));
        Touched(time);
    }
    row_ = row;
    column_ = (second & 0x10) ? 4 * ((second >> 1) & 7) : 0;
}

void CEia608Decoder::Put(char32_t character, int64_t time)
{
    if (mode_ == Mode::Text)
        return;
    Target()[row_][column_] = character;
    if (column_ < Columns - 1)
        ++column_;
    if (mode_ != Mode::PopOn)
        Touched(time);
}

void CEia608Decoder::Backspace(int64_t time)
{
    if (mode_ == Mode::Text || column_ == 0)
        return;
    --column_;
    Target()[row_][column_] = 0;
    if (mode_ != Mode::PopOn)
        Touched(time);
}

void CEia608Decoder::CarriageReturn(int64_t time)
{
    Capture(time);
    const int top = row_ - rollRows_ + 1;
    for (int r = 0; r < Rows; ++r) {
        if (r < top || r > row_)
            std::memset(shown_[r], 0, sizeof(shown_[r]));
        else if (r < row_)
            std::memcpy(shown_[r], shown_[r + 1], sizeof(shown_[r]));
    }
    std::memset(shown_[row_], 0, sizeof(shown_[row_]));
    column_ = 0;
    Touched(time);
}

void CEia608Decoder::Touched(int64_t time)
{
    if (!showing_) {
        showing_ = true;
        showSince_ = time;
    }
}

void CEia608Decoder::Capture(int64_t time)
{
    if (!showing_)
        return;
    showing_ = false;
    const size_t size = Render(shown_);
    if (size > 0)
        sink_.OnCue(showSince_, time, text_, size);
}

void CEia608Decoder::Finish(int64_t time)
{
    Capture(time);
}

size_t CEia608Decoder::Render(const Screen& screen)
{
    size_t size = 0;
    for (int r = 0; r < Rows; ++r) {
        int first = 0, last = Columns - 1;
        while (first < Columns && (screen[r][first] == 0 || screen[r][first] == U' '))
            ++first;
        while (last >= first && (screen[r][last] == 0 || screen[r][last] == U' '))
            --last;
        if (first > last)
            continue;
        if (size > 0)
            text_[size++] = '\n';
        for (int c = first; c <= last; ++c)
            size += Utf8(screen[r][c] ? screen[r][c] : U' ', text_ + size);
    }
    return size;
}

} // namespace captions
