// Each stand-in on its own: what it offers, what it refuses, and how the multiplexer orders.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <memory>

#include "filters/Adopt.h"
#include "filters/BaseFilter.h"
#include "filters/ModuleLock.h"
#include "filters/OutputPin.h"
#include "framework/ScopedWin.h"
#include "tests/standins/StandInClasses.h"
#include "tests/standins/StandIns.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using testing_support::ReadFileBytes;

namespace {

ComPtr<IBaseFilter> Make(const CLSID& classId)
{
    ComPtr<IBaseFilter> filter;
    for (const StandInClass& standIn : StandInClasses) {
        if (*standIn.classId != classId)
            continue;
        ComPtr<IUnknown> created;
        EXPECT_EQ(S_OK, standIn.create(&created));
        EXPECT_EQ(S_OK, created.As(&filter));
    }
    return filter;
}

bool Offers(IUnknown* object, REFIID iid)
{
    ComPtr<IUnknown> found;
    return SUCCEEDED(object->QueryInterface(iid, reinterpret_cast<void**>(found.GetAddressOf())));
}

ComPtr<IPin> PinOf(IBaseFilter* filter, const wchar_t* name)
{
    ComPtr<IPin> pin;
    EXPECT_EQ(S_OK, filter->FindPin(name, &pin)) << "no pin named " << std::string(name, name + wcslen(name));
    return pin;
}

std::vector<std::wstring> PinNames(IBaseFilter* filter, std::vector<PIN_DIRECTION>* directions = nullptr)
{
    std::vector<std::wstring> names;
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(S_OK, filter->EnumPins(&pins));
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info = {};
        pin->QueryPinInfo(&info);
        info.pFilter->Release();
        names.push_back(info.achName);
        if (directions)
            directions->push_back(info.dir);
    }
    return names;
}

class StandInFilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        directory_ = testing_support::MakeScratchDirectory("standin-filters");
    }

    void TearDown() override { EXPECT_EQ(moduleLocks_, ModuleLockCount()); }

    std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

    ComPtr<IBaseFilter> LoadedSource(const StandInRecording& recording)
    {
        const std::string path = directory_ + "Show.dvr-ms";
        WriteStandInRecording(path, recording);
        ComPtr<IBaseFilter> source = Make(StandInSourceClsid);
        ComPtr<IFileSourceFilter> file;
        EXPECT_EQ(S_OK, source.As(&file));
        EXPECT_EQ(S_OK, file->Load(Wide(path).c_str(), nullptr));
        return source;
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_;
};

