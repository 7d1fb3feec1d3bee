// Several threads opening, reading and closing containers at once, while the modules are
// registered again: no race, and every trace entry of the shared log stays whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "framework/ContainerAccess.h"
#include "framework/L2carWrapper.h"
#include "framework/VmfErrors.h"
#include "tests/framework/ContainerFiles.h"
#include "tests/support/ProcessTestTools.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 40;

void OpenReadClose(const std::u16string& name) {
  for (int round = 0; round < kRounds; ++round) {
    L2carWrapper* wrapper = new L2carWrapper;
    ASSERT_EQ(wrapper->Open(name.c_str()), VMF_OK);
    uint8_t bytes[32];
    VmfBlock block{bytes, 0, sizeof bytes, 0, 0, 0, nullptr, nullptr, {}};
    int32_t result = VMF_OK;
    while (result == VMF_OK) result = wrapper->ReadNextBlockByStream(VMF_BLOCK_VIDEO, 0, &block);
    EXPECT_EQ(result, VMF_ERR_END_OF_STREAM);
    EXPECT_EQ(wrapper->Release(), 0);
  }
}

// Each whole trace entry the threads write.
const std::regex kEntry(
    "OpenContainer:\nFile: .*[/\\\\]T\\d\n|"
    "GetInfo Entry:\nQID: VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA\nIndex: 0\n|GetInfo Exit:\nVexaError: 0\n|"
    "ReadNextBlockByStream Entry:\nblockType: 2\nnStream: 0\n|"
    "ReadNextBlockByStream Exit:\nBlock Data CRC: -?\\d+\nBlock Time: -?\\d+\nVexaError: -?\\d+\n|"
    "CloseContainer Entry:\n|CloseContainer Exit:\nVexaError: 0\n");

TEST(ContainerConcurrency, ThreadsOpenAndCloseContainersAtOnce) {
  const ProcessTestTools::TraceDir dir("concurrency");
  ASSERT_EQ(vmf::Init(nullptr), VMF_OK);

  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    const std::string tag = "T" + std::to_string(i);
    threads.emplace_back(OpenReadClose, containertest::WriteTaggedMkv(dir.path() / tag, tag, 1, 0, 0));
  }
  threads.emplace_back([] {
    for (int round = 0; round < kRounds; ++round) EXPECT_EQ(vmf::Init(nullptr), VMF_OK);
  });
  for (std::thread& thread : threads) thread.join();

  const std::string log = containertest::LogText(dir.path());
  size_t opens = 0;
  std::smatch entry;
  for (auto at = log.cbegin(); at != log.cend(); at = entry[0].second) {
    ASSERT_TRUE(std::regex_search(at, log.cend(), entry, kEntry, std::regex_constants::match_continuous))
        << "broken entry at " << (at - log.cbegin()) << ": " << std::string(at, at + std::min<ptrdiff_t>(80, log.cend() - at));
    opens += entry.str().starts_with("OpenContainer");
  }
  EXPECT_EQ(opens, size_t{kThreads * kRounds});
}

}  // namespace
