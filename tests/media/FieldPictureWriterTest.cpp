// The generator of field-picture and pulldown streams makes what ffmpeg decodes without a word and
// reads as it was meant, and the recording writer splits it into the frames the generator made.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/media/FieldPictureWriter.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TestSupport.h"

using namespace test_recordings;

namespace {

TEST(FieldPictureWriterTest, FfmpegDecodesFieldsAndPulldownAsMeantAndTheWriterSplitsTheirFrames)
{
    const std::string directory = testing_support::MakeScratchDirectory("field-pictures");
    for (FieldCoding coding : {FieldCoding::FieldPictures, FieldCoding::Pulldown}) {
        const bool fields = coding == FieldCoding::FieldPictures;
        SCOPED_TRACE(fields ? "field pictures" : "pulldown");
        FieldPictureOptions options;
        options.coding = coding;
        options.frames = 20;
        options.frameBytes = 30000;
        const GeneratedVideo video = MakeFieldPictureStream(options);
        ASSERT_EQ(20u, video.frames.size());
        const std::string path = directory + (fields ? "fields.m2v" : "pulldown.m2v");
        testing_support::WriteFileBytes(path, video.bytes);
        const std::string file = "'" + testing_support::UnixPath(path) + "'";

        testing_support::ToolOutput decoded;
        ASSERT_TRUE(testing_support::RunLinuxTool("/usr/bin/ffmpeg -v error -i " + file + " -f null -", decoded));
        EXPECT_EQ("", decoded.err);

        // Frames in display order: interlaced, top field first (the field order), repeat_pict.
        testing_support::ToolOutput probed;
        ASSERT_TRUE(testing_support::RunLinuxTool("/usr/bin/ffprobe -v error -show_entries "
                                                  "frame=interlaced_frame,top_field_first,repeat_pict -of csv=p=0 " + file,
                                                  probed));
        EXPECT_EQ("", probed.err);
        std::vector<std::string> frames;
        std::istringstream lines(probed.out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != 's') // side data lines
                frames.push_back(line.substr(0, 5));
        const char* const pulldown[4] = {"0,1,1", "0,0,0", "0,0,1", "0,1,0"};
        ASSERT_EQ(20u, frames.size()) << probed.out;
        for (size_t d = 0; d < frames.size(); ++d)
            EXPECT_EQ(fields ? "1,1,0" : pulldown[d % 4], frames[d]) << "display frame " << d;

        // The writer's frames are the generator's, with the same display times (fields and repeats).
        std::vector<std::string> split;
        std::vector<int64_t> times;
        std::vector<size_t> seconds;
        ASSERT_TRUE(SplitVideo(video.bytes, split, &times, &seconds));
        EXPECT_EQ(video.frames, split);
        EXPECT_EQ(video.times, times);
        EXPECT_EQ(video.secondField, seconds);
    }
}

} // namespace