TEST_F(StandInFilterTest, EachFilterOffersItsOwnInterfaces)
{
    ComPtr<IBaseFilter> source = Make(StandInSourceClsid);
    ComPtr<IBaseFilter> decrypter = Make(StandInDecrypterClsid);
    ComPtr<IBaseFilter> muxer = Make(StandInMuxerClsid);
    ComPtr<IBaseFilter> dump = Make(StandInDumpClsid);

    EXPECT_TRUE(Offers(source.Get(), IID_IFileSourceFilter));
    EXPECT_FALSE(Offers(source.Get(), IID_IFileSinkFilter));
    EXPECT_FALSE(Offers(source.Get(), IID_IMediaSeeking));
    EXPECT_TRUE(Offers(dump.Get(), IID_IFileSinkFilter));
    EXPECT_FALSE(Offers(dump.Get(), IID_IFileSourceFilter));
    EXPECT_TRUE(Offers(dump.Get(), IID_IMediaSeeking));
    EXPECT_TRUE(Offers(dump.Get(), IID_IAMFilterMiscFlags));
    for (IBaseFilter* middle : {decrypter.Get(), muxer.Get()}) {
        EXPECT_FALSE(Offers(middle, IID_IFileSourceFilter));
        EXPECT_FALSE(Offers(middle, IID_IFileSinkFilter));
        // Only renderers answer seeking on the filter; the graph counts them by it.
        EXPECT_FALSE(Offers(middle, IID_IMediaSeeking));
        EXPECT_FALSE(Offers(middle, IID_IAMFilterMiscFlags));
    }
    EXPECT_TRUE(Offers(PinOf(decrypter.Get(), L"Out").Get(), IID_IMediaSeeking));
    EXPECT_TRUE(Offers(PinOf(muxer.Get(), L"Output").Get(), IID_IMediaSeeking));

    const struct {
        IBaseFilter* filter;
        const CLSID* classId;
    } classes[] = {{source.Get(), &StandInSourceClsid}, {decrypter.Get(), &StandInDecrypterClsid},
                   {muxer.Get(), &StandInMuxerClsid}, {dump.Get(), &StandInDumpClsid}};
    for (const auto& entry : classes) {
        CLSID classId = GUID_NULL;
        ASSERT_EQ(S_OK, entry.filter->GetClassID(&classId));
        EXPECT_EQ(*entry.classId, classId);
    }

    std::vector<PIN_DIRECTION> directions;
    EXPECT_EQ((std::vector<std::wstring>{L"In(Enc/Tag)", L"Out"}), PinNames(decrypter.Get(), &directions));
    EXPECT_EQ((std::vector<PIN_DIRECTION>{PINDIR_INPUT, PINDIR_OUTPUT}), directions);
    directions.clear();
    EXPECT_EQ((std::vector<std::wstring>{L"Video In", L"Audio In", L"Output"}), PinNames(muxer.Get(), &directions));
    EXPECT_EQ((std::vector<PIN_DIRECTION>{PINDIR_INPUT, PINDIR_INPUT, PINDIR_OUTPUT}), directions);
    EXPECT_EQ((std::vector<std::wstring>{L"Input"}), PinNames(dump.Get()));
    // The source has no pins until it has read a recording.
    EXPECT_TRUE(PinNames(source.Get()).empty());

    for (ComPtr<IBaseFilter>* filter : {std::addressof(source), std::addressof(decrypter), std::addressof(muxer), std::addressof(dump)})
        EXPECT_EQ(0u, filter->Reset());
}

TEST_F(StandInFilterTest, SourcePinsFollowTheRecording)
{
    StandInRecording recording;
    recording.durationSeconds = 7.5;
    ComPtr<IBaseFilter> source = LoadedSource(recording);
    std::vector<PIN_DIRECTION> directions;
    EXPECT_EQ((std::vector<std::wstring>{L"DVR Out - 1", L"DVR Out - 3"}), PinNames(source.Get(), &directions));
    EXPECT_EQ((std::vector<PIN_DIRECTION>{PINDIR_OUTPUT, PINDIR_OUTPUT}), directions);

    for (const wchar_t* name : {L"DVR Out - 1", L"DVR Out - 3"}) {
        ComPtr<IMediaSeeking> seeking;
        ASSERT_EQ(S_OK, PinOf(source.Get(), name).As(&seeking));
        LONGLONG duration = 0;
        ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
        EXPECT_EQ(75000000, duration);
    }
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source.As(&file));
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(S_OK, file->GetCurFile(&name, &type));
    EXPECT_EQ(Wide(directory_ + "Show.dvr-ms"), name);
    EXPECT_EQ(MEDIATYPE_Stream, type.majortype);
    ::CoTaskMemFree(name);
    // One recording per filter: the pins are made from it.
    EXPECT_EQ(E_UNEXPECTED, file->Load(Wide(directory_ + "Show.dvr-ms").c_str(), nullptr));
    file.Reset();
    EXPECT_EQ(0u, source.Reset());

    recording.hasPin3 = false;
    source = LoadedSource(recording);
    EXPECT_EQ((std::vector<std::wstring>{L"DVR Out - 1", L"DVR Out - 2"}), PinNames(source.Get()));
    ComPtr<IPin> third;
    EXPECT_EQ(VFW_E_NOT_FOUND, source->FindPin(L"DVR Out - 3", &third));
    EXPECT_EQ(0u, source.Reset());
}

