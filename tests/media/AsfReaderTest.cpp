// The ASF reader on its own: recordings made by the test-side writer, whole and damaged; the
// objects out must be the frames written, with their times. (ffmpeg's plain ASF is the end-to-end test's.)

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "base/MediaErrors.h"
#include "media/RecordingMetadata.h"
#include "media/asf/AsfReader.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test_recordings;
using testing_support::VectorPath;

// Each object the reader gives must be the next one of its stream that the writer wrote (frames, not
// the tails and zero objects it must drop), with the writer's time: exact where rtStart was written,
// else to the millisecond of the presentation time.
class MatchingSink : public asf::IObjectSink {
public:
    MatchingSink(const WrittenRecording& written, const RecordingOptions& options) : written_(written), options_(options) {}

    bool OnObject(const asf::MediaObject& object) override
    {
        const std::string bytes(reinterpret_cast<const char*>(object.data), object.size);
        const std::vector<WrittenObject>& objects = written_.objects;
        size_t& i = next_[object.stream & 0x7F];
        while (i < objects.size() && (objects[i].stream != object.stream || !objects[i].frameStart || objects[i].bytes != bytes))
            ++i;
        if (i == objects.size()) {
            ADD_FAILURE() << "an object of stream " << object.stream << " that was not written";
            return false;
        }
        if (objects[i].kind != Kind::Captions) {
            EXPECT_NEAR(objects[i].time, object.time, objects[i].rtStart != -1 ? 0 : 10000);
        }
        // After a skipped packet of noise each stream's next object says data was lost before it.
        for (unsigned p = after_[object.stream & 0x7F]; options_.garbageEvery && p < objects[i].firstPacket; ++p)
            EXPECT_TRUE(object.discontinuity || (p + 1) % options_.garbageEvery != 0) << "object " << i;
        after_[object.stream & 0x7F] = objects[i].lastPacket + 1;
        delivered.insert(i++);
        return true;
    }

    std::set<size_t> delivered;

private:
    const WrittenRecording& written_;
    const RecordingOptions& options_;
    size_t next_[128] = {};
    unsigned after_[128] = {}; // the packet after the last one of the stream's last object
};

struct Case {
    const char* name;
    std::function<void(RecordingOptions&)> set;
    HRESULT open = S_OK;
    std::function<void(std::string& file, const WrittenRecording& written)> mutate = nullptr;
};

// A 64-bit field of the header: of its first child (at 30), or of the File Properties after it.
std::function<void(std::string&, const WrittenRecording&)> Patch(size_t at, uint64_t value)
{
    return [=](std::string& f, const WrittenRecording&) {
        for (size_t i = 0; i < 8; ++i)
            f[at + i] = static_cast<char>(value >> (8 * i));
    };
}

class AsfReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (VectorPath("es\\video.m2v").empty())
            GTEST_SKIP() << "no test vectors";
        path_ = testing_support::MakeScratchDirectory("asf-reader") + "rec.dvr-ms";
    }

    // Writes the case's recording, opens it as a recorder holds it and reads what it holds.
    void Check(const Case& c)
    {
        SCOPED_TRACE(c.name);
        RecordingOptions options;
        options.videoPath = VectorPath("es\\video-bframes.m2v");
        options.audioPath = VectorPath("es\\audio.mp2");
        c.set(options);
        WrittenRecording written;
        std::string error;
        ASSERT_TRUE(WriteRecording(path_, options, written, error)) << error;
        uint64_t fileSize = written.fileSize;
        if (c.mutate) {
            std::string bytes = testing_support::ReadFileBytes(path_);
            c.mutate(bytes, written);
            testing_support::WriteFileBytes(path_, bytes);
            fileSize = bytes.size();
        }
        // As a recorder holds it: writing, others may only read.
        UniqueFileHandle recorder(::CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(recorder);
        asf::CReader reader;
        ASSERT_EQ(c.open, reader.Open(std::wstring(path_.begin(), path_.end()).c_str()));
        if (FAILED(c.open))
            return;
        MatchingSink sink(written, options);
        ASSERT_EQ(S_OK, reader.Read(sink));
        // Every packet the file holds is read, and nothing else: only the packets of noise are
        // skipped, not the half packet a cut leaves at the end, nor an index.
        const uint64_t cutPacket = (fileSize - written.dataOffset) / written.packetSize;
        EXPECT_EQ(std::min<uint64_t>(cutPacket, written.packetCount), reader.Counters().packets);
        EXPECT_EQ(options.garbageEvery ? written.packetCount / options.garbageEvery : 0u, reader.Counters().badPackets);
        EXPECT_EQ(options.indexAfterData ? 0 : (fileSize - written.dataOffset) % written.packetSize,
                  reader.Counters().truncatedBytes);
        // Only a file shorter than written ends in the middle of a packet or an object.
        EXPECT_EQ(fileSize < written.fileSize, reader.EndedCut());
        EXPECT_EQ(fileSize, reader.BytesDone());
        EXPECT_EQ(fileSize, reader.BytesTotal());
        // Every frame in packets that all came through must be out.
        for (size_t i = 0; i < written.objects.size(); ++i) {
            const WrittenObject& object = written.objects[i];
            bool intact = object.frameStart;
            for (unsigned p = object.firstPacket; p <= object.lastPacket && intact; ++p)
                intact = p < cutPacket && !(options.garbageEvery && (p + 1) % options.garbageEvery == 0);
            EXPECT_TRUE(!intact || sink.delivered.count(i)) << "object " << i << " in packets " << object.firstPacket
                                                            << "-" << object.lastPacket << " was lost";
        }
    }

    std::string path_;
};

