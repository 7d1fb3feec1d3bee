// The pipeline's nodes on their own: the memory connection gathers a sample's bytes and delivers
// them whole on its timing record; the sink stands between the multiplexer library and the
// host's reader; the multiplexer node's calls into its library, against a stand-in that records
// them. (A writer's wait for room in a full sink is judged by the wrap test below; the release
// of a waiting writer on Reset by the transport-stream job's tests, where without it a stream
// ended by an event never finishes.)
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/SampleTimingRecord.h"
#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMemConnection.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"
#include "tests/pipeline/FakeMuxMp2.h"
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

// Bytes written in pieces of many sizes come out in order when read 16 KiB at a time, across
// the many times the held bytes run past the end of the buffer and on from its start; the job
// hears of the end once, when the reader has taken the last byte.
TEST(Sink, SmallReadsKeepTheOrderWhereTheBytesWrapThenEndOnce) {
  NodeEvents observer;
  auto* sink = new CTranscodeSink(&observer);
  constexpr uint32_t kTotal = 3 * 0x500000 + 4321;
  std::thread writer([&] {
    bufstream* face = sink->WritingFace();
    std::vector<uint8_t> piece;
    for (uint32_t sent = 0, size = 1000; sent < kTotal; sent += uint32_t(piece.size())) {
      size = size * 7 % 70001 + 1;
      piece.resize(std::min(size, kTotal - sent));
      for (size_t i = 0; i < piece.size(); ++i) piece[i] = uint8_t((sent + i) % 251);
      ASSERT_EQ(face->copyBytes(face, piece.data(), uint32_t(piece.size())), piece.size());
    }
    sink->SetEndOfStream();
  });
  uint32_t received = 0;
  uint32_t misplaced = 0;
  bool endedEarly = false;  // the end reported before it was read
  std::vector<uint8_t> buffer(16384);
  uint32_t count = 0;
  while (sink->Read(buffer.data(), uint32_t(buffer.size()), &count) == 0) {
    for (uint32_t i = 0; i < count; ++i) misplaced += buffer[i] != uint8_t((received + i) % 251);
    received += count;
    endedEarly |= !observer.codes.empty();
  }
  writer.join();
  EXPECT_EQ(received, kTotal);
  EXPECT_EQ(misplaced, 0u);
  EXPECT_FALSE(endedEarly);
  EXPECT_EQ(sink->Read(nullptr, 10, &count), -1);
  EXPECT_EQ(observer.codes, std::vector<int32_t>{kNodeEventEndDelivered});
  EXPECT_EQ(sink->Release(), 0);
}

using Calls = std::vector<std::string>;

class MuxNode : public ::testing::Test {
 protected:
  void SetUp() override {
    m_handle = dlopen(FAKE_MUX_PATH, RTLD_NOW);
    ASSERT_NE(m_handle, nullptr);
    state = reinterpret_cast<FakeMuxStateFn>(dlsym(m_handle, "fake_mux_state"))();
    *state = FakeMuxState{};
  }
  void TearDown() override { dlclose(m_handle); }

  CTranscodeMuxMP2* Make() { return new CTranscodeMuxMP2(&observer, FAKE_MUX_PATH); }

  FakeMuxState* state = nullptr;
  NodeEvents observer;
  CTranscodeSink* sink = new CTranscodeSink(nullptr);
  CTranscodeEncodeFake* encoder = new CTranscodeEncodeFake(nullptr, 10);

  ~MuxNode() override {
    sink->Release();
    encoder->Release();
  }

 private:
  void* m_handle = nullptr;
};

TEST_F(MuxNode, BuildsAndClosesInOrder) {
  CTranscodeMuxMP2* node = Make();
  int32_t code;
  bufstream* input = encoder->GetOutput(&code);
  EXPECT_EQ(node->SetOutput(sink->WritingFace()), 0);
  node->AddStream(input, 10);
  node->AddStream(input, 143);
  node->AddStream(input, 172);  // no call, no report
  node->Close();
  node->Close();
  EXPECT_EQ(state->calls, (Calls{"1:5", "6:2", "2", "11:4096", "8:10:65536:5000", "8:143:131072:5000", "4:0", "5"}));
  EXPECT_EQ(state->word60, 1u);
  EXPECT_TRUE(state->printsFound);
  EXPECT_TRUE(state->otherNameNull);
  EXPECT_TRUE(observer.codes.empty());
  node->Release();  // after Close the destructor calls nothing
  EXPECT_EQ(state->calls.size(), 8u);
}

// Each refusal of the library reaches the job once; without an instance nothing more is called,
// and an input the library will never read is closed, so that its encoder drops, not waits.
TEST_F(MuxNode, RefusalsAreReportedOnce) {
  struct Case {
    FakeMuxState refusals;
    Calls calls;
  };
  const Case cases[] = {
      {{.calls = {}, .refuseCheck = 3}, {"1:5", "6:2"}},
      {{.calls = {}, .refuseCreate = true}, {"1:5", "6:2", "2"}},
      {{.calls = {}, .refuseOutput = 1, .refuseStream = 1}, {"1:5", "6:2", "2", "11:4096", "8:150:131072:5000", "4:1", "5"}},
  };
  for (const Case& c : cases) {
    *state = c.refusals;
    observer.codes.clear();
    CTranscodeMuxMP2* node = Make();
    EXPECT_EQ(node->SetOutput(sink->WritingFace()), -1);
    auto* audio = new CTranscodeEncodeFake(nullptr, 150);
    int32_t code;
    bufstream* input = audio->GetOutput(&code);
    node->AddStream(input, 150);
    EXPECT_TRUE(PipeBufferClosed(*reinterpret_cast<PipeBuffer*>(input->words[BufWord(13)])));
    node->Release();
    audio->Release();
    EXPECT_EQ(state->calls, c.calls);
    EXPECT_EQ(observer.codes, std::vector<int32_t>(c.refusals.refuseOutput ? 2 : 1, kNodeEventMuxRefused));
  }
}

}  // namespace