TEST_F(StandInFilterTest, SourceRefusesWhatIsNoRecording)
{
    ComPtr<IBaseFilter> source = Make(StandInSourceClsid);
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source.As(&file));
    EXPECT_EQ(E_POINTER, file->Load(nullptr, nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), file->Load(Wide(directory_ + "missing.dvr-ms").c_str(), nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
              file->Load(Wide(directory_ + "no folder\\missing.dvr-ms").c_str(), nullptr));
    testing_support::WriteFileBytes(directory_ + "notes.txt", "just some text\n");
    const HRESULT foreign = file->Load(Wide(directory_ + "notes.txt").c_str(), nullptr);
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, foreign);
    EXPECT_LT(foreign, 0);
    EXPECT_TRUE(PinNames(source.Get()).empty());
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    ASSERT_EQ(S_OK, file->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(E_POINTER, file->GetCurFile(nullptr, nullptr));
    file.Reset();
    EXPECT_EQ(0u, source.Reset());
}

TEST_F(StandInFilterTest, DumpTakesANameItCanWriteAndMakesTheFileWhenStreamingStarts)
{
    ComPtr<IBaseFilter> dump = Make(StandInDumpClsid);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dump.As(&sink));
    EXPECT_EQ(E_POINTER, sink->SetFileName(nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, sink->SetFileName(L"", nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
              sink->SetFileName(Wide(directory_ + "no folder\\Show.mpg").c_str(), nullptr));
    // Without a name there is nowhere to write.
    EXPECT_EQ(E_UNEXPECTED, dump->Pause());

    const std::string output = directory_ + "Show.mpg";
    testing_support::WriteFileBytes(output, "old content");
    ASSERT_EQ(S_OK, sink->SetFileName(Wide(output).c_str(), nullptr));
    LPOLESTR name = nullptr;
    ASSERT_EQ(S_OK, sink->GetCurFile(&name, nullptr));
    EXPECT_EQ(Wide(output), name);
    ::CoTaskMemFree(name);
    EXPECT_EQ("old content", ReadFileBytes(output)); // naming the file does not touch it

    ASSERT_EQ(S_OK, dump->Pause());
    EXPECT_EQ("", ReadFileBytes(output));
    EXPECT_EQ(VFW_E_WRONG_STATE, sink->SetFileName(Wide(output).c_str(), nullptr));
    ASSERT_EQ(S_OK, dump->Stop());
    // Closed at stop: nobody holds it any more.
    UniqueFileHandle exclusive(
        ::CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(exclusive.IsValid());
    exclusive.Reset();
    sink.Reset();
    EXPECT_EQ(0u, dump.Reset());
}

TEST_F(StandInFilterTest, DecrypterOutputCarriesWhatItsInputGets)
{
    ComPtr<IBaseFilter> source = LoadedSource(StandInRecording());
    ComPtr<IBaseFilter> decrypter = Make(StandInDecrypterClsid);
    ComPtr<IBaseFilter> dump = Make(StandInDumpClsid);
    ComPtr<IPin> out = PinOf(decrypter.Get(), L"Out");
    // Nothing to offer before the input knows what it carries.
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(PinOf(dump.Get(), L"Input").Get(), nullptr));

    ASSERT_EQ(S_OK, PinOf(source.Get(), L"DVR Out - 3")->Connect(PinOf(decrypter.Get(), L"In(Enc/Tag)").Get(), nullptr));
    ASSERT_EQ(S_OK, out->Connect(PinOf(dump.Get(), L"Input").Get(), nullptr));
    AM_MEDIA_TYPE carried = {};
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&carried));
    EXPECT_EQ(MEDIATYPE_Video, carried.majortype);
    FreeMediaTypeContent(carried);

    // Seeking on "Out" reaches the source.
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, out.As(&seeking));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(20000000, duration);
    seeking.Reset();

    for (IBaseFilter* filter : {source.Get(), decrypter.Get(), dump.Get()}) {
        ComPtr<IEnumPins> pins;
        filter->EnumPins(&pins);
        ComPtr<IPin> pin;
        while (pins->Next(1, &pin, nullptr) == S_OK)
            pin->Disconnect();
    }
    out.Reset();
    for (ComPtr<IBaseFilter>* filter : {std::addressof(source), std::addressof(decrypter), std::addressof(dump)})
        EXPECT_EQ(0u, filter->Reset());
}

