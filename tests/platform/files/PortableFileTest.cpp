#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "platform/files/PortableFile.h"
#include "platform/os/MemoryArena.h"
#include "tests/platform/files/TestDir.h"

using namespace VexaFiles;

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(PortableFile, OpenFailures) {
  TempDir dir;
  PortableFile* file = reinterpret_cast<PortableFile*>(1);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("missing").c_str(), &file), kPortableNotFound);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, nullptr, &file), kPortableNoName);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("x").c_str(), nullptr), kPortableNoHandle);
  EXPECT_EQ(PortableFileOpen(kPortableReadWrite, nullptr, dir.Wide("missing").c_str(), &file), kPortableNotFound);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("no/such/dir").c_str(), &file), kPortableNotFound);
  WriteFile(dir.path() / "plain", "abc");
  EXPECT_EQ(PortableFileOpen(kPortableRead | kPortableTruncate, nullptr, dir.Wide("plain").c_str(), &file),
            kPortableTruncateNeedsWrite);
  EXPECT_EQ(PortableFileOpen(kPortableReadOnly | kPortableTruncate, nullptr, dir.Wide("plain").c_str(), &file),
            kPortableTruncateNeedsWrite);
  EXPECT_EQ(ReadFile(dir.path() / "plain"), "abc");
  // A directory is not a file.
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("").c_str(), &file), kPortableAccessDenied);
  // A name that is not well-formed UTF-16.
  const char16_t lone[] = {u'/', u't', 0xDC00, 0};
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, lone, &file), kPortableInvalid);
  if (::geteuid() != 0) {
    WriteFile(dir.path() / "locked", "x");
    ::chmod((dir.path() / "locked").c_str(), 0);
    EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("locked").c_str(), &file), kPortableAccessDenied);
  }
}

TEST(PortableFile, WritesReadsAndKeepsThePosition) {
  TempDir dir;
  const std::u16string name = dir.Wide("data.bin");
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableWrite, nullptr, name.c_str(), &file), kPortableOk);
  EXPECT_EQ(file->name, name);
  uint32_t count = 0;
  ASSERT_EQ(PortableFileWrite(file, "hello world", 11, &count), kPortableOk);
  EXPECT_EQ(count, 11u);
  EXPECT_EQ(file->position, 11);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(PortableFileSize(name.c_str()), 11);

  ASSERT_EQ(PortableFileOpen(kPortableRead, nullptr, name.c_str(), &file), kPortableOk);
  char buffer[32] = {};
  ASSERT_EQ(PortableFileRead(file, buffer, 5, &count), kPortableOk);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(file->position, 5);
  ASSERT_EQ(PortableFileRead(file, buffer, 32, &count), kPortableOk);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(file->position, 11);
  ASSERT_EQ(PortableFileRead(file, buffer, 32, &count), kPortableOk);
  EXPECT_EQ(count, 0u);
  // Writing through a read-only opening fails and clears the position.
  EXPECT_EQ(PortableFileWrite(file, "x", 1, &count), kPortableWriteFailed);
  EXPECT_EQ(file->position, 0);
  EXPECT_EQ(PortableFileClose(file), kPortableOk);
}

TEST(PortableFile, WriteAccessCreatesWithoutTruncatingUnlessAsked) {
  TempDir dir;
  WriteFile(dir.path() / "f", "0123456789");
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableWrite, nullptr, dir.Wide("f").c_str(), &file), kPortableOk);
  uint32_t count;
  ASSERT_EQ(PortableFileWrite(file, "ab", 2, &count), kPortableOk);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "ab23456789");
  ASSERT_EQ(PortableFileOpen(kPortableWrite | kPortableTruncate, nullptr, dir.Wide("f").c_str(), &file), kPortableOk);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "");
  ASSERT_EQ(PortableFileOpen(kPortableReadWrite | kPortableTruncate | kPortableText | kPortableSequential,
                             nullptr, dir.Wide("f").c_str(), &file), kPortableOk);
  ASSERT_EQ(PortableFileWrite(file, "xyz", 3, &count), kPortableOk);
  ASSERT_EQ(PortableFileSeek(file, 1, kSeekFromStart), kPortableOk);
  char c = 0;
  ASSERT_EQ(PortableFileRead(file, &c, 1, &count), kPortableOk);
  EXPECT_EQ(c, 'y');
  ASSERT_EQ(PortableFileWrite(file, "Z", 1, &count), kPortableOk);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "xyZ");
}

