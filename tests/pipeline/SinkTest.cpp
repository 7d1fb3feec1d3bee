// The sink between the multiplexer library and the host's reader.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/TranscodeSink.h"
#include "tests/support/NodeStandIns.h"

namespace {

uint32_t Write(CTranscodeSink& sink, std::string bytes) {
  bufstream* face = sink.WritingFace();
  return face->copyBytes(face, reinterpret_cast<uint8_t*>(bytes.data()), uint32_t(bytes.size()));
}

std::string ReadSome(CTranscodeSink& sink, uint32_t capacity, int32_t* result = nullptr) {
  std::string out(capacity, '\0');
  uint32_t count = 99;
  int32_t answer = sink.Read(reinterpret_cast<uint8_t*>(out.data()), capacity, &count);
  if (result) *result = answer;
  out.resize(answer == 0 ? count : 0);
  return out;
}

TEST(Sink, PartialReadsInOrderThenEndMarkOnce) {
  NodeEvents observer;
  auto* sink = new CTranscodeSink(&observer);
  Write(*sink, "hello ");
  Write(*sink, "world");
  sink->SetEndOfStream();
  EXPECT_EQ(ReadSome(*sink, 4), "hell");
  EXPECT_EQ(ReadSome(*sink, 4), "o wo");
  EXPECT_EQ(ReadSome(*sink, 100), "rld");
  EXPECT_TRUE(observer.codes.empty());
  int32_t result = 0;
  ReadSome(*sink, 100, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(observer.codes, std::vector<int32_t>{kNodeEventEndDelivered});
  uint32_t count;
  EXPECT_EQ(sink->Read(nullptr, 10, &count), -1);
  EXPECT_EQ(sink->Release(), 0);
}

// A writer that waits on a full sink goes on once the reader has made room, and gives up when
// the sink is reset while it waits.
TEST(Sink, FullSinkHoldsTheWriterUntilRoomOrReset) {
  auto* sink = new CTranscodeSink(nullptr);
  bufstream* face = sink->WritingFace();
  std::vector<uint8_t> fill(0x500000, 1);
  ASSERT_EQ(face->copyBytes(face, fill.data(), uint32_t(fill.size())), fill.size());
  EXPECT_EQ(face->usableBytes(face), 0u);
  std::atomic<uint32_t> written{12345};
  std::thread writer([&] {
    uint8_t more[1000] = {2};
    written = face->copyBytes(face, more, sizeof more);
    written = written + face->copyBytes(face, fill.data(), uint32_t(fill.size()));
  });
  std::vector<uint8_t> buffer(4096);
  uint32_t count = 0;
  ASSERT_EQ(sink->Read(buffer.data(), 4096, &count), 0);
  while (written == 12345u) std::this_thread::yield();
  EXPECT_EQ(written, 1000u);
  sink->Reset();
  writer.join();
  EXPECT_EQ(written, 1000u);
  sink->Release();
}

}  // namespace
