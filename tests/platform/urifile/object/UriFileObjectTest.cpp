// The partial copy's side files: what is written comes back, damaged or hostile side files are
// refused by name, and the present ranges merge as bytes arrive. Then UriFileObject: its state
// table and rate, and downloads through a source over bytes in memory standing in for the
// network: whole, resumed, forward-only, failed and cut short.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "platform/urifile/PartialFile.h"
#include "platform/urifile/UriFileObject.h"
#include "tests/support/ProcessTestTools.h"

namespace VexaUri {
namespace {

using ProcessTestTools::TempDir;
using ProcessTestTools::WaitFor;
using namespace VexaFiles;

struct SideFiles {
  TempDir dir{"partial"};
  std::u16string info = dir.Wide("copy.vnfo"), mask = dir.Wide("copy.vmsk"), data = dir.Wide("copy.data");
  PartialFileResult Open(PartialFile& file) { return file.Open(info.c_str(), mask.c_str(), data.c_str()); }
};

std::string U32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string U64(uint64_t v) { return U32(uint32_t(v)) + U32(uint32_t(v >> 32)); }
uint32_t Fnv(const std::string& s) {
  uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}
std::string Frame(const std::string& magic, const std::string& body, uint32_t version = 1) {
  return magic + U32(version) + U32(uint32_t(body.size())) + U32(Fnv(body)) + body;
}

// (Numbers and texts read back, and a text too long for its buffer: the object's tests, which
// keep the URL and size in the copy.)
TEST(PartialFileTest, RangesAndDataSurviveReopening) {
  SideFiles files;
  {
    PartialFile file;
    ASSERT_EQ(files.Open(file), kPartialOk);
    ASSERT_EQ(file.SetText(100, u"http://h/\U0001F600 clip"), kPartialOk);
    ASSERT_EQ(file.WriteData(10, "abcdef", 6), kPartialOk);
    ASSERT_EQ(file.WriteData(100, "xyz", 3), kPartialOk);
    // The mask on disk follows the data only through Flush.
    PartialFile other;
    ASSERT_EQ(files.Open(other), kPartialOk);
    EXPECT_TRUE(other.Present().Ranges().empty());
    ASSERT_EQ(file.Flush(), kPartialOk);
  }
  PartialFile file;
  ASSERT_EQ(files.Open(file), kPartialOk);
  uint64_t number = 0;
  EXPECT_EQ(file.GetNumber(100, &number), kPartialNoProperty);  // a text is no number
  EXPECT_EQ(file.Present().Ranges(), (std::vector<ByteRange>{{10, 16}, {100, 103}}));
  char bytes[4] = {};
  EXPECT_EQ(file.ReadData(12, bytes, 3), kPartialOk);
  EXPECT_STREQ(bytes, "cde");
  EXPECT_EQ(file.ReadData(101, bytes, 3), kPartialShortData);
}

// Each hostile side file, put in place of a good one, is refused by name and leaves nothing open.
TEST(PartialFileTest, HostileSideFilesAreRefusedByName) {
  const std::string number = U32(7) + U32(1) + U32(8) + U64(5);
  const struct { const char* what; const char* name; std::string bytes; PartialFileResult expected; } cases[] = {
      {"3 bytes", "copy.vnfo", "VNF", kPartialTruncated},
      {"wrong magic", "copy.vnfo", Frame("VMSK", U32(0)), kPartialBadMagic},
      {"version 2", "copy.vnfo", Frame("VNFO", U32(0), 2), kPartialBadVersion},
      {"frame only half there", "copy.vnfo", Frame("VNFO", U32(0)).substr(0, 10), kPartialTruncated},
      {"body cut short", "copy.vnfo", Frame("VNFO", U32(1) + number).substr(0, 30), kPartialTruncated},
      {"bytes after the body", "copy.vnfo", Frame("VNFO", U32(0)) + "x", kPartialCorrupt},
      {"checksum", "copy.vnfo", Frame("VNFO", U32(1) + number).replace(30, 1, "\x09"), kPartialCorrupt},
      {"body length beyond the limit", "copy.vnfo", "VNFO" + U32(1) + U32(0xFFFFFFF0) + U32(0), kPartialCorrupt},
      {"count beyond the entries", "copy.vnfo", Frame("VNFO", U32(0xFFFFFFFF) + number), kPartialCorrupt},
      {"payload past the body", "copy.vnfo", Frame("VNFO", U32(1) + U32(7) + U32(2) + U32(0x7FFFFFFF) + "ab"), kPartialCorrupt},
      {"short number", "copy.vnfo", Frame("VNFO", U32(1) + U32(7) + U32(1) + U32(4) + U32(5)), kPartialCorrupt},
      {"odd text", "copy.vnfo", Frame("VNFO", U32(1) + U32(7) + U32(2) + U32(3) + "abc"), kPartialCorrupt},
      {"unknown kind", "copy.vnfo", Frame("VNFO", U32(1) + U32(7) + U32(9) + U32(8) + U64(5)), kPartialCorrupt},
      {"same id twice", "copy.vnfo", Frame("VNFO", U32(2) + number + number), kPartialCorrupt},
      {"mask of another version", "copy.vmsk", Frame("VMSK", U32(0), 0), kPartialBadVersion},
      {"mask count beyond its body", "copy.vmsk", Frame("VMSK", U32(2) + U64(0) + U64(5)), kPartialCorrupt},
      {"empty range", "copy.vmsk", Frame("VMSK", U32(1) + U64(5) + U64(5)), kPartialCorrupt},
      {"touching ranges", "copy.vmsk", Frame("VMSK", U32(2) + U64(0) + U64(5) + U64(5) + U64(9)), kPartialCorrupt},
      {"mask past the data file's end", "copy.vmsk", Frame("VMSK", U32(1) + U64(0) + U64(5)), kPartialCorrupt},
      {"unsorted ranges", "copy.vmsk", Frame("VMSK", U32(2) + U64(20) + U64(30) + U64(0) + U64(5)), kPartialCorrupt}};
  for (const auto& c : cases) {
    SideFiles files;
    {
      PartialFile file;
      ASSERT_EQ(files.Open(file), kPartialOk);
      ASSERT_EQ(file.SetNumber(6, 100), kPartialOk);
    }
    files.dir.Write(c.name, c.bytes);
    PartialFile file;
    EXPECT_EQ(files.Open(file), c.expected) << c.what;
    EXPECT_FALSE(file.IsOpen()) << c.what;
  }
}

// A side file is replaced whole: a reader that holds the old one reads it whole (Windows renames
// over it only once the reader has closed it, so the writer waits for that), and the temporary
// that a writer killed before its rename left behind goes with the next replacement.
TEST(PartialFileTest, ReplacingASideFileLeavesReadersTheOldFileAndNoTemporaries) {
  SideFiles files;
  PartialFile file;
  ASSERT_EQ(files.Open(file), kPartialOk);
  files.dir.Write("copy.vnfo.tmp.99999.7", "half a file");
  std::string infoPath;
  ASSERT_EQ(PartialFile::PathOf(files.info.c_str(), infoPath), kPartialOk);
  auto reader = std::make_unique<SideFileHandle>();
  ASSERT_EQ(reader->OpenForReading(infoPath), SideFileOpen::kOpened);
  auto oldFile = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string bytes(64, '\0');
    uint32_t got = 0;
    reader->ReadAt(0, bytes.data(), 64, &got);
    reader.reset();
    return bytes.substr(0, got);
  });
  EXPECT_EQ(file.SetNumber(6, 100), kPartialOk);
  EXPECT_EQ(oldFile.get(), Frame("VNFO", U32(0)));
  PartialFile again;
  uint64_t number = 0;
  EXPECT_TRUE(files.Open(again) == kPartialOk && again.GetNumber(6, &number) == kPartialOk && number == 100);
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(files.dir.path())) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"copy.data", "copy.vmsk", "copy.vnfo"}));
}

