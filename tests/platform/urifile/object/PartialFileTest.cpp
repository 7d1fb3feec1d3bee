// The partial copy's side files: what is written comes back, damaged or hostile side files are
// refused by name, and the present ranges merge as bytes arrive.
#include <gtest/gtest.h>


#include "platform/urifile/PartialFile.h"
#include "tests/support/ProcessTestTools.h"

namespace VexaUri {
namespace {

using ProcessTestTools::TempDir;

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

}  // namespace
}  // namespace VexaUri
