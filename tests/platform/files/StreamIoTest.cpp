#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/files/StreamIo.h"
#include "platform/os/MemoryArena.h"
#include "tests/platform/files/TestDir.h"

using namespace VexaFiles;

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

StreamIo* MakeLocal(VexaOS::MemoryArena* arena = nullptr) {
  StreamIo* stream = nullptr;
  EXPECT_EQ(StreamIoCreate(kStreamKindLocal, nullptr, arena, &stream), 0);
  return stream;
}

int32_t FakeOpen(StreamIo* stream, const char16_t*, int32_t) {
  stream->size = 1234;
  return 0;
}

}  // namespace

TEST(StreamIo, CreationByKindAndInstalledBackends) {
  for (int32_t kind : {-1, 1, 2, 5}) {
    StreamIo* stream = reinterpret_cast<StreamIo*>(1);
    EXPECT_EQ(StreamIoCreate(kind, nullptr, nullptr, &stream), kStreamBadKind) << kind;
    EXPECT_EQ(stream, nullptr);
  }
  StreamIo* stream = nullptr;
  // A network kind answers -1 until its backend is installed, and again once it is removed.
  StreamBackend fake{FakeOpen, nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(StreamIoRegisterBackend(kStreamKindLocal, &fake));
  const StreamBackend* backends[] = {nullptr, &fake};
  for (const StreamBackend* backend : backends) {
    ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, backend));
    ASSERT_EQ(StreamIoCreate(kStreamKindUriFile, nullptr, nullptr, &stream), 0);
    EXPECT_EQ(stream->open(stream, u"x", 0), backend ? 0 : -1);
    EXPECT_EQ(stream->size, backend ? 1234 : 0);
    StreamIoDestroy(stream);
  }
  ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, nullptr));
}

TEST(StreamIo, LocalOpenMeasuresTheSizeAndRewindsOnlyWhenNotEmpty) {
  TempDir dir;
  WriteFile(dir.path() / "movie.mkv", "0123456789abcdef");
  WriteFile(dir.path() / "empty", "");
  StreamIo* stream = MakeLocal();
  uint64_t seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("movie.mkv").c_str(), 0), 0);
  EXPECT_EQ(PortableSystemSeekCount(), seeksBefore + 2);  // to the end and back
  EXPECT_EQ(stream->size, 16);
  char buffer[8];
  uint32_t count = 0;
  ASSERT_EQ(stream->read(stream, buffer, 4, &count, 1), 0);
  EXPECT_EQ(std::string(buffer, count), "0123");
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
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalSeekBeyondTheSizeLeavesThePosition) {
  TempDir dir;
  WriteFile(dir.path() / "f", "0123456789");
  StreamIo* stream = MakeLocal();
  ASSERT_EQ(stream->open(stream, dir.Wide("f").c_str(), 0), 0);
  int64_t position = -1;
  ASSERT_EQ(stream->seek(stream, 6, kSeekFromStart, &position), 0);
  position = -1;
  EXPECT_EQ(stream->seek(stream, 11, kSeekFromStart, &position), kStreamBeyondSize);
  EXPECT_EQ(position, -1);
  ASSERT_EQ(stream->tell(stream, &position), 0);
  EXPECT_EQ(position, 6);
  ASSERT_EQ(stream->seek(stream, 10, kSeekFromStart, &position), 0);  // the size itself is fine
  ASSERT_EQ(stream->seek(stream, -4, kSeekFromEnd, &position), 0);
  EXPECT_EQ(position, 6);
  EXPECT_EQ(stream->seek(stream, 0, 7, &position), kPortableBadOrigin);
  EXPECT_EQ(stream->close(stream), 0);
  StreamIoDestroy(stream);
}

TEST(StreamIo, LocalWriteFlagCreatesTheFileAndTheArenaHoldsEverything) {
  alignas(8) static unsigned char buffer[8192];
  VexaOS::ArenaDescriptor descriptor{buffer, sizeof buffer, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  TempDir dir;
  StreamIo* stream = MakeLocal(arena);
  ASSERT_EQ(stream->open(stream, dir.Wide("out").c_str(), 1), 0);
  EXPECT_EQ(arena->entries, 4u);  // the record, the portable file and its name, the stream's name copy
  uint32_t count = 0;
  ASSERT_EQ(PortableFileWrite(stream->file, "xyz", 3, &count), 0);
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "out"), 3u);
  StreamIoDestroy(stream);
  EXPECT_EQ(arena->entries, 0u);
}
