// The memory connection gathers a sample's bytes and delivers them whole on its timing record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "interfaces/SampleTimingRecord.h"
#include "pipeline/TranscodeMemConnection.h"
#include "tests/support/NodeStandIns.h"

namespace {

void Put(bufstream& face, const std::string& bytes) {
  std::string copy = bytes;
  ASSERT_EQ(face.copyBytes(&face, reinterpret_cast<uint8_t*>(copy.data()), uint32_t(copy.size())), copy.size());
}

int32_t Mark(bufstream& face, int64_t start, uint8_t valid = 1, uint32_t id = kAuxSampleTiming) {
  SampleTimingRecord record{
      .start = start, .stop = 0, .size = 0, .present = 1, .startValid = valid, .reserved = {}};
  return face.auxInfo(&face, 0, id, &record, sizeof record);
}

TEST(MemConnection, AccumulatesAndDeliversWholeSamples) {
  CTranscodeMemConnection connection(64, 16);
  SampleRecorder recorder;
  uint8_t codecData[5] = {1, 2, 3, 4, 5};
  StreamFormatRecord format{};
  format.privateData = codecData;
  format.privateSize = 5;
  connection.SetFormat(format);
  EXPECT_NE(connection.Format().privateData, codecData);
  connection.SetReceiver(&recorder);
  EXPECT_EQ(connection.chunkSize(&connection), 16u);

  Put(connection, "abc");
  Put(connection, "def");
  EXPECT_EQ(Mark(connection, 100), 0);
  // Not a timing record, or one without a valid start: the bytes stay for the next sample.
  Put(connection, "gh");
  EXPECT_EQ(Mark(connection, 200, 1, kAuxDemuxSample), 0);
  EXPECT_EQ(Mark(connection, -5, 0), 0);
  EXPECT_EQ(connection.Used(), 2);
  uint8_t* space = connection.request(&connection, 3);
  ASSERT_NE(space, nullptr);
  std::memcpy(space, "ijk", 3);
  EXPECT_EQ(connection.confirm(&connection, 3), 3u);
  Mark(connection, 300);

  EXPECT_EQ(recorder.samples, (std::vector<std::string>{"abcdef", "ghijk"}));
  EXPECT_EQ(recorder.starts, (std::vector<int64_t>{100, 300}));
  EXPECT_EQ(recorder.privateSizes, (std::vector<uint32_t>{5, 5}));
  EXPECT_EQ(connection.usableBytes(&connection), 64u);
  // A request must leave room: as much as is free is refused, and the lock is not kept.
  EXPECT_EQ(connection.request(&connection, 64), nullptr);
  EXPECT_EQ(connection.usableBytes(&connection), 64u);
}

}  // namespace
