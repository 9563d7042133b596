// Halvern's own allocator and its samples: the COM contract, the properties, waits and a Decommit
// that comes while samples are out.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "filters/Adopt.h"
#include "filters/MediaType.h"
#include "filters/MemoryAllocator.h"
#include "filters/ModuleLock.h"
#include "base/ScopedWin.h"
#include "tests/support/TestSupport.h"

namespace {

using Microsoft::WRL::ComPtr;

ULONG RefCount(IUnknown* object) { object->AddRef(); return object->Release(); }

class MemoryAllocatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(com_.Succeeded());
        moduleLocks_ = ModuleLockCount();
        allocator_ = Adopt(new CMemoryAllocator());
    }
    // Everything given out came back, and the allocator went with its last reference.
    void TearDown() override
    {
        EXPECT_EQ(0u, allocator_.Reset());
        EXPECT_EQ(moduleLocks_, ModuleLockCount());
    }

    HRESULT Configure(ALLOCATOR_PROPERTIES request, ALLOCATOR_PROPERTIES* actual = nullptr)
    {
        ALLOCATOR_PROPERTIES ignored = {};
        return allocator_->SetProperties(&request, actual ? actual : &ignored);
    }

    ScopedComInit com_;
    LONG moduleLocks_ = 0;
    ComPtr<CMemoryAllocator> allocator_;
};

