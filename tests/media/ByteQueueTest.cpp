// The multiplexer's queue of a stream's bytes: room lent after the last byte is taken in place,
// nothing is written into a block while a borrower holds it, and moving and growing keep every
// byte at its stream offset.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "media/mpeg/ByteQueue.h"

using namespace mpeg;

namespace {

// The byte at each stream offset, so that any byte out of place shows.
uint8_t At(uint64_t offset) { return static_cast<uint8_t>(offset * 7 + offset / 251); }

void Fill(uint8_t* to, uint64_t from, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        to[i] = At(from + i);
}

// Whether the queued bytes are those of their stream offsets.
testing::AssertionResult Intact(const CByteQueue& queue)
{
    for (size_t i = 0; i < queue.Queued(); ++i) {
        if (queue.Data()[i] != At(queue.ReadPosition() + i))
            return testing::AssertionFailure() << "byte at stream offset " << queue.ReadPosition() + i;
    }
    return testing::AssertionSuccess();
}

void Append(CByteQueue& queue, size_t size)
{
    std::vector<uint8_t> bytes(size);
    Fill(bytes.data(), queue.WritePosition(), size);
    const ByteRange piece{bytes.data(), size};
    queue.Append(&piece, 1);
}

// A queue of 1000 bytes, and room lent after them.
class ByteQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Append(queue_, 1000);
        ASSERT_TRUE(queue_.Lend(5000, keep_, room_));
    }
    // The borrower's next `size` bytes of the stream, put into the room and given.
    void GiveLent(size_t size)
    {
        Fill(room_, queue_.WritePosition(), size);
        const ByteRange lent{room_, size};
        queue_.Append(&lent, 1);
    }

    CByteQueue queue_;
    std::shared_ptr<void> keep_;
    uint8_t* room_ = nullptr;
};

TEST_F(ByteQueueTest, LentRoomFilledFromItsStartIsTakenInPlace)
{
    EXPECT_EQ(queue_.Data() + queue_.Queued(), room_);
    GiveLent(3000);
    EXPECT_EQ(4000u, queue_.Queued());
    EXPECT_EQ(room_, queue_.Data() + 1000) << "taken where it was put";
    EXPECT_TRUE(Intact(queue_));

    std::shared_ptr<void> other;
    uint8_t* room = nullptr;
    EXPECT_FALSE(queue_.Lend(100, other, room)) << "the first room is still borrowed";
    keep_.reset();
    EXPECT_TRUE(queue_.Lend(100, other, room));
}

// The borrower may still be writing: bytes added meanwhile go to a new block, and the borrowed
// ones, given later, are copied in after them.
TEST_F(ByteQueueTest, NothingIsWrittenIntoABorrowedBlock)
{
    const std::vector<uint8_t> written(500, 0xEE);
    std::memset(room_, 0xEE, 500);
    Append(queue_, 200);
    EXPECT_EQ(written, std::vector<uint8_t>(room_, room_ + 500));
    EXPECT_TRUE(Intact(queue_));

    GiveLent(300);
    EXPECT_EQ(1500u, queue_.Queued());
    EXPECT_TRUE(Intact(queue_));

    queue_.Clear();
    EXPECT_EQ(0u, queue_.WritePosition());
    std::memset(room_, 0xEE, 500);
    Append(queue_, 100);
    EXPECT_EQ(written, std::vector<uint8_t>(room_, room_ + 500)) << "nor after a Clear";
    EXPECT_TRUE(Intact(queue_));
}

// Bytes go out as they come in, through lent room and copies by turns, over many times the
// block's size: each stays at its offset while the front is dropped and the block grows.
TEST(ByteQueueRunTest, BytesKeepTheirOffsetsAsTheBlockIsCompactedAndGrown)
{
    CByteQueue queue;
    size_t largestQueue = 0;
    for (int round = 0; round < 400; ++round) {
        const size_t size = 1000 + static_cast<size_t>(round % 37) * 997;
        if (round % 3 == 0) {
            Append(queue, size);
        } else {
            std::shared_ptr<void> keep;
            uint8_t* room = nullptr;
            ASSERT_TRUE(queue.Lend(64 * 1024, keep, room));
            Fill(room, queue.WritePosition(), size);
            const ByteRange lent{room, size};
            queue.Append(&lent, 1);
        }
        ASSERT_TRUE(Intact(queue)) << "round " << round;
        queue.Consume(round % 2 ? size : size / 2);
        largestQueue = std::max(largestQueue, queue.Queued());
        ASSERT_GE(queue.ReadPosition(), queue.Base());
        ASSERT_TRUE(Intact(queue)) << "round " << round;
    }
    EXPECT_GT(queue.Base(), 0u) << "the front was dropped";
    EXPECT_LE(queue.Filled(), 5 * largestQueue + 64 * 1024) << "nor kept without end";
}

} // namespace
