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

TEST(ByteQueueTest, LentRoomFilledFromItsStartIsTakenInPlace)
{
    CByteQueue queue;
    Append(queue, 1000);
    std::shared_ptr<void> keep;
    uint8_t* room = nullptr;
    ASSERT_TRUE(queue.Lend(5000, keep, room));
    EXPECT_EQ(queue.Data() + queue.Queued(), room);
    Fill(room, queue.WritePosition(), 3000);
    const ByteRange lent{room, 3000};
    queue.Append(&lent, 1);
    EXPECT_EQ(4000u, queue.Queued());
    EXPECT_EQ(room, queue.Data() + 1000) << "taken where it was put";
    EXPECT_TRUE(Intact(queue));

    std::shared_ptr<void> other;
    EXPECT_FALSE(queue.Lend(100, other, room)) << "the first room is still borrowed";
    keep.reset();
    EXPECT_TRUE(queue.Lend(100, other, room));
}

// The borrower may still be writing: bytes added meanwhile go to a new block, and the borrowed
// ones, given later, are copied in after them.
TEST(ByteQueueTest, NothingIsWrittenIntoABorrowedBlock)
{
    CByteQueue queue;
    Append(queue, 1000);
    std::shared_ptr<void> keep;
    uint8_t* room = nullptr;
    ASSERT_TRUE(queue.Lend(500, keep, room));
    std::memset(room, 0xEE, 500);
    Append(queue, 200);
    EXPECT_EQ(std::vector<uint8_t>(500, 0xEE), std::vector<uint8_t>(room, room + 500));
    EXPECT_TRUE(Intact(queue));

    Fill(room, queue.WritePosition(), 300);
    const ByteRange late{room, 300};
    queue.Append(&late, 1);
    EXPECT_EQ(1500u, queue.Queued());
    EXPECT_TRUE(Intact(queue));

    queue.Clear();
    EXPECT_EQ(0u, queue.WritePosition());
    std::memset(room, 0xEE, 500);
    Append(queue, 100);
    EXPECT_EQ(std::vector<uint8_t>(500, 0xEE), std::vector<uint8_t>(room, room + 500)) << "nor after a Clear";
    EXPECT_TRUE(Intact(queue));
}

// Bytes go out as they come in, through lent room and copies by turns, over many times the
// block's size: each stays at its offset while the front is dropped and the block grows.
TEST(ByteQueueTest, BytesKeepTheirOffsetsAsTheBlockIsCompactedAndGrown)
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
