#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/support/FakeJob.h"

namespace {

TEST(CheckMatroskaSource, NameRules) {
  const struct { const char16_t* path; const char* mime; int32_t status; } cases[] = {
      {u"/media/a.mkv", nullptr, kJobOk},
      {u"/media/A.MKV", nullptr, kJobOk},  // lower-cased first
      {u"/media/a.mkv.avi", nullptr, kJobUnusableSource},
      {u"/media/a.mkvx", nullptr, kJobUnusableSource},
      {u"mkv", nullptr, kJobOk},  // no "." at all: the whole path
      {u".mkv", nullptr, kJobUnusableSource},
      {u"/media/a.", nullptr, kJobUnusableSource},
      {nullptr, nullptr, kJobMissingArgument},
      {u"/media/a.avi", "VIDEO/X-MKV", kJobOk},  // the MIME type decides when given
      {u"/media/a.mkv", "video/x-matroska", kJobUnsupportedType},
      {u"/media/a.mkv", "video/x-mkvx", kJobUnsupportedType},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaName(c.path, c.mime), c.status) << c.mime;
}

// Counted from several threads at once; the job is still alive when its owner is told.
TEST(BaseTranscoderJob, ReleaseToZeroHandsTheJobToItsOwnerOnce) {
  RecordingOwner owner;
  FakeJobStats stats;
  FakeJob job(&owner, false, &stats);
  ASSERT_EQ(job.Open(nullptr, u"/m/x.mkv", nullptr), kJobOk);
  job.AddRef();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        job.AddRef();
        job.Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(job.AddRef(), 2);
  EXPECT_EQ(job.Release(), 1);
  EXPECT_TRUE(owner.released.empty());
  EXPECT_EQ(job.Release(), 0);
  EXPECT_EQ(owner.released, std::vector<std::u16string>{u"/m/x.mkv"});
}

}  // namespace
