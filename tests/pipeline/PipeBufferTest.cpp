// The pipe buffer's faces, its queue of timing records, and the encoder node that writes into
// it and waits for room instead of losing bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "pipeline/PipeBuffer.h"
#include "interfaces/SampleTimingRecord.h"
#include "pipeline/TranscodeEncodeFake.h"

namespace {

struct Pipe {
  Pipe(uint32_t size, uint32_t chunk) : pipe(PipeBufferCreate(size, chunk, 1)) {}
  PipeBufferPtr pipe;
  bufstream& w() { return pipe->writeFace; }
  bufstream& r() { return pipe->readFace; }
};

SampleTimingRecord Timing(int64_t start) {
  SampleTimingRecord record{};
  record.start = start;
  record.stop = start + 1;
  record.present = 1;
  record.startValid = start >= 0;
  return record;
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

// A sample larger than the whole pipe buffer reaches a slow reader intact.
TEST(PipeBuffer, FullEncoderWaitsForTheReaderInsteadOfLosingBytes) {
  auto* encoder = new CTranscodeEncodeFake(nullptr, 10);
  int32_t code;
  bufstream* out = encoder->GetOutput(&code);
  std::vector<uint8_t> sample(7 << 20);
  for (size_t i = 0; i < sample.size(); ++i) sample[i] = uint8_t(i * 31 + (i >> 13));
  StreamFormatRecord format{};
  format.startTime = 900;

  std::vector<uint8_t> got;
  std::thread reader([&] {
    std::vector<uint8_t> piece(1 << 16);
    while (got.size() < sample.size()) {
      uint32_t n = std::min<uint32_t>(out->usableBytes(out), uint32_t(piece.size()));
      n = n ? out->copyBytes(out, piece.data(), n) : 0;
      got.insert(got.end(), piece.begin(), piece.begin() + n);
      if (!n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  encoder->Receive(sample.data(), uint32_t(sample.size()), &format);
  reader.join();
  EXPECT_TRUE(got == sample);
  SampleTimingRecord taken{};
  ASSERT_TRUE(Take(*out, taken));
  EXPECT_EQ(taken.size, sample.size());
  encoder->Release();
}

// A closed pipe buffer releases a waiting writer at once; later samples are dropped.
TEST(PipeBuffer, ClosingTheReaderReleasesAWaitingEncoder) {
  auto* encoder = new CTranscodeEncodeFake(nullptr, 10);
  int32_t code;
  bufstream* out = encoder->GetOutput(&code);
  std::vector<uint8_t> sample(6 << 20, 0x5A);
  StreamFormatRecord format{};
  std::atomic<bool> returned{false};
  std::thread writer([&] {
    encoder->Receive(sample.data(), uint32_t(sample.size()), &format);
    encoder->Receive(sample.data(), uint32_t(sample.size()), &format);
    returned = true;
  });
  while (out->usableBytes(out) < (5u << 20) - 1) std::this_thread::yield();
  EXPECT_FALSE(returned);
  out->auxInfo(out, 0, kAuxReaderClosed, nullptr, 0);
  writer.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(PipeBufferQueuedRecords(*reinterpret_cast<PipeBuffer*>(out->words[BufWord(13)])), 0u);
  encoder->Release();
}

}  // namespace
