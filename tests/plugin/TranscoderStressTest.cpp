// Host threads offering, creating, reading and releasing jobs all at once.
#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FakeJob.h"

namespace {

// Eight requests at the same moment, round after round, each job taking a while to open and
// read by a second thread: never more than three jobs are out, and every job ends parked.
TEST(TranscoderStress, SimultaneousRequestsNeverPassTheLimit) {
  FakeJobStats stats;
  stats.openDelayMs = 20;
  auto* transcoder = new FakeTranscoder(&stats, 5000);
  transcoder->Initialise();
  const char* agents[] = {kPs3Agent, kXboxAgent, kControlPointAgent, "Dalvik Nexus 7"};
  std::atomic<int> out{0}, most{0}, served{0};
  std::latch start(8);
  std::vector<std::thread> hosts;
  for (int t = 0; t < 8; ++t)
    hosts.emplace_back([&, t] {
      std::u16string path = u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + t % 4)) + u".mkv";
      start.arrive_and_wait();
      for (int round = 0; round < 3; ++round) {
        FakeRequest request(t % 2 ? "client" : nullptr, agents[(t + round) % 4]);
        FakeItem item(path.c_str(), nullptr);
        NS::ResourceOffer* offers = nullptr;
        uint32_t count = 0;
        if (transcoder->OfferResources(&request, &item, &offers, &count) == 0)
          transcoder->FreeResourceList(offers, count);
        NS::ITranscoderJob* job = nullptr;
        const char* mime = round % 2 ? kFakeTsMime : nullptr;
        if (transcoder->CreateJob(path.c_str(), mime, round % 2, nullptr, &job) != 0) continue;
        int now = ++out;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        job->AddRef();
        std::thread reader([&out, job] {
          uint8_t buffer[1024];
          uint32_t n = 0;
          job->Start(0, -1);
          while (job->Read(buffer, sizeof buffer, &n)) {
          }
          --out;
          job->Release();
        });
        job->Release();
        reader.join();
        ++served;
      }
    });
  for (auto& host : hosts) host.join();
  EXPECT_GE(served, 16);  // a second round's request may find no parked job to take over
  EXPECT_LE(most, 3);
  int created = stats.created;
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);  // every job was parked
  EXPECT_EQ(stats.destroyed.load(), created);
}

}  // namespace