TEST(PortableFile, NamesOutsideTheBasicPlaneOpenTheRightFile) {
  TempDir dir;
  const std::string utf8Name = "clip-\xF0\x9F\x8E\xAC-\xC3\xA9t\xC3\xA9.mkv";
  WriteFile(dir.path() / utf8Name, "film");
  WriteFile(dir.path() / "clip-?-?t?.mkv", "wrong");
  std::string base = dir.path().string() + "/";
  std::u16string wide(base.begin(), base.end());
  wide += u"clip-\U0001F3AC-\u00E9t\u00E9.mkv";
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableRead, nullptr, wide.c_str(), &file), kPortableOk);
  char buffer[8] = {};
  uint32_t count = 0;
  ASSERT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableOk);
  EXPECT_EQ(std::string(buffer, count), "film");
  PortableFileClose(file);
  EXPECT_EQ(PortableFileSize(wide.c_str()), 4);
  // Created by wide name, found by its UTF-8 name.
  std::u16string created = std::u16string(base.begin(), base.end()) + u"\U00010348.txt";
  ASSERT_EQ(PortableFileOpen(kPortableWrite, nullptr, created.c_str(), &file), kPortableOk);
  PortableFileClose(file);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "\xF0\x90\x8D\x88.txt"));
}

TEST(PortableFile, DenyingSharingKeepsOthersOut) {
  TempDir dir;
  WriteFile(dir.path() / "f", "data");
  const std::u16string name = dir.Wide("f");
  PortableFile* first = nullptr;
  PortableFile* second = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableRead | kPortableDenyShare, nullptr, name.c_str(), &first), kPortableOk);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, name.c_str(), &second), kPortableAccessDenied);
  EXPECT_EQ(PortableFileOpen(kPortableWrite | kPortableTruncate, nullptr, name.c_str(), &second), kPortableAccessDenied);
  EXPECT_EQ(ReadFile(dir.path() / "f"), "data");
  PortableFileClose(first);
  ASSERT_EQ(PortableFileOpen(kPortableRead, nullptr, name.c_str(), &first), kPortableOk);
  ASSERT_EQ(PortableFileOpen(kPortableReadWrite, nullptr, name.c_str(), &second), kPortableOk);
  PortableFile* third = nullptr;
  EXPECT_EQ(PortableFileOpen(kPortableRead | kPortableDenyShare, nullptr, name.c_str(), &third), kPortableAccessDenied);
  PortableFileClose(first);
  PortableFileClose(second);
}

TEST(PortableFile, SeekRules) {
  TempDir dir;
  WriteFile(dir.path() / "f", "0123456789");
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("f").c_str(), &file), kPortableOk);
  ASSERT_EQ(PortableFileSeek(file, 4, kSeekFromStart), kPortableOk);
  EXPECT_EQ(file->position, 4);
  // A seek from the start to the current position makes no system call.
  const uint64_t before = PortableSystemSeekCount();
  ASSERT_EQ(PortableFileSeek(file, 4, kSeekFromStart), kPortableOk);
  EXPECT_EQ(PortableSystemSeekCount(), before);
  ASSERT_EQ(PortableFileSeek(file, 0, kSeekFromCurrent), kPortableOk);
  EXPECT_EQ(PortableSystemSeekCount(), before + 1);
  ASSERT_EQ(PortableFileSeek(file, 2, kSeekFromCurrent), kPortableOk);
  EXPECT_EQ(file->position, 6);
  ASSERT_EQ(PortableFileSeek(file, -3, kSeekFromEnd), kPortableOk);
  EXPECT_EQ(file->position, 7);
  char c;
  uint32_t count;
  ASSERT_EQ(PortableFileRead(file, &c, 1, &count), kPortableOk);
  EXPECT_EQ(c, '7');
  EXPECT_EQ(PortableFileSeek(file, 0, 3), kPortableBadOrigin);
  EXPECT_EQ(PortableFileSeek(file, 0, -1), kPortableBadOrigin);
  EXPECT_EQ(file->position, 8);
  // A seek before the start is an invalid argument and clears the position.
  EXPECT_EQ(PortableFileSeek(file, -100, kSeekFromCurrent), kPortableSeekInvalid);
  EXPECT_EQ(file->position, 0);
  // Beyond the end is allowed.
  ASSERT_EQ(PortableFileSeek(file, 100, kSeekFromStart), kPortableOk);
  EXPECT_EQ(file->position, 100);
  PortableFileClose(file);
  EXPECT_EQ(PortableFileSeek(nullptr, 0, 0), kPortableNullFile);
  EXPECT_EQ(PortableFileRead(nullptr, &c, 1, &count), kPortableNullFile);
  EXPECT_EQ(PortableFileWrite(nullptr, &c, 1, &count), kPortableNullFile);
  EXPECT_EQ(PortableFileClose(nullptr), kPortableCloseFailed);
}

