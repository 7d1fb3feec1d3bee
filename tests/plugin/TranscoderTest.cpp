#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/FakeJob.h"

namespace {

using namespace std::chrono_literals;

class TranscoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transcoder = new FakeTranscoder(&stats);
    transcoder->Initialise();
  }
  void TearDown() override {
    if (transcoder) {
      EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
    }
  }

  NS::ITranscoderJob* Create(const char16_t* path, uint32_t index = 1,
                             const char* mime = kFakeTsMime, int32_t expected = 0) {
    NS::ITranscoderJob* job = nullptr;
    EXPECT_EQ(transcoder->CreateJob(path, mime, index, nullptr, &job), expected);
    return job;
  }

  struct Offer {
    uint32_t index;
    std::string protocolInfo;
    std::string duration;
  };
  int32_t Offers(const char* clientId, const char* agent, std::vector<Offer>* out,
                 const char* sourceMime = nullptr, const char16_t* path = u"/m/movie.mkv") {
    FakeRequest request(clientId, agent);
    FakeItem item(path, sourceMime);
    NS::ResourceOffer* list = nullptr;
    uint32_t count = 0;
    int32_t result = transcoder->OfferResources(&request, &item, &list, &count);
    if (result != 0) return result;
    for (uint32_t i = 0; i < count; ++i) {
      EXPECT_EQ(list[i].count, 2u);
      EXPECT_STREQ(list[i].attributes[0].name, "res@protocolInfo");
      EXPECT_STREQ(list[i].attributes[1].name, "res@duration");
      out->push_back({list[i].index, list[i].attributes[0].value, list[i].attributes[1].value});
    }
    transcoder->FreeResourceList(list, count);
    return result;
  }

  FakeJobStats stats;
  FakeTranscoder* transcoder = nullptr;
};

TEST_F(TranscoderTest, PlayStation3GetsTheTransportStreamOnly) {
  stats.duration = 3723000;
  std::vector<Offer> offers;
  ASSERT_EQ(Offers("ps3", kPs3Agent, &offers), 0);
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_EQ(offers[0].index, 1u);
  EXPECT_EQ(offers[0].protocolInfo,
            "http-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;"
            "DLNA.ORG_FLAGS=01500000000000000000000000000000");
  EXPECT_EQ(offers[0].duration, "1:02:03.0");
}

TEST_F(TranscoderTest, XboxGetsAsfFirstWhenTheEncoderIsThere) {
  std::vector<Offer> offers;
  ASSERT_EQ(Offers("xbox", kXboxAgent, &offers), 0);
  ASSERT_EQ(offers.size(), 2u);
  EXPECT_EQ(offers[0].index, 0u);
  EXPECT_EQ(offers[0].protocolInfo, "http-get:*:video/x-ms-asf:DLNA.ORG_PN=WMVMED_PRO");
  EXPECT_EQ(offers[0].duration, "0:00:00.0");
  EXPECT_EQ(offers[1].index, 1u);

  stats.available = false;
  offers.clear();
  ASSERT_EQ(Offers("xbox", kXboxAgent, &offers), 0);
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_EQ(offers[0].index, 1u);
}

TEST_F(TranscoderTest, ControlPointGetsAsfOnlyWhenAvailable) {
  std::vector<Offer> offers;
  ASSERT_EQ(Offers("cp", kControlPointAgent, &offers), 0);
  EXPECT_EQ(offers.size(), 2u);
  stats.available = false;
  offers.clear();
  ASSERT_EQ(Offers("cp", kControlPointAgent, &offers), 0);
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_EQ(offers[0].index, 1u);
}

TEST_F(TranscoderTest, UnservedClientsAndItemsGetNothing) {
  std::vector<Offer> offers;
  EXPECT_EQ(Offers("a", "Dalvik/1.6 (Linux; Android)", &offers), 15);
  EXPECT_EQ(Offers("w", "Xbox NSPlayer WMFSDK", &offers), 15);
  EXPECT_EQ(Offers("u", "Mozilla/5.0", &offers), 15);
  EXPECT_EQ(Offers("n", nullptr, &offers), 15);
  EXPECT_EQ(Offers("ps3", kPs3Agent, &offers, "video/mp4"), 15);
  EXPECT_EQ(Offers("ps3", kPs3Agent, &offers, nullptr, u"/m/movie.avi"), 15);
  EXPECT_EQ(Offers("ps3", kPs3Agent, &offers, "VIDEO/X-MKV", u"/m/movie.avi"), 0);
  EXPECT_EQ(offers.size(), 1u);
}

TEST_F(TranscoderTest, ProfilesAreCachedPerClient) {
  std::vector<Offer> offers;
  ASSERT_EQ(Offers("box", kPs3Agent, &offers), 0);
  // The cached PlayStation 3 profile outlives a changed User-Agent.
  EXPECT_EQ(Offers("box", "Mozilla/5.0", &offers), 0);
  // A stored 1 is never overridden by recognition; a stored 0 is recognised again.
  EXPECT_EQ(transcoder->SetClientProfile("wmp", 1), 0);
  EXPECT_EQ(Offers("wmp", kPs3Agent, &offers), 15);
  EXPECT_EQ(transcoder->SetClientProfile("zero", 0), 0);
  EXPECT_EQ(Offers("zero", kPs3Agent, &offers), 0);
  EXPECT_EQ(transcoder->SetClientProfile("box", 1), 0);  // an existing entry stays
  EXPECT_EQ(Offers("box", "Mozilla/5.0", &offers), 0);
}

