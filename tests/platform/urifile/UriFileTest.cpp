// CreateUriFile's choice of class, the local URI file, and the in-memory URI file over a
// "file://" source, including the promise that streaming allocates nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/os/MemoryArena.h"
#include "platform/urifile/CreateUriFile.h"
#include "platform/urifile/LocalFileHandle.h"
#include "platform/urifile/UriFileMemory.h"
#include "platform/urifile/UriSource.h"
#include "tests/platform/urifile/UriTestData.h"

// Counts the C++ heap allocations of the thread that asked for counting. (The replacement pair
// malloc/free is matched; g++ 12 cannot see that once it inlines them.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local bool countAllocations = false;
std::atomic<int> allocations{0};
}  // namespace

void* operator new(size_t size) {
  if (countAllocations) allocations.fetch_add(1);
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

void UriTest::CountAllocations(bool on) {
  if (on) allocations.store(0);
  countAllocations = on;
}
int UriTest::Allocations() { return allocations.load(); }

namespace {

using namespace VexaUri;
using namespace VexaFiles;
using namespace UriTest;

constexpr uint64_t kFileSize = 100000;

UriFileParams Params(const std::u16string& uri, const char16_t* side = nullptr) {
  return UriFileParams{uri.c_str(), side, nullptr, nullptr, nullptr, nullptr, nullptr};
}

TEST(CreateUriFile, RoutesByLengthSchemeAndSideFiles) {
  const struct {
    const char16_t* uri;
    bool side;
    UriFileClass expected;
  } cases[] = {
      {u"file", false, UriFileClass::kNone},           {u"http", true, UriFileClass::kNone},
      {u"file:///a", false, UriFileClass::kLocal},     {u"file:///a", true, UriFileClass::kLocal},
      {u"File:///a", false, UriFileClass::kMemory},    {u"http://h/a", false, UriFileClass::kMemory},
      {u"ftp://h/a", false, UriFileClass::kMemory},    {u"http://h/a", true, UriFileClass::kObject},
  };
  for (const auto& c : cases) {
    const UriFileParams params{c.uri, nullptr, c.side ? u"/tmp/side" : nullptr, nullptr,
                               nullptr, nullptr, nullptr};
    EXPECT_EQ(UriFileClassFor(&params), c.expected) << std::string(c.uri, c.uri + 5);
  }
  // What cannot be opened leaves nothing: an unknown scheme, a missing file, a short URI.
  for (const char16_t* uri : {u"ftp://127.0.0.1/a", u"file:///nonexistent/x", u"file"}) {
    const UriFileParams params{uri, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(CreateUriFile(&params, nullptr, nullptr), nullptr);
  }
}

struct LocalFileTest : testing::Test {
  PatternFile data{kFileSize};
  std::u16string uri = Wide("file://" + data.path);
  UriFileParams params = Params(uri);
  std::unique_ptr<IUriFile> file{CreateUriFile(&params, nullptr, nullptr)};

  std::vector<uint8_t> ReadAt(uint64_t at, uint32_t count, int32_t* result) {
    std::vector<uint8_t> bytes(count);
    *result = file->ReadAt(at, bytes.data(), &count, 1);
    bytes.resize(count);
    return bytes;
  }
};

TEST_F(LocalFileTest, ReadsSeekOnlyWhenThePositionMoves) {
  ASSERT_TRUE(file);
  const struct {
    uint64_t at;
    uint32_t count;
    int32_t result;
    uint32_t got;
    uint64_t seeks;  // system seeks the read costs
  } reads[] = {{0, 1000, kUriOk, 1000, 0},        {1000, 500, kUriOk, 500, 0},
               {70000, 300, kUriOk, 300, 1},      {70300, 300, kUriOk, 300, 0},
               {kFileSize - 10, 50, kUriOk, 10, 1}, {kFileSize, 50, kUriEnd, 0, 0},
               {5, 5, kUriOk, 5, 1}};
  for (const auto& r : reads) {
    const uint64_t seeksBefore = LocalFileHandle::SystemSeekCount();
    int32_t result = -1;
    const std::vector<uint8_t> bytes = ReadAt(r.at, r.count, &result);
    EXPECT_EQ(result, r.result) << r.at;
    EXPECT_EQ(bytes, Pattern(r.at, r.got)) << r.at;
    EXPECT_EQ(LocalFileHandle::SystemSeekCount() - seeksBefore, r.seeks) << r.at;
  }
}

TEST_F(LocalFileTest, SeeksInfoAbortAndTheSlotsItDoesNotServe) {
  ASSERT_TRUE(file);
  const struct {
    uint64_t offset;
    SeekOrigin origin;
    uint64_t position;
  } seeks[] = {{500, kSeekAbsolute, 500},   {100, kSeekForward, 600},  {1000, kSeekBackward, 0},
               {10, kSeekFromEnd, kFileSize - 10}, {kFileSize + 5, kSeekFromEnd, 0}};
  for (const auto& s : seeks) {
    uint64_t position = 1;
    EXPECT_EQ(file->Seek(s.offset, s.origin), kUriOk);
    EXPECT_EQ(file->Tell(&position), kUriOk);
    EXPECT_EQ(position, s.position) << s.offset << " " << s.origin;
  }
  for (uint32_t id : {1u, 4u, 6u, 7u, 99u}) {
    uint64_t value = 0;
    EXPECT_TRUE(file->GetInfo(id, &value) == kUriOk && value == kFileSize) << id;
  }
  uint64_t offset = 40, length = 100, mode = 0;
  uint32_t state = 0, count = 4;
  uint8_t bytes[4];
  EXPECT_TRUE(file->GetMissingRange(&offset, &length) == kUriOk && offset == 140 && length == 0);
  EXPECT_TRUE(file->GetState(&state) == kUriOk && state == kUriStateComplete);
  EXPECT_EQ(file->Abort(), kUriOk);
  EXPECT_EQ(file->ReadAt(0, bytes, &count, 1), kUriAborted);
  EXPECT_EQ(file->Resume(), kUriOk);
  count = 4;
  EXPECT_TRUE(file->Read(bytes, &count, 1) == kUriOk && count == 4);
  EXPECT_EQ(file->GetServerName(nullptr, 0), kUriNotImplemented);
  EXPECT_EQ(file->GetProperty(1, &mode), kUriNotSupported);
  EXPECT_EQ(file->SetDownloadMode(1, 0), kUriNotSupported);
}

TEST(UriFileMemory, UnopenedAnswersFailureAndAFailedOpenLeavesItReusable) {
  PatternFile data{kFileSize};
  auto file = std::make_unique<UriFileMemory>();
  uint64_t value = 0;
  uint32_t state = 0, count = 1;
  uint8_t byte;
  EXPECT_EQ((std::vector<int32_t>{file->ReadAt(0, &byte, &count, 1), file->Seek(0, kSeekAbsolute),
                                  file->Tell(&value), file->GetInfo(kUriInfoSize, &value),
                                  file->Prefetch(0, 1), file->GetMissingRange(&value, &value),
                                  file->GetProperty(1, &value)}),
            std::vector<int32_t>(7, kUriFailed));
  const std::u16string bad = u"ftp://127.0.0.1/x";
  const std::u16string good = Wide("file://" + data.path);
  UriFileParams params = Params(bad);
  EXPECT_EQ(file->Open(&params, nullptr, nullptr), kUriFailed);
  EXPECT_TRUE(file->GetState(&state) == kUriOk && state == kUriStateClosed);
  params = Params(good);
  EXPECT_EQ(file->Open(&params, nullptr, nullptr), kUriOk);
  EXPECT_TRUE(file->GetState(&state) == kUriOk && state == kUriStateOpen);
}

// Over a "file://" source every byte is at hand, so the source moves the offset past the whole
// units asked; the parts below a 32-byte unit come back unchanged.
TEST(UriFileMemory, ReadsAFileSourceExactlyWithoutAllocating) {
  PatternFile data{kFileSize};
  const std::u16string uri = Wide("file://" + data.path);
  const UriFileParams params = Params(uri);
  auto file = std::make_unique<UriFileMemory>();
  std::vector<uint8_t> buffer(70000);
  const uint64_t spots[][2] = {{0, 4096}, {99990, 10}, {12345, 70000}, {77, 1}, {4096, 4096}};
  uint64_t value[4] = {};
  int32_t results[6] = {};
  CountAllocations(true);
  const int32_t opened = file->Open(&params, nullptr, nullptr);
  bool exact = true;
  for (const auto& spot : spots) {
    uint32_t count = static_cast<uint32_t>(spot[1]);
    exact = exact && file->ReadAt(spot[0], buffer.data(), &count, 1) == kUriOk && count == spot[1];
    for (uint32_t i = 0; exact && i < count; ++i) exact = buffer[i] == PatternByte(spot[0] + i);
  }
  uint32_t count = 10;
  results[0] = file->ReadAt(kFileSize, buffer.data(), &count, 1);
  results[1] = file->GetInfo(kUriInfoSize, &value[0]);
  results[2] = file->GetInfo(kUriInfoByteRanges, &value[1]);
  value[2] = 40;
  value[3] = 100;
  results[3] = file->GetMissingRange(&value[2], &value[3]);
  results[4] = file->Seek(7, kSeekFromEnd);
  file->Close();
  results[5] = file->Open(&params, nullptr, nullptr);
  CountAllocations(false);
  EXPECT_EQ(Allocations(), 0);
  EXPECT_TRUE(opened == kUriOk && exact);
  EXPECT_EQ((std::vector<int32_t>(results, results + 6)),
            (std::vector<int32_t>{kUriEnd, kUriOk, kUriOk, kUriOk, kUriOk, kUriOk}));
  EXPECT_EQ((std::vector<uint64_t>(value, value + 4)), (std::vector<uint64_t>{kFileSize, 1, 136, 4}));
}

TEST(UriSource, RefusesUnknownPrefixesAndFileOffsetsFrom2GiB) {
  PatternFile data{kFileSize};
  for (const char* uri : {"ftp://127.0.0.1/x", "FILE:///tmp/x", "https://127.0.0.1/"})
    EXPECT_EQ(UriSourceOpen(uri, nullptr, nullptr, nullptr), nullptr) << uri;
  UriSource* source = UriSourceOpen(("file://" + data.path).c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(UriSourceSeek(source, kSeekAbsolute, kFileSourceOffsetLimit - 1, true), kUriOk);
  EXPECT_EQ(UriSourceSeek(source, kSeekAbsolute, kFileSourceOffsetLimit, true), kUriNotSupported);
  UriSourceClose(source);
}

}  // namespace
