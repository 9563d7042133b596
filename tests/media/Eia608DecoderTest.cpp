// Halvern's EIA-608 decoder of CC1, one pair a frame: scripts of what a caption service sends,
// and the cues a viewer sees for them.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "media/captions/Eia608Decoder.h"
#include "tests/media/CaptionWriter.h"

namespace {

uint8_t Odd(int byte) { return static_cast<uint8_t>(test_captions::OddParity(byte)); }

struct Cue {
    int64_t start, end;
    std::string text;
    bool operator==(const Cue& other) const { return start == other.start && end == other.end && text == other.text; }
};

std::ostream& operator<<(std::ostream& out, const Cue& cue)
{
    return out << cue.start << "-" << cue.end << " [" << cue.text << "]";
}

class Cues : public captions::ICueSink {
public:
    void OnCue(int64_t start, int64_t end, const char* text, size_t size) override { got.push_back({start, end, std::string(text, size)}); }
    std::vector<Cue> got;
};

// A script's words, one frame a pair: a code by name or in hex, sent twice (once with '!' after
// it); 'text two characters a pair ('_' a space); ~ a null pair; #name marks the next frame.
std::vector<Cue> Decode(const std::string& script, std::map<std::string, int64_t>& marks)
{
    static const std::map<std::string, int> names = {{"RCL", 0x1420}, {"BS", 0x1421},  {"DER", 0x1424}, {"RU2", 0x1425},
                                                     {"RU3", 0x1426}, {"RU4", 0x1427}, {"RDC", 0x1429}, {"EDM", 0x142C},
                                                     {"CR", 0x142D},  {"ENM", 0x142E}, {"EOC", 0x142F}, {"TO2", 0x1722}};
    Cues cues;
    captions::CEia608Decoder decoder(cues);
    int64_t frame = 0;
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        if (word[0] == '#') {
            marks[word.substr(1)] = frame;
        } else if (word == "~") {
            decoder.Decode(0x80, 0x80, frame++);
        } else if (word[0] == '\'') {
            std::string text = word.substr(1) + '\0';
            for (char& c : text)
                c = c == '_' ? ' ' : c;
            for (size_t i = 0; i + 1 < text.size(); i += 2)
                decoder.Decode(Odd(text[i]), Odd(text[i + 1]), frame++);
        } else {
            const bool once = word.back() == '!';
            if (once)
                word.pop_back();
            const int code = names.count(word) ? names.at(word) : std::stoi(word, nullptr, 16);
            for (int n = once ? 1 : 2; n > 0; --n)
                decoder.Decode(Odd(code >> 8), Odd(code), frame++);
        }
    }
    decoder.Finish(frame);
    return cues.got;
}

struct Expected {
    const char* start; // marks
    const char* end;
    std::string text;
};

} // namespace

// Each mode and the codes that edit a row; the characters outside ASCII; CC2 between CC1; codes
// sent twice act once (an end of caption acted on twice would swap the caption away again, a carriage return
// scroll twice), and a code sent twice twice acts twice.
TEST(Eia608DecoderTest, CaptionServicesShowWhatTheySent)
{
    struct Row {
        const char* name;
        const char* script;
        std::vector<Expected> cues;
    };
    const Row rows[] = {
        {"pop-on, from its end of caption to the erase", "RCL ENM 1470 'HELLO #a EOC ~ ~ #b EDM", {{"a", "b", "HELLO"}}},
        {"pop-on ended by the next", "RCL 1470 'ONE #a EOC ENM 1470 'TWO #b EOC ~ #c EDM", {{"a", "b", "ONE"}, {"b", "c", "TWO"}}},
        {"paint-on, from its first character", "RDC 1470 #a 'HI ~ ~ #b EDM", {{"a", "b", "HI"}}},
        {"backspace, twice", "RDC 1470 #a 'ABCD BS BS #b EDM", {{"a", "b", "AB"}}},
        {"backspace in the caption loading", "RCL 1470 'ABC BS #a EOC #b EDM", {{"a", "b", "AB"}}},
        {"delete to end of row from an indent", "RCL 1470 'ABCDEFGH 1472 DER #a EOC #b EDM", {{"a", "b", "ABCD"}}},
        {"tab offset, mid-row code and indent of 16", "RCL 1478 'X 1470 'AB TO2 'C 1120 'D #a EOC #b EDM",
         {{"a", "b", "AB  C D" + std::string(9, ' ') + "X"}}},
        {"text of the other channel left out", "RCL 1470 'A 1C20 'B 1420! 'C #a EOC #b EDM", {{"a", "b", "AC"}}},
        {"standard, special and extended characters", "RCL 1470 '*~_ 1137 'Ca 1321 'A 1220 #a EOC #b EDM",
         {{"a", "b", "\xC3\xA1\xC3\xB1 \xE2\x99\xAA" "C\xC3\xA3\xC3\x81"}}},
        {"roll-up, two rows", "RU2 1470 #a 'ONE #b CR 'TWO #c CR 'THREE #d EDM",
         {{"a", "b", "ONE"}, {"b", "c", "ONE\nTWO"}, {"c", "d", "TWO\nTHREE"}}},
        {"roll-up, three rows", "RU3 1470 #a 'A #b CR 'B #c CR 'C #d CR 'D #e EDM",
         {{"a", "b", "A"}, {"b", "c", "A\nB"}, {"c", "d", "A\nB\nC"}, {"d", "e", "B\nC\nD"}}},
        {"roll-up, four rows", "RU4 1470 #a 'A #b CR 'B #c CR 'C #d CR 'D #e CR 'E #f EDM",
         {{"a", "b", "A"}, {"b", "c", "A\nB"}, {"c", "d", "A\nB\nC"}, {"d", "e", "A\nB\nC\nD"}, {"e", "f", "B\nC\nD\nE"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::map<std::string, int64_t> marks;
        const std::vector<Cue> got = Decode(row.script, marks);
        std::vector<Cue> expected;
        for (const Expected& cue : row.cues)
            expected.push_back({marks.at(cue.start), marks.at(cue.end), cue.text});
        EXPECT_EQ(expected, got);
    }
}
