#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "platform/files/PortableFile.h"
#include "platform/files/StreamIo.h"
#include "platform/os/MemoryArena.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaFiles;
using ProcessTestTools::TempDir;

namespace {

class Files : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& bytes) { std::ofstream(dir.path() / name, std::ios::binary) << bytes; }
  std::string Read(const std::string& name) {
    std::ifstream in(dir.path() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int32_t Open(uint32_t flags, const std::u16string& name, PortableFile** file) {
    return PortableFileOpen(flags, nullptr, name.c_str(), file);
  }
  TempDir dir{"files"};
  PortableFile* file = nullptr;
  char buffer[16] = {};
  uint32_t count = 0;
};

int32_t FakeOpen(StreamIo* stream, const char16_t*, int32_t) {
  stream->size = 1234;
  return 0;
}

}  // namespace

TEST_F(Files, OpenFailures) {
  Write("plain", "abc");
  const char16_t lone[] = {u'/', u't', 0xDC00, 0};
  const struct {
    uint32_t flags;
    std::u16string name;
    int32_t expected;
  } cases[] = {
      {kPortableRead, dir.Wide("missing"), kPortableNotFound},
      {kPortableRead, dir.Wide("no/such/dir"), kPortableNotFound},
      {kPortableRead | kPortableTruncate, dir.Wide("plain"), kPortableTruncateNeedsWrite},
      {kPortableRead, dir.Wide(""), kPortableAccessDenied},  // a directory is not a file
      {kPortableRead, lone, kPortableInvalid},              // not well-formed UTF-16
  };
  for (const auto& c : cases) {
    file = reinterpret_cast<PortableFile*>(1);
    EXPECT_EQ(Open(c.flags, c.name, &file), c.expected) << c.flags;
    EXPECT_EQ(file, nullptr);
  }
  EXPECT_EQ(Read("plain"), "abc");
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, nullptr, &file), kPortableNoName);
  EXPECT_EQ(PortableFileOpen(kPortableRead, nullptr, dir.Wide("x").c_str(), nullptr), kPortableNoHandle);
  EXPECT_EQ(PortableFileSize(dir.Wide("none").c_str()), kPortableNoHandle);
}

TEST_F(Files, WritesReadsSeeksAndKeepsThePosition) {
  Write("f", "0123456789");
  ASSERT_EQ(Open(kPortableWrite, dir.Wide("f"), &file), kPortableOk);  // no truncation unless asked
  ASSERT_EQ(PortableFileWrite(file, "ab", 2, &count), kPortableOk);
  EXPECT_EQ(file->position, 2);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(Read("f"), "ab23456789");
  ASSERT_EQ(Open(kPortableRead, dir.Wide("f"), &file), kPortableOk);
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
  EXPECT_EQ(Read("f"), "xyZ");
  EXPECT_EQ(PortableFileSeek(nullptr, 0, 0), kPortableNullFile);
  EXPECT_EQ(PortableFileRead(nullptr, buffer, 1, &count), kPortableNullFile);
  EXPECT_EQ(PortableFileClose(nullptr), kPortableCloseFailed);
}

// Names outside the basic plane open the right file; denying sharing keeps others out.
TEST_F(Files, WideNamesAndDeniedSharing) {
  Write("clip-\xF0\x9F\x8E\xAC-\xC3\xA9t\xC3\xA9.mkv", "film");
  Write("clip-?-?t?.mkv", "wrong");
  EXPECT_EQ(PortableFileSize(dir.Wide("clip-\xF0\x9F\x8E\xAC-\xC3\xA9t\xC3\xA9.mkv").c_str()), 4);
  PortableFile* second = nullptr;
  ASSERT_EQ(Open(kPortableRead | kPortableDenyShare, dir.Wide("clip-?-?t?.mkv"), &file), kPortableOk);
  EXPECT_EQ(Open(kPortableRead, dir.Wide("clip-?-?t?.mkv"), &second), kPortableAccessDenied);
  EXPECT_EQ(Open(kPortableWrite | kPortableTruncate, dir.Wide("clip-?-?t?.mkv"), &second), kPortableAccessDenied);
  EXPECT_EQ(Read("clip-?-?t?.mkv"), "wrong");
  PortableFileClose(file);
  ASSERT_EQ(Open(kPortableRead, dir.Wide("clip-?-?t?.mkv"), &file), kPortableOk);
  EXPECT_EQ(Open(kPortableRead | kPortableDenyShare, dir.Wide("clip-?-?t?.mkv"), &second), kPortableAccessDenied);
  PortableFileClose(file);
}

