// Each stand-in on its own: what it offers, what it refuses, and how the multiplexer orders.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

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
        ComPtr<IUnknown> created;
        if (*standIn.classId == classId && SUCCEEDED(standIn.create(&created))) {
            EXPECT_EQ(S_OK, created.As(&filter));
        }
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

// "name in, name out" in EnumPins order.
std::string Pins(IBaseFilter* filter)
{
    std::string text;
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(S_OK, filter->EnumPins(&pins));
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_INFO info = {};
        pin->QueryPinInfo(&info);
        info.pFilter->Release();
        text += (text.empty() ? "" : ", ") + std::string(info.achName, info.achName + wcslen(info.achName))
            + (info.dir == PINDIR_INPUT ? " in" : " out");
    }
    return text;
}

void StopAndDisconnect(IBaseFilter* filter)
{
    filter->Stop();
    ComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        pin->Disconnect();
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
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

    ComPtr<IBaseFilter> LoadedSource(const StandInRecording& recording)
    {
        WriteStandInRecording(directory_ + "Show.dvr-ms", recording);
        ComPtr<IBaseFilter> source = Make(StandInSourceClsid);
        ComPtr<IFileSourceFilter> file;
        EXPECT_EQ(S_OK, source.As(&file));
        EXPECT_EQ(S_OK, file->Load(Wide(directory_ + "Show.dvr-ms").c_str(), nullptr));
        return source;
    }

    ComPtr<IBaseFilter> DumpTo(const std::string& path)
    {
        ComPtr<IBaseFilter> dump = Make(StandInDumpClsid);
        ComPtr<IFileSinkFilter> sink;
        EXPECT_EQ(S_OK, dump.As(&sink));
        EXPECT_EQ(S_OK, sink->SetFileName(Wide(path).c_str(), nullptr));
        return dump;
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    std::string directory_;
};

TEST_F(StandInFilterTest, EachFilterOffersItsOwnInterfacesAndPins)
{
    ComPtr<IBaseFilter> filters[] = {Make(StandInSourceClsid), Make(StandInDecrypterClsid), Make(StandInMuxerClsid),
                                     Make(StandInDumpClsid)};
    IBaseFilter* source = filters[0].Get();
    IBaseFilter* dump = filters[3].Get();
    const struct {
        IUnknown* object;
        const IID& iid;
        bool offered;
    } cases[] = {
        {source, IID_IFileSourceFilter, true}, {source, IID_IFileSinkFilter, false}, {source, IID_IMediaSeeking, false},
        {dump, IID_IFileSinkFilter, true}, {dump, IID_IFileSourceFilter, false}, {dump, IID_IMediaSeeking, true},
        {dump, IID_IAMFilterMiscFlags, true},
        // Only renderers answer seeking on the filter; the graph counts them by it.
        {filters[1].Get(), IID_IMediaSeeking, false}, {filters[1].Get(), IID_IAMFilterMiscFlags, false},
        {filters[1].Get(), IID_IFileSourceFilter, false}, {filters[2].Get(), IID_IMediaSeeking, false},
        {filters[2].Get(), IID_IFileSinkFilter, false},
        {PinOf(filters[1].Get(), L"Out").Get(), IID_IMediaSeeking, true},
        {PinOf(filters[2].Get(), L"Output").Get(), IID_IMediaSeeking, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].offered, Offers(cases[i].object, cases[i].iid)) << "case " << i;

    EXPECT_EQ("", Pins(source)); // none until it has read a recording
    EXPECT_EQ("In(Enc/Tag) in, Out out", Pins(filters[1].Get()));
    EXPECT_EQ("Video In in, Audio In in, Output out", Pins(filters[2].Get()));
    EXPECT_EQ("Input in", Pins(dump));
    for (ComPtr<IBaseFilter>& filter : filters)
        EXPECT_EQ(0u, filter.Reset());
}

TEST_F(StandInFilterTest, SourceLoadsOneStandInRecordingAndMakesItsPins)
{
    StandInRecording recording;
    recording.durationSeconds = 7.5;
    ComPtr<IBaseFilter> source = LoadedSource(recording);
    EXPECT_EQ("DVR Out - 1 out, DVR Out - 3 out", Pins(source.Get()));
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, PinOf(source.Get(), L"DVR Out - 3").As(&seeking));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(75000000, duration);
    seeking.Reset();
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source.As(&file));
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(S_OK, file->GetCurFile(&name, &type));
    EXPECT_EQ(Wide(directory_ + "Show.dvr-ms"), name);
    EXPECT_EQ(MEDIATYPE_Stream, type.majortype);
    ::CoTaskMemFree(name);
    EXPECT_EQ(E_UNEXPECTED, file->Load(Wide(directory_ + "Show.dvr-ms").c_str(), nullptr)); // one per filter
    file.Reset();
    EXPECT_EQ(0u, source.Reset());

    recording.hasPin3 = false;
    source = LoadedSource(recording);
    EXPECT_EQ("DVR Out - 1 out, DVR Out - 2 out", Pins(source.Get()));
    EXPECT_EQ(0u, source.Reset());

    source = Make(StandInSourceClsid);
    ASSERT_EQ(S_OK, source.As(&file));
    testing_support::WriteFileBytes(directory_ + "notes.txt", "just some text\n");
    EXPECT_EQ(E_POINTER, file->Load(nullptr, nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), file->Load(Wide(directory_ + "missing.dvr-ms").c_str(), nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), file->Load(Wide(directory_ + "no\\missing.dvr-ms").c_str(), nullptr));
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, file->Load(Wide(directory_ + "notes.txt").c_str(), nullptr));
    EXPECT_EQ("", Pins(source.Get()));
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
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), sink->SetFileName(Wide(directory_ + "no\\Show.mpg").c_str(), nullptr));
    EXPECT_EQ(E_UNEXPECTED, dump->Pause()); // without a name there is nowhere to write

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
    UniqueFileHandle alone(::CreateFileA(output.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(alone.IsValid()); // closed at stop
    sink.Reset();
    EXPECT_EQ(0u, dump.Reset());
}

// Stands upstream of the multiplexer with one video and one audio pin, and delivers exactly
// what the test says, when it says it, on the test's own thread.
class CManualSource : public CBaseFilter {
public:
    class Pin : public CBaseOutputPin {
    public:
        Pin(CManualSource* source, const wchar_t* name, const GUID& majorType) : CBaseOutputPin(source, name), majorType_(majorType) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return type.majortype == majorType_ ? S_OK : S_FALSE; }
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

TEST_F(StandInFilterTest, MuxerSendsASampleOnlyOnceTheOtherInputIsLaterOrEnded)
{
    ComPtr<CManualSource> source = Adopt(new CManualSource());
    ComPtr<IBaseFilter> muxer = Make(StandInMuxerClsid);
    const std::string output = directory_ + "muxed.mpg";
    ComPtr<IBaseFilter> dump = DumpTo(output);
    ASSERT_EQ(S_OK, source->video.Connect(PinOf(muxer.Get(), L"Video In").Get(), nullptr));
    ASSERT_EQ(S_OK, source->audio.Connect(PinOf(muxer.Get(), L"Audio In").Get(), nullptr));
    ASSERT_EQ(S_OK, PinOf(muxer.Get(), L"Output")->Connect(PinOf(dump.Get(), L"Input").Get(), nullptr));
    for (IBaseFilter* filter : {dump.Get(), muxer.Get(), static_cast<IBaseFilter*>(source.Get())})
        ASSERT_EQ(S_OK, filter->Run(0));
    const std::string header = "HALVERN STAND-IN PROGRAM STREAM\n";
    auto written = [&] {
        const std::string bytes = ReadFileBytes(output);
        return bytes.size() < header.size() ? std::string() : bytes.substr(header.size());
    };

    ASSERT_EQ(S_OK, source->video.Push(0, "v0"));
    ASSERT_EQ(S_OK, source->video.Push(400, "v1"));
    EXPECT_EQ("", written()); // audio might still bring something at 0
    ASSERT_EQ(S_OK, source->audio.Push(0, "a0"));
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0", written()); // video first on the tie; a0 is older than v1
    ASSERT_EQ(S_OK, source->audio.Push(1000, "a1"));
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1", written());
    ASSERT_EQ(S_OK, source->video.DeliverEndOfStream());
    EXPECT_EQ("PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1PACK A 1000 2\na1", written());
    ASSERT_EQ(S_OK, source->audio.DeliverEndOfStream());
    EXPECT_EQ(header + "PACK V 0 2\nv0PACK A 0 2\na0PACK V 400 2\nv1PACK A 1000 2\na1END\n", ReadFileBytes(output));

    for (IBaseFilter* filter : {static_cast<IBaseFilter*>(source.Get()), muxer.Get(), dump.Get()})
        StopAndDisconnect(filter);
    EXPECT_EQ(0u, source.Reset());
    EXPECT_EQ(0u, muxer.Reset());
    EXPECT_EQ(0u, dump.Reset());
}

} // namespace
