#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/support/FakeJob.h"

namespace {

TEST(CheckMatroskaSource, ExtensionRulesWithoutMimeType) {
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.mkv", nullptr), kJobOk);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/A.MKV", nullptr), kJobOk);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.mkv.avi", nullptr), kJobUnusableSource);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.mkvx", nullptr), kJobUnusableSource);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"mkv", nullptr), kJobOk);  // no "." at all
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u".mkv", nullptr), kJobUnusableSource);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.", nullptr), kJobUnusableSource);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(nullptr, nullptr), kJobMissingArgument);
}

TEST(CheckMatroskaSource, MimeTypeDecidesWhenGiven) {
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.avi", "VIDEO/X-MKV"), kJobOk);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.mkv", "video/x-matroska"),
            kJobUnsupportedType);
  EXPECT_EQ(CBaseTranscoderJob::CheckMatroskaSource(u"/media/a.mkv", "video/x-mkvx"),
            kJobUnsupportedType);
}

class RecordingOwner : public NS::ITranscoderJobCallbacks {
 public:
  void OnJobReleased(NS::ITranscoderJob* job) override {
    ++released;
    // The job must still be alive here.
    lastPath = job->GetSourcePath();
  }
  int32_t ForwardRequest(NS::ITranscoderJob*, int32_t) override { return 1; }
  int released = 0;
  const char16_t* lastPath = nullptr;
};

TEST(BaseTranscoderJob, ReleaseToZeroHandsTheJobToItsOwnerOnce) {
  FakeJobStats stats;
  RecordingOwner owner;
  FakeJob job(&owner, false, &stats);
  ASSERT_EQ(job.Open(nullptr, u"/m/x.mkv", nullptr), kJobOk);
  EXPECT_EQ(job.AddRef(), 1);
  EXPECT_EQ(job.AddRef(), 2);
  EXPECT_EQ(job.Release(), 1);
  EXPECT_EQ(owner.released, 0);
  EXPECT_EQ(job.Release(), 0);
  EXPECT_EQ(owner.released, 1);
  EXPECT_EQ(std::u16string(owner.lastPath), u"/m/x.mkv");
}

TEST(BaseTranscoderJob, OpenAgainReplacesThePathAndStopsTheFirstRun) {
  FakeJobStats stats;
  RecordingOwner owner;
  FakeJob job(&owner, false, &stats);
  ASSERT_EQ(job.Open(nullptr, u"/m/first.mkv", nullptr), kJobOk);
  job.Start(0, -1);
  ASSERT_EQ(job.Open(nullptr, u"/m/second.mkv", nullptr), kJobOk);
  EXPECT_EQ(std::u16string(job.GetSourcePath()), u"/m/second.mkv");
  uint8_t buffer[16];
  uint32_t count = 1;
  EXPECT_FALSE(job.Read(buffer, sizeof buffer, &count));  // the first run was stopped
  EXPECT_EQ(count, 0u);
  EXPECT_STREQ(job.GetMimeType(), "video/MP2T");
}

TEST(BaseTranscoderJob, ConcurrentReferencesBalance) {
  FakeJobStats stats;
  RecordingOwner owner;
  FakeJob job(&owner, false, &stats);
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
  EXPECT_EQ(owner.released, 0);
  EXPECT_EQ(job.Release(), 0);
  EXPECT_EQ(owner.released, 1);
}

}  // namespace