TEST(PartialFileRangesTest, MergesOverlappingAndTouchingRanges) {
  const struct { std::vector<ByteRange> added, expected; } cases[] = {
      {{{10, 20}, {30, 40}}, {{10, 20}, {30, 40}}},
      {{{30, 40}, {10, 20}, {0, 5}}, {{0, 5}, {10, 20}, {30, 40}}},
      {{{10, 20}, {20, 30}}, {{10, 30}}},
      {{{20, 30}, {10, 20}}, {{10, 30}}},
      {{{10, 30}, {15, 20}}, {{10, 30}}},
      {{{10, 20}, {30, 40}, {50, 60}, {15, 55}}, {{10, 60}}},
      {{{10, 20}, {30, 40}, {5, 30}}, {{5, 40}}},
      {{{10, 20}, {7, 7}, {25, 22}}, {{10, 20}}}};
  for (const auto& c : cases) {
    PartialFileRanges ranges;
    for (const ByteRange& range : c.added) ranges.Add(range.start, range.end);
    EXPECT_EQ(ranges.Ranges(), c.expected) << c.added.size() << " ranges";
    uint64_t total = 0;
    for (const ByteRange& range : c.expected) {
      total += range.end - range.start;
      EXPECT_EQ(ranges.PresentFrom(range.start + 1), range.end - range.start - 1);
      EXPECT_EQ(ranges.PresentFrom(range.end), 0u);
      EXPECT_EQ(ranges.NextPresentAfter(range.end), &range == &c.expected.back() ? UINT64_MAX : (&range)[1].start);
    }
    EXPECT_EQ(ranges.TotalBytes(), total);
  }
}