TEST_F(StandInFilterTest, SourceStartsAndStopsWhereItIsSought)
{
    ComPtr<IBaseFilter> source = LoadedSource(StandInRecording());
    ComPtr<IBaseFilter> dump = Make(StandInDumpClsid);
    const std::string output = directory_ + "video.raw";
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dump.As(&sink));
    ASSERT_EQ(S_OK, sink->SetFileName(Wide(output).c_str(), nullptr));
    ComPtr<IPin> video = PinOf(source.Get(), L"DVR Out - 3");
    ASSERT_EQ(S_OK, video->Connect(PinOf(dump.Get(), L"Input").Get(), nullptr));

    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, video.As(&seeking));
    LONGLONG start = 10000000, stop = 12000000;
    ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                          AM_SEEKING_AbsolutePositioning));
    ASSERT_EQ(S_OK, dump->Run(0));
    ASSERT_EQ(S_OK, source->Run(0));
    // The writer closes its file at the end of the stream; until then it cannot be had alone.
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] {
            UniqueFileHandle alone(::CreateFileA(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
            return alone.IsValid();
        },
        5000));
    EXPECT_EQ("V 25 10000000 10400000 stand-in recording\n"
              "V 26 10400000 10800000 stand-in recording\n"
              "V 27 10800000 11200000 stand-in recording\n"
              "V 28 11200000 11600000 stand-in recording\n"
              "V 29 11600000 12000000 stand-in recording\n",
              ReadFileBytes(output));
    LONGLONG current = 0;
    ASSERT_EQ(S_OK, seeking->GetCurrentPosition(&current));
    EXPECT_EQ(12000000, current);

    source->Stop();
    dump->Stop();
    video->Disconnect();
    PinOf(dump.Get(), L"Input")->Disconnect();
    seeking.Reset();
    video.Reset();
    sink.Reset();
    EXPECT_EQ(0u, source.Reset());
    EXPECT_EQ(0u, dump.Reset());
}

// Stands upstream of the multiplexer with one video and one audio pin, and delivers exactly
// what the test says, when it says it, on the test's own thread.
class CManualSource : public CBaseFilter {
public:
    class Pin : public CBaseOutputPin {
    public:
        Pin(CManualSource* source, const wchar_t* name, const GUID& majorType)
            : CBaseOutputPin(source, name), majorType_(majorType)
        {
        }

        HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override
        {
            return type.majortype == majorType_ ? S_OK : S_FALSE;
        }

        HRESULT GetMediaType(int index, CMediaType& type) override
        {
            if (index != 0)
                return VFW_S_NO_MORE_ITEMS;
            type = CMediaType(majorType_, MEDIASUBTYPE_None);
            return S_OK;
        }

        HRESULT Push(REFERENCE_TIME start, const std::string& text)
        {
            ComPtr<IMediaSample> sample;
            HRESULT hr = GetDeliveryBuffer(&sample);
            if (FAILED(hr))
                return hr;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            std::memcpy(data, text.data(), text.size());
            sample->SetActualDataLength(static_cast<long>(text.size()));
            REFERENCE_TIME stop = start + 1;
            sample->SetTime(&start, &stop);
            return Deliver(sample.Get());
        }

    protected:
        void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override
        {
            properties.cBuffers = 1;
            properties.cbBuffer = 256;
        }

    private:
        const GUID majorType_;
    };

    CManualSource() : CBaseFilter(GUID_NULL), video(this, L"Video", MEDIATYPE_Video), audio(this, L"Audio", MEDIATYPE_Audio) {}

    int PinCount() override { return 2; }
    CBasePin* PinAt(int index) override { return index == 0 ? &video : &audio; }

    Pin video;
    Pin audio;
};