TEST_F(MemoryAllocatorTest, KeepsTheComContractHandsOutAlignedBuffersAndSamplesCarryTheirFieldsUntilReturned)
{
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_SIZENOTSET, allocator_->Commit());
    EXPECT_EQ(VFW_E_BADALIGN, Configure({2, 100, 3, 0}));
    EXPECT_EQ(VFW_E_BADALIGN, Configure({2, 100, 0, 0}));
    // The buffer grows so that buffer and prefix fill whole alignment units: 100 + 5 up to 112.
    ALLOCATOR_PROPERTIES actual = {};
    ASSERT_EQ(S_OK, Configure({2, 100, 16, 5}, &actual));
    EXPECT_EQ(2, actual.cBuffers);
    EXPECT_EQ(107, actual.cbBuffer);
    EXPECT_EQ(16, actual.cbAlign);
    EXPECT_EQ(5, actual.cbPrefix);
    ALLOCATOR_PROPERTIES got = {};
    ASSERT_EQ(S_OK, allocator_->GetProperties(&got));
    EXPECT_EQ(0, std::memcmp(&actual, &got, sizeof(got)));
    ASSERT_EQ(S_OK, allocator_->Commit());
    EXPECT_EQ(S_OK, allocator_->Commit());
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, Configure({2, 100, 16, 5}));

    ComPtr<IMediaSample> first, second;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&first, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&second, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(VFW_E_TIMEOUT, allocator_->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(nullptr, sample.Get());
    EXPECT_EQ(3u, RefCount(allocator_.Get())) << "each sample out holds its allocator";
    EXPECT_EQ(1u, RefCount(first.Get()));
    BYTE* buffers[2] = {};
    ASSERT_EQ(S_OK, first->GetPointer(&buffers[0]));
    ASSERT_EQ(S_OK, second->GetPointer(&buffers[1]));
    for (BYTE* buffer : buffers)
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(buffer) % 16);
    const intptr_t apart = buffers[1] - buffers[0];
    EXPECT_GE(apart < 0 ? -apart : apart, 112) << "each buffer has its prefix before it";
    EXPECT_EQ(107, first->GetSize());
    EXPECT_EQ(107, first->GetActualDataLength());

    // Interfaces offered and not; null pointers refused.
    IUnknown* allocatorObject = allocator_.Get();
    const struct { IUnknown* object; const IID& iid; bool offered; } interfaces[] = {
        {allocatorObject, IID_IUnknown, true}, {allocatorObject, IID_IMemAllocator, true},
        {allocatorObject, IID_IMemAllocatorCallbackTemp, false}, {allocatorObject, IID_IMediaSample, false},
        {first.Get(), IID_IUnknown, true}, {first.Get(), IID_IMediaSample, true},
        {first.Get(), IID_IMediaSample2, false}, {first.Get(), IID_IMemAllocator, false},
    };
    for (const auto& c : interfaces) {
        ComPtr<IUnknown> found;
        EXPECT_EQ(c.offered ? S_OK : E_NOINTERFACE, c.object->QueryInterface(c.iid, reinterpret_cast<void**>(found.GetAddressOf())));
        EXPECT_EQ(c.offered, found != nullptr);
        EXPECT_EQ(E_POINTER, c.object->QueryInterface(c.iid, nullptr));
    }
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT nulls[] = {
        allocator_->SetProperties(nullptr, &actual), allocator_->SetProperties(&actual, nullptr),
        allocator_->GetProperties(nullptr), allocator_->GetBuffer(nullptr, nullptr, nullptr, 0),
        allocator_->ReleaseBuffer(nullptr), first->GetPointer(nullptr), first->GetTime(&start, nullptr),
        first->GetTime(nullptr, &stop), first->GetMediaTime(nullptr, &stop), first->GetMediaType(nullptr),
        first->SetMediaTime(&start, nullptr),
    };
    for (size_t i = 0; i < std::size(nulls); ++i)
        EXPECT_EQ(E_POINTER, nulls[i]) << i;
    EXPECT_EQ(E_UNEXPECTED, allocator_->ReleaseBuffer(first.Get())) << "a sample in use cannot be given back";

    // Fields: unset, set, cleared again.
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, first->GetTime(&start, &stop));
    REFERENCE_TIME setStart = 400000, setStop = 800000;
    ASSERT_EQ(S_OK, first->SetTime(&setStart, nullptr));
    EXPECT_EQ(VFW_S_NO_STOP_TIME, first->GetTime(&start, &stop));
    EXPECT_EQ(400000, start);
    EXPECT_EQ(400001, stop);
    ASSERT_EQ(S_OK, first->SetTime(&setStart, &setStop));
    EXPECT_EQ(S_OK, first->GetTime(&start, &stop));
    EXPECT_EQ(800000, stop);
    ASSERT_EQ(S_OK, first->SetTime(nullptr, nullptr));
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, first->GetTime(&start, &stop));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, first->GetMediaTime(&start, &stop));
    LONGLONG mediaStart = 7, mediaStop = 9;
    ASSERT_EQ(S_OK, first->SetMediaTime(&mediaStart, &mediaStop));
    EXPECT_EQ(S_OK, first->GetMediaTime(&start, &stop));
    EXPECT_EQ(7, start);
    EXPECT_EQ(9, stop);
    ASSERT_EQ(S_OK, first->SetTime(&setStart, &setStop));
    const struct { HRESULT (STDMETHODCALLTYPE IMediaSample::*get)(); HRESULT (STDMETHODCALLTYPE IMediaSample::*set)(BOOL); } flags[] = {
        {&IMediaSample::IsSyncPoint, &IMediaSample::SetSyncPoint},
        {&IMediaSample::IsPreroll, &IMediaSample::SetPreroll},
        {&IMediaSample::IsDiscontinuity, &IMediaSample::SetDiscontinuity},
    };
    for (const auto& flag : flags) {
        EXPECT_EQ(S_FALSE, (first.Get()->*flag.get)());
        ASSERT_EQ(S_OK, (first.Get()->*flag.set)(TRUE));
        EXPECT_EQ(S_OK, (first.Get()->*flag.get)());
        EXPECT_EQ(S_FALSE, (second.Get()->*flag.get)()) << "each sample has its own";
    }
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, first->SetActualDataLength(108));
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, first->SetActualDataLength(-1));
    ASSERT_EQ(S_OK, first->SetActualDataLength(50));
    EXPECT_EQ(50, first->GetActualDataLength());

    // The sample keeps a copy of a type it is given; whoever asks gets a copy of their own.
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(S_FALSE, first->GetMediaType(&type));
    EXPECT_EQ(nullptr, type);
    {
        CMediaType given(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO);
        BYTE format[24] = {1, 2, 3};
        given.Pointer()->cbFormat = sizeof(format);
        given.Pointer()->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(format)));
        std::memcpy(given.Pointer()->pbFormat, format, sizeof(format));
        ASSERT_EQ(S_OK, first->SetMediaType(given.Pointer()));
    } // the caller's copy is gone
    ASSERT_EQ(S_OK, first->GetMediaType(&type));
    ASSERT_NE(nullptr, type);
    EXPECT_EQ(MEDIASUBTYPE_MPEG2_VIDEO, type->subtype);
    ASSERT_EQ(24u, type->cbFormat);
    EXPECT_EQ(3, type->pbFormat[2]);
    DeleteMediaType(type);
    ASSERT_EQ(S_OK, first->SetMediaType(nullptr));
    EXPECT_EQ(S_FALSE, first->GetMediaType(&type));
    CMediaType audio(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO);
    ASSERT_EQ(S_OK, first->SetMediaType(audio.Pointer()));

    // A returned sample comes out again, the last one back first, with nothing of its last use.
    IMediaSample* const returned = first.Get();
    EXPECT_EQ(0u, first.Reset());
    EXPECT_EQ(2u, RefCount(allocator_.Get()));
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(returned, sample.Get());
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, sample->GetTime(&start, &stop));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, sample->GetMediaTime(&start, &stop));
    for (const auto& flag : flags)
        EXPECT_EQ(S_FALSE, (sample.Get()->*flag.get)());
    EXPECT_EQ(S_FALSE, sample->GetMediaType(&type));
    EXPECT_EQ(107, sample->GetActualDataLength());

    EXPECT_EQ(0u, sample.Reset());
    EXPECT_EQ(0u, second.Reset());
    EXPECT_EQ(1u, RefCount(allocator_.Get()));
    ASSERT_EQ(S_OK, allocator_->Decommit());
    EXPECT_EQ(S_OK, allocator_->Decommit());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(S_OK, Configure({4, 1 << 20, 1, 0})) << "decommitted with every sample back, it can be set again";
}

