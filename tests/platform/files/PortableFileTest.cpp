#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "platform/files/PortableFile.h"
#include "tests/platform/files/TestDir.h"

using namespace VexaFiles;

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
int32_t Open(uint32_t flags, const std::u16string& name, PortableFile** file) {
  return PortableFileOpen(flags, nullptr, name.c_str(), file);
}

}  // namespace

TEST(PortableFile, OpenFailures) {
  TempDir dir;
  WriteFile(dir.path() / "plain", "abc");
  const char16_t lone[] = {u'/', u't', 0xDC00, 0};
  const struct {
    uint32_t flags;
    std::u16string name;
    int32_t expected;
  } cases[] = {
      {kPortableRead, dir.Wide("missing"), kPortableNotFound},
      {kPortableReadWrite, dir.Wide("missing"), kPortableNotFound},
      {kPortableRead, dir.Wide("no/such/dir"), kPortableNotFound},
      {kPortableRead | kPortableTruncate, dir.Wide("plain"), kPortableTruncateNeedsWrite},
      {kPortableReadOnly | kPortableTruncate, dir.Wide("plain"), kPortableTruncateNeedsWrite},
      {kPortableRead, dir.Wide(""), kPortableAccessDenied},  // a directory is not a file
      {kPortableRead, lone, kPortableInvalid},              // not well-formed UTF-16
  };
  for (const auto& c : cases) {
    PortableFile* file = reinterpret_cast<PortableFile*>(1);
    EXPECT_EQ(Open(c.flags, c.name, &file), c.expected) << c.flags;
    EXPECT_EQ(file, nullptr);
  }
  EXPECT_EQ(ReadFile(dir.path() / "plain"), "abc");
  PortableFile* file = nullptr;
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, nullptr, &file), kPortableNoName);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("x").c_str(), nullptr), kPortableNoHandle);
  EXPECT_EQ(PortableFileSize(dir.Wide("none").c_str()), kPortableNoHandle);
}

TEST(PortableFile, WritesReadsSeeksAndKeepsThePosition) {
  TempDir dir;
  WriteFile(dir.path() / "f", "0123456789");
  PortableFile* file = nullptr;
  uint32_t count = 0;
  ASSERT_EQ(Open(kPortableWrite, dir.Wide("f"), &file), kPortableOk);  // no truncation unless asked
  ASSERT_EQ(PortableFileWrite(file, "ab", 2, &count), kPortableOk);
  EXPECT_EQ(file->position, 2);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "ab23456789");
  ASSERT_EQ(Open(kPortableRead, dir.Wide("f"), &file), kPortableOk);
  char buffer[16] = {};
  ASSERT_EQ(PortableFileRead(file, buffer, 16, &count), kPortableOk);
  EXPECT_EQ(count, 10u);
  const uint64_t before = PortableSystemSeekCount();
  ASSERT_EQ(PortableFileSeek(file, 10, kSeekFromStart), kPortableOk);  // already there: no call
  EXPECT_EQ(PortableSystemSeekCount(), before);
  ASSERT_EQ(PortableFileSeek(file, -3, kSeekFromEnd), kPortableOk);
  EXPECT_EQ(file->position, 7);
  EXPECT_EQ(PortableFileSeek(file, 0, 3), kPortableBadOrigin);
  EXPECT_EQ(PortableFileSeek(file, -100, kSeekFromCurrent), kPortableSeekInvalid);
  EXPECT_EQ(file->position, 0);  // a failed seek clears it
  EXPECT_EQ(PortableFileWrite(file, "x", 1, &count), kPortableWriteFailed);  // read-only
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  ASSERT_EQ(Open(kPortableReadWrite | kPortableTruncate, dir.Wide("f"), &file), kPortableOk);
  ASSERT_EQ(PortableFileWrite(file, "xyz", 3, &count), kPortableOk);
  ASSERT_EQ(PortableFileSeek(file, 1, kSeekFromStart), kPortableOk);
  ASSERT_EQ(PortableFileRead(file, buffer, 1, &count), kPortableOk);
  ASSERT_EQ(PortableFileWrite(file, "Z", 1, &count), kPortableOk);  // a change of direction
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "xyZ");
  EXPECT_EQ(PortableFileSeek(nullptr, 0, 0), kPortableNullFile);
  EXPECT_EQ(PortableFileRead(nullptr, buffer, 1, &count), kPortableNullFile);
  EXPECT_EQ(PortableFileClose(nullptr), kPortableCloseFailed);
}

