// What the conversion's progress takes from a graph: Halvern's recording source in Wine's graph,
// into a renderer that takes every sample or stops taking them part-way.

#include "convert/ConversionProgress.h"

#include "builtin/RecordingSource.h"
#include "filters/Adopt.h"
#include "filters/BaseRenderer.h"
#include "tests/filters/GraphFixture.h"
#include "tests/media/RecordingWriter.h"

#include <atomic>
#include <cstdint>

using Microsoft::WRL::ComPtr;
using namespace test_recordings;
using testing_support::VectorPath;

namespace {

const CLSID CountingRendererClsid = {0x7c1e4b2a, 0x3f6d, 0x4e91, {0xa2, 0x58, 0x1d, 0x6b, 0x90, 0xc3, 0x47, 0xe5}};

// Counts the samples it takes; after `takes` of them it takes no more (S_FALSE), as a filter that
// wants nothing further says so.
class CCountingRenderer : public CBaseRenderer {
public:
    struct Pin : public CBaseInputPin {
        Pin(CCountingRenderer* renderer, size_t takes) : CBaseInputPin(renderer, L"In"), takes_(takes) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
        HRESULT OnReceive(IMediaSample*) override { return ++samples > takes_ ? S_FALSE : S_OK; }
        HRESULT OnEndOfStream() override
        {
            static_cast<CCountingRenderer*>(filter_)->InputEnded();
            return S_OK;
        }
        bool ReceiveMayBlock() const override { return false; }

        std::atomic<size_t> samples{0};

    private:
        const size_t takes_;
    };

    explicit CCountingRenderer(size_t takes) : CBaseRenderer(CountingRendererClsid), pin_(this, takes) { SetSeekingPin(&pin_); }
    int PinCount() override { return 1; }
    CBasePin* PinAt(int) override { return &pin_; }

    Pin pin_;
};

class ConversionProgressTest : public GraphTest {};

// A source that ended its streams is not yet one that read its whole recording: the progress tells
// the two apart from the source's own count of bytes, and its position is the share delivered.
TEST_F(ConversionProgressTest, TellsWhetherTheSourceReadItsWholeRecording)
{
    if (VectorPath("es\\video.m2v").empty())
        GTEST_SKIP() << "no test vectors";
    // Video alone, one pin; the header claims a fifth of the packets.
    RecordingOptions options;
    options.videoPath = VectorPath("es\\video.m2v");
    options.claimedPackets = options.claimedDataPackets = 10;
    options.indexAfterData = true;
    WrittenRecording written;
    std::string error;
    const std::string path = directory_ + "progress.dvr-ms";
    ASSERT_TRUE(WriteRecording(path, options, written, error)) << error;
    ASSERT_GT(written.packetCount, 4 * options.claimedPackets);
    size_t frames = 0;
    for (const WrittenObject& object : written.objects)
        frames += object.kind == Kind::Video && object.frameStart;

    const struct {
        const char* name;
        size_t takes;
        bool readToEnd;
    } cases[] = {{"every sample taken", SIZE_MAX, true}, {"no more taken after 10", 10, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IBaseFilter> source;
        ASSERT_EQ(S_OK, MakeFilter(CRecordingSource::Create, source));
        ComPtr<IFileSourceFilter> file;
        ASSERT_EQ(S_OK, source.As(&file));
        ASSERT_EQ(S_OK, file->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr));
        ComPtr<CCountingRenderer> renderer = Adopt(new CCountingRenderer(c.takes));
        ASSERT_EQ(S_OK, MakeGraph({source.Get(), renderer.Get()}));
        CRecordingSource& recordingSource = *static_cast<CRecordingSource*>(source.Get());
        ASSERT_EQ(1, recordingSource.PinCount());
        ASSERT_EQ(S_OK, graph_->ConnectDirect(recordingSource.PinAt(0), &renderer->pin_, nullptr));
        {
            ComPtr<IMediaPosition> position;
            ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(position.GetAddressOf())));
            ASSERT_EQ(S_OK, control_->Run());
            const CConversionProgress progress(graph_.Get(), position.Get());
            ASSERT_TRUE(WaitForEvent({EC_COMPLETE, EC_ERRORABORT}));
            EXPECT_EQ(S_OK, AbortError());
            EXPECT_EQ(3, progress.RangeSeconds());

            EXPECT_EQ(c.readToEnd, progress.SourceReadToEnd());
            if (c.readToEnd) {
                EXPECT_EQ(frames, renderer->pin_.samples.load()) << "every frame, past the header's claims";
                EXPECT_EQ(progress.RangeSeconds(), progress.PositionSeconds());
            } else {
                EXPECT_LT(progress.PositionSeconds(), progress.RangeSeconds());
            }
        }
        ReleaseGraph();
    }
}

} // namespace
