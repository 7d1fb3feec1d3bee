#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/os/FileUrl.h"
#include "tests/platform/files/TestDir.h"

using namespace VexaOS;

TEST(FileUrl, ConvertsFileUrlsToPaths) {
  std::string path;
  ASSERT_TRUE(FileUrlToPath("file:///tmp/a%20b/c%25d%C3%A9", path));
  EXPECT_EQ(path, "/tmp/a b/c%d\xC3\xA9");
  ASSERT_TRUE(FileUrlToPath("FILE://localhost/x", path));
  EXPECT_EQ(path, "/x");
  EXPECT_FALSE(FileUrlToPath("file://server/share/x", path));
  EXPECT_FALSE(FileUrlToPath("http://host/x", path));
  EXPECT_FALSE(FileUrlToPath("/tmp/x", path));
  EXPECT_FALSE(FileUrlToPath("file:///bad%2", path));
  EXPECT_FALSE(FileUrlToPath("file:///bad%zz", path));
  EXPECT_FALSE(FileUrlToPath("file:///nul%00", path));
  EXPECT_FALSE(FileUrlToPath(nullptr, path));
}

TEST(FileUrl, PathLimitIs2047Characters) {
  std::string path;
  std::string longest = "file:///" + std::string(2046, 'a');  // path "/" + 2046 = 2047
  ASSERT_TRUE(FileUrlToPath(longest.c_str(), path));
  EXPECT_EQ(path.size(), 2047u);
  std::string tooLong = longest + "a";
  EXPECT_FALSE(FileUrlToPath(tooLong.c_str(), path));
  // Escapes count once decoded.
  std::string escaped = "file:///" + std::string(2045, 'a') + "%41";
  EXPECT_TRUE(FileUrlToPath(escaped.c_str(), path));
}

TEST(FileUrl, FileInfoAndDelete) {
  TempDir dir;
  const std::string file = (dir.path() / "some file.bin").string();
  { std::ofstream(file, std::ios::binary) << std::string(12345, 'x'); }
  std::string url = "file://" + (dir.path() / "some%20file.bin").string();
  VexaFileInfo info{};
  ASSERT_EQ(FileInfoFromUrl(url.c_str(), &info), 0);
  EXPECT_EQ(Int64PairValue(info.size), 12345u);
  EXPECT_LT(info.secondsSinceAccess, 60u);
  EXPECT_EQ(FileInfoFromUrl(url.c_str(), nullptr), 1);
  EXPECT_EQ(FileInfoFromUrl(nullptr, &info), 1);
  EXPECT_EQ(FileInfoFromUrl(file.c_str(), &info), 1);  // a path, not a URL
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), 1);
  EXPECT_EQ(FileInfoFromUrl(url.c_str(), &info), 1);
  EXPECT_EQ(DeleteFileFromUrl(nullptr), 1);
}
