// The WTV reader on ffmpeg's WTV files, whole and edited: the objects out must be ffmpeg's own
// extraction of the streams byte for byte, with ffprobe's times; bad input ends in a clear
// failure or a clean end.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/MediaErrors.h"
#include "media/OpenRecording.h"
#include "media/RecordingMetadata.h"
#include "media/wtv/WtvReader.h"
#include "tests/media/WtvEdits.h"
#include "tests/support/TestSupport.h"

namespace {

using testing_support::VectorPath;
using namespace test_wtv;

// The media centre's protection flag's name in the file's attributes.
constexpr uint64_t Sector = 4096;
const std::string ProtectedName("W\0M\0/\0W\0M\0R\0V\0C\0o\0n\0t\0e\0n\0t\0P\0r\0o\0t\0e\0c\0t\0e\0d\0", 46);

std::vector<int64_t> Times(const std::string& path) { return testing_support::Numbers(testing_support::ReadFileBytes(path)); }

// The objects of the video and the audio stream, one after another, and their times.
class CollectingSink : public media::IObjectSink {
public:
    explicit CollectingSink(const std::vector<media::StreamFormat>& formats) : formats_(formats) {}

    bool OnObject(const media::MediaObject& object) override
    {
        const media::Codec codec = formats_[object.streamIndex].codec;
        Stream& stream = codec == media::Codec::Mpeg2Video ? video : audio;
        EXPECT_TRUE(codec != media::Codec::Unknown);
        stream.bytes.append(reinterpret_cast<const char*>(object.data), object.size);
        if (object.StartsFrame())
            stream.times.push_back(object.time);
        stream.discontinuities += object.discontinuity;
        return true;
    }

    struct Stream {
        std::string bytes;
        std::vector<int64_t> times;
        unsigned discontinuities = 0;
    } video, audio;

private:
    const std::vector<media::StreamFormat>& formats_;
};

// Collects as CollectingSink does but stops the read once it holds more than `limit` bytes, as a
// recording read as larger than its file would have it.
class BoundedSink : public CollectingSink {
public:
    BoundedSink(const std::vector<media::StreamFormat>& formats, uint64_t limit) : CollectingSink(formats), limit_(limit) {}

