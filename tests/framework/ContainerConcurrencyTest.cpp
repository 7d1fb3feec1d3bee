// Several threads opening, reading and closing containers at once, while the modules are
// registered again: no race, and every trace entry of the shared log stays whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "framework/ContainerAccess.h"
#include "framework/L2carWrapper.h"
#include "framework/VmfErrors.h"
#include "tests/framework/FakeModule.h"

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 4;
constexpr int kRounds = 40;

void OpenReadClose(int thread) {
  const std::u16string name = u"fake:v1a0s0:T" + std::u16string(1, char16_t(u'0' + thread));
  for (int round = 0; round < kRounds; ++round) {
    L2carWrapper* wrapper = new L2carWrapper;
    ASSERT_EQ(wrapper->Open(name.c_str()), VMF_OK);
    uint8_t bytes[32];
    VmfBlock block{};
    block.data = bytes;
    block.capacity = sizeof bytes;
    int32_t result = VMF_OK;
    while (result == VMF_OK) result = wrapper->ReadNextBlockByStream(VMF_BLOCK_VIDEO, 0, &block);
    EXPECT_EQ(result, VMF_ERR_END_OF_STREAM);
    EXPECT_EQ(wrapper->Release(), 0);
  }
}

std::string NarrowLog(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0) return "not ASCII";
    text += bytes[i];
  }
  return text;
}

// The length of the trace entry at the start of `log`, or 0 when none starts there. In the
// patterns "#" stands for a decimal number.
size_t MatchPattern(std::string_view log, std::string_view pattern) {
  size_t at = 0;
  for (char expected : pattern) {
    if (expected != '#') {
      if (at >= log.size() || log[at] != expected) return 0;
      ++at;
      continue;
    }
    if (at < log.size() && log[at] == '-') ++at;
    const size_t digits = at;
    while (at < log.size() && log[at] >= '0' && log[at] <= '9') ++at;
    if (at == digits) return 0;
  }
  return at;
}

size_t EntryLength(std::string_view log) {
  static constexpr std::string_view kEntries[] = {
      "OpenContainer:\nFile: fake:v1a0s0:T#\n",
      "GetInfo Entry:\nQID: VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA\nIndex: 0\n",
      "GetInfo Exit:\nVexaError: 0\n",
      "ReadNextBlockByStream Entry:\nblockType: 2\nnStream: 0\n",
      "ReadNextBlockByStream Exit:\nBlock Data CRC: #\nBlock Time: #\nVexaError: #\n",
      "CloseContainer Entry:\n",
      "CloseContainer Exit:\nVexaError: 0\n",
  };
  for (std::string_view pattern : kEntries) {
    if (const size_t length = MatchPattern(log, pattern)) return length;
  }
  return 0;
}

TEST(ContainerConcurrency, ThreadsOpenAndCloseContainersAtOnce) {
  const fs::path dir = fs::path(VEXA_BINARY_DIR) / "framework_concurrency_test";
  fs::create_directories(dir);
  fs::remove(dir / "L1log.txt");
  ::setenv("VEXA_L1LOG_DIR", dir.c_str(), 1);
  ASSERT_EQ(fake::RegisterWithLogging(), VMF_OK);

  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(OpenReadClose, i);
  threads.emplace_back([] {
    for (int round = 0; round < kRounds; ++round) EXPECT_EQ(fake::RegisterWithLogging(), VMF_OK);
  });
  for (std::thread& thread : threads) thread.join();
  ::unsetenv("VEXA_L1LOG_DIR");

  const std::string log = NarrowLog(dir / "L1log.txt");
  size_t opens = 0;
  size_t at = 0;
  while (at < log.size()) {
    const size_t length = EntryLength(std::string_view(log).substr(at));
    ASSERT_GT(length, 0u) << "broken entry at " << at << ": " << log.substr(at, 80);
    if (log.compare(at, 13, "OpenContainer") == 0) ++opens;
    at += length;
  }
  EXPECT_EQ(opens, size_t{kThreads * kRounds});
}

}  // namespace
