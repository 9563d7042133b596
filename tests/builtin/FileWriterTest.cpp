// The file writer, fed by hand: its COM face, when the file is made and how it is shared, the
// bytes it writes, and how a stopped or failing run ends.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <vector>

#include "builtin/FileWriter.h"
#include "filters/Adopt.h"
#include "filters/BaseFilter.h"
#include "filters/ModuleLock.h"
#include "filters/OutputPin.h"
#include "tests/support/TestSupport.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD MiB = 1 << 20;
const CLSID HandSourceClsid = {0x3f7b2c41, 0x9e0d, 0x4a8c, {0xb1, 0x6e, 0x52, 0x0a, 0xd4, 0x93, 0x7c, 0x21}};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The byte at a position of the written stream: no period a buffer size could hide.
BYTE PatternByte(size_t position)
{
    return static_cast<BYTE>((position * 2654435761u) >> 13);
}

// Whether anyone holds the file open: nothing can open it without sharing while the writer does.
bool FileIsClosed(const std::string& path)
{
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.IsValid();
}

// Just enough of a graph: it keeps the events, and looks at the output when told of completion,
// since whoever waits for EC_COMPLETE reads or deletes the file next.
class CEventGraph final : public IFilterGraph, public IMediaEventSink {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IFilterGraph)
            *object = static_cast<IFilterGraph*>(this);
        else if (iid == IID_IMediaEventSink)
            *object = static_cast<IMediaEventSink*>(this);
        else
            return E_NOINTERFACE;
        return S_OK;
    }
    // Lives in the fixture, longer than any filter that knows it.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
    STDMETHODIMP Notify(long code, LONG_PTR param1, LONG_PTR) override
    {
        if (code == EC_COMPLETE)
            closedAtCompletion = FileIsClosed(path);
        events.push_back({code, param1});
        return S_OK;
    }

    int Count(long code) const
    {
        int count = 0;
        for (const auto& event : events)
            count += event.first == code;
        return count;
    }

    // Filled on the test's own thread: the writer notifies from within the calls the test makes.
    std::vector<std::pair<long, LONG_PTR>> events;
    std::string path;
    bool closedAtCompletion = false;
};

// A byte-stream output pin the test drives by hand, in samples of up to `largest` bytes.
class CHandPin : public CBaseOutputPin {
public:
    CHandPin(CBaseFilter* filter, long largest) : CBaseOutputPin(filter, L"Out"), largest_(largest) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override { return type.majortype == MEDIATYPE_Stream ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int index, CMediaType& type) override
    {
        type = CMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
        return index == 0 ? S_OK : VFW_S_NO_MORE_ITEMS;
    }

protected:
    void GetBufferRequirements(ALLOCATOR_PROPERTIES& properties) override { properties = {1, largest_, 1, 0}; }

private:
    const long largest_;
};

class CHandSource : public CBaseFilter {
public:
    explicit CHandSource(long largest) : CBaseFilter(HandSourceClsid), pin_(this, largest) {}
    int PinCount() override { return 1; }
    CBasePin* PinAt(int) override { return &pin_; }
    CHandPin pin_;
};

class FileWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        ComPtr<IUnknown> made;
        ASSERT_EQ(S_OK, CFileWriter::Create(made.GetAddressOf()));
        ASSERT_EQ(S_OK, made.As(&writer_));
        ASSERT_EQ(S_OK, writer_.As(&sinkFile_));
        ASSERT_EQ(S_OK, writer_->FindPin(L"Input", &input_));
        folder_ = testing_support::MakeScratchDirectory("halvern-writer");
        path_ = folder_ + "out.mpg";
    }

    void TearDown() override
    {
        writer_->Stop();
        if (source_) {
            source_->Stop();
            source_->pin_.Disconnect();
            input_->Disconnect();
            EXPECT_EQ(0u, source_.Reset());
        }
        input_.Reset();
        sinkFile_.Reset();
        EXPECT_EQ(0u, writer_.Reset());
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    // For the next case of a table: a fresh writer, with everything of the last one checked and gone.
    void StartOver()
    {
        TearDown();
        sent_ = 0;
        graph_ = CEventGraph();
        SetUp();
    }

    // The writer in the graph, its input connected to a paused hand-driven source.
    void Connect(const std::string& path, DWORD largestSample)
    {
        source_ = Adopt(new CHandSource(static_cast<long>(largestSample)));
        graph_.path = path;
        ASSERT_EQ(S_OK, writer_->JoinFilterGraph(&graph_, L"Writer"));
        ASSERT_EQ(S_OK, source_->pin_.Connect(input_.Get(), nullptr));
        ASSERT_EQ(S_OK, sinkFile_->SetFileName(Wide(path).c_str(), nullptr));
        ASSERT_EQ(S_OK, source_->Pause());
    }

    // Hands the writer the next `length` bytes of the pattern; gives what Receive said.
    HRESULT Send(DWORD length)
    {
        ComPtr<IMediaSample> sample;
        HRESULT hr = source_->pin_.GetDeliveryBuffer(&sample);
        if (FAILED(hr))
            return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        for (DWORD i = 0; i < length; ++i)
            data[i] = PatternByte(sent_ + i);
        sample->SetActualDataLength(static_cast<long>(length));
        // Times as some multiplexers set them (byte offsets); the writer appends regardless.
        REFERENCE_TIME start = 0, stop = 1;
        sample->SetTime(&start, &stop);
        hr = source_->pin_.Deliver(sample.Get());
        if (hr == S_OK)
            sent_ += length;
        return hr;
    }

    std::string Expected() const
    {
        std::string bytes(sent_, '\0');
        for (size_t i = 0; i < sent_; ++i)
            bytes[i] = static_cast<char>(PatternByte(i));
        return bytes;
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    CEventGraph graph_;
    ComPtr<IBaseFilter> writer_;
    ComPtr<IFileSinkFilter> sinkFile_;
    ComPtr<IPin> input_;
    ComPtr<CHandSource> source_;
    std::string folder_;
    std::string path_;
    size_t sent_ = 0;
};

TEST_F(FileWriterTest, OffersAFileSinkAndMakesTheFileAtTheFirstPause)
{
    // Graph building would take a filter with IFileSourceFilter for a reader.
    ComPtr<IFileSourceFilter> reader;
    EXPECT_EQ(E_NOINTERFACE, writer_.As(&reader));
    EXPECT_EQ(E_POINTER, sinkFile_->SetFileName(nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, sinkFile_->SetFileName(L"", nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
              sinkFile_->SetFileName(Wide(folder_ + "missing\\out.mpg").c_str(), nullptr));
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    ASSERT_EQ(S_OK, sinkFile_->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);

    AM_MEDIA_TYPE stream = {};
    stream.majortype = MEDIATYPE_Stream;
    stream.subtype = MEDIASUBTYPE_MPEG2_PROGRAM;
    ASSERT_EQ(S_OK, sinkFile_->SetFileName(Wide(path_).c_str(), &stream));
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(S_OK, sinkFile_->GetCurFile(&name, &type));
    EXPECT_EQ(Wide(path_), name);
    ::CoTaskMemFree(name);
    EXPECT_EQ(MEDIASUBTYPE_MPEG2_PROGRAM, type.subtype);
    FreeMediaTypeContent(type);
    EXPECT_FALSE(testing_support::FileExists(path_));
    ASSERT_EQ(S_OK, writer_->Pause());
    EXPECT_TRUE(testing_support::FileExists(path_));
    EXPECT_EQ(VFW_E_WRONG_STATE, sinkFile_->SetFileName(L"C:\\other.mpg", nullptr));
    ASSERT_EQ(S_OK, writer_->Stop());

    // Someone else holds the output open without sharing: the next pause fails and says why.
    testing_support::WriteFileBytes(path_, "old");
    UniqueFileHandle held(::CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), writer_->Pause());
    FILTER_STATE state = State_Running;
    ASSERT_EQ(S_OK, writer_->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    held.Reset();
    EXPECT_EQ("old", testing_support::ReadFileBytes(path_));
}

TEST_F(FileWriterTest, WritesEveryByteInOrderAndClosesBeforeCompleting)
{
    // Many small samples that straddle the buffer's end, and samples larger than the buffer
    // between small ones.
    std::vector<DWORD> small;
    for (DWORD i = 0; i < 6000; ++i)
        small.push_back(1 + (i * 37) % 700);
    const std::vector<DWORD> large = {3 * MiB + 5, 100, MiB, MiB - 1, 2 * MiB + 7, 1};
    const std::vector<DWORD>* rounds[] = {&small, &large};
    for (const std::vector<DWORD>* sizes : rounds) {
        SCOPED_TRACE(sizes == &small ? "small samples" : "large samples");
        if (sizes != &small)
            StartOver();
        testing_support::WriteFileBytes(path_, std::string(8 * MiB, 'x')); // replaced, not overwritten
        Connect(path_, 4 * MiB);
        ASSERT_EQ(S_OK, writer_->Run(0));
        for (DWORD size : *sizes)
            ASSERT_EQ(S_OK, Send(size));
        // Others may read the file meanwhile, but not write it.
        UniqueFileHandle reader(::CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(reader.IsValid());
        UniqueFileHandle other(::CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(other.IsValid());
        reader.Reset();
        EXPECT_EQ(0, graph_.Count(EC_COMPLETE));
        ASSERT_EQ(S_OK, input_->EndOfStream());
        EXPECT_EQ(1, graph_.Count(EC_COMPLETE));
        EXPECT_EQ(0, graph_.Count(EC_ERRORABORT));
        EXPECT_TRUE(graph_.closedAtCompletion);
        EXPECT_TRUE(testing_support::ReadFileBytes(path_) == Expected()) << "bytes differ, " << sent_ << " sent";
    }
}

TEST_F(FileWriterTest, GathersSmallSamplesAndKeepsWhatCameWhenStopped)
{
    Connect(path_, 4096);
    ASSERT_EQ(S_OK, writer_->Run(0));
    const auto fileSize = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        EXPECT_TRUE(::GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data));
        return data.nFileSizeLow;
    };
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(S_OK, Send(4000)); // 800,000 bytes, less than the buffer
    EXPECT_EQ(0u, fileSize());
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(S_OK, Send(4000));
    EXPECT_EQ(CBufferedFileOutput::BufferSize, fileSize());

    ASSERT_EQ(S_OK, writer_->Stop());
    EXPECT_TRUE(FileIsClosed(path_));
    EXPECT_TRUE(testing_support::ReadFileBytes(path_) == Expected());
    EXPECT_EQ(0, graph_.Count(EC_COMPLETE));
    EXPECT_EQ(0, graph_.Count(EC_ERRORABORT));
    // Run again from the start: a new file, and a completion this time.
    sent_ = 0;
    ASSERT_EQ(S_OK, writer_->Run(0));
    ASSERT_EQ(S_OK, Send(10));
    ASSERT_EQ(S_OK, input_->EndOfStream());
    EXPECT_EQ(1, graph_.Count(EC_COMPLETE));
    EXPECT_TRUE(testing_support::ReadFileBytes(path_) == Expected());
}

TEST_F(FileWriterTest, AFailedWriteAbortsTheRunAndNeverCompletes)
{
    // Wine's drive Z: reaches /dev/full, whose every write fails as a full disk does.
    const struct {
        const char* name;
        DWORD sampleSize;
        bool paused; // the end of stream comes before Run
    } cases[] = {
        {"failing at the end of stream", 1000, false},
        {"failing at a write", 2 * MiB, false},
        {"failing while paused", 1000, true},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        if (&test != cases)
            StartOver();
        Connect("Z:\\dev\\full", 2 * MiB);
        ASSERT_EQ(S_OK, test.paused ? writer_->Pause() : writer_->Run(0));
        const HRESULT sent = Send(test.sampleSize);
        const HRESULT sentAfter = Send(10);
        const HRESULT ended = input_->EndOfStream();
        if (test.paused) {
            ASSERT_EQ(S_OK, writer_->Run(0));
        }
        ASSERT_EQ(1, graph_.Count(EC_ERRORABORT));
        HRESULT reported = S_OK;
        for (const auto& event : graph_.events) {
            if (event.first == EC_ERRORABORT)
                reported = static_cast<HRESULT>(event.second);
        }
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), reported);
        EXPECT_EQ(reported, FAILED(sent) ? sent : ended);
        EXPECT_EQ(0, graph_.Count(EC_COMPLETE));
        // Samples after a failed write are refused with the same failure.
        EXPECT_EQ(FAILED(sent) ? reported : S_OK, sentAfter);
    }
}

} // namespace