    bool OnObject(const media::MediaObject& object) override
    {
        CollectingSink::OnObject(object);
        return Bytes() <= limit_;
    }
    uint64_t Bytes() const { return video.bytes.size() + audio.bytes.size(); }

private:
    uint64_t limit_;
};

// What a case expects once the file opened.
enum class Delivery {
    All,        // every object byte for byte with its time
    BeforeCut,  // the objects wholly before the cut, none after
    AllButOne,  // one video object lost to damage, the rest whole
    Unchecked,  // whatever the damage left (the read result is checked)
};

// A case's change to the file, and where to cut it.
using Edit = std::function<void(std::string& file, const Layout& layout)>;
using Offset = std::function<uint64_t(const std::string& file, const Layout& layout)>;

Edit Put(const Offset& at, uint32_t value)
{
    return [at, value](std::string& f, const Layout& l) {
        const uint64_t where = at(f, l);
        EXPECT_LE(where + 4, f.size()) << "the field to change is not in the file";
        if (where + 4 <= f.size())
            PutU32(f, where, value);
    };
}

// The n-th data chunk of the video.
const Chunk& VideoChunk(const Layout& l, size_t n)
{
    for (const Chunk& c : l.chunks)
        if (c.data && c.stream == VideoStream && n-- == 0)
            return c;
    return l.chunks.back();
}

struct Case {
    const char* name;
    const char* vector;
    bool recorderLayout; // directory and table moved to the front first
    Edit edit;
    Offset cut = nullptr;
    HRESULT open = S_OK;
    Delivery delivery = Delivery::All;
    HRESULT read = S_OK;
    const char* audioLanguage = ""; // what the reader names the audio's language
};
using F = const std::string&;
using L = const Layout&;
const char *Mp2 = "mpeg2-mp2", *Ac3 = "mpeg2-ac3";

class WtvReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (VectorPath("wtv\\mpeg2-mp2.wtv").empty())
            GTEST_SKIP() << "no test vectors";
        directory_ = testing_support::MakeScratchDirectory("wtv-reader");
    }

    void Check(std::initializer_list<Case> cases)
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            CheckOne(c);
        }
    }

    void CheckOne(const Case& c)
    {
        const std::string base = VectorPath(std::string("wtv\\") + c.vector);
        std::string file = testing_support::ReadFileBytes(base + ".wtv"), error;
        if (c.recorderLayout) {
            ASSERT_TRUE(MoveDirectoryToFront(file, error)) << error;
        }
        Layout layout;
        ASSERT_TRUE(ReadLayout(file, layout, error)) << error;
        if (c.edit)
            c.edit(file, layout);
        const uint64_t cut = c.cut ? c.cut(file, layout) : file.size();
        file.resize(cut);
        const std::string path = directory_ + "rec.dvr-ms";
        testing_support::WriteFileBytes(path, file);

        // Chosen by content whatever the name, as the source chooses.
        std::unique_ptr<media::IRecordingReader> reader;
        ASSERT_EQ(c.open, media::OpenRecording(std::wstring(path.begin(), path.end()).c_str(), reader));
        if (FAILED(c.open))
            return;
        ASSERT_TRUE(dynamic_cast<wtv::CReader*>(reader.get()));
        const auto& formats = reader->Formats();
        const bool ac3 = std::string(c.vector).find("ac3") != std::string::npos;
        const auto streams = [&](media::Codec codec) {
            return std::count_if(formats.begin(), formats.end(), [&](const media::StreamFormat& f) { return f.codec == codec; });
        };
        ASSERT_EQ(1, streams(media::Codec::Mpeg2Video));
        ASSERT_EQ(1, streams(ac3 ? media::Codec::Ac3 : media::Codec::MpegAudio));
        for (const media::StreamFormat& f : formats) {
            const bool audio = f.codec == media::Codec::Ac3 || f.codec == media::Codec::MpegAudio;
            EXPECT_EQ(audio ? c.audioLanguage : "", std::string(f.language, strnlen(f.language, 3)));
        }

        CollectingSink sink(formats);
        EXPECT_EQ(c.read, reader->Read(sink));
        if (FAILED(c.read))
            return;
        EXPECT_EQ(file.size(), reader->BytesDone());
        EXPECT_EQ(file.size(), reader->BytesTotal());
        const std::string videoEs = testing_support::ReadFileBytes(base + ".m2v");
        const std::string audioEs = testing_support::ReadFileBytes(base + (ac3 ? ".ac3" : ".mp2"));
        const std::vector<int64_t> videoTimes = Times(base + ".v.times"), audioTimes = Times(base + ".a.times");
        switch (c.delivery) {
        case Delivery::All:
            EXPECT_FALSE(reader->EndedCut());
            EXPECT_TRUE(sink.video.bytes == videoEs) << "the video differs from ffmpeg's extraction";
            EXPECT_TRUE(sink.audio.bytes == audioEs) << "the audio differs from ffmpeg's extraction";
            EXPECT_EQ(videoTimes, sink.video.times);
            EXPECT_EQ(audioTimes, sink.audio.times);
            EXPECT_EQ(1u, sink.video.discontinuities);
            EXPECT_GT(reader->Duration(), 25000000);
            EXPECT_LT(reader->Duration(), 35000000);
            break;
        case Delivery::BeforeCut: {
            size_t video = 0, audio = 0;
            bool inside = false; // the cut went through a chunk
            for (const Chunk& chunk : layout.chunks) {
                if (chunk.data && chunk.at + chunk.size <= cut)
                    ++(chunk.stream == VideoStream ? video : audio);
                inside = inside || (chunk.at < cut && cut < chunk.at + chunk.size);
            }
            EXPECT_EQ(video, sink.video.times.size());
            EXPECT_EQ(audio, sink.audio.times.size());
            EXPECT_EQ(0u, videoEs.compare(0, sink.video.bytes.size(), sink.video.bytes));
            EXPECT_EQ(0u, audioEs.compare(0, sink.audio.bytes.size(), sink.audio.bytes));
            EXPECT_EQ(inside, static_cast<wtv::CReader*>(reader.get())->Counters().truncatedBytes > 0);
            EXPECT_EQ(inside, reader->EndedCut()) << "a recording cut inside a chunk says so";
            break;
        }
        case Delivery::AllButOne:
            EXPECT_EQ(videoTimes.size() - 1, sink.video.times.size());
            EXPECT_TRUE(sink.audio.bytes == audioEs);
            EXPECT_EQ(2u, sink.video.discontinuities) << "the object after the damage says data was lost";
            break;
        case Delivery::Unchecked:
            break;
        }
    }

    std::string directory_;
};

