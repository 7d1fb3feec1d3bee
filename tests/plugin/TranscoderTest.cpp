// The transcoder object driven by host threads with fake job kinds; client recognition; and the
// plug-in library as a host sees it: one exported entry point, LoadTranscoder.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "plugin/ClientProfiles.h"
#include "tests/support/FakeJob.h"
#include "tests/support/MuxFixture.h"

namespace {

using namespace std::chrono_literals;

TEST(ClientRecognition, RulesApplyInOrderIgnoringCase) {
  const std::pair<const char*, ClientProfile> cases[] = {
      {"Windows-Media-Player/12.0", ClientWindowsMediaPlayer}, {"NSPlayer/12.00 WMFSDK/12.00", ClientWindowsMediaPlayer},
      {"NSPlayer/12.00", ClientUnknown},                       // needs both texts
      {"Xbox NSPlayer/11 WMFSDK/11", ClientWindowsMediaPlayer},  // the first rule wins
      {"PLAYSTATION 3", ClientPlayStation3}, {"playStation 3 xbox", ClientPlayStation3},
      {"XBOX/2.0", ClientXbox},
      {"Dalvik/1.6.0 (Linux; Android 4.2; NEXUS 7 Build)", ClientNexus7},
      {"dalvik/1.6.0 (Linux; Android 4.2; Galaxy)", ClientAndroid},
      {"stackvale control point", ClientControlPoint},
      {"Mozilla/5.0", ClientUnknown}, {"", ClientUnknown},
  };
  for (auto [agent, profile] : cases) EXPECT_EQ(RecognizeClient(agent), profile) << agent;
  EXPECT_EQ(RecognizeClient(nullptr), ClientUnknown);
}

// The answer to an offer request, and each offer as "index name=value name=value".
struct Offered {
  int32_t result;
  std::vector<std::string> offers;
};

Offered Offers(CTranscoderImpl* transcoder, const char* clientId, const char* agent, const char* sourceMime = nullptr,
               const char16_t* path = u"/m/movie.mkv") {
  FakeOffer offer(clientId, agent, path, sourceMime);
  NS::ResourceOffer* list = nullptr;
  uint32_t count = 0;
  Offered answer{transcoder->OfferResources(&offer, &offer, &list, &count), {}};
  for (uint32_t i = 0; answer.result == 0 && i < count; ++i) {
    NS::ResourceAttribute* attributes = list[i].attributes;
    EXPECT_EQ(list[i].count, 2u);
    answer.offers.push_back(std::to_string(list[i].index) + " " + attributes[0].name + "=" + attributes[0].value + " " +
                            attributes[1].name + "=" + attributes[1].value);
  }
  if (answer.result == 0) transcoder->FreeResourceList(list, count);
  return answer;
}

class TranscoderTest : public ::testing::Test {
 protected:
  void SetUp() override { transcoder->Initialise(); }
  void TearDown() override { EXPECT_TRUE(!transcoder || transcoder->TranscoderFace()->Release() == 0); }

  FakeJob* Create(const char16_t* path, uint32_t index = 1, const char* mime = nullptr,
                  int32_t expected = 0, NS::IJobListener* listener = nullptr) {
    NS::ITranscoderJob* job = nullptr;
    EXPECT_EQ(transcoder->CreateJob(path, mime, index, listener, &job), expected);
    return static_cast<FakeJob*>(job);
  }

