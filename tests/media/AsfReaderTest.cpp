// The ASF reader on its own: recordings made by the test-side writer, whole and damaged; the
// objects out must be the frames written, with their times. (ffmpeg's plain ASF goes through the
// end-to-end test, the recording source test checks the formats and times through the filter.)

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "media/MediaErrors.h"
#include "media/asf/AsfReader.h"
#include "tests/media/RecordingWriter.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace test_recordings;
using testing_support::VectorPath;

struct Got {
    unsigned stream;
    std::string bytes;
    int64_t time;
    bool discontinuity;
};

class Collect : public asf::ObjectSink {
public:
    bool OnObject(const asf::MediaObject& object) override
    {
        objects.push_back({object.stream, std::string(reinterpret_cast<const char*>(object.data), object.size),
                           object.time, object.discontinuity});
        return true;
    }
    std::vector<Got> objects;
};

unsigned StreamOf(const WrittenRecording& written, Kind kind)
{
    return kind == Kind::Video ? written.videoStream : kind == Kind::Audio ? written.audioStream : written.captionStream;
}

// Every object the reader gave is the next one of its stream that the writer wrote (frames, not
// the tails and zero objects it must drop), with the writer's time: exactly when rtStart was
// written, else to the millisecond of the presentation time. Each object that lies in packets
// none of which is `lost` must be among them.
void ExpectWrittenObjects(const WrittenRecording& written, const std::vector<Got>& got,
                          const std::function<bool(unsigned packet)>& lost, bool exactTimes = true)
{
    std::vector<size_t> next(128, 0);
    std::set<size_t> delivered;
    for (const Got& object : got) {
        size_t& i = next[object.stream];
        while (i < written.objects.size() &&
               (StreamOf(written, written.objects[i].kind) != object.stream || !written.objects[i].frameStart ||
                written.objects[i].bytes != object.bytes))
            ++i;
        ASSERT_LT(i, written.objects.size()) << "an object of stream " << object.stream << " that was not written";
        const WrittenObject& expected = written.objects[i];
        if (expected.kind != Kind::Captions) {
            if (exactTimes && expected.rtStart != -1)
                EXPECT_EQ(expected.time, object.time);
            else
                EXPECT_NEAR(expected.time, object.time, 10000);
        }
        delivered.insert(i++);
    }
    for (size_t i = 0; i < written.objects.size(); ++i) {
        const WrittenObject& object = written.objects[i];
        bool intact = object.frameStart;
        for (unsigned p = object.firstPacket; p <= object.lastPacket && intact; ++p)
            intact = !lost(p);
        if (intact) {
            EXPECT_TRUE(delivered.count(i)) << "object " << i << " in packets " << object.firstPacket << "-"
                                            << object.lastPacket << " was lost";
        }
    }
}

