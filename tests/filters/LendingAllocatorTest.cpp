// The allocator that lends the room after a pin's queued bytes: which samples are lent room and
// which come from its pool, and that a lent room is held exactly as long as its sample is out.

#include "tests/filters/GraphFixture.h"

#include <memory>

#include "filters/LendingAllocator.h"

namespace {

using Microsoft::WRL::ComPtr;

// Lends the room at the front of a block of its own, when it is willing.
class CBlockLender : public IRoomLender {
public:
    bool LendRoom(size_t size, std::shared_ptr<void>& keep, BYTE*& room) override
    {
        asked = size;
        if (!willing)
            return false;
        keep = block;
        room = block.get();
        return true;
    }
    bool Held() const { return block.use_count() > 1; }

    std::shared_ptr<BYTE[]> block{new BYTE[4096]};
    bool willing = true;
    size_t asked = 0;
};

// No graph: the graph fixture's module locks alone.
class LendingAllocatorTest : public GraphTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(GraphTest::SetUp());
        ASSERT_EQ(S_OK, CLendingAllocator::Create(&lender_, allocator_));
    }
    // Everything given out came back, and the allocator went with its last reference.
    void TearDown() override
    {
        EXPECT_EQ(0u, allocator_.Reset());
        GraphTest::TearDown();
    }

    void Commit(ALLOCATOR_PROPERTIES request)
    {
        ALLOCATOR_PROPERTIES actual = {};
        ASSERT_EQ(S_OK, allocator_->SetProperties(&request, &actual));
        ASSERT_EQ(S_OK, allocator_->Commit());
    }
    BYTE* Pointer(IMediaSample* sample)
    {
        BYTE* data = nullptr;
        EXPECT_EQ(S_OK, sample->GetPointer(&data));
        return data;
    }

    CBlockLender lender_;
    ComPtr<CLendingAllocator> allocator_;
};

TEST_F(LendingAllocatorTest, OneSampleAtATimeIsLentRoomTheOthersComeFromThePool)
{
    Commit({2, 1000, 1, 0});
    ComPtr<IMediaSample> lent, pooled;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&lent, nullptr, nullptr, 0));
    EXPECT_EQ(lender_.block.get(), Pointer(lent.Get()));
    EXPECT_EQ(1000u, lender_.asked);
    EXPECT_EQ(1000, lent->GetSize());
    EXPECT_TRUE(lender_.Held());

    lender_.asked = 0;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&pooled, nullptr, nullptr, 0));
    EXPECT_EQ(0u, lender_.asked) << "the next bytes have one place, and it is lent";
    EXPECT_NE(lender_.block.get(), Pointer(pooled.Get()));

    REFERENCE_TIME start = 0, stop = 1;
    ASSERT_EQ(S_OK, lent->SetTime(&start, &stop));
    ASSERT_EQ(S_OK, lent->SetActualDataLength(10));
    lent.Reset();
    EXPECT_FALSE(lender_.Held()) << "the room is let go of with its sample";
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&lent, nullptr, nullptr, 0));
    EXPECT_EQ(lender_.block.get(), Pointer(lent.Get()));
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, lent->GetTime(&start, &stop)) << "lent again, it comes back clean";
    EXPECT_EQ(1000, lent->GetActualDataLength());
}

TEST_F(LendingAllocatorTest, WithoutRoomToLendEverySampleIsThePools)
{
    ComPtr<IMediaSample> sample;
    lender_.willing = true;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));

    Commit({1, 1000, 16, 0});
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_NE(lender_.block.get(), Pointer(sample.Get())) << "lent room has no alignment to give";
    sample.Reset();
    ASSERT_EQ(S_OK, allocator_->Decommit());

    Commit({1, 1000, 1, 0});
    lender_.willing = false;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_NE(lender_.block.get(), Pointer(sample.Get()));
    sample.Reset();

    lender_.willing = true;
    allocator_->Detach();
    lender_.asked = 0;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(0u, lender_.asked) << "a detached lender is not asked";
    sample.Reset();

    ASSERT_EQ(S_OK, allocator_->Decommit());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator_->GetBuffer(&sample, nullptr, nullptr, 0));
}

// A lent sample still out after a Decommit holds its room and its allocator until it returns.
TEST_F(LendingAllocatorTest, ALentSampleOutlivesADecommitAndTheLastReference)
{
    Commit({1, 1000, 1, 0});
    ComPtr<IMediaSample> lent;
    ASSERT_EQ(S_OK, allocator_->GetBuffer(&lent, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, allocator_->Decommit());
    CLendingAllocator* const allocator = allocator_.Detach();
    EXPECT_EQ(1u, allocator->Release()) << "the sample's reference keeps it";
    EXPECT_TRUE(lender_.Held());
    EXPECT_EQ(0u, lent.Reset());
    EXPECT_FALSE(lender_.Held());
    ASSERT_EQ(S_OK, CLendingAllocator::Create(&lender_, allocator_)); // for TearDown
}

} // namespace