TEST_F(Files, ConsoleReadsStandardInputAndRefusesSeeks) {
  Write("in", "typed");
  ASSERT_NE(std::freopen((dir.path() / "in").c_str(), "rb", stdin), nullptr);  // this process only
  ASSERT_EQ(PortableFileOpen(kPortableConsole, nullptr, nullptr, &file), kPortableOk);
  ASSERT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableOk);
  EXPECT_EQ(std::string(buffer, count), "typed");
  EXPECT_EQ(PortableFileRead(file, buffer, sizeof buffer, &count), kPortableEndOfInput);
  EXPECT_EQ(PortableFileSeek(file, 0, kSeekFromStart), kPortableConsoleSeek);
  EXPECT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(std::freopen("/dev/null", "rb", stdin), stdin);
}

TEST_F(Files, ListsEntriesWithTheirDirectoryFlagUnderEitherPattern) {
  Write("a.txt", "");
  Write("\xE2\x82\xAC\xF0\x9F\x98\x80", "");
  std::filesystem::create_directory(dir.path() / "sub");
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

// A network kind answers -1 until its backend is installed, and again once it is removed.
TEST(StreamIo, CreationByKindAndInstalledBackends) {
  StreamIo* stream = nullptr;
  for (int32_t kind : {-1, 1, 2, 5}) {
    stream = reinterpret_cast<StreamIo*>(1);
    EXPECT_EQ(StreamIoCreate(kind, nullptr, nullptr, &stream), kStreamBadKind) << kind;
    EXPECT_EQ(stream, nullptr);
  }
  StreamBackend fake{FakeOpen, nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(StreamIoRegisterBackend(kStreamKindLocal, &fake));
  for (const StreamBackend* backend : {static_cast<const StreamBackend*>(nullptr), static_cast<const StreamBackend*>(&fake)}) {
    ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, backend));
    ASSERT_EQ(StreamIoCreate(kStreamKindUriFile, nullptr, nullptr, &stream), 0);
    EXPECT_EQ(stream->open(stream, u"x", 0), backend ? 0 : -1);
    EXPECT_EQ(stream->size, backend ? 1234 : 0);
    StreamIoDestroy(stream);
  }
  ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, nullptr));
}

// Opening measures the size (rewinding only when not empty); a seek beyond the size leaves the
// position; everything, the record included, comes from the arena and goes back to it.
TEST_F(Files, LocalStreamOpensSeeksAndHoldsEverythingInTheArena) {
  Write("movie.mkv", "0123456789");
  Write("empty", "");
  alignas(8) static unsigned char memory[8192];
  VexaOS::ArenaDescriptor descriptor{memory, sizeof memory, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  StreamIo* stream = nullptr;
  ASSERT_EQ(StreamIoCreate(kStreamKindLocal, nullptr, arena, &stream), 0);
  uint64_t seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("movie.mkv").c_str(), 0), 0);
  EXPECT_EQ(PortableSystemSeekCount(), seeksBefore + 2);  // to the end and back
  EXPECT_EQ(stream->size, 10);
  ASSERT_EQ(stream->read(stream, buffer, 4, &count, 1), 0);
  EXPECT_EQ(std::string(buffer, count), "0123");
  int64_t position = -1;
  ASSERT_EQ(stream->seek(stream, 6, kSeekFromStart, &position), 0);
  position = -1;
  EXPECT_EQ(stream->seek(stream, 11, kSeekFromStart, &position), kStreamBeyondSize);
  EXPECT_EQ(position, -1);
  EXPECT_TRUE(stream->tell(stream, &position) == 0 && position == 6);
  ASSERT_EQ(stream->seek(stream, 10, kSeekFromStart, &position), 0);  // the size itself is fine
  EXPECT_TRUE(stream->seek(stream, -4, kSeekFromEnd, &position) == 0 && position == 6);
  EXPECT_EQ(stream->seek(stream, 0, 7, &position), kPortableBadOrigin);
  seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("empty").c_str(), 0), 0);  // closes the first
  EXPECT_EQ(PortableSystemSeekCount(), seeksBefore + 1);                // to the end only
  EXPECT_EQ(stream->size, 0);
  EXPECT_EQ(std::u16string(stream->name), dir.Wide("empty"));
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(stream->name, nullptr);
  EXPECT_EQ(stream->close(stream), kStreamNoFile);
  EXPECT_EQ(stream->open(stream, dir.Wide("missing").c_str(), 0), kStreamFileOpenFailure);
  EXPECT_EQ(stream->open(stream, nullptr, 0), kStreamFileOpenFailure);
  ASSERT_EQ(stream->open(stream, dir.Wide("out").c_str(), 1), 0);  // the write flag creates it
  EXPECT_EQ(arena->entries, 4u);  // the record, the portable file and its name, the stream's name copy
  ASSERT_EQ(PortableFileWrite(stream->file, "xyz", 3, &count), 0);
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(Read("out"), "xyz");
  StreamIoDestroy(stream);
  EXPECT_EQ(arena->entries, 0u);
}
