#include <gtest/gtest.h>

#include <fstream>

#include "platform/os/FileUrl.h"
#include "platform/os/Int64Pair.h"
#include "tests/platform/files/TestDir.h"

using namespace VexaOS;

TEST(Int64Pair, CarriesBorrowsAndComparesHighWordsFirstUnsigned) {
  Int64Pair pair{0, 0xFFFFFFFF};
  Int64PairAdd(pair, 1);
  EXPECT_EQ(pair.high, 1u);
  Int64PairSubPair(pair, Int64PairFrom(0x100000001ull));
  EXPECT_EQ(Int64PairValue(pair), ~0ull);  // wraps
  Int64PairAddPair(pair, Int64PairFrom(2));
  EXPECT_EQ(Int64PairValue(pair), 1ull);
  const Int64Pair small{0, 0xFFFFFFFF}, big{1, 0}, huge{0x80000000, 0};
  EXPECT_TRUE(Int64PairLess(small, big) && Int64PairGreater(huge, big) && Int64PairLessOrEqual(small, small));
  EXPECT_FALSE(Int64PairGreater(small, small) || Int64PairLess(big, small) || Int64PairIsZero(Int64Pair{0, 1}));
}

TEST(FileUrl, ConvertsFileUrlsToPathsOf2047CharactersAtMost) {
  std::string path;
  ASSERT_TRUE(FileUrlToPath("file:///tmp/a%20b/c%25d%C3%A9", path));
  EXPECT_EQ(path, "/tmp/a b/c%d\xC3\xA9");
  ASSERT_TRUE(FileUrlToPath("FILE://localhost/x", path));
  EXPECT_EQ(path, "/x");
  for (const char* bad : {"file://server/share/x", "http://host/x", "/tmp/x", "file:///bad%2", "file:///bad%zz",
                          "file:///nul%00", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(FileUrlToPath(bad, path)) << (bad ? bad : "null");
  const std::string longest = "file:///" + std::string(2046, 'a');  // "/" + 2046
  EXPECT_TRUE(FileUrlToPath(longest.c_str(), path));
  EXPECT_FALSE(FileUrlToPath((longest + "a").c_str(), path));
  EXPECT_TRUE(FileUrlToPath(("file:///" + std::string(2045, 'a') + "%41").c_str(), path));  // decoded length
}

TEST(FileUrl, FileInfoAndDelete) {
  TempDir dir;
  const std::string file = (dir.path() / "some file.bin").string();
  std::ofstream(file, std::ios::binary) << std::string(12345, 'x');
  const std::string url = "file://" + (dir.path() / "some%20file.bin").string();
  VexaFileInfo info{};
  ASSERT_EQ(FileInfoFromUrl(url.c_str(), &info), kFileUrlOk);
  EXPECT_EQ(Int64PairValue(info.size), 12345u);
  EXPECT_EQ(FileInfoFromUrl(file.c_str(), &info), kFileUrlFailed);  // a path, not a URL
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), kFileUrlOk);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), kFileUrlFailed);
  EXPECT_EQ(FileInfoFromUrl(url.c_str(), &info), kFileUrlFailed);
}