// Takes a buffer on a thread of its own, which waits until one is free or the allocator is decommitted.
struct Waiter {
    explicit Waiter(IMemAllocator* allocator)
        : thread([this, allocator] { result = allocator->GetBuffer(&sample, nullptr, nullptr, 0); })
    {
    }
    HRESULT Result() { thread.join(); return result; }

    ComPtr<IMediaSample> sample;
    HRESULT result = E_FAIL;
    std::thread thread;
};

TEST_F(MemoryAllocatorTest, AReturnedSampleWakesAWaiterADecommitWakesEveryWaiterAndSamplesOutliveIt)
{
    ASSERT_EQ(S_OK, Configure({1, 4096, 64, 0}));
    ASSERT_EQ(S_OK, allocator_->Commit());
    ComPtr<IMediaSample> held;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&held, nullptr, nullptr, 0));
    IMediaSample* const only = held.Get();

    {
        Waiter waiter(allocator_.Get());
        ASSERT_TRUE(testing_support::WaitUntil([&] { return allocator_->WaitingCount() == 1; }, 10000));
        held.Reset();
        ASSERT_EQ(S_OK, waiter.Result());
        EXPECT_EQ(only, waiter.sample.Get());
        held = waiter.sample;
    }
    {
        Waiter one(allocator_.Get()), two(allocator_.Get());
        ASSERT_TRUE(testing_support::WaitUntil([&] { return allocator_->WaitingCount() == 2; }, 10000));
        ASSERT_EQ(S_OK, allocator_->Decommit());
        EXPECT_EQ(VFW_E_NOT_COMMITTED, one.Result());
        EXPECT_EQ(VFW_E_NOT_COMMITTED, two.Result());
        EXPECT_EQ(nullptr, one.sample.Get());
        EXPECT_EQ(nullptr, two.sample.Get());
        EXPECT_EQ(0, allocator_->WaitingCount());
    }

    // The sample out keeps its buffer, and its allocator, after the Decommit.
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, Configure({1, 4096, 64, 0}));
    BYTE* data = nullptr;
    ASSERT_EQ(S_OK, held->GetPointer(&data));
    std::memset(data, 0x5a, 4096);
    EXPECT_EQ(0x5a, data[4095]);
    // Committed again before it came back, the allocator takes up the same buffer.
    ASSERT_EQ(S_OK, allocator_->Commit());
    ComPtr<IMediaSample> none;
    EXPECT_EQ(VFW_E_TIMEOUT, allocator_->GetBuffer(&none, nullptr, nullptr, AM_GBF_NOWAIT));
    ASSERT_EQ(S_OK, allocator_->Decommit());

    CMemoryAllocator* const allocator = allocator_.Detach();
    EXPECT_EQ(1u, allocator->Release()) << "the sample out holds the allocator";
    EXPECT_EQ(moduleLocks_ + 1, ModuleLockCount());
    EXPECT_EQ(0u, held.Reset());
    EXPECT_EQ(moduleLocks_, ModuleLockCount()) << "the last sample back took the allocator with it";
}

} // namespace
