// Line-21 pairs put into H.264 on its way to the multiplexer, however the recording's samples cut
// the video: each picture takes the pair sent at its time, and is told with its time, across a
// jump of the clock too.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "media/captions/CaptionInserter.h"
#include "tests/media/CollectingVideo.h"
#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string StartCode("\0\0\1", 3);

// Where each access unit starts (its first parameter set, SEI or delimiter after the last
// picture's slices, else its first slice) and where its first slice is; found test-side, each
// picture one slice or more, the first with first_mb_in_slice 0.
struct Unit {
    size_t start;
    size_t slice;
};

std::vector<Unit> AccessUnits(const std::string& video)
{
    std::vector<Unit> units;
    size_t open = std::string::npos;
    for (size_t at = video.find(StartCode); at != std::string::npos && at + 4 < video.size(); at = video.find(StartCode, at + 3)) {
        const int type = video[at + 3] & 0x1F;
        if (type == 1 || type == 5) {
            if (video[at + 4] & 0x80)
                units.push_back({open != std::string::npos ? open : at, at});
            open = std::string::npos;
        } else if (type >= 6 && type <= 9 && open == std::string::npos) {
            open = at;
        }
    }
    return units;
}

// The times pictures are told with, in the order they are told.
class CToldTimes : public captions::IPictureCaptions {
public:
    void OnPictureCaptions(int64_t pts, const captions::BytePair*, size_t) override { times.push_back(pts); }
    std::vector<int64_t> times;
};

// The pair of each picture that carries one, in the output's order.
std::vector<std::string> CarriedPairs(const std::string& video)
{
    static const std::string sei("\x06\x04", 2), registered("\xB5\x00\x31GA94\x03", 8);
    std::vector<std::string> pairs;
    for (size_t at = video.find(StartCode); at != std::string::npos; at = video.find(StartCode, at + 3)) {
        if (video.compare(at + 3, sei.size(), sei) == 0 && video.compare(at + 6, registered.size(), registered) == 0 &&
            (video[at + 14] & 0x1F) == 1 && static_cast<uint8_t>(video[at + 16]) == 0xFC)
            pairs.push_back(video.substr(at + 17, 2));
    }
    return pairs;
}

} // namespace