// ffmpeg's streams come out whole from a sound recording however a recorder lays it out; a bad
// header fails to open; a cut recording ends at its last whole chunk; damage costs only what it
// hits; protected recordings and H.264 without start codes are refused.
TEST_F(WtvReaderTest, EachRecordingGivesWhatItsCaseSays)
{
    Check({
        {"a recorder's layout", Ac3, true, nullptr},
        // A recorder names a stream's language in an event before its data (ffmpeg writes none).
        {"a language event", Mp2, false, [](std::string& f, L l) { ASSERT_TRUE(NameLanguage(f, l, VideoStream + 1, "Deu")); },
         nullptr, S_OK, Delivery::All, S_OK, "deu"},
        // As a recorder interleaves other tables' sectors with the timeline's: read through the
        // table, nothing changes (here sectors 20 and 21 trade places in the file and the table).
        {"timeline sectors out of the file's order", Mp2, true,
         [](std::string& f, L l) {
             const uint32_t first = GetU32(f, l.tableAt + 80), second = GetU32(f, l.tableAt + 84);
             const std::string moved = f.substr(first * Sector, Sector);
             f.replace(first * Sector, Sector, f, second * Sector, Sector);
             f.replace(second * Sector, Sector, moved);
             PutU32(f, l.tableAt + 80, second);
             PutU32(f, l.tableAt + 84, first);
         }},
        // A recorder need not put a stream's data right after its timestamp: the time is the next
        // data chunk's of the same stream (here a video chunk moved past an audio pair).
        {"a timestamp apart from its data", Mp2, false,
         [](std::string& f, L l) {
             for (size_t i = 10; i + 2 < l.chunks.size(); ++i) {
                 const Chunk &video = l.chunks[i], &time = l.chunks[i + 1], &audio = l.chunks[i + 2];
                 if (video.data && video.stream == VideoStream && time.timestamp && audio.data && audio.stream != VideoStream) {
                     const uint64_t end = audio.at + ((audio.size + 7) & ~7u);
                     std::rotate(f.begin() + video.at, f.begin() + time.at, f.begin() + end);
                     break;
                 }
             }
         }},
        // The directory's length of the timeline is a claim: short, the chunks after it are read all the same.
        {"timeline length short", Ac3, false,
         [](std::string& f, L l) {
             PutU32(f, l.timelineEntryAt + 24, static_cast<uint32_t>(l.timelineLength / 4));
         }},
        {"cut inside the magic", Mp2, false, nullptr, [](F, L) { return 10; }, HALVERN_E_NOT_RECORDING},
        {"cut inside the directory", Mp2, false, nullptr, [](F, L l) { return l.rootAt + 100; }, HALVERN_E_BAD_HEADER},
        {"directory of absurd size", Mp2, false, Put([](F, L) { return 0x30; }, 0xFFFFFFF0), nullptr,
         HALVERN_E_BAD_HEADER},
        {"directory entry of size 0", Mp2, false, Put([](F, L l) { return l.rootAt + 16; }, 0), nullptr,
         HALVERN_E_BAD_HEADER},
        {"cut at a chunk's end", Mp2, true, nullptr,
         [](F, L l) { return VideoChunk(l, 40).at + ((VideoChunk(l, 40).size + 7) & ~7u); }, S_OK, Delivery::BeforeCut},
        {"cut inside a chunk", Ac3, true, nullptr, [](F, L l) { return VideoChunk(l, 30).at + 200; }, S_OK,
         Delivery::BeforeCut},
        {"chunk of size 0", Ac3, false, Put([](F, L l) { return VideoChunk(l, 20).at + 16; }, 0), nullptr, S_OK,
         Delivery::AllButOne},
        {"random bytes over half the timeline", Mp2, false,
         [](std::string& f, L l) {
             uint32_t state = 12345;
             for (uint64_t at = VideoChunk(l, 10).at; at < l.timelineAt + l.timelineLength * 3 / 4; ++at) {
                 state = state * 1103515245u + 12345u;
                 f[at] = static_cast<char>(state >> 16);
             }
         },
         nullptr, S_OK, Delivery::Unchecked, HALVERN_E_DAMAGED},
        // The media centre's flag (a BOOL; ffmpeg's text of the same name is not it), a protection
        // chunk on the video, or a payload with no sync word in it.
        {"protection flag", "marked", false, Put([](F f, L) { return f.find(ProtectedName) - 8; }, 3), nullptr,
         HALVERN_E_PROTECTED},
        {"protection flag as text", "marked", false, nullptr, nullptr, S_OK, Delivery::Unchecked},
        {"protection chunk", Mp2, false, MarkProtected, nullptr, HALVERN_E_PROTECTED},
        {"encrypted payload", Ac3, false, Scramble, nullptr, HALVERN_E_PROTECTED},
        // H.264 declared with length prefixes (AVC1) is not read: the subtype GUID's FourCC renamed
        // wherever the stream is described.
        {"H.264 without start codes", "h264-ac3", false,
         [](std::string& f, L) {
             const std::string h264("H264\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 16);
             size_t renamed = 0;
             for (size_t at = f.find(h264); at != std::string::npos; at = f.find(h264, at + 4), ++renamed)
                 f.replace(at, 4, "AVC1");
             ASSERT_GT(renamed, 0u);
         },
         nullptr, HALVERN_E_AVC1_VIDEO},
    });
}

using Sectors = const std::vector<uint32_t>&; // the timeline's sectors as ffmpeg lists them
struct TableCase {
    const char* name;
    std::function<void(std::string& file, const Layout& layout, Sectors run)> edit;
};

std::vector<uint32_t> With(Sectors run, std::vector<uint32_t> more)
{
    more.insert(more.begin(), run.begin(), run.end());
    return more;
}
uint32_t TableSector(L l) { return static_cast<uint32_t>(l.tableAt / Sector); }

// The open gives `open`; a recording that opens is read whole. Never is more handed over than the file holds.
void CheckTables(const std::string& directory, std::initializer_list<TableCase> cases, HRESULT open)
{
    const std::string base = VectorPath("wtv\\mpeg2-mp2");
    const std::string videoEs = testing_support::ReadFileBytes(base + ".m2v");
    const std::string audioEs = testing_support::ReadFileBytes(base + ".mp2");
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = testing_support::ReadFileBytes(base + ".wtv"), error;
        Layout layout;
        ASSERT_TRUE(ReadLayout(file, layout, error)) << error;
        c.edit(file, layout, TimelineTable(file, layout));
        const std::string path = directory + "rec.wtv";
        testing_support::WriteFileBytes(path, file);
        std::unique_ptr<media::IRecordingReader> reader;
        EXPECT_EQ(open, media::OpenRecording(std::wstring(path.begin(), path.end()).c_str(), reader));
        if (!reader)
            continue;
        BoundedSink sink(reader->Formats(), file.size());
        const HRESULT read = reader->Read(sink);
        EXPECT_LE(sink.Bytes(), file.size()) << "more handed over than the file holds";
        if (FAILED(open))
            continue;
        EXPECT_EQ(S_OK, read);
        EXPECT_TRUE(sink.video.bytes == videoEs) << "the video differs from ffmpeg's extraction";
        EXPECT_TRUE(sink.audio.bytes == audioEs) << "the audio differs from ffmpeg's extraction";
    }
}

