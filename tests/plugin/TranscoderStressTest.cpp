// Several host threads offering, creating, reading and releasing jobs at once.
#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FakeJob.h"

namespace {

TEST(TranscoderStress, ConcurrentHostThreadsLeaveEveryJobParkedOrDestroyed) {
  FakeJobStats stats;
  auto* transcoder = new FakeTranscoder(&stats, 50);
  transcoder->Initialise();
  const char16_t* paths[] = {u"/m/a.mkv", u"/m/b.mkv", u"/m/c.mkv", u"/m/d.mkv"};
  const char* agents[] = {kPs3Agent, kXboxAgent, kControlPointAgent, "Dalvik Nexus 7"};
  std::atomic<int> served{0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::vector<std::thread> hosts;
  for (int t = 0; t < 6; ++t)
    hosts.emplace_back([&, t] {
      std::mt19937 random(t);
      std::string clientId = "client" + std::to_string(t % 3);
      while (std::chrono::steady_clock::now() < deadline) {
        FakeRequest request(clientId.c_str(), agents[random() % 4]);
        FakeItem item(paths[random() % 4], nullptr);
        NS::ResourceOffer* offers = nullptr;
        uint32_t count = 0;
        if (transcoder->OfferResources(&request, &item, &offers, &count) == 0)
          transcoder->FreeResourceList(offers, count);
        NS::ITranscoderJob* job = nullptr;
        const char* mime = random() % 2 ? nullptr : kFakeTsMime;
        if (transcoder->CreateJob(paths[random() % 4], mime, random() % 2, nullptr, &job) != 0)
          continue;
        ++served;
        job->AddRef();  // a second host thread holds it for a moment
        std::thread reader([job] {
          uint8_t buffer[1024];
          uint32_t n = 0;
          job->Start(0, -1);
          while (job->Read(buffer, sizeof buffer, &n)) {
          }
          job->Release();
        });
        job->Release();
        reader.join();
      }
    });
  for (auto& host : hosts) host.join();
  EXPECT_GT(served.load(), 0);
  int created = stats.created;
  // Every job is parked now: only the transcoder's own reference is left.
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
  EXPECT_EQ(stats.destroyed.load(), created);
}

// Eight requests at the same moment, each job taking a while to open: never more than three
// are out at once.
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
      std::u16string path = u"/m/" + std::u16string(1, static_cast<char16_t>(u'a' + t)) + u".mkv";
      start.arrive_and_wait();
      NS::ITranscoderJob* job = nullptr;
      if (transcoder->CreateJob(path.c_str(), nullptr, 1, nullptr, &job) != 0) return;
      int now = ++out;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      --out;
      job->Release();
      ++served;
    });
  for (auto& host : hosts) host.join();
  EXPECT_EQ(served, 8);
  EXPECT_LE(most, 3);
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
}

}  // namespace