TEST(PortableFile, NamesOutsideTheBasicPlaneOpenTheRightFile) {
  TempDir dir;
  WriteFile(dir.path() / "clip-\xF0\x9F\x8E\xAC-\xC3\xA9t\xC3\xA9.mkv", "film");
  WriteFile(dir.path() / "clip-?-?t?.mkv", "wrong");
  EXPECT_EQ(PortableFileSize((dir.Wide("") + u"clip-\U0001F3AC-\u00E9t\u00E9.mkv").c_str()), 4);
  PortableFile* file = nullptr;
  ASSERT_EQ(Open(kPortableWrite, dir.Wide("") + u"\U00010348.txt", &file), kPortableOk);
  PortableFileClose(file);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "\xF0\x90\x8D\x88.txt"));
}

TEST(PortableFile, DenyingSharingKeepsOthersOutAndTheBytesIn) {
  TempDir dir;
  WriteFile(dir.path() / "f", "data");
  PortableFile *first = nullptr, *second = nullptr;
  ASSERT_EQ(Open(kPortableRead | kPortableDenyShare, dir.Wide("f"), &first), kPortableOk);
  EXPECT_EQ(Open(kPortableRead, dir.Wide("f"), &second), kPortableAccessDenied);
  EXPECT_EQ(Open(kPortableWrite | kPortableTruncate, dir.Wide("f"), &second), kPortableAccessDenied);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "data");
  PortableFileClose(first);
  ASSERT_EQ(Open(kPortableRead, dir.Wide("f"), &first), kPortableOk);
  EXPECT_EQ(Open(kPortableRead | kPortableDenyShare, dir.Wide("f"), &second), kPortableAccessDenied);
  PortableFileClose(first);
}

TEST(PortableFile, ConsoleReadsStandardInputAndRefusesSeeks) {
  TempDir dir;
  WriteFile(dir.path() / "in", "typed");
  ASSERT_NE(std::freopen((dir.path() / "in").c_str(), "rb", stdin), nullptr);  // this process only
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableConsole, nullptr, nullptr, &file), kPortableOk);
  char buffer[16];
  uint32_t count = 0;
  ASSERT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableOk);
  EXPECT_EQ(std::string(buffer, count), "typed");
  EXPECT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableEndOfInput);
  EXPECT_EQ(PortableFileSeek(file, 0, kSeekFromStart), kPortableConsoleSeek);
  EXPECT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(std::freopen("/dev/null", "rb", stdin), stdin);
}

TEST(PortableDir, ListsEntriesWithTheirDirectoryFlagUnderEitherPattern) {
  TempDir dir;
  WriteFile(dir.path() / "a.txt", "");
  std::filesystem::create_directory(dir.path() / "sub");
  WriteFile(dir.path() / "\xE2\x82\xAC\xF0\x9F\x98\x80", "");
  std::u16string backslashed = dir.Wide("");
  backslashed.back() = u'\\';
  for (const std::u16string& path : {dir.Wide(""), backslashed}) {
    PortableDir* listing = nullptr;
    ASSERT_EQ(PortableDirOpen(nullptr, path.c_str(), &listing), kPortableOk);
    EXPECT_EQ(std::u16string(listing->pattern), path.substr(0, path.size() - 1) + u"\\*.*");
    std::set<std::pair<std::u16string, bool>> seen;
    PortableDirEntry entry;
    while (PortableDirNext(listing, &entry) == kPortableOk) seen.insert({entry.name, entry.isDirectory});
    EXPECT_EQ(seen, (std::set<std::pair<std::u16string, bool>>{
                        {u".", true}, {u"..", true}, {u"a.txt", false}, {u"sub", true}, {u"\u20AC\U0001F600", false}}));
    EXPECT_EQ(PortableDirClose(listing), kPortableOk);
  }
  PortableDir* missing = nullptr;
  ASSERT_EQ(PortableDirOpen(nullptr, dir.Wide("none").c_str(), &missing), kPortableOk);
  PortableDirEntry entry;
  EXPECT_EQ(PortableDirNext(missing, &entry), kPortableNotFound);
  EXPECT_EQ(PortableDirClose(missing), kPortableOk);
  EXPECT_EQ(PortableDirOpen(nullptr, nullptr, &missing), kPortableNoName);
}