TEST(PortableFile, SizeOfAMissingEntry) {
  TempDir dir;
  EXPECT_EQ(PortableFileSize(dir.Wide("none").c_str()), kPortableNoHandle);
  EXPECT_EQ(PortableFileSize(nullptr), kPortableNoHandle);
}

TEST(PortableFile, RecordAndNameComeFromTheArena) {
  TempDir dir;
  WriteFile(dir.path() / "f", "abc");
  alignas(8) static unsigned char buffer[4096];
  VexaOS::ArenaDescriptor descriptor{buffer, sizeof buffer, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  ASSERT_NE(arena, nullptr);
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableRead, arena, dir.Wide("f").c_str(), &file), kPortableOk);
  EXPECT_GE(reinterpret_cast<unsigned char*>(file), buffer);
  EXPECT_LT(reinterpret_cast<unsigned char*>(file), buffer + sizeof buffer);
  EXPECT_EQ(arena->entries, 2u);
  EXPECT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(arena->entries, 0u);
}

TEST(PortableFile, ConsoleReadsStandardInputAndRefusesSeeks) {
  TempDir dir;
  WriteFile(dir.path() / "in", "typed");
  // Standard input is replaced for this test process only.
  ASSERT_NE(std::freopen((dir.path() / "in").c_str(), "rb", stdin), nullptr);
  PortableFile* file = nullptr;
  ASSERT_EQ(PortableFileOpen(kPortableConsole, nullptr, nullptr, &file), kPortableOk);
  EXPECT_TRUE(file->console);
  char buffer[16];
  uint32_t count = 0;
  ASSERT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableOk);
  EXPECT_EQ(std::string(buffer, count), "typed");
  EXPECT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableEndOfInput);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(PortableFileSeek(file, 0, kSeekFromStart), kPortableConsoleSeek);
  EXPECT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(std::freopen("/dev/null", "rb", stdin), stdin);
}

namespace {

std::set<std::pair<std::u16string, bool>> List(const std::u16string& path, std::u16string* pattern = nullptr) {
  std::set<std::pair<std::u16string, bool>> seen;
  PortableDir* dir = nullptr;
  EXPECT_EQ(PortableDirOpen(nullptr, path.c_str(), &dir), kPortableOk);
  if (!dir) return seen;
  if (pattern) *pattern = dir->pattern;
  PortableDirEntry entry;
  int32_t result;
  while ((result = PortableDirNext(dir, &entry)) == kPortableOk) seen.insert({entry.name, entry.isDirectory});
  EXPECT_EQ(result, kPortableEndOfList);
  EXPECT_EQ(PortableDirClose(dir), kPortableOk);
  return seen;
}

}  // namespace

TEST(PortableDir, ListsEntriesWithTheirDirectoryFlag) {
  TempDir dir;
  WriteFile(dir.path() / "a.txt", "");
  WriteFile(dir.path() / "noext", "");
  std::filesystem::create_directory(dir.path() / "sub");
  WriteFile(dir.path() / "\xE2\x82\xAC\xF0\x9F\x98\x80", "");
  std::u16string pattern;
  auto seen = List(dir.Wide(""), &pattern);  // the path ends with "/"
  EXPECT_EQ(pattern, dir.Wide("").substr(0, dir.Wide("").size() - 1) + u"\\*.*");
  std::set<std::pair<std::u16string, bool>> expected = {
      {u".", true}, {u"..", true}, {u"a.txt", false}, {u"noext", false}, {u"sub", true},
      {u"\u20AC\U0001F600", false}};
  EXPECT_EQ(seen, expected);
}

TEST(PortableDir, PatternOfAPathEndingInABackslash) {
  TempDir dir;
  WriteFile(dir.path() / "only", "");
  std::u16string path = dir.Wide("");
  path.back() = u'\\';
  std::u16string pattern;
  auto seen = List(path, &pattern);
  EXPECT_EQ(pattern, path + u"*.*");
  EXPECT_EQ(seen.count({u"only", false}), 1u);
}

TEST(PortableDir, MissingDirectoryAndBadArguments) {
  TempDir dir;
  PortableDir* listing = nullptr;
  ASSERT_EQ(PortableDirOpen(nullptr, dir.Wide("none").c_str(), &listing), kPortableOk);
  PortableDirEntry entry;
  EXPECT_EQ(PortableDirNext(listing, &entry), kPortableNotFound);
  EXPECT_EQ(PortableDirClose(listing), kPortableOk);
  EXPECT_EQ(PortableDirOpen(nullptr, nullptr, &listing), kPortableNoName);
  EXPECT_EQ(PortableDirOpen(nullptr, u"/", nullptr), kPortableNoHandle);
}