TEST_F(TranscoderTest, FrontAnswersForBadArguments) {
  NS::ITranscoder* face = transcoder->TranscoderFace();
  EXPECT_EQ(face->GetUpnpTranscoder(nullptr), -2);
  NS::IUpnpTranscoder* upnp = nullptr;
  EXPECT_EQ(face->GetUpnpTranscoder(&upnp), 0);
  EXPECT_EQ(upnp, static_cast<NS::IUpnpTranscoder*>(transcoder));
  EXPECT_EQ(transcoder->ForwardRequest(nullptr, 2), 1);

  struct Host : NS::ITranscoderHost {
    int32_t ForwardRequest(int32_t code) override { return code * 10; }
  } host;
  face->SetHost(&host);
  EXPECT_EQ(transcoder->ForwardRequest(nullptr, 2), 20);
  face->SetHost(nullptr);

  NS::ITranscoderJob* job = nullptr;
  EXPECT_EQ(transcoder->CreateJob(nullptr, kFakeTsMime, 1, nullptr, &job), 2);
  EXPECT_EQ(transcoder->CreateJob(u"/m/a.mkv", kFakeTsMime, 2, nullptr, &job), 2);
  EXPECT_EQ(transcoder->CreateJob(u"/m/a.mkv", kFakeTsMime, 1, nullptr, nullptr), 2);
  EXPECT_EQ(transcoder->CreateJob(u"/m/a.avi", kFakeTsMime, 1, nullptr, &job), 1);
  EXPECT_EQ(stats.destroyed, 1);  // the job that could not open
  EXPECT_EQ(transcoder->OfferResources(nullptr, nullptr, nullptr, nullptr), 2);
}

TEST_F(TranscoderTest, ReleasedJobIsParkedAndTakenOverUnchanged) {
  NS::ITranscoderJob* job = Create(u"/m/a.mkv", 1, nullptr);
  ASSERT_NE(job, nullptr);
  int stops = stats.stops;
  job->Release();
  EXPECT_EQ(stats.stops, stops + 1);
  // A null MIME argument matches no parked job, so this is a new one.
  NS::ITranscoderJob* other = Create(u"/m/a.mkv", 1, nullptr);
  EXPECT_NE(other, job);
  other->Release();
  int opens = stats.opens;
  // Same path and output MIME type: the oldest such parked job comes back, not opened again.
  NS::ITranscoderJob* reused = Create(u"/m/a.mkv", 1, kFakeTsMime);
  EXPECT_EQ(reused, job);
  EXPECT_EQ(stats.opens, opens);
  // Another path is not a match.
  NS::ITranscoderJob* fresh = Create(u"/m/b.mkv", 1, nullptr);
  EXPECT_NE(fresh, other);
  reused->Release();
  fresh->Release();
}

TEST_F(TranscoderTest, FourthRequestWaitsThenGivesUp) {
  NS::ITranscoderJob* jobs[3];
  for (auto& job : jobs) ASSERT_NE(job = Create(u"/m/a.mkv", 1, nullptr), nullptr);
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Create(u"/m/b.mkv", 1, nullptr, 4), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 150ms);

  // A waiting request gets its place as soon as one job is released.
  std::thread releaser([&] {
    std::this_thread::sleep_for(50ms);
    jobs[0]->Release();
  });
  NS::ITranscoderJob* fourth = Create(u"/m/b.mkv", 1, nullptr);
  releaser.join();
  ASSERT_NE(fourth, nullptr);
  fourth->Release();
  jobs[1]->Release();
  jobs[2]->Release();
}

TEST_F(TranscoderTest, MakingRoomDestroysTheOldestParkedJob) {
  NS::ITranscoderJob* a = Create(u"/m/a.mkv", 1, nullptr);
  NS::ITranscoderJob* b = Create(u"/m/b.mkv", 1, nullptr);
  NS::ITranscoderJob* c = Create(u"/m/c.mkv", 0, nullptr);  // an ASF job
  c->Release();
  int destroyed = stats.destroyed;
  // Two active and one parked of another output type: the parked one makes room.
  NS::ITranscoderJob* d = Create(u"/m/d.mkv", 1, "video/x-mkv");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(stats.destroyed, destroyed + 1);
  a->Release();
  b->Release();
  d->Release();
}

TEST_F(TranscoderTest, FullHouseReopensAParkedJobOfTheSameType) {
  NS::ITranscoderJob* a = Create(u"/m/a.mkv", 1, "video/x-mkv");
  NS::ITranscoderJob* b = Create(u"/m/b.mkv", 1, "video/x-mkv");
  NS::ITranscoderJob* c = Create(u"/m/c.mkv", 1, "video/x-mkv");
  c->Release();
  int created = stats.created;
  // A job re-opened for a new source keeps its output MIME type, which is what the
  // parked jobs are matched on.
  NS::ITranscoderJob* reused = nullptr;
  ASSERT_EQ(transcoder->CreateJob(u"/m/d.mkv", "video/MP2T", 1, nullptr, &reused), 1);
  EXPECT_EQ(stats.created, created);  // no new job: the parked one was tried and failed
  EXPECT_EQ(reused, nullptr);
  a->Release();
  b->Release();
}

TEST_F(TranscoderTest, LastReferenceDestroysPrototypesAndParkedJobsButNotActiveOnes) {
  NS::ITranscoderJob* parked = Create(u"/m/a.mkv", 1, nullptr);
  NS::ITranscoderJob* active = Create(u"/m/b.mkv", 1, nullptr);
  parked->Release();
  // The active job holds a reference to the transcoder.
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 1);
  transcoder = nullptr;
  EXPECT_EQ(stats.destroyed, 0);
  active->Release();  // the last reference: prototypes (2) and both parked jobs go
  EXPECT_EQ(stats.destroyed, 4);
}

}  // namespace