// Every object of the recording that its packets carry whole comes out, whatever the recording:
// at once every unusual trait a recorder leaves (captions, small packets, a late start, a header
// still unfinished, times missing, a cut-off first picture, silent video, a cut inside an object);
// noisy packets, which are skipped; header counts, which are only claims: the packets end where the
// file or an index does, not where a count says, unless something other than a packet lies there.
// (Protection, no packets and too many noisy packets are the recording source's and the end-to-end
// test's; the rest, the fuzz test.) A bad header fails to open.
TEST_F(AsfReaderTest, GivesEveryObjectItsPacketsCarryWhole)
{
    const auto none = [](RecordingOptions&) {};
    const Case cases[] = {
        {"unusual but sound",
         [](RecordingOptions& o) {
             o.captions = true;
             o.firstTime = 36000ll * 10000000;
             o.audioDelay = -1200000;
             o.packetSize = 3000;
             o.unfinishedHeader = true;
             o.noTimeEvery = 3;
             o.leadingTailBytes = 5000;
             o.zeroObjects = 2;
         },
         S_OK,
         [](std::string& f, const WrittenRecording& w) { f.resize(w.dataOffset + 40 * w.packetSize + w.packetSize / 2); }},
        {"a few noisy packets", [](RecordingOptions& o) { o.garbageEvery = 25; }},
        {"counts short, index after the data",
         [](RecordingOptions& o) {
             o.claimedPackets = o.claimedDataPackets = 40;
             o.indexAfterData = true;
         }},
        {"cut inside the header", [](RecordingOptions& o) { o.cutAt = 300; }, HALVERN_E_BAD_HEADER},
        {"header child of size 0", none, HALVERN_E_BAD_HEADER, Patch(46, 0)},
        {"packet size 0", none, HALVERN_E_BAD_HEADER, Patch(122, 0)},
    };
    for (const Case& c : cases)
        Check(c);
}

// Cuts the file short when the first object arrives, as a user's cleanup or a full disk might.
class ShrinkingSink : public asf::IObjectSink {
public:
    ShrinkingSink(const std::string& path, uint64_t size) : path_(path), size_(size) {}

    bool OnObject(const asf::MediaObject&) override
    {
        if (!shrunk_) {
            UniqueFileHandle file(::CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(size_);
            shrunk_ = file && ::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
            EXPECT_TRUE(shrunk_);
        }
        return true;
    }

private:
    const std::string path_;
    const uint64_t size_;
    bool shrunk_ = false;
};

// A file that got shorter while it was read (here past the first read block) has lost frames that
// the reader cannot vouch for.
TEST_F(AsfReaderTest, AFileThatShrinksWhileItIsReadFails)
{
    const std::string& path = path_;
    RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.audioPath = VectorPath("es\\audio.mp2");
    options.unfinishedHeader = true; // the copies of its packets follow without a word in the header
    WrittenRecording written;
    std::string error;
    ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
    std::string bytes = testing_support::ReadFileBytes(path);
    const std::string packets = bytes.substr(static_cast<size_t>(written.dataOffset));
    while (bytes.size() < asf::CReader::BlockBytes * 3 / 2)
        bytes += packets;
    testing_support::WriteFileBytes(path, bytes);

    asf::CReader reader;
    ASSERT_EQ(S_OK, reader.Open(std::wstring(path.begin(), path.end()).c_str()));
    ShrinkingSink sink(path, bytes.size() * 3 / 4);
    EXPECT_EQ(HALVERN_E_SHRANK, reader.Read(sink));
}

} // namespace

