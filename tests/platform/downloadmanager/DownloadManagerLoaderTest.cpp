// Where the loader looks for the download-manager library, and what the backend does when it
// finds none.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/downloadmanager/DownloadManagerApi.h"
#include "platform/downloadmanager/DownloadManagerLoader.h"
#include "platform/downloadmanager/DownloadManagerStream.h"
#include "tests/platform/downloadmanager/DownloadManagerTestTools.h"

namespace {

using namespace VexaDownload;

// Cases print as their names.
template <typename Case>
auto operator<<(std::ostream& os, const Case& c) -> decltype(c.what, os) { return os << c.what; }

// Loads for real and remembers every path tried and how many loads succeeded.
struct OpenLog {
  std::mutex lock;
  std::vector<std::string> tried;
  int loads = 0;
  static bool Open(VexaOS::ScopedDLL& library, const char* path, void* context) {
    auto* self = static_cast<OpenLog*>(context);
    std::lock_guard<std::mutex> hold(self->lock);
    self->tried.push_back(path);
    const bool loaded = library.Load(path);
    self->loads += loaded;
    return loaded;
  }
};

const std::vector<std::string> kBareNames{"VexaDownloadManager.dll", "VexaDownloadManager.so",
                                          "libVexaDownloadManager.dylib"};

struct LoaderCase {
  const char* what;
  bool setInstallDir;
  std::string installDir;
  std::vector<std::string> underDir;  // tried after the bare names
  bool found;
};

class LoaderTest : public ::testing::TestWithParam<LoaderCase> {
 protected:
  DownloadManagerTest::InstallDirSetting setting;
};

TEST_P(LoaderTest, TriesTheBareNamesThenInstallDir) {
  const LoaderCase& c = GetParam();
  if (c.setInstallDir) setting.Set(c.installDir);
  OpenLog log;
  DownloadManagerLoader loader(OpenLog::Open, &log);
  EXPECT_EQ(loader.Resolve(kEntryFileOpenEx) != nullptr, c.found);
  std::vector<std::string> expected = kBareNames;
  for (const std::string& name : c.underDir) expected.push_back(c.installDir + "/" + name);
  EXPECT_EQ(log.tried, expected);
  // Once loaded, further entry points come from the same library without another load.
  if (c.found) {
    EXPECT_NE(loader.Resolve(kEntryFileClose), nullptr);
    EXPECT_EQ(log.tried.size(), expected.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoaderTest, ::testing::Values(
    LoaderCase{"no_install_dir", false, "", {}, false},
    LoaderCase{"empty_install_dir", true, "", {}, false},
    LoaderCase{"install_dir_without_library", true, "/nonexistent/dm", kBareNames, false},
    LoaderCase{"install_dir_with_library", true, SCRIPTED_DM_DIR,
               {"VexaDownloadManager.dll", "VexaDownloadManager.so"}, true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(LoaderRetryTest, AFailedLoadIsTriedAgainAtTheNextResolve) {
  DownloadManagerTest::InstallDirSetting setting;
  OpenLog log;
  DownloadManagerLoader loader(OpenLog::Open, &log);
  EXPECT_EQ(loader.Resolve(kEntryFileRead), nullptr);
  setting.Set(SCRIPTED_DM_DIR);
  EXPECT_NE(loader.Resolve(kEntryFileRead), nullptr);
  EXPECT_EQ(log.loads, 1);
}

TEST(LoaderConcurrencyTest, ConcurrentFirstUsesLoadOnce) {
  DownloadManagerTest::InstallDirSetting setting;
  setting.Set(SCRIPTED_DM_DIR);
  OpenLog log;
  DownloadManagerLoader loader(OpenLog::Open, &log);
  std::atomic<int> resolved{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { resolved += loader.Resolve(EntryPoint(i % kEntryPointCount)) != nullptr; });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(resolved.load(), 8);
  EXPECT_EQ(log.loads, 1);
}

// The process loader of this test program never finds a library: nothing is on the search
// path and InstallDir is not set.
TEST(NoLibraryTest, OpenFailsAndEveryWrapperAndQueryAnswersUnavailable) {
  DownloadManagerTest::InstallDirSetting setting;
  EXPECT_FALSE(DownloadManagerAvailable());
  DmFile file = nullptr;
  DmConfig config = nullptr;
  EXPECT_EQ(DmFileOpenEx(u"http://host/x", 0, 0, &config, &file, kDmOpenFlags), kDmUnavailable);
  EXPECT_EQ(DmSetFileConfigPluginOption(&config, kDmOptionPlugin, u"Login", u"x"), kDmUnavailable);
  EXPECT_EQ(DmFileClose(file), kDmUnavailable);
  RegisterDownloadManagerBackend();
  VexaFiles::StreamIo* stream = nullptr;
  ASSERT_EQ(VexaFiles::StreamIoCreate(VexaFiles::kStreamKindDownloadManager, nullptr, nullptr, &stream), 0);
  EXPECT_EQ(stream->open(stream, u"http://host/x.mkv", 0), VexaFiles::kStreamFailed);
  for (uint32_t query : {kQueryProgress, kQueryBitRate, kQueryFileSize, kQueryDownloadedSize,
                         kQueryBytesAvailableAhead, kQueryByteRangeRequests}) {
    StreamQueryValue value{};
    EXPECT_EQ(stream->query(stream, query, &value), VexaFiles::kStreamFailed) << std::hex << query;
  }
  VexaFiles::StreamIoDestroy(stream);
}

}  // namespace