TEST(AsfReaderTest, GivesEveryWholeObjectAndEndsBadInputInAClearFailureOrACleanEnd)
{
    if (VectorPath("es\\video.m2v").empty())
        GTEST_SKIP() << "no test vectors";
    const std::string directory = testing_support::MakeScratchDirectory("asf-reader");
    constexpr HRESULT Clean = S_OK, Damaged = HALVERN_E_DAMAGED;
    struct Case {
        const char* name;
        std::function<void(RecordingOptions&, const WrittenRecording&)> set; // knowing the layout of the plain one
        HRESULT open;                    // S_OK when Load should succeed
        HRESULT read;
        std::function<void(std::string& file)> mutate;
    };
    const auto damage = [](Damage kind) {
        return [kind](RecordingOptions& o, const WrittenRecording&) {
            o.damage = kind;
            o.damagePacket = 20;
        };
    };
    const auto none = [](RecordingOptions&, const WrittenRecording&) {};
    // A field of the File Properties, the header's first object (at 30).
    const auto patch = [](size_t at, uint64_t value, size_t width) {
        return [=](std::string& f) {
            for (size_t i = 0; i < width; ++i)
                f[at + i] = static_cast<char>(value >> (8 * i));
        };
    };
    const Case cases[] = {
        {"captions, small packets, late start, short preroll",
         [](RecordingOptions& o, const WrittenRecording&) {
             o.captions = true;
             o.firstTime = 36000ll * 10000000;
             o.audioDelay = -1200000;
             o.packetSize = 3000;
             o.prerollMs = 500;
         },
         S_OK, Clean, nullptr},
        {"unfinished header, times missing, cut-off start, silent video",
         [](RecordingOptions& o, const WrittenRecording&) {
             o.unfinishedHeader = true;
             o.noTimeEvery = 3;
             o.leadingTailBytes = 5000;
             o.zeroObjects = 2;
         },
         S_OK, Clean, nullptr},
        {"random bytes", none, HALVERN_E_NOT_RECORDING, Clean,
         [](std::string& f) {
             uint32_t noise = 7;
             for (char& c : f)
                 c = static_cast<char>((noise = noise * 1103515245u + 12345u) >> 16);
         }},
        {"cut inside the header", [](RecordingOptions& o, const WrittenRecording&) { o.cutAt = 300; },
         HALVERN_E_BAD_HEADER, Clean, nullptr},
        {"header child of size 0", none, HALVERN_E_BAD_HEADER, Clean, patch(46, 0, 8)},
        {"header child of absurd size", none, HALVERN_E_BAD_HEADER, Clean, patch(46, 1ull << 40, 8)},
        {"packet size 0", none, HALVERN_E_BAD_HEADER, Clean, patch(122, 0, 8)},
        {"cut inside an object, header unfinished",
         [](RecordingOptions& o, const WrittenRecording& w) {
             o.unfinishedHeader = true;
             // After the first packet of the first video object that spans several.
             for (const WrittenObject& object : w.objects)
                 if (object.kind == Kind::Video && object.lastPacket > object.firstPacket + 1 && object.firstPacket > 30) {
                     o.cutAt = w.dataOffset + (object.firstPacket + 1) * uint64_t(w.packetSize);
                     break;
                 }
         },
         S_OK, Clean, nullptr},
        {"object size 2 GiB", damage(Damage::ObjectSizeHuge), S_OK, Clean, nullptr},
        {"unknown stream number", damage(Damage::UnknownStream), S_OK, Clean, nullptr},
        {"times go backwards", damage(Damage::TimesGoBack), S_OK, Clean, nullptr},
        {"extension longer than written", damage(Damage::ExtensionTooLong), S_OK, Clean, nullptr},
        {"a few noisy packets", [](RecordingOptions& o, const WrittenRecording&) { o.garbageEvery = 25; }, S_OK,
         Clean, nullptr},
        // Protection, no packets, a cut packet and packets of noise half the time are the recording
        // source's and the end-to-end test's; whatever else damage does, the fuzz test.
        {"noise from the middle on", none, S_OK, Damaged,
         [](std::string& f) {
             for (size_t i = f.size() / 2; i < f.size(); ++i)
                 f[i] = static_cast<char>(i * 7919 >> 3);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingOptions options;
        options.videoPath = VectorPath("es\\video-bframes.m2v");
        options.audioPath = VectorPath("es\\audio.mp2");
        WrittenRecording layout, written;
        std::string error, path = directory + "rec.dvr-ms";
        ASSERT_TRUE(WriteRecording(path, options, layout, error)) << error;
        c.set(options, layout);
        ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
        if (c.mutate) {
            std::string bytes = testing_support::ReadFileBytes(path);
            c.mutate(bytes);
            testing_support::WriteFileBytes(path, bytes);
        }
        // As a recorder holds it: writing, others may only read.
        UniqueFileHandle recorder(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(recorder);
        asf::Reader reader;
        ASSERT_EQ(c.open, reader.Open(std::wstring(path.begin(), path.end()).c_str()));
        if (FAILED(c.open))
            continue;
        Collect sink;
        ASSERT_EQ(c.read, reader.Read(sink));
        if (FAILED(c.read))
            continue;
        // After a skipped packet the next object of each stream says data was lost before it.
        if (reader.Counters().badPackets > 0) {
            std::set<unsigned> seen;
            unsigned marked = 0;
            for (const Got& object : sink.objects)
                marked += !seen.insert(object.stream).second && object.discontinuity ? 1 : 0;
            EXPECT_GE(marked, 2u);
        }
        const uint64_t cutPacket = options.cutAt ? (options.cutAt - written.dataOffset) / written.packetSize : UINT64_MAX;
        ExpectWrittenObjects(
            written, sink.objects,
            [&](unsigned packet) {
                return packet >= cutPacket || (options.damage != Damage::None && packet == options.damagePacket) ||
                       (options.garbageEvery && (packet + 1) % options.garbageEvery == 0);
            },
            options.damage != Damage::ExtensionTooLong);
    }
}

} // namespace
