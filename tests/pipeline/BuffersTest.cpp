// The buffers between the nodes: the ring's index arithmetic, on the small ring whose states are
// worked out by hand (chunk 4, size 10: base 3, end 13); the pipe buffer's queue of timing
// records beside its bytes. (The pipe buffer's wait for room and its release on Stop are judged
// end to end: pictures larger than the pipe buffer, and a job stopped while nobody reads.)
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "interfaces/SampleTimingRecord.h"
#include "pipeline/PipeBuffer.h"
#include "pipeline/RingBuffer.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Ring {
  Ring(uint32_t size, uint32_t chunk) : ring(RingBufferCreate(size, chunk, 1)) {}
  ~Ring() { RingBufferDestroy(ring); }
  RingBuffer* ring;
};

uint32_t Write(RingBuffer& ring, uint8_t first, uint32_t count) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return RingWriteCopy(ring, bytes.data(), count);
}

Bytes Read(RingBuffer& ring, uint32_t count) {
  Bytes out(count);
  out.resize(RingReadCopy(ring, out.data(), count));
  return out;
}

// Write 9, read 7, write 5: the write splits at the end; a read of the wrapped tail is staged
// in front of the ring; a confirm beyond what is held consumes only what is held.
TEST(RingBuffer, WrappedWritesAndStagedReads) {
  EXPECT_EQ(RingBufferCreate(10, 20, 1), nullptr);  // smaller than its chunk
  Ring small(10, 4);
  RingBuffer& ring = *small.ring;
  ASSERT_EQ(Write(ring, 1, 9), 9u);
  ASSERT_EQ(Read(ring, 7).size(), 7u);
  ASSERT_EQ(Write(ring, 10, 5), 5u);
  EXPECT_EQ(std::vector<uint32_t>({ring.read, ring.write, RingHeld(ring), RingFree(ring)}),
            std::vector<uint32_t>({10, 7, 7, 3}));
  EXPECT_EQ(RingReadRequest(ring, 3), ring.storage + 10);  // no wrap: nothing moves
  uint8_t* five = RingReadRequest(ring, 5);
  EXPECT_EQ(five, ring.storage);
  EXPECT_EQ(Bytes(five, five + 5), Bytes({8, 9, 10, 11, 12}));
  EXPECT_EQ(RingReadConfirm(ring, 100), 7u);
  EXPECT_EQ(RingReadRequest(ring, 1), nullptr);
}

// A write request across the end hands out the staging area; the commit puts it in order.
// A copy keeps one element free between the write and the read position.
TEST(RingBuffer, WriteRequestsAcrossTheEndAndCopiesThatKeepAGap) {
  Ring small(10, 4);
  RingBuffer& ring = *small.ring;
  Write(ring, 1, 9);
  Read(ring, 7);
  uint8_t* space = RingWriteRequest(ring, 3);
  ASSERT_EQ(space, ring.storage + 2);
  space[0] = 50, space[1] = 51, space[2] = 52;
  EXPECT_EQ(RingWriteConfirm(ring, 3), 3u);
  EXPECT_EQ(Read(ring, 5), Bytes({8, 9, 50, 51, 52}));
  EXPECT_EQ(RingWriteRequest(ring, 11), nullptr);

  Ring fresh(10, 4);
  EXPECT_EQ(Write(*fresh.ring, 0, 20), 10u);
  Read(*fresh.ring, 4);
  EXPECT_EQ(Write(*fresh.ring, 0, 20), 3u);
  EXPECT_EQ(RingHeld(*fresh.ring), 9u);
}

struct Pipe {
  Pipe(uint32_t size, uint32_t chunk) : pipe(PipeBufferCreate(size, chunk, 1)) {}
  PipeBufferPtr pipe;
  bufstream& w() { return pipe->writeFace; }
  bufstream& r() { return pipe->readFace; }
};

SampleTimingRecord Timing(int64_t start) {
  return {.start = start, .stop = start + 1, .size = 0, .present = 1, .startValid = start >= 0,
          .reserved = {}};
}

bool Take(bufstream& face, SampleTimingRecord& record) {
  return face.auxInfo(&face, 0, kAuxTakeSampleTiming, &record, sizeof record) == 0;
}

TEST(PipeBuffer, TimingRecordsQueueBesideTheBytesWithTheirRealSizes) {
  Pipe p(100, 4);
  uint8_t bytes[30] = {};
  SampleTimingRecord record = Timing(2700);
  record.size = 999;  // what the writer claims; the queue keeps what the stream holds
  p.w().copyBytes(&p.w(), bytes, 10);
  p.w().copyBytes(&p.w(), bytes, 5);
  EXPECT_EQ(p.w().auxInfo(&p.w(), 0, kAuxSampleTiming, &record, sizeof record), 0);
  uint8_t* space = p.w().request(&p.w(), 7);
  ASSERT_NE(space, nullptr);
  p.w().confirm(&p.w(), 7);
  record = Timing(5400);
  p.w().auxInfo(&p.w(), 0, kAuxSampleTiming, &record, sizeof record);
  // Other identifiers pass without effect.
  p.w().auxInfo(&p.w(), 0, kAuxDemuxSample, bytes, 30);
  EXPECT_EQ(PipeBufferQueuedRecords(*p.pipe), 2u);
  EXPECT_EQ(p.r().usableBytes(&p.r()), 22u);

  SampleTimingRecord taken{};
  ASSERT_TRUE(Take(p.r(), taken));
  EXPECT_EQ(taken.start, 2700);
  EXPECT_EQ(taken.size, 15u);
  ASSERT_TRUE(Take(p.r(), taken));
  EXPECT_EQ(taken.start, 5400);
  EXPECT_EQ(taken.size, 7u);
  EXPECT_FALSE(Take(p.r(), taken));
  // The reading face's own auxInfo changes nothing else.
  EXPECT_EQ(p.r().auxInfo(&p.r(), 0, kAuxSampleTiming, &record, sizeof record), 0);
  EXPECT_EQ(PipeBufferQueuedRecords(*p.pipe), 0u);
}

}  // namespace