// Allocation tables that list a sector again, share one with the rest of the file system, or list
// one far past the file's end: a few sectors would read as a recording of any size.
TEST_F(WtvReaderTest, TablesThatLoopOrReachFarPastTheEndFail)
{
    CheckTables(directory_, {
        {"one sector listed again and again",
         [](std::string& f, L l, Sectors run) {
             ListTimeline(f, l, With(run, std::vector<uint32_t>(Sector / 4 - run.size(), run[10])));
         }},
        {"the timeline's run listed again and again",
         [](std::string& f, L l, Sectors run) {
             std::vector<uint32_t> sectors;
             while (sectors.size() + run.size() <= Sector / 4)
                 sectors = With(sectors, run);
             ListTimeline(f, l, sectors);
         }},
        {"a table of tables listing the timeline's table again and again",
         [](std::string& f, L l, Sectors run) {
             PlaceTimeline(f, l, AppendTable(f, std::vector<uint32_t>(Sector / 4, TableSector(l))), 2);
             ClaimTimelineLength(f, l, Sector / 4 * run.size() * Sector);
         }},
        {"two tables of the timeline overlapping",
         [](std::string& f, L l, Sectors run) {
             const uint32_t second = AppendTable(f, std::vector<uint32_t>(run.begin() + run.size() / 2, run.end()));
             PlaceTimeline(f, l, AppendTable(f, {TableSector(l), second}), 2);
             ClaimTimelineLength(f, l, (run.size() + run.size() - run.size() / 2) * Sector);
         }},
        {"another virtual file in a sector of the timeline",
         [](std::string& f, L l, Sectors run) { PutU32(f, FirstSectorField(f, l, "table.0.entries.time"), run[20]); }},
        {"the root directory's sector in the timeline",
         [](std::string& f, L l, Sectors run) { ListTimeline(f, l, With(run, {static_cast<uint32_t>(l.rootAt / Sector)})); }},
        {"the timeline's table in the timeline",
         [](std::string& f, L l, Sectors run) { ListTimeline(f, l, With(run, {TableSector(l)})); }},
        {"a sector 4 GiB past the file's end", [](std::string& f, L l, Sectors run) { ListTimeline(f, l, With(run, {1u << 20})); }},
    }, HALVERN_E_BAD_HEADER);
}

