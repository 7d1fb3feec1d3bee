// The multiplexer node's calls into its library, against a stand-in that records them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"
#include "tests/pipeline/FakeMuxMp2.h"
#include "tests/support/NodeStandIns.h"

namespace {

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