TEST(CaptionInserterTest, EachH264PictureTakesThePairOfItsTimeHoweverTheSamplesCutIt)
{
    for (const char* name : {"h264-aac", "h264i-eac3"}) {
        SCOPED_TRACE(name);
        const std::string video = testing_support::ReadFileBytes(testing_support::VectorPath(std::string("wtv\\") + name + ".h264"));
        std::vector<int64_t> times; // 90 kHz, decode order, as the recording gives them
        std::istringstream lines(testing_support::ReadFileBytes(testing_support::VectorPath(std::string("wtv\\") + name + ".v.times")));
        for (std::string line; std::getline(lines, line);)
            times.push_back(std::atoll(line.c_str()) * 9 / 1000);
        const std::vector<Unit> units = AccessUnits(video);
        ASSERT_EQ(times.size(), units.size());
        // The clock jumps back 20 s at an IDR picture two thirds in, whose time the unit's first
        // sample has, apart from its slices in the split cut.
        size_t jump = units.size() * 2 / 3;
        while (jump < units.size() && (video[units[jump].slice + 3] & 0x1F) != 5)
            ++jump;
        ASSERT_LT(jump, units.size());
        for (size_t i = jump; i < units.size(); ++i)
            times[i] -= 20 * 90000;

        std::string outputs[2];
        for (int run = 0; run < 4; ++run) {
            // Pairs sent, or none (the caption file's own reading of the video), each with both cuts.
            const bool insert = run < 2, split = run % 2 == 1;
            SCOPED_TRACE(std::string(insert ? "pairs sent" : "no pairs") + (split ? ", split" : ", whole"));
            CCollectingVideo out;
            CToldTimes told;
            captions::CCaptionInserter inserter(out, &told);
            inserter.Reset(insert, true);
            const auto push = [&](size_t from, size_t to, int64_t time) {
                if (to > from) {
                    ASSERT_TRUE(inserter.PushVideo(reinterpret_cast<const uint8_t*>(video.data() + from), to - from, time));
                }
            };
            for (size_t i = 0; i < units.size(); ++i) {
                const size_t end = i + 1 < units.size() ? units[i + 1].start : video.size();
                const size_t begin = i == 0 ? 0 : units[i].start;
                if (split && units[i].slice > begin) {
                    // The unit's parameter sets and SEI with its time, its slices without one.
                    push(begin, units[i].slice, times[i]);
                    push(units[i].slice, end, mpeg::NoTimestamp);
                } else {
                    push(begin, end, times[i]);
                }
                const uint8_t pair[] = {static_cast<uint8_t>(0xC1 + i / 26), static_cast<uint8_t>(0xC1 + i % 26)};
                if (insert) {
                    ASSERT_TRUE(inserter.PushPairs(pair, 2, times[i]));
                }
            }
            ASSERT_TRUE(inserter.EndCaptions());
            ASSERT_TRUE(inserter.EndVideo());
            EXPECT_TRUE(times == told.times);
            if (!insert) {
                EXPECT_TRUE(out.bytes == video);
                continue;
            }
            EXPECT_TRUE(ps_check::WithoutCaptionUserData(out.bytes) == video);
            // Each unit's own pair, in the order the units came.
            const std::vector<std::string> pairs = CarriedPairs(out.bytes);
            ASSERT_EQ(units.size(), pairs.size());
            for (size_t i = 0; i < units.size(); ++i)
                EXPECT_EQ(std::string({static_cast<char>(0xC1 + i / 26), static_cast<char>(0xC1 + i % 26)}), pairs[i]) << "picture " << i;
            outputs[run] = out.bytes;
        }
        EXPECT_TRUE(outputs[0] == outputs[1]);
    }
}

// An encoder's own SEI message may come first and be long, and any payload may hold bytes that
// take emulation prevention: the caption message after it is read all the same.
TEST(CaptionInserterTest, SeiCaptionsAreReadPastALongMessageAndEscapedBytes)
{
    std::string rbsp;
    rbsp += '\x05'; // user_data_unregistered: 16 bytes of UUID, then the encoder's text
    const size_t notes = 6000;
    rbsp.append(notes / 255, '\xFF');
    rbsp += static_cast<char>(notes % 255);
    for (size_t i = 0; i < notes; ++i)
        rbsp += static_cast<char>(i % 3 == 2 ? 1 : 0); // 00 00 01 throughout
    const std::string captions("\xB5\x00\x31GA94\x03\x42\xFF\xFC\x00\x00\xFC\x94\x2C\xFF", 17); // two pairs, one of zeros
    rbsp += '\x04';
    rbsp += static_cast<char>(captions.size());
    rbsp += captions;
    rbsp += '\x80';
    std::string nal("\x06", 1);
    int zeros = 0;
    for (const char byte : rbsp) {
        if (zeros >= 2 && static_cast<uint8_t>(byte) <= 3) {
            nal += '\x03';
            zeros = 0;
        }
        nal += byte;
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    captions::BytePair pairs[4] = {};
    size_t found = 0;
    ASSERT_TRUE(captions::ReadSeiCaptionPairs(reinterpret_cast<const uint8_t*>(nal.data()), nal.size(), pairs, 4, found));
    ASSERT_EQ(2u, found);
    EXPECT_EQ(0x00, pairs[0].first);
    EXPECT_EQ(0x00, pairs[0].second);
    EXPECT_EQ(0x94, pairs[1].first);
    EXPECT_EQ(0x2C, pairs[1].second);
    // Cut inside the caption message, the unit carries none that can be read.
    EXPECT_FALSE(captions::ReadSeiCaptionPairs(reinterpret_cast<const uint8_t*>(nal.data()), nal.size() - 6, pairs, 4, found));
}