class MuxerOrderTest : public StandInFilterTest {
protected:
    void SetUp() override
    {
        StandInFilterTest::SetUp();
        source_ = Adopt(new CManualSource());
        muxer_ = Make(StandInMuxerClsid);
        dump_ = Make(StandInDumpClsid);
        output_ = directory_ + "muxed.mpg";
        ComPtr<IFileSinkFilter> sink;
        ASSERT_EQ(S_OK, dump_.As(&sink));
        ASSERT_EQ(S_OK, sink->SetFileName(Wide(output_).c_str(), nullptr));
        ASSERT_EQ(S_OK, source_->video.Connect(PinOf(muxer_.Get(), L"Video In").Get(), nullptr));
        ASSERT_EQ(S_OK, source_->audio.Connect(PinOf(muxer_.Get(), L"Audio In").Get(), nullptr));
        ASSERT_EQ(S_OK, PinOf(muxer_.Get(), L"Output")->Connect(PinOf(dump_.Get(), L"Input").Get(), nullptr));
        for (IBaseFilter* filter : {static_cast<IBaseFilter*>(dump_.Get()), muxer_.Get(),
                                    static_cast<IBaseFilter*>(source_.Get())})
            ASSERT_EQ(S_OK, filter->Run(0));
    }

    void TearDown() override
    {
        for (IBaseFilter* filter : {static_cast<IBaseFilter*>(source_.Get()), muxer_.Get(),
                                    static_cast<IBaseFilter*>(dump_.Get())}) {
            filter->Stop();
            ComPtr<IEnumPins> pins;
            filter->EnumPins(&pins);
            ComPtr<IPin> pin;
            while (pins->Next(1, &pin, nullptr) == S_OK)
                pin->Disconnect();
        }
        EXPECT_EQ(0u, source_.Reset());
        EXPECT_EQ(0u, muxer_.Reset());
        EXPECT_EQ(0u, dump_.Reset());
        StandInFilterTest::TearDown();
    }

    // What the file holds after the header.
    std::string Written()
    {
        const std::string bytes = ReadFileBytes(output_);
        const std::string header = "HALVERN STAND-IN PROGRAM STREAM\n";
        EXPECT_EQ(0u, bytes.find(header));
        return bytes.substr(std::min(bytes.size(), header.size()));
    }

    ComPtr<CManualSource> source_;
    ComPtr<IBaseFilter> muxer_;
    ComPtr<IBaseFilter> dump_;
    std::string output_;
};

TEST_F(MuxerOrderTest, ASampleWaitsUntilTheOtherInputIsLaterOrEnded)
{
    ASSERT_EQ(S_OK, source_->video.Push(0, "v0"));
    ASSERT_EQ(S_OK, source_->video.Push(400, "v1"));
    EXPECT_EQ("", Written()); // audio might still bring something at 0
    ASSERT_EQ(S_OK, source_->audio.Push(0, "a0"));
    // Video first on the tie; then a0, which is older than v1.
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0", Written());
    ASSERT_EQ(S_OK, source_->audio.Push(1000, "a1"));
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1", Written());
    ASSERT_EQ(S_OK, source_->video.DeliverEndOfStream());
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1PACK A 1000 2\na1", Written());
    ASSERT_EQ(S_OK, source_->audio.DeliverEndOfStream());
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1PACK A 1000 2\na1END\n", Written());
}

TEST_F(MuxerOrderTest, ArrivalOrderDoesNotChangeTheOutput)
{
    // All audio first, then all video: the same file as interleaved arrival would give.
    ASSERT_EQ(S_OK, source_->audio.Push(0, "a0"));
    ASSERT_EQ(S_OK, source_->audio.Push(1000, "a1"));
    ASSERT_EQ(S_OK, source_->audio.DeliverEndOfStream());
    EXPECT_EQ("", Written());
    ASSERT_EQ(S_OK, source_->video.Push(0, "v0"));
    ASSERT_EQ(S_OK, source_->video.Push(400, "v1"));
    ASSERT_EQ(S_OK, source_->video.Push(1000, "v2"));
    ASSERT_EQ(S_OK, source_->video.DeliverEndOfStream());
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1PACK V 1000 2\nv2PACK A 1000 2\na1END\n", Written());
}

} // namespace
