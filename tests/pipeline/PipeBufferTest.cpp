// The pipe buffer's queue of timing records beside its bytes. (Its encoder's wait for room
// and its release on Stop are judged end to end: pictures larger than the pipe buffer, and a
// job stopped while nobody reads.)
#include <gtest/gtest.h>


#include "pipeline/PipeBuffer.h"
#include "interfaces/SampleTimingRecord.h"

namespace {

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
