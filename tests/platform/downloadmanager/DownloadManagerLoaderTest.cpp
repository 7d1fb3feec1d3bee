// Where the loader looks for the download-manager library, and what the wrappers and the backend
// answer when the process finds none. The stream backend's tests live in a program of their own:
// once a process has loaded the library, a bare name finds it too.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/downloadmanager/DownloadManagerApi.h"
#include "platform/downloadmanager/DownloadManagerLoader.h"
#include "platform/downloadmanager/DownloadManagerStream.h"
#include "tests/support/SettingsLayers.h"

namespace {

using namespace VexaDownload;
using Settings = TestSupport::SettingsLayers;
constexpr int32_t kFailed = VexaFiles::kStreamFailed;

TEST(NoLibraryTest, OpenAndEveryQueryFail) {
  Settings settings;
  EXPECT_FALSE(DownloadManagerAvailable());
  RegisterDownloadManagerBackend();
  VexaFiles::StreamIo* stream = nullptr;
  ASSERT_EQ(VexaFiles::StreamIoCreate(VexaFiles::kStreamKindDownloadManager, nullptr, nullptr, &stream), 0);
  EXPECT_EQ(stream->open(stream, u"http://h/x.mkv", 0), kFailed);
  StreamQueryValue value{};
  for (uint32_t query : {kQueryProgress, kQueryBitRate, kQueryFileSize, kQueryDownloadedSize,
                         kQueryBytesAvailableAhead, kQueryByteRangeRequests})
    EXPECT_EQ(stream->query(stream, query, &value), kFailed) << std::hex << query;
  VexaFiles::StreamIoDestroy(stream);
}

// Loads for real and remembers the paths tried and the loads that succeeded.
struct OpenLog {
  std::mutex lock;
  std::vector<std::string> tried;
  int loads = 0;
  static bool Open(VexaOS::ScopedDLL& library, const char* path, void* context) {
    auto* self = static_cast<OpenLog*>(context);
    std::lock_guard<std::mutex> hold(self->lock);
    self->tried.push_back(path);
    return library.Load(path) && ++self->loads;
  }
};

const std::vector<std::string> kBare{"VexaDownloadManager.dll", "VexaDownloadManager.so", "libVexaDownloadManager.dylib"};

// The names tried in the scripted library's folder: up to its own, which loads.
std::vector<std::string> UpToTheScriptedName() {
  std::vector<std::string> names;
  for (const std::string& name : kBare) {
    names.push_back(name);
    if (name == SCRIPTED_DM_NAME) return names;
  }
  ADD_FAILURE() << SCRIPTED_DM_NAME << " is not a name the loader tries";
  return names;
}

// InstallDir unset, empty, naming a folder without the library, naming the scripted library's.
TEST(LoaderTest, TriesTheBareNamesThenInstallDir) {
  const struct { const char* installDir; std::vector<std::string> underDir; bool found; } rows[] = {
      {nullptr, {}, false}, {"", {}, false}, {"/nonexistent/dm", kBare, false},
      {SCRIPTED_DM_DIR, UpToTheScriptedName(), true}};
  for (const auto& row : rows) {
    Settings settings;
    if (row.installDir) settings.SetInstallDir(row.installDir);
    OpenLog log;
    DownloadManagerLoader loader(OpenLog::Open, &log);
    const bool found = loader.Resolve(kEntryFileOpenEx) != nullptr;
    std::vector<std::string> expected = kBare;
    for (const std::string& name : row.underDir) expected.push_back(std::string(row.installDir) + "/" + name);
    EXPECT_EQ(log.tried, expected);
    EXPECT_EQ(found, row.found);
    // Found: the next entry point comes without another load; not found: every path again.
    EXPECT_EQ(loader.Resolve(kEntryFileClose) != nullptr, found);
    EXPECT_EQ(log.tried.size(), expected.size() * (found ? 1 : 2));
  }
}

TEST(LoaderRetryTest, AFailedLoadIsRetriedAndConcurrentFirstUsesLoadOnce) {
  Settings settings;
  OpenLog log;
  DownloadManagerLoader loader(OpenLog::Open, &log);
  EXPECT_EQ(loader.Resolve(kEntryFileRead), nullptr);
  settings.SetInstallDir(SCRIPTED_DM_DIR);
  std::atomic<int> resolved{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { resolved += loader.Resolve(EntryPoint(i % kEntryPointCount)) != nullptr; });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(resolved.load(), 8);
  EXPECT_EQ(log.loads, 1);
}

}  // namespace
