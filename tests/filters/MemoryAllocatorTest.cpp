// Halvern's own allocator and its samples: the COM contract, the properties, waits and a Decommit
// that comes while samples are out.

#include "tests/filters/GraphFixture.h"

#include <cstdint>
#include <thread>

#include "filters/Adopt.h"
#include "filters/MediaType.h"
#include "filters/MemoryAllocator.h"

namespace {

using Microsoft::WRL::ComPtr;

ULONG RefCount(IUnknown* object) { object->AddRef(); return object->Release(); }

// No graph: the graph fixture's module locks alone.
class MemoryAllocatorTest : public GraphTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(GraphTest::SetUp());
        allocator_ = Adopt(new CMemoryAllocator());
    }
    // Everything given out came back, and the allocator went with its last reference.
    void TearDown() override
    {
        EXPECT_EQ(0u, allocator_.Reset());
        GraphTest::TearDown();
    }

    HRESULT Configure(ALLOCATOR_PROPERTIES request, ALLOCATOR_PROPERTIES* actual = nullptr)
    {
        ALLOCATOR_PROPERTIES ignored = {};
        return allocator_->SetProperties(&request, actual ? actual : &ignored);
    }

    // Two buffers of 100 bytes, a prefix of 5, aligned to 16: each takes 112.
    void CommitTwo()
    {
        ASSERT_EQ(S_OK, Configure({2, 100, 16, 5}));
        ASSERT_EQ(S_OK, allocator_->Commit());
    }

    ComPtr<CMemoryAllocator> allocator_;
};

// The buffer grows so that buffer and prefix fill whole alignment units: 100 + 5 up to 112.
TEST_F(MemoryAllocatorTest, PropertiesAreRoundedToTheAlignment)
{
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_SIZENOTSET, allocator_->Commit());
    EXPECT_EQ(VFW_E_BADALIGN, Configure({2, 100, 3, 0}));
    ALLOCATOR_PROPERTIES actual = {};
    ASSERT_EQ(S_OK, Configure({2, 100, 16, 5}, &actual));
    EXPECT_EQ(107, actual.cbBuffer);
    ASSERT_EQ(S_OK, allocator_->Commit());
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, Configure({2, 100, 16, 5}));
    ASSERT_EQ(S_OK, allocator_->Decommit());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(S_OK, Configure({4, 1 << 20, 1, 0})) << "decommitted with every sample back, it can be set again";
}

TEST_F(MemoryAllocatorTest, BuffersAreAlignedApartAndRunDry)
{
    CommitTwo();
    ComPtr<IMediaSample> first, second, third;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&first, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&second, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(VFW_E_TIMEOUT, allocator_->GetBuffer(&third, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(3u, RefCount(allocator_.Get())) << "each sample out holds its allocator";
    BYTE* buffers[2] = {};
    ASSERT_EQ(S_OK, first->GetPointer(&buffers[0]));
    ASSERT_EQ(S_OK, second->GetPointer(&buffers[1]));
    for (BYTE* buffer : buffers)
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(buffer) % 16);
    const intptr_t apart = buffers[1] - buffers[0];
    EXPECT_GE(apart < 0 ? -apart : apart, 112) << "each buffer has its prefix before it";
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, first->SetActualDataLength(108));
    first.Reset();
    second.Reset();
    EXPECT_EQ(1u, RefCount(allocator_.Get()));
}

TEST_F(MemoryAllocatorTest, AReturnedSampleComesBackClean)
{
    CommitTwo();
    ComPtr<IMediaSample> first, sample;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&first, nullptr, nullptr, 0));
    REFERENCE_TIME start = 400000, stop = 800000;
    ASSERT_EQ(S_OK, first->SetTime(&start, &stop));
    ASSERT_EQ(S_OK, first->SetMediaTime(&start, &stop));
    ASSERT_EQ(S_OK, first->SetSyncPoint(TRUE));
    ASSERT_EQ(S_OK, first->SetDiscontinuity(TRUE));
    ASSERT_EQ(S_OK, first->SetActualDataLength(50));
    CMediaType audio(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO);
    ASSERT_EQ(S_OK, first->SetMediaType(audio.Pointer()));
    IMediaSample* const returned = first.Get();
    EXPECT_EQ(0u, first.Reset());
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(returned, sample.Get());
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, sample->GetTime(&start, &stop));
    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, sample->GetMediaTime(&start, &stop));
    EXPECT_EQ(S_FALSE, sample->IsSyncPoint());
    EXPECT_EQ(S_FALSE, sample->IsDiscontinuity());
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(S_FALSE, sample->GetMediaType(&type));
    EXPECT_EQ(107, sample->GetActualDataLength());
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

class SingleBufferTest : public MemoryAllocatorTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(MemoryAllocatorTest::SetUp());
        ASSERT_EQ(S_OK, Configure({1, 4096, 64, 0}));
        ASSERT_EQ(S_OK, allocator_->Commit());
        ASSERT_EQ(S_OK, allocator_->GetBuffer(&held_, nullptr, nullptr, 0));
    }
    void TearDown() override
    {
        held_.Reset();
        MemoryAllocatorTest::TearDown();
    }
    // Until `count` threads wait for a buffer.
    bool Waiting(int count) { return testing_support::WaitUntil([&] { return allocator_->WaitingCount() == count; }, 10000); }

    ComPtr<IMediaSample> held_;
};

TEST_F(SingleBufferTest, AReturnedSampleWakesAWaiter)
{
    IMediaSample* const only = held_.Get();
    Waiter waiter(allocator_.Get());
    ASSERT_TRUE(Waiting(1));
    held_.Reset();
    ASSERT_EQ(S_OK, waiter.Result());
    EXPECT_EQ(only, waiter.sample.Get());
}

TEST_F(SingleBufferTest, ADecommitWakesEveryWaiter)
{
    Waiter one(allocator_.Get()), two(allocator_.Get());
    ASSERT_TRUE(Waiting(2));
    ASSERT_EQ(S_OK, allocator_->Decommit());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, one.Result());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, two.Result());
    EXPECT_EQ(nullptr, one.sample.Get());
    EXPECT_EQ(nullptr, two.sample.Get());
    EXPECT_EQ(0, allocator_->WaitingCount());
}

TEST_F(SingleBufferTest, ASampleOutKeepsItsAllocatorAfterADecommit)
{
    ASSERT_EQ(S_OK, allocator_->Decommit());
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, Configure({1, 4096, 64, 0}));
    CMemoryAllocator* const allocator = allocator_.Detach();
    EXPECT_EQ(1u, allocator->Release()) << "the sample out holds the allocator";
    EXPECT_EQ(moduleLocks_ + 1, ModuleLockCount());
    EXPECT_EQ(0u, held_.Reset());
    EXPECT_EQ(moduleLocks_, ModuleLockCount()) << "the last sample back took the allocator with it";
}

} // namespace