TEST(UriFileObjectStateTest, AcceptsOnlyTheRequestsOfItsTable) {
  const std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table = {
      {0, {0, 1, 2, 3, 4, 5}}, {3, {0, 1, 2, 3, 4, 5}}, {4, {0, 5}}, {5, {0, 1, 2, 4, 5}}, {1, {4}}, {2, {4}}};
  for (const auto& [current, accepted] : table)
    for (uint32_t requested = 0; requested <= 5; ++requested)
      EXPECT_EQ(UriFileObject::AcceptsState(current, requested),
                std::count(accepted.begin(), accepted.end(), requested) == 1) << current << " -> " << requested;
}

TEST(UriFileObjectRateTest, WeighsTheRecentRateTwiceAgainstTheAverage) {
  struct Case { std::vector<std::pair<uint64_t, uint64_t>> samples; uint64_t now, expected; };
  std::vector<std::pair<uint64_t, uint64_t>> wrapped;
  for (uint64_t i = 1; i <= 600; ++i) wrapped.push_back({i * 10, i <= 100 ? i * 10 : 1000 + (i - 100) * 100});
  const Case cases[] = {
      {{}, 0, 0},                                  // no time has passed
      {{{1000, 1000}}, 1000, 8000},                // one sample: the average alone
      {{{1000, 1000}, {2000, 3000}}, 2000, 14666}, // (2 x 16000 + 12000) / 3
      {{{1000, 500}, {2000, 500}}, 4000, 1000},    // no recent bytes: the average
      {wrapped, 6000, 76000},                      // only the last 500 samples count
  };
  for (const Case& c : cases) {
    UriFileObjectRate rate;
    rate.Start(0);
    for (const auto& [ms, bytes] : c.samples) rate.AddSample(ms, bytes);
    EXPECT_EQ(rate.BitsPerSecond(c.now), c.expected) << c.samples.size() << " samples";
  }
}

// The resource's bytes by position; records what was asked; may stall until aborted.
struct MemorySource final : IUriFileObjectSource {
  struct Shared {
    explicit Shared(const std::string* bytes) : content(bytes) {}
    const std::string* content;  // null: the source cannot be opened
    bool sizeKnown = true, ranges = true, aborted = false;
    uint64_t stallAfter = UINT64_MAX;  // a ReadAt at or beyond this blocks until Abort
    std::mutex lock;
    std::condition_variable wake;
    std::vector<ByteRange> reads;
    int opened = 0;
  };
  explicit MemorySource(std::shared_ptr<Shared> shared) : s(std::move(shared)) {}
  bool Size(uint64_t* size) override { return *size = s->content->size(), s->sizeKnown; }
  bool ByteRanges() override { return s->ranges; }
  int32_t ReadAt(uint64_t position, void* buffer, uint32_t* count) override {
    std::unique_lock<std::mutex> guard(s->lock);
    if (position >= s->stallAfter) s->wake.wait_for(guard, std::chrono::seconds(30), [&] { return s->aborted; });
    if (s->aborted) return kUriAborted;
    *count = static_cast<uint32_t>(s->content->copy(static_cast<char*>(buffer), *count, std::min(position, s->content->size())));
    s->reads.push_back({position, position + *count});
    return *count ? kUriOk : kUriEnd;
  }
  void Abort() override {
    std::lock_guard<std::mutex> guard(s->lock);
    s->aborted = true;
    s->wake.notify_all();
  }
  std::shared_ptr<Shared> s;
};

