#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/files/StreamIo.h"
#include "platform/os/MemoryArena.h"
#include "tests/platform/files/TestDir.h"

using namespace VexaFiles;

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

StreamIo* MakeLocal() {
  StreamIo* stream = nullptr;
  EXPECT_EQ(StreamIoCreate(kStreamKindLocal, nullptr, nullptr, &stream), 0);
  return stream;
}

}  // namespace

TEST(StreamIo, CreationByKind) {
  int context = 0;
  StreamIo* stream = nullptr;
  ASSERT_EQ(StreamIoCreate(kStreamKindLocal, &context, nullptr, &stream), 0);
  EXPECT_EQ(stream->kind, 0);
  EXPECT_EQ(stream->context, &context);
  EXPECT_EQ(stream->open, &LocalStreamOpen);
  EXPECT_EQ(stream->read, &LocalStreamRead);
  EXPECT_EQ(stream->query, nullptr);
  EXPECT_EQ(stream->file, nullptr);
  EXPECT_EQ(stream->size, 0);
  StreamIoDestroy(stream);
  for (int32_t kind : {-1, 1, 2, 5, 99}) {
    stream = reinterpret_cast<StreamIo*>(1);
    EXPECT_EQ(StreamIoCreate(kind, nullptr, nullptr, &stream), kStreamBadKind) << kind;
    EXPECT_EQ(stream, nullptr);
  }
  EXPECT_EQ(StreamIoCreate(0, nullptr, nullptr, nullptr), kStreamBadKind);
}

TEST(StreamIo, NetworkKindsAnswerMinusOneUntilInstalled) {
  for (int32_t kind : {kStreamKindDownloadManager, kStreamKindUriFile}) {
    StreamIo* stream = nullptr;
    ASSERT_EQ(StreamIoCreate(kind, nullptr, nullptr, &stream), 0);
    EXPECT_EQ(stream->open(stream, u"http://example.invalid/a.mkv", 0), -1);
    EXPECT_EQ(stream->query(stream, 0, nullptr), -1);
    StreamIoDestroy(stream);
  }
}

namespace {
int32_t FakeOpen(StreamIo* stream, const char16_t*, int32_t) {
  stream->size = 1234;
  return 0;
}
}  // namespace