// Sectors listed past the end by a recording still being written, or by one cut short with its
// tables whole, are read up to the end, as is a timeline listed through a table of tables.
TEST_F(WtvReaderTest, SectorsListedPastTheEndAreReadUpToIt)
{
    CheckTables(directory_, {
        {"the timeline through a table of tables",
         [](std::string& f, L l, Sectors) { PlaceTimeline(f, l, AppendTable(f, {TableSector(l)}), 2); }},
        // As a 200 MB recording whose first half megabyte is left, its tables whole: every sector
        // after it lies past the end.
        {"a recording cut far short of its end",
         [](std::string& f, L l, Sectors run) {
             constexpr uint32_t More = 49;
             const uint32_t after = static_cast<uint32_t>(f.size() / Sector) + More + 1;
             std::vector<uint32_t> tables = {TableSector(l)};
             for (uint32_t i = 0; i < More; ++i) {
                 std::vector<uint32_t> sectors(Sector / 4);
                 for (uint32_t j = 0; j < sectors.size(); ++j)
                     sectors[j] = after + i * (Sector / 4) + j;
                 tables.push_back(AppendTable(f, sectors));
             }
             PlaceTimeline(f, l, AppendTable(f, tables), 2);
             ClaimTimelineLength(f, l, (run.size() + More * Sector / 4) * Sector);
         }},
        {"sectors listed just past the end, not yet written",
         [](std::string& f, L l, Sectors run) {
             std::vector<uint32_t> unwritten;
             for (uint32_t i = 0; i < 16; ++i)
                 unwritten.push_back(static_cast<uint32_t>(f.size() / Sector) + i);
             ListTimeline(f, l, With(run, unwritten));
         }},
    }, S_OK);
}

} // namespace

// The metadata that names outputs, from the attribute table: ffmpeg's text attributes, and none
// from a file without them.
TEST(WtvMetadataTest, ReadsTheAttributeTable)
{
    if (VectorPath("wtv\\titled.wtv").empty())
        GTEST_SKIP() << "no test vectors";
    media::RecordingMetadata metadata;
    ASSERT_HRESULT_SUCCEEDED(media::ReadRecordingMetadata(testing_support::Wide(VectorPath("wtv\\titled.wtv")).c_str(), metadata));
    EXPECT_TRUE(metadata.title == L"Show: Part 1/2");
    EXPECT_TRUE(metadata.subTitle == L"Pilot");
    EXPECT_TRUE(metadata.channel == L"WXYZ");
    EXPECT_TRUE(metadata.airDate == L"2009-05-01");
    ASSERT_HRESULT_SUCCEEDED(media::ReadRecordingMetadata(testing_support::Wide(VectorPath("wtv\\mpeg2-mp2.wtv")).c_str(), metadata));
    EXPECT_TRUE(metadata.title.empty() && metadata.subTitle.empty() && metadata.channel.empty() && metadata.airDate.empty());
}