  FakeJobStats stats;
  FakeTranscoder* transcoder = new FakeTranscoder(&stats);
};

// Steps of one transcoder's life: offer requests, and stored profiles (`stored` set). Each
// step's offers are the indices in order; a request with none is refused.
TEST_F(TranscoderTest, OffersDependOnClientItemEncoderAndCachedProfile) {
  const struct Step {
    const char* clientId;
    const char* agent;
    const char* indices;
    bool encoder = true;
    const char* sourceMime = nullptr;
    const char16_t* path = u"/m/movie.mkv";
    int32_t stored = -1;
  } steps[] = {
      {"1", kPs3Agent, "1"},
      {"2", kXboxAgent, "01"},
      {"3", kXboxAgent, "1", false},
      {"4", kControlPointAgent, "01"},
      {"5", kControlPointAgent, "1", false},
      {"6", "Dalvik/1.6 (Linux; Android)", ""},
      {"7", nullptr, ""},
      {"8", kPs3Agent, "", true, nullptr, u"/m/movie.avi"},
      {"9", kPs3Agent, "1", true, "VIDEO/X-MKV", u"/m/movie.avi"},  // the item's type is passed on
      {"box", kPs3Agent, "1"},
      {"box", "Mozilla/5.0", "1"},  // the cached PlayStation 3 outlives its User-Agent
      {"box", nullptr, "", true, nullptr, nullptr, 1},  // an existing entry stays
      {"box", "Mozilla/5.0", "1"},
      {"wmp", nullptr, "", true, nullptr, nullptr, 1},
      {"wmp", kPs3Agent, ""},  // a stored 1 is never recognised away
      {"zero", nullptr, "", true, nullptr, nullptr, 0},
      {"zero", kPs3Agent, "1"},  // a stored 0 is recognised again
      {nullptr, kPs3Agent, "1"},  // without an identifier nothing is cached...
      {nullptr, kXboxAgent, "01"},  // ...so an Xbox is not taken for the PlayStation
      {"", kXboxAgent, "01"},
      {"", kPs3Agent, "1"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(&step - steps);
    stats.available = step.encoder;
    if (step.stored >= 0) {
      EXPECT_EQ(transcoder->SetClientProfile(step.clientId, step.stored), 0);
      continue;
    }
    Offered answer = Offers(transcoder, step.clientId, step.agent, step.sourceMime, step.path);
    EXPECT_EQ(answer.result, *step.indices ? 0 : 15);
    std::string indices;
    for (const std::string& offer : answer.offers) indices += offer[0];
    EXPECT_EQ(indices, step.indices);
  }
  stats.duration = 3723999;  // truncated, not rounded
  EXPECT_EQ(Offers(transcoder, "x", kXboxAgent).offers, (std::vector<std::string>{
                        "0 res@protocolInfo=http-get:*:video/x-ms-asf:DLNA.ORG_PN=WMVMED_PRO "
                        "res@duration=0:00:00.0",
                        std::string("1 res@protocolInfo=http-get:*:video/MP2T:") + kFakeTsProfile +
                            " res@duration=1:02:03.0"}));
}

// The probe of a file whose opening blocks (a FIFO, a hung mount) holds no lock that another
// client needs.
TEST_F(TranscoderTest, SourceThatBlocksStallsNoOtherClient) {
  stats.slowSourceBlocks = true;
  std::thread slow([&] { Offers(transcoder, "a", kPs3Agent, nullptr, u"/m/slow.mkv"); });
  std::this_thread::sleep_for(50ms);
  auto other = std::async(std::launch::async, [&] {
    NS::ITranscoderJob* job = Create(u"/m/b.mkv");
    if (job) job->Release();
    return Offers(transcoder, "b", kPs3Agent).result;
  });
  EXPECT_EQ(other.wait_for(2s), std::future_status::ready);
  stats.slowSourceBlocks = false;
  slow.join();
  EXPECT_EQ(other.get(), 0);
}

TEST_F(TranscoderTest, FrontAnswersForBadArguments) {
  NS::ITranscoder* face = transcoder->TranscoderFace();
  EXPECT_EQ(face->GetUpnpTranscoder(nullptr), -2);
  NS::ITranscoderJobCallbacks* owner = transcoder->JobCallbacks();
  EXPECT_EQ(owner->ForwardRequest(nullptr, 2), 1);

  Create(nullptr, 1, nullptr, 2);
  Create(u"/m/a.mkv", 2, nullptr, 2);
  EXPECT_EQ(transcoder->CreateJob(u"/m/a.mkv", nullptr, 1, nullptr, nullptr), 2);
  Create(u"/m/a.avi", 1, nullptr, 1);
  EXPECT_EQ(stats.destroyed, 1);  // the job that could not open
  EXPECT_EQ(transcoder->OfferResources(nullptr, nullptr, nullptr, nullptr), 2);
}

TEST_F(TranscoderTest, ReleasedJobIsParkedTakenOverForItsNewListenerAndDestroyedLast) {
  CountingListener first, second;
  FakeJob* job = Create(u"/m/a.mkv", 1, nullptr, 0, &first);
  ASSERT_NE(job, nullptr);
  job->Report(kJobEventFailed);
  EXPECT_EQ(first.events, 1);
  job->Release();
  job->Report(kJobEventFailed);  // parked: its first request is gone
  // A null MIME argument matches no parked job, so this is a new one.
  FakeJob* other = Create(u"/m/a.mkv");
  EXPECT_NE(other, job);
  other->Release();
  int opens = stats.opens;
  // Same path and output MIME type: the oldest such parked job comes back, not opened again,
  // reporting to the new request's listener only.
  FakeJob* reused = Create(u"/m/a.mkv", 1, kFakeTsMime, 0, &second);
  EXPECT_EQ(reused, job);
  EXPECT_EQ(stats.opens, opens);
  reused->Report(kJobEventFailed);
  EXPECT_EQ(first.events, 1);
  EXPECT_EQ(second.events, 1);
  reused->Release();
  // An active job holds a reference to the transcoder; the last reference, its own, takes the
  // prototypes and every parked job with it.
  FakeJob* active = Create(u"/m/b.mkv");
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 1);
  transcoder = nullptr;
  EXPECT_EQ(stats.destroyed, 0);
  active->Release();
  EXPECT_EQ(stats.destroyed, stats.created);
}

TEST_F(TranscoderTest, FullHouseReusesOrDestroysParkedJobs) {
  FakeJob* a = Create(u"/m/a.mkv", 1, "video/x-mkv");
  FakeJob* b = Create(u"/m/b.mkv", 1, "video/x-mkv");
  Create(u"/m/c.mkv", 0)->Release();  // a parked ASF job
  int destroyed = stats.destroyed;
  // Two active and one parked of another output type: the parked one makes room.
  FakeJob* d = Create(u"/m/d.mkv", 1, "video/x-mkv");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(stats.destroyed, destroyed + 1);
  // Three out and none parked: a fourth request gives up once the admission budget is spent.
  // (That it waits, and that a job released while it waits lets it in, the end-to-end job
  // test shows.)
  EXPECT_EQ(Create(u"/m/x.mkv", 1, nullptr, 4), nullptr);
  d->Release();
  // A parked job of the asked output type is re-opened for the new source; its open reads
  // that type as the source's and refuses, so it is destroyed and nothing new is made.
  int created = stats.created;
  EXPECT_EQ(Create(u"/m/e.mkv", 1, kFakeTsMime, 1), nullptr);
  EXPECT_EQ(stats.created, created);
  EXPECT_EQ(stats.destroyed, destroyed + 2);
  a->Release();
  b->Release();
}

// Eight requests at the same moment, each job taking a while to open, then offers, reads and
// releases from further threads: never more than three jobs are out, and all end parked.
TEST(TranscoderStress, SimultaneousRequestsNeverPassTheLimit) {
  FakeJobStats stats;
  stats.openDelayMs = 20;
  auto* transcoder = new FakeTranscoder(&stats, 5000);
  transcoder->Initialise();
  std::atomic<int> out{0}, most{0}, served{0};
  std::latch start(8);
  std::vector<std::thread> hosts;
  for (int t = 0; t < 8; ++t)
    hosts.emplace_back([&, t] {
      std::u16string path = u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + t % 4)) + u".mkv";
      start.arrive_and_wait();
      NS::ITranscoderJob* job = nullptr;
      if (transcoder->CreateJob(path.c_str(), nullptr, t % 2, nullptr, &job) != 0) return;
      int now = ++out;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(10ms);
      Offers(transcoder, t % 3 ? "client" : nullptr, t % 2 ? kXboxAgent : kPs3Agent, nullptr, path.c_str());
      --out;
      std::thread([job] { job->Release(); }).join();
      ++served;
    });
  for (auto& host : hosts) host.join();
  EXPECT_EQ(served, 8);
  EXPECT_LE(most, 3);
  int created = stats.created;
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);  // every job was parked
  EXPECT_EQ(stats.destroyed.load(), created);
}

TEST(PluginLibrary, ExportsLoadTranscoderAlone) {
  const std::string symbols = RunShell("nm -D --defined-only '" VEXA_PLUGIN_PATH "'").output;
  EXPECT_EQ(symbols.find('\n'), symbols.size() - 1) << symbols;  // one symbol
  EXPECT_NE(symbols.find(" T LoadTranscoder\n"), std::string::npos) << symbols;
}

}  // namespace