class UriFileObjectTest : public testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(7);
    for (char& c : content) c = static_cast<char>(random());
  }
  std::unique_ptr<UriFileObject> Open(int32_t expected = kUriOk, const char16_t* uri = u"http://host/resource") {
    auto object = std::make_unique<UriFileObject>();
    const UriFileParams params{uri, info.c_str(), mask.c_str(), data.c_str(), nullptr, nullptr, nullptr};
    EXPECT_EQ(object->Open(&params, [shared = source] {
      std::lock_guard<std::mutex> guard(shared->lock);
      ++shared->opened;
      return shared->content ? std::make_unique<MemorySource>(shared) : nullptr;
    }), expected);
    return object;
  }
  static bool IsIn(UriFileObject& object, uint32_t state) {
    return WaitFor([&] { uint32_t now = 0; return object.GetState(&now) == kUriOk && now == state; });
  }
  std::string ReadAll(UriFileObject& object) {
    std::string all(content.size() + 10, '\0');
    uint32_t count = static_cast<uint32_t>(all.size());
    EXPECT_EQ(object.ReadAt(0, all.data(), &count, 1), kUriOk);
    return all.substr(0, count);
  }
  std::shared_ptr<MemorySource::Shared> NewSource() { return std::make_shared<MemorySource::Shared>(&content); }

  TempDir dir{"object"};
  std::u16string info = dir.Wide("c.vnfo"), mask = dir.Wide("c.vmsk"), data = dir.Wide("c.data");
  std::string content = std::string(300123, '\0');
  std::shared_ptr<MemorySource::Shared> source = NewSource();
};

// With byte ranges a read far ahead is fetched before the rest; a forward-only source of
// unknown size is read in order to its end, which gives the size.
TEST_F(UriFileObjectTest, DownloadsTheWholeResourceAndReopensComplete) {
  for (const bool ranges : {true, false}) {
    SCOPED_TRACE(ranges ? "byte ranges" : "forward only");
    info = dir.Wide(std::to_string(ranges) + ".vnfo"), mask = dir.Wide(std::to_string(ranges) + ".vmsk");
    data = dir.Wide(std::to_string(ranges) + ".data");
    source = NewSource();
    source->ranges = source->sizeKnown = ranges;
    {
      auto object = Open();
      char bytes[3];
      uint32_t count = 3;
      ASSERT_EQ(object->ReadAt(250000, bytes, &count, 1), kUriOk);
      EXPECT_EQ(std::string(bytes, 3), content.substr(250000, 3));
      ASSERT_TRUE(IsIn(*object, kUriStateComplete));
      EXPECT_EQ(ReadAll(*object), content);
      const std::pair<uint32_t, uint64_t> infos[] = {{kUriInfoSize, content.size()}, {kUriInfoDownloaded, content.size()},
          {kUriInfoByteRanges, ranges}, {kUriInfoIsObject, 1}, {kUriInfoPartialValue, kObjectFlagComplete | (ranges ? 0u : kObjectFlagNoRanges)}};
      for (auto [id, expected] : infos) {
        uint64_t value = 0;
        EXPECT_TRUE(object->GetInfo(id, &value) == kUriOk && value == expected) << "GetInfo " << id;
      }
      EXPECT_EQ(object->ReadAt(content.size(), bytes, &count, 1), kUriEnd);
    }
    auto again = Open();
    EXPECT_TRUE(IsIn(*again, kUriStateComplete));
    EXPECT_EQ(ReadAll(*again), content);
    EXPECT_EQ(source->opened, 1);  // a complete copy needs no source
  }
  Open(kUriFailed, u"http://host/other");  // nor may another URI take it over
  EXPECT_EQ(ReadAll(*Open()), content);
  const UriFileParams twoSideFiles{u"http://host/resource", info.c_str(), nullptr, data.c_str(), nullptr, nullptr, nullptr};
  EXPECT_EQ(UriFileObject().Open(&twoSideFiles, nullptr), kUriNullArgument);
}