// The metadata that names outputs, from the header's Extended Content Description: each field when
// it is there, the station's name before its call sign, dates as QWORDs or as text, a text cut at
// its bound, and a header too large to be one refused before it is read.
TEST(AsfMetadataTest, ReadsTheHeaderAlone)
{
    if (VectorPath("es\\video.m2v").empty())
        GTEST_SKIP() << "no test vectors";
    const std::string path = testing_support::MakeScratchDirectory("asf-metadata") + "rec.dvr-ms";
    const uint64_t may1 = 128856096000000000ull;          // FILETIME of 2009-05-01 00:00 UTC
    const uint64_t may4At20 = 128859408000000000ull;      // 2009-05-04 20:00 UTC
    const uint64_t ticksFrom1 = 504911232000000000ull;    // 0001-01-01 to 1601-01-01, as WM/WMRVEncodeTime counts
    const std::wstring longTitle(5000, L'x');
    struct Case {
        const char* name;
        std::vector<HeaderAttribute> attributes;
        media::RecordingMetadata expected;
        HRESULT result = S_OK;
        std::function<void(std::string&)> mutate = nullptr;
    };
    const Case cases[] = {
        {"every field",
         {{"Title", L"Nachrichten \u00FC\U0001F4FA"}, {"WM/SubTitle", L" Pilot "}, {"WM/MediaStationCallSign", L"WXYZ"},
          {"WM/MediaStationName", L"Channel 7"}, {"WM/MediaOriginalBroadcastDateTime", L"", may1},
          {"WM/WMRVEncodeTime", L"", may4At20 + ticksFrom1}},
         {L"Nachrichten \u00FC\U0001F4FA", L"Pilot", L"Channel 7", L"2009-05-01", may4At20}},
        {"none", {}, {}},
        {"call sign alone, the date as text, an empty title, a date of none",
         {{"title", L""}, {"WM/Title", L"Other"}, {"wm/mediastationcallsign", L"WXYZ"},
          {"WM/MediaOriginalBroadcastDateTime", L"2009-05-01T00:00:00Z"}, {"WM/WMRVEncodeTime", L"", 1}},
         {L"Other", L"", L"WXYZ", L"2009-05-01", 0}},
        {"a title past the bound", {{"Title", longTitle}}, {longTitle.substr(0, media::MaxTextUnits), L"", L"", L"", 0}},
        {"a header announcing more than a header may be", {{"Title", L"Show"}}, {}, HALVERN_E_BAD_HEADER,
         [](std::string& f) { f[16 + 3] = 0x7F; }},
        {"not a recording", {}, {}, HALVERN_E_NOT_RECORDING, [](std::string& f) { f.assign(100, 'x'); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingOptions options;
        options.videoPath = VectorPath("es\\video.m2v");
        options.attributes = c.attributes;
        WrittenRecording written;
        std::string error;
        ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
        if (c.mutate) {
            std::string bytes = testing_support::ReadFileBytes(path);
            c.mutate(bytes);
            testing_support::WriteFileBytes(path, bytes);
        }
        media::RecordingMetadata metadata;
        ASSERT_EQ(media::ReadRecordingMetadata(testing_support::Wide(path).c_str(), metadata), c.result);
        EXPECT_TRUE(metadata.title == c.expected.title) << testing_support::Utf8(metadata.title).substr(0, 80);
        EXPECT_TRUE(metadata.subTitle == c.expected.subTitle) << testing_support::Utf8(metadata.subTitle);
        EXPECT_TRUE(metadata.channel == c.expected.channel) << testing_support::Utf8(metadata.channel);
        EXPECT_TRUE(metadata.airDate == c.expected.airDate) << testing_support::Utf8(metadata.airDate);
        EXPECT_EQ(metadata.recordStart, c.expected.recordStart);
    }
}
