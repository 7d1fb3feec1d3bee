// The ring's index arithmetic, on the small rings whose states are worked out by hand.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "pipeline/RingBuffer.h"

namespace {

struct Ring {
  explicit Ring(uint32_t size, uint32_t chunk) : ring(RingBufferCreate(size, chunk, 1)) {}
  ~Ring() { RingBufferDestroy(ring); }
  RingBuffer* ring;
};

std::vector<uint8_t> Sequence(uint8_t first, size_t count) {
  std::vector<uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

// Chunk 4, size 10 (base 3, end 13): write 9, read 7, write 5: the write wraps.
void BringToWrappedState(RingBuffer& ring) {
  auto first = Sequence(1, 9);
  ASSERT_EQ(RingWriteCopy(ring, first.data(), 9), 9u);
  uint8_t out[7];
  ASSERT_EQ(RingReadCopy(ring, out, 7), 7u);
  auto second = Sequence(10, 5);
  ASSERT_EQ(RingWriteCopy(ring, second.data(), 5), 5u);
}

TEST(RingBuffer, CreationRulesAndSizes) {
  EXPECT_EQ(RingBufferCreate(10, 20, 1), nullptr);
  Ring noStaging(10, 0);
  ASSERT_NE(noStaging.ring, nullptr);
  EXPECT_EQ(noStaging.ring->base, 0u);
  EXPECT_EQ(noStaging.ring->end, 10u);
  Ring encoderSized(0x500000, 0x10000);
  ASSERT_NE(encoderSized.ring, nullptr);
  EXPECT_EQ(encoderSized.ring->base, 65535u);
  EXPECT_EQ(encoderSized.ring->end, 5308415u);
  EXPECT_EQ(encoderSized.ring->byteSize, 5308415u);
  EXPECT_EQ(encoderSized.ring->read, 65535u);
  EXPECT_EQ(encoderSized.ring->write, 65535u);
}

TEST(RingBuffer, WrappedWriteSplitsAtTheEnd) {
  Ring small(10, 4);
  RingBuffer& ring = *small.ring;
  BringToWrappedState(ring);
  EXPECT_EQ(ring.read, 10u);
  EXPECT_EQ(ring.write, 7u);
  EXPECT_EQ(ring.storage[12], 10);
  EXPECT_EQ(ring.storage[3], 11);
  EXPECT_EQ(ring.storage[6], 14);
  EXPECT_EQ(RingHeld(ring), 7u);
  EXPECT_EQ(RingFree(ring), 3u);
}

TEST(RingBuffer, ReadRequestStagesTheWrappedTail) {
  Ring small(10, 4);
  RingBuffer& ring = *small.ring;
  BringToWrappedState(ring);
  EXPECT_EQ(RingReadRequest(ring, 3), ring.storage + 10);
  EXPECT_EQ(ring.read, 10u);
  uint8_t* five = RingReadRequest(ring, 5);
  EXPECT_EQ(five, ring.storage);
  EXPECT_EQ(ring.read, 0u);
  EXPECT_EQ(std::vector<uint8_t>(five, five + 5), (std::vector<uint8_t>{8, 9, 10, 11, 12}));
  // A confirm beyond the held data consumes only what is held.
  EXPECT_EQ(RingReadConfirm(ring, 100), 7u);
  EXPECT_EQ(RingHeld(ring), 0u);
  EXPECT_EQ(RingReadRequest(ring, 1), nullptr);
  EXPECT_EQ(RingReadCopy(ring, five, 1), 0u);
}

TEST(RingBuffer, WriteRequestAcrossTheEndCommitsInOrder) {
  Ring small(10, 4);
  RingBuffer& ring = *small.ring;
  auto first = Sequence(1, 9);
  RingWriteCopy(ring, first.data(), 9);  // w = 12
  uint8_t out[7];
  RingReadCopy(ring, out, 7);            // r = 10
  // One element before the end, the rest after base: the caller gets the staging area.
  uint8_t* space = RingWriteRequest(ring, 3);
  ASSERT_EQ(space, ring.storage + 2);
  space[0] = 50, space[1] = 51, space[2] = 52;
  EXPECT_EQ(RingWriteConfirm(ring, 3), 3u);
  EXPECT_EQ(ring.write, 5u);
  uint8_t all[5];
  ASSERT_EQ(RingReadCopy(ring, all, 5), 5u);
  EXPECT_EQ(std::vector<uint8_t>(all, all + 5), (std::vector<uint8_t>{8, 9, 50, 51, 52}));
  // Too much for the space left: null.
  EXPECT_EQ(RingWriteRequest(ring, 11), nullptr);
}

TEST(RingBuffer, CopyKeepsOneElementFree) {
  Ring small(10, 4);
  RingBuffer& ring = *small.ring;
  auto bytes = Sequence(0, 20);
  EXPECT_EQ(RingWriteCopy(ring, bytes.data(), 20), 10u);  // read index at base: no wrap
  uint8_t out[4];
  RingReadCopy(ring, out, 4);
  EXPECT_EQ(RingWriteCopy(ring, bytes.data(), 20), 3u);   // r - base - 1
  EXPECT_EQ(RingHeld(ring), 9u);
}

}  // namespace
