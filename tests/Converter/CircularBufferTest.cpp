#include "sources/CircularBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

using korvane::TCircularBuffer;

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

} // namespace

TEST(CircularBuffer, NeverBecomesCompletelyFull)
{
    TCircularBuffer ring(10);
    EXPECT_EQ(ring.FreeSpace(), 10u);
    EXPECT_FALSE(ring.Write(Bytes(10, 0).data(), 10));
    EXPECT_EQ(ring.DataSize(), 0u) << "a refused write stores nothing";
    EXPECT_TRUE(ring.Write(Bytes(9, 0).data(), 9));
    EXPECT_EQ(ring.DataSize(), 9u);
    EXPECT_EQ(ring.FreeSpace(), 1u);
    EXPECT_FALSE(ring.Write(Bytes(1, 0).data(), 1));
}

TEST(CircularBuffer, EmptyAfterReadingEverything)
{
    TCircularBuffer ring(10);
    ASSERT_TRUE(ring.Write(Bytes(9, 1).data(), 9));
    std::vector<uint8_t> out(9);
    ASSERT_TRUE(ring.Read(out.data(), 9));
    EXPECT_EQ(out, Bytes(9, 1));
    EXPECT_EQ(ring.DataSize(), 0u);
    EXPECT_EQ(ring.FreeSpace(), 10u);
}

TEST(CircularBuffer, ShortReadTakesNothing)
{
    TCircularBuffer ring(10);
    ASSERT_TRUE(ring.Write(Bytes(4, 1).data(), 4));
    std::vector<uint8_t> out(5, 0xEE);
    EXPECT_FALSE(ring.Read(out.data(), 5));
    EXPECT_EQ(out, std::vector<uint8_t>(5, 0xEE));
    EXPECT_EQ(ring.DataSize(), 4u);
}

TEST(CircularBuffer, ReadEndingAtEndOfBlockThenWrapsFromIndexZero)
{
    TCircularBuffer ring(10);
    ASSERT_TRUE(ring.Write(Bytes(7, 0).data(), 7)); // head 7
    std::vector<uint8_t> out(7);
    ASSERT_TRUE(ring.Read(out.data(), 7));           // tail 7
    ASSERT_TRUE(ring.Write(Bytes(6, 100).data(), 6)); // 100..102 at 7..9, 103..105 at 0..2
    ASSERT_TRUE(ring.Read(out.data(), 3));           // ends exactly at the end: tail rests at 10
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3), Bytes(3, 100));
    EXPECT_EQ(ring.DataSize(), 3u);
    EXPECT_EQ(ring.FreeSpace(), 7u);
    ASSERT_TRUE(ring.Read(out.data(), 3));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3), Bytes(3, 103))
        << "the bytes stored at indices 0 to 2";
    EXPECT_EQ(ring.DataSize(), 0u);
}

TEST(CircularBuffer, WriteEndingExactlyAtEndWrapsHeadToZero)
{
    TCircularBuffer ring(10);
    std::vector<uint8_t> out(10);
    ASSERT_TRUE(ring.Write(Bytes(4, 0).data(), 4));
    ASSERT_TRUE(ring.Read(out.data(), 4));
    ASSERT_TRUE(ring.Write(Bytes(6, 20).data(), 6)); // fills 4..9, head wraps to 0
    ASSERT_TRUE(ring.Write(Bytes(3, 40).data(), 3)); // at 0..2
    EXPECT_EQ(ring.DataSize(), 9u);
    ASSERT_TRUE(ring.Read(out.data(), 9));
    std::vector<uint8_t> expected = Bytes(6, 20);
    const std::vector<uint8_t> tail = Bytes(3, 40);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 9), expected);
}

TEST(CircularBuffer, ResetEmpties)
{
    TCircularBuffer ring(16);
    ASSERT_TRUE(ring.Write(Bytes(12, 0).data(), 12));
    ring.Reset();
    EXPECT_EQ(ring.DataSize(), 0u);
    EXPECT_EQ(ring.FreeSpace(), 16u);
    uint8_t b = 0;
    EXPECT_FALSE(ring.Read(&b, 1));
}

// Many wrap-arounds with odd sizes keep the byte order intact.
TEST(CircularBuffer, KeepsOrderOverManyWraps)
{
    TCircularBuffer ring(37);
    uint8_t next = 0, expect = 0;
    size_t held = 0;
    for (int round = 0; round < 500; ++round) {
        const size_t w = (round * 7) % 30 + 1;
        std::vector<uint8_t> in(w);
        for (auto& b : in)
            b = next++;
        if (ring.Write(in.data(), w))
            held += w;
        else
            next = static_cast<uint8_t>(next - w);
        const size_t r = std::min<size_t>(held, (round * 5) % 23 + 1);
        std::vector<uint8_t> out(r);
        ASSERT_TRUE(ring.Read(out.data(), r));
        held -= r;
        for (uint8_t b : out)
            ASSERT_EQ(b, expect++) << "round " << round;
        ASSERT_EQ(ring.DataSize(), held);
        ASSERT_EQ(ring.DataSize() + ring.FreeSpace(), 37u);
    }
}

// A producer and a consumer on two threads see every byte once, in order.
TEST(CircularBuffer, ProducerAndConsumerOnTwoThreads)
{
    TCircularBuffer ring(64);
    constexpr int kTotal = 200000;
    std::thread producer([&] {
        uint8_t value = 0;
        for (int sent = 0; sent < kTotal;) {
            uint8_t chunk[5];
            for (auto& b : chunk)
                b = static_cast<uint8_t>(value + (&b - chunk));
            if (ring.Write(chunk, 5)) {
                value = static_cast<uint8_t>(value + 5);
                sent += 5;
            } else {
                std::this_thread::yield();
            }
        }
    });
    uint8_t expect = 0;
    int received = 0;
    bool ordered = true;
    while (received < kTotal) {
        uint8_t chunk[3];
        const int want = std::min(3, kTotal - received);
        if (!ring.Read(chunk, want)) {
            std::this_thread::yield();
            continue;
        }
        for (int i = 0; i < want; ++i)
            ordered = ordered && chunk[i] == expect++;
        received += want;
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(ring.DataSize(), 0u);
}