TEST(StreamIo, InstalledBackendIsUsedByLaterRecords) {
  StreamBackend fake{FakeOpen, nullptr, nullptr, nullptr, nullptr, nullptr};
  ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, &fake));
  EXPECT_FALSE(StreamIoRegisterBackend(kStreamKindLocal, &fake));
  StreamIo* stream = nullptr;
  ASSERT_EQ(StreamIoCreate(kStreamKindUriFile, nullptr, nullptr, &stream), 0);
  EXPECT_EQ(stream->open(stream, u"x", 0), 0);
  EXPECT_EQ(stream->size, 1234);
  StreamIoDestroy(stream);
  ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, nullptr));
  ASSERT_EQ(StreamIoCreate(kStreamKindUriFile, nullptr, nullptr, &stream), 0);
  EXPECT_EQ(stream->open(stream, u"x", 0), -1);
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalOpenMeasuresTheSizeAndRewinds) {
  TempDir dir;
  WriteFile(dir.path() / "movie.mkv", "0123456789abcdef");
  StreamIo* stream = MakeLocal();
  const uint64_t seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("movie.mkv").c_str(), 0), 0);
  EXPECT_EQ(PortableSystemSeekCount(), seeksBefore + 2);  // to the end and back
  EXPECT_EQ(stream->size, 16);
  EXPECT_EQ(std::u16string(stream->name), dir.Wide("movie.mkv"));
  int64_t position = -1;
  ASSERT_EQ(stream->tell(stream, &position), 0);
  EXPECT_EQ(position, 0);
  char buffer[8];
  uint32_t count = 0;
  ASSERT_EQ(stream->read(stream, buffer, 4, &count, 1), 0);
  EXPECT_EQ(std::string(buffer, count), "0123");
  ASSERT_EQ(stream->tell(stream, &position), 0);
  EXPECT_EQ(position, 4);
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(stream->size, 0);
  EXPECT_EQ(stream->name, nullptr);
  EXPECT_EQ(stream->close(stream), kStreamNoFile);
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalEmptyFileKeepsSizeZeroAndIsNotSoughtBack) {
  TempDir dir;
  WriteFile(dir.path() / "empty", "");
  StreamIo* stream = MakeLocal();
  const uint64_t seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("empty").c_str(), 0), 0);
  EXPECT_EQ(PortableSystemSeekCount(), seeksBefore + 1);  // to the end only
  EXPECT_EQ(stream->size, 0);
  EXPECT_EQ(stream->close(stream), 0);
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalSeekRules) {
  TempDir dir;
  WriteFile(dir.path() / "f", "0123456789");
  StreamIo* stream = MakeLocal();
  ASSERT_EQ(stream->open(stream, dir.Wide("f").c_str(), 0), 0);
  int64_t position = -1;
  ASSERT_EQ(stream->seek(stream, 6, kSeekFromStart, &position), 0);
  EXPECT_EQ(position, 6);
  // Beyond the stored size: -9, the position stays.
  position = -1;
  EXPECT_EQ(stream->seek(stream, 11, kSeekFromStart, &position), kStreamBeyondSize);
  EXPECT_EQ(position, -1);
  ASSERT_EQ(stream->tell(stream, &position), 0);
  EXPECT_EQ(position, 6);
  // Up to the size itself is fine, as is a seek relative to the end or the current position.
  ASSERT_EQ(stream->seek(stream, 10, kSeekFromStart, &position), 0);
  EXPECT_EQ(position, 10);
  ASSERT_EQ(stream->seek(stream, -4, kSeekFromEnd, &position), 0);
  EXPECT_EQ(position, 6);
  ASSERT_EQ(stream->seek(stream, 2, kSeekFromCurrent, &position), 0);
  EXPECT_EQ(position, 8);
  EXPECT_EQ(stream->seek(stream, 0, 7, &position), kPortableBadOrigin);
  char c;
  uint32_t count;
  ASSERT_EQ(stream->read(stream, &c, 1, &count, 0), 0);
  EXPECT_EQ(c, '8');
  EXPECT_EQ(stream->close(stream), 0);
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalOpenFailureAndReopen) {
  TempDir dir;
  WriteFile(dir.path() / "a", "aaaa");
  WriteFile(dir.path() / "b", "bb");
  StreamIo* stream = MakeLocal();
  EXPECT_EQ(stream->open(stream, dir.Wide("missing").c_str(), 0), kStreamFileOpenFailure);
  EXPECT_EQ(stream->open(stream, nullptr, 0), kStreamFileOpenFailure);
  ASSERT_EQ(stream->open(stream, dir.Wide("a").c_str(), 0), 0);
  EXPECT_EQ(stream->size, 4);
  ASSERT_EQ(stream->open(stream, dir.Wide("b").c_str(), 0), 0);  // closes "a" first
  EXPECT_EQ(stream->size, 2);
  EXPECT_EQ(std::u16string(stream->name), dir.Wide("b"));
  EXPECT_EQ(stream->close(stream), 0);
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalWriteFlagCreatesTheFile) {
  TempDir dir;
  StreamIo* stream = MakeLocal();
  ASSERT_EQ(stream->open(stream, dir.Wide("out").c_str(), 1), 0);
  EXPECT_EQ(stream->size, 0);
  uint32_t count = 0;
  ASSERT_EQ(PortableFileWrite(stream->file, "xyz", 3, &count), 0);
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "out"), 3u);
  StreamIoDestroy(stream);
}

TEST(StreamIo, RecordFromTheArena) {
  alignas(8) static unsigned char buffer[8192];
  VexaOS::ArenaDescriptor descriptor{buffer, sizeof buffer, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  TempDir dir;
  WriteFile(dir.path() / "f", "12345");
  StreamIo* stream = nullptr;
  ASSERT_EQ(StreamIoCreate(kStreamKindLocal, nullptr, arena, &stream), 0);
  EXPECT_GE(reinterpret_cast<unsigned char*>(stream), buffer);
  ASSERT_EQ(stream->open(stream, dir.Wide("f").c_str(), 0), 0);
  EXPECT_EQ(arena->entries, 4u);  // record, file, its name, the stream's name copy
  EXPECT_EQ(stream->close(stream), 0);
  StreamIoDestroy(stream);
  EXPECT_EQ(arena->entries, 0u);
}
