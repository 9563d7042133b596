#include "tests/media/CaptionWriter.h"

#include <map>

namespace test_captions {

char OddParity(int byte)
{
    int bits = 0;
    for (int b = byte & 0x7F; b; b &= b - 1)
        ++bits;
    return static_cast<char>((bits % 2 ? 0 : 0x80) | (byte & 0x7F));
}

namespace {

std::string Pair(int first, int second)
{
    return std::string{OddParity(first), OddParity(second)};
}

// Text as pairs: plain characters two to a pair, the special and extended ones alone and twice.
std::vector<std::string> TextPairs(const std::string& text)
{
    // UTF-8 -> the standard character, or a code of its own (extended ones after a stand-in).
    const std::map<std::string, std::vector<int>> others = {
        {"\xC3\xA9", {0x5C}}, {"\xC3\xB1", {0x7E}}, {"\xE2\x99\xAA", {0x11, 0x37}}, {"\xC2\xA1", {'!', 0x12, 0x27}}};
    std::vector<std::string> pairs;
    int pending = -1;
    const auto plain = [&](int code) {
        if (pending < 0)
            pending = code;
        else
            pairs.push_back(Pair(pending, code)), pending = -1;
    };
    const auto flush = [&] {
        if (pending >= 0)
            pairs.push_back(Pair(pending, 0));
        pending = -1;
    };
    for (size_t i = 0; i < text.size();) {
        std::vector<int> codes = {static_cast<unsigned char>(text[i])};
        size_t length = 1;
        for (const auto& other : others) {
            if (text.compare(i, other.first.size(), other.first) == 0) {
                codes = other.second;
                length = other.first.size();
            }
        }
        i += length;
        if (codes.size() == 1) {
            plain(codes[0]);
            continue;
        }
        if (codes.size() == 3) { // a stand-in first, for decoders without the extended set
            plain(codes[0]);
            codes.erase(codes.begin());
        }
        flush();
        pairs.push_back(Pair(codes[0], codes[1]));
        pairs.push_back(Pair(codes[0], codes[1]));
    }
    flush();
    return pairs;
}

} // namespace

std::string ErasePair()
{
    return Pair(0x14, 0x2C);
}

bool EncodeCaptions(const std::vector<Caption>& captions, int frames, std::vector<std::string>& pairs, std::string& error)
{
    const std::string null = Pair(0, 0);
    pairs.assign(static_cast<size_t>(frames), null);
    std::vector<bool> used(static_cast<size_t>(frames), false);
    const auto put = [&](int frame, const std::string& pair) {
        if (frame < 0 || frame >= frames || used[static_cast<size_t>(frame)]) {
            error = "frame " + std::to_string(frame) + " is taken or outside the recording";
            return false;
        }
        used[static_cast<size_t>(frame)] = true;
        pairs[static_cast<size_t>(frame)] = pair;
        return true;
    };
    const auto twice = [&](int frame, int first, int second) { return put(frame, Pair(first, second)) && put(frame + 1, Pair(first, second)); };
    bool rolling = false;
    for (const Caption& caption : captions) {
        const std::vector<std::string> text = TextPairs(caption.text);
        const int count = static_cast<int>(text.size());
        bool ok = true;
        if (caption.style == Style::PopOn) {
            // Resume caption loading, erase what was loaded, row 15, the text, then end of caption.
            int at = caption.shown - 6 - count;
            ok = twice(at, 0x14, 0x20) && twice(at + 2, 0x14, 0x2E) && twice(at + 4, 0x14, 0x70);
            for (int i = 0; ok && i < count; ++i)
                ok = put(at + 6 + i, text[static_cast<size_t>(i)]);
            ok = ok && twice(caption.shown, 0x14, 0x2F) && twice(caption.ended, 0x14, 0x2C);
            rolling = false;
        } else {
            // Two-row roll-up, entered once; its base row 15; the text; the carriage return.
            int at = caption.shown - (rolling ? 2 : 4);
            ok = (rolling || twice(at, 0x14, 0x25)) && twice(caption.shown - 2, 0x14, 0x70);
            for (int i = 0; ok && i < count; ++i)
                ok = put(caption.shown + i, text[static_cast<size_t>(i)]);
            ok = ok && twice(caption.ended, 0x14, 0x2D);
            rolling = true;
        }
        if (!ok)
            return false;
    }
    return true;
}

std::vector<Cue> ExpectedCues(const std::vector<Caption>& captions, int erasedAt)
{
    std::vector<Cue> cues;
    std::string previous; // the roll-up line above the base row
    int since = -1;       // the carriage return it went up at
    for (const Caption& caption : captions) {
        if (caption.style == Style::PopOn) {
            cues.push_back({caption.text, caption.shown, caption.ended, true});
            previous.clear();
            continue;
        }
        cues.push_back({previous.empty() ? caption.text : previous + "\n" + caption.text, previous.empty() ? caption.shown : since,
                        caption.ended, false});
        previous = caption.text;
        since = caption.ended;
    }
    if (!previous.empty() && erasedAt >= 0)
        cues.push_back({previous, since, erasedAt, false});
    return cues;
}

} // namespace test_captions
