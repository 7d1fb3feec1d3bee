// The in-memory URI file over "http://" against a real nginx: byte-exact reads anywhere in the
// resource, and Basic authentication asked from the caller once per open.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>

#include "platform/urifile/UriFileMemory.h"
#include "tests/platform/urifile/UriTestData.h"
#include "tests/support/NginxServer.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;

constexpr uint64_t kSize = 3 * 1024 * 1024 + 123;  // more than the engine's 2 MiB of cache

struct Credentials { const char* login; const char* password; int calls = 0; };

int32_t Answer(void* context, char* login, char* password, uint32_t capacity) {
  auto* given = static_cast<Credentials*>(context);
  ++given->calls;
  std::snprintf(login, capacity, "%s", given->login);
  return std::snprintf(password, capacity, "%s", given->password) < 0 ? kUriFailed : kUriOk;
}

struct HttpFileTest : testing::Test {
  UriTest::PatternFile data{kSize};
  NginxTest::NginxServer server{data.dir, "location /private/ { alias " + data.dir +
                                              "/; auth_basic \"vexa\"; auth_basic_user_file " +
                                              data.dir + "/.htpasswd; }"};
  void SetUp() override { ASSERT_TRUE((std::ofstream(data.dir + "/.htpasswd") << "viewer:{PLAIN}s3cret\n") && server.Started()); }
  int32_t Open(UriFileMemory* file, const std::u16string& uri, Credentials* credentials) {
    const UriFileParams params{uri.c_str(), nullptr, nullptr, nullptr, nullptr, u"VexaTest", nullptr};
    return file->Open(&params, credentials ? Answer : nullptr, credentials);
  }
  std::u16string Uri(const std::string& path) { return UriTest::Wide(server.Url(path)); }
};

// Nothing between the open and the last read touches the heap: the engine lives in the arena.
TEST_F(HttpFileTest, ReadsRandomRangesByteExactWithoutAllocating) {
  auto file = std::make_unique<UriFileMemory>();
  std::mt19937_64 random(7);
  std::vector<uint8_t> bytes(200000);
  uint64_t size = 0, ranges = 0;
  bool exact = true;
  const std::u16string uri = Uri("/data.bin");
  UriTest::CountAllocations(true);
  const int32_t opened = Open(file.get(), uri, nullptr);
  for (int i = 0; i < 40 && exact && opened == kUriOk; ++i) {
    const uint64_t at = random() % kSize;
    uint32_t count = static_cast<uint32_t>(random() % bytes.size()) + 1;
    const uint32_t expected = static_cast<uint32_t>(std::min<uint64_t>(count, kSize - at));
    exact = file->ReadAt(at, bytes.data(), &count, 1) == kUriOk && count == expected;
    for (uint32_t k = 0; exact && k < count; ++k) exact = bytes[k] == UriTest::PatternByte(at + k);
  }
  uint32_t count = 10;
  const int32_t atEnd = file->ReadAt(kSize, bytes.data(), &count, 1);
  UriTest::CountAllocations(false);
  ASSERT_EQ(opened, kUriOk) << server.ErrorLog();
  EXPECT_TRUE(exact && atEnd == kUriEnd);
  EXPECT_EQ(UriTest::Allocations(), 0);
  EXPECT_TRUE(file->GetInfo(kUriInfoSize, &size) == kUriOk && file->GetInfo(kUriInfoByteRanges, &ranges) == kUriOk);
  EXPECT_TRUE(size == kSize && ranges == 1);
}

TEST_F(HttpFileTest, AsksForCredentialsOnceAndAnswers14WhenRefusedAgain) {
  const struct { const char* password; bool withCallback; int32_t result; int calls; } cases[] = {
      {"s3cret", true, kUriOk, 1}, {"wrong", true, kUriAuthRefused, 1}, {"", false, kUriAuthRefused, 0}};
  for (const auto& c : cases) {
    auto file = std::make_unique<UriFileMemory>();
    Credentials credentials{"viewer", c.password};
    EXPECT_EQ(Open(file.get(), Uri("/private/data.bin"), c.withCallback ? &credentials : nullptr), c.result)
        << c.password;
    EXPECT_EQ(credentials.calls, c.calls);
    uint8_t bytes[64];
    uint32_t count = sizeof bytes;
    EXPECT_EQ(file->ReadAt(1000, bytes, &count, 1), c.result == kUriOk ? kUriOk : kUriFailed);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + count), UriTest::Pattern(1000, c.result == kUriOk ? 64 : 0));
  }
}

}  // namespace
