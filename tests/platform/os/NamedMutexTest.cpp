// Named mutexes are shared between processes, beyond what ThreadSanitizer follows: these tests
// run in the default and AddressSanitizer builds.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/os/VexaMutex.h"
#include "tests/platform/files/TestDir.h"
#include "tests/platform/os/ChildProcess.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(VexaMutex, NamedTimesOutWhileAnotherThreadHoldsIt) {
  const std::string name = UniqueName("mutex");
  CVexaMutex mine(name.c_str(), 50);
  CVexaMutex theirs(name.c_str());
  EXPECT_TRUE(mine.IsNamed());
  std::atomic<int> result{1};
  ASSERT_EQ(theirs.Lock(), 0);
  std::thread other([&] { result = mine.Lock(); });  // -1: the default of 50 ms
  other.join();
  EXPECT_EQ(result, -1);
  std::thread([&] { EXPECT_EQ(mine.Unlock(), -1); }).join();  // not the owner thread
  ASSERT_EQ(theirs.Unlock(), 0);
  EXPECT_EQ(mine.Lock(0), 0);
  EXPECT_EQ(mine.Unlock(), 0);
}

TEST(VexaMutex, NamedExcludesAcrossProcesses) {
  const std::string name = UniqueName("mutex");
  TempDir dir;
  const std::string counterPath = (dir.path() / "counter").string();
  { std::ofstream(counterPath) << 0; }
  auto work = [&] {
    CVexaMutex mutex(name.c_str());
    for (int i = 0; i < 200; ++i) {
      if (mutex.Lock() != 0) return 1;
      int value = 0;
      { std::ifstream(counterPath) >> value; }
      { std::ofstream(counterPath) << value + 1; }
      mutex.Unlock();
    }
    return 0;
  };
  Child first(work);
  Child second(work);
  EXPECT_EQ(work(), 0);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  int value = 0;
  std::ifstream(counterPath) >> value;
  EXPECT_EQ(value, 600);
}

TEST(VexaMutex, NamedHeldByAnotherProcessTimesOut) {
  const std::string name = UniqueName("mutex");
  Signal locked;
  Signal release;
  Child holder([&] {
    CVexaMutex mutex(name.c_str());
    if (mutex.Lock() != 0) return 1;
    locked.Send();
    release.Receive();
    mutex.Unlock();
    return 0;
  });
  ASSERT_TRUE(locked.Receive());
  CVexaMutex mutex(name.c_str());
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(mutex.Lock(100), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 90ms);
  release.Send();
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(mutex.Lock(1000), 0);
  EXPECT_EQ(mutex.Unlock(), 0);
}

TEST(VexaMutex, NamedWhoseOwnerDiedAnswersMinusOneOnce) {
  const std::string name = UniqueName("mutex");
  CVexaMutex mutex(name.c_str());
  Child owner([&] {
    CVexaMutex theirs(name.c_str());
    return theirs.Lock() == 0 ? 0 : 1;  // exits holding the lock
  });
  ASSERT_EQ(owner.Wait(), 0);
  EXPECT_EQ(mutex.Lock(), -1);  // abandoned
  EXPECT_EQ(mutex.Lock(0), 0);  // repaired and free
  EXPECT_EQ(mutex.Unlock(), 0);
}

TEST(VexaMutex, NamedWhoseOwnerWasKilledAnswersMinusOne) {
  const std::string name = UniqueName("mutex");
  Signal locked;
  Child owner([&] {
    CVexaMutex theirs(name.c_str());
    theirs.Lock();
    locked.Send();
    for (;;) ::pause();
    return 0;
  });
  ASSERT_TRUE(locked.Receive());
  CVexaMutex mutex(name.c_str());
  EXPECT_EQ(mutex.Lock(50), -1);  // held: times out
  ::kill(owner.pid(), SIGKILL);
  EXPECT_EQ(owner.Wait(), 128 + SIGKILL);
  EXPECT_EQ(mutex.Lock(1000), -1);  // abandoned
  EXPECT_EQ(mutex.Lock(1000), 0);
  EXPECT_EQ(mutex.Unlock(), 0);
  // The killed process never closed its opening, so the segment would outlive this test.
  ::shm_unlink(SharedSegment::SystemName("mutex", name.c_str()).c_str());
}

TEST(VexaMutex, NamedWhoseOwnerThreadEndedAnswersMinusOne) {
  const std::string name = UniqueName("mutex");
  CVexaMutex mutex(name.c_str());
  std::thread owner([&] { EXPECT_EQ(mutex.Lock(), 0); });
  owner.join();
  EXPECT_EQ(mutex.Lock(), -1);
  EXPECT_EQ(mutex.Lock(), 0);
  EXPECT_EQ(mutex.Unlock(), 0);
}

TEST(VexaMutex, TheSharedSegmentGoesWithTheLastOpening) {
  const std::string name = UniqueName("mutex");
  const std::string segment = "/dev/shm" + SharedSegment::SystemName("mutex", name.c_str());
  {
    CVexaMutex first(name.c_str());
    EXPECT_TRUE(std::filesystem::exists(segment));
    {
      CVexaMutex second(name.c_str());
    }
    EXPECT_TRUE(std::filesystem::exists(segment));
  }
  EXPECT_FALSE(std::filesystem::exists(segment));
  // Names with slashes are escaped; over-long names make no lock.
  CVexaMutex slashed("a/b%c");
  EXPECT_EQ(slashed.Lock(), 0);
  EXPECT_EQ(slashed.Unlock(), 0);
  CVexaMutex tooLong(std::string(300, 'n').c_str());
  EXPECT_EQ(tooLong.Lock(), -1);
  EXPECT_EQ(tooLong.Unlock(), -1);
}
