// The server's frame: the served folder's ids never lead out of the root, the device keeps its
// identity across restarts, and SIGTERM ends it cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ProcessTestTools.h"
#include "tests/tools/vexa-serve/ServeProcess.h"
#include "tools/vexa-serve/MediaLibrary.h"

namespace fs = std::filesystem;
using ProcessTestTools::TempDir;

namespace {

TEST(MediaLibrary, IdsNeverLeadOutOfTheRoot) {
  TempDir dir("serve-library");
  fs::path root = dir.path() / "root";
  fs::create_directories(root / "films");
  std::ofstream(root / "films" / "a.mkv") << "x";
  std::ofstream(root / "films" / "a.srt") << "1\n";
  std::ofstream(dir.path() / "secret.mkv") << "x";
  fs::create_symlink(dir.path() / "secret.mkv", root / "out.mkv");
  fs::create_symlink(root / "films" / "a.mkv", root / "in.mkv");
  MediaLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(root.string(), &error)) << error;
  const struct { const char* id; LookupResult result; } cases[] = {
      {"0", LookupResult::kFound},
      {"films", LookupResult::kFound},
      {"films/a.mkv", LookupResult::kFound},
      {"in.mkv", LookupResult::kFound},  // a link that stays inside
      {"films/a.srt", LookupResult::kNotFound},  // not an item (a file for FindFile)
      {"films/none.mkv", LookupResult::kNotFound},
      {"out.mkv", LookupResult::kOutsideRoot},
      {"../secret.mkv", LookupResult::kOutsideRoot},
      {"films/../../secret.mkv", LookupResult::kOutsideRoot},
      {"films/./a.mkv", LookupResult::kOutsideRoot},
      {"/etc/passwd", LookupResult::kOutsideRoot},
      {"films//a.mkv", LookupResult::kOutsideRoot},
      {"", LookupResult::kOutsideRoot},
  };
  for (const auto& c : cases) {
    MediaEntry entry;
    EXPECT_EQ(library.Find(c.id, &entry), c.result) << c.id;
  }
  MediaEntry item;
  ASSERT_EQ(library.Find("films/a.mkv", &item), LookupResult::kFound);
  EXPECT_EQ(item.parentId, "films");
  EXPECT_EQ(item.title, "a");
  EXPECT_EQ(item.subtitleId, "films/a.srt");
  std::vector<MediaEntry> top;
  ASSERT_EQ(library.List("0", &top), LookupResult::kFound);
  ASSERT_EQ(top.size(), 2u);  // the folder first, then the link inside; never the one outside
  EXPECT_EQ(top[0].id, "films");
  EXPECT_EQ(top[1].id, "in.mkv");
}

TEST(ServeFrame, KeepsItsIdentityAndStopsOnSigterm) {
  TempDir dir("serve-frame");
  fs::create_directories(dir.path() / "root");
  std::string first, second;
  for (std::string* uuid : {&first, &second}) {
    ServeProcess serve((dir.path() / "root").string(), (dir.path() / "settings").string());
    ASSERT_FALSE(serve.Url().empty()) << serve.Log();
    size_t at = serve.Log().find("(uuid:");
    ASSERT_NE(at, std::string::npos);
    *uuid = serve.Log().substr(at + 1, 41);
    EXPECT_EQ(serve.Stop(), 0) << serve.Log();
  }
  EXPECT_EQ(first, second);
}

}  // namespace