TEST_F(UriFileObjectTest, ResumingFetchesOnlyWhatTheMaskLacks) {
  {
    PartialFile copy;
    ASSERT_EQ(copy.Open(info.c_str(), mask.c_str(), data.c_str()), kPartialOk);
    copy.SetText(kObjectPropertyUrl, u"http://host/resource");
    copy.SetNumber(kObjectPropertySize, content.size());
    copy.WriteData(0, content.data(), 100000);
    copy.WriteData(200000, content.data() + 200000, 50000);
    ASSERT_EQ(copy.Flush(), kPartialOk);
  }
  auto object = Open();
  ASSERT_TRUE(IsIn(*object, kUriStateComplete));
  EXPECT_EQ(ReadAll(*object), content);
  PartialFileRanges fetched;
  for (const ByteRange& read : source->reads) {
    EXPECT_EQ(fetched.PresentFrom(read.start), 0u) << "read twice at " << read.start;
    fetched.Add(read.start, read.end);
  }
  EXPECT_EQ(fetched.Ranges(), (std::vector<ByteRange>{{100000, 200000}, {250000, content.size()}}));
}

TEST_F(UriFileObjectTest, DestroyedMidDownloadReturnsAndTheNextOpenGoesOnFromTheCopy) {
  source->stallAfter = 3 * 0x10000;
  auto object = Open();
  uint64_t present = 0;
  ASSERT_TRUE(WaitFor([&] { return object->GetInfo(kUriInfoDownloaded, &present) == kUriOk && present == 3 * 0x10000; }));
  auto destroyed = std::async(std::launch::async, [&] { object.reset(); });
  ASSERT_EQ(destroyed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  source = NewSource();
  EXPECT_EQ(ReadAll(*Open()), content);
  for (const ByteRange& read : source->reads) EXPECT_GE(read.start, 3u * 0x10000);
}

TEST_F(UriFileObjectTest, ReadsWithoutBytesAnswerNotReadyOrAbortedOrFailed) {
  source->stallAfter = 0;
  auto object = Open();
  char buffer[8];
  uint32_t count = 8;
  EXPECT_EQ(object->ReadAt(0, buffer, &count, 0), kUriNotReady);
  auto blocked = std::async(std::launch::async, [&] { uint32_t n = 8; return object->ReadAt(0, buffer, &n, 1); });
  object->Abort();
  ASSERT_EQ(blocked.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(blocked.get(), kUriAborted);
  object->Resume();
  count = 8;
  EXPECT_EQ(object->ReadAt(0, buffer, &count, 0), kUriNotReady);
  object.reset();
  source->content = nullptr;  // the source cannot be opened
  object = Open();
  count = 8;
  EXPECT_EQ(object->ReadAt(0, buffer, &count, 1), kUriFailed);
  EXPECT_TRUE(IsIn(*object, kObjectStateFailed));
}

TEST_F(UriFileObjectTest, PropertiesGoToTheCopyExceptThoseTheObjectKeeps) {
  auto object = Open();
  uint64_t value = 0;
  uint32_t mode = 0;
  char16_t text[5];
  const std::pair<int32_t, int32_t> calls[] = {  // {answer, expected}
      {object->SetProperty(50, 2, 1), kUriOk}, {object->GetProperty(50, &value), kUriOk},
      {value == 0x100000002ull, true}, {object->SetTextProperty(101, u"etag"), kUriOk},
      {object->GetTextProperty(101, text, 4), kUriTooSmall}, {object->GetTextProperty(101, text, 5), kUriOk},
      {text == std::u16string(u"etag"), true}, {object->DeleteProperty(101), kUriOk},
      {object->GetTextProperty(101, text, 5), kUriNotSupported}, {object->SetDownloadMode(3, 0), kUriOk},
      {object->GetDownloadMode(&mode), kUriOk}, {mode == 3, true}};
  for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
  for (uint32_t id : {2u, 4u, 6u, 7u, 8u, 11u}) EXPECT_EQ(object->SetProperty(id, 1, 0), kUriFailed) << id;
  for (uint32_t id : {100u, 101u, 102u, 103u}) EXPECT_EQ(object->GetProperty(id, &value), kUriFailed) << id;
}

}  // namespace
}  // namespace VexaUri
