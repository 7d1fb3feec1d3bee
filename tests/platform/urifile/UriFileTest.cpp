// The URI files over pattern bytes, with no server: CreateUriFile's choice of class, the local
// URI file, the in-memory URI file over a "file://" source (streaming allocates nothing), and the
// rules of "nolo://" URLs. (Over nginx and a nolo server on loopback: UriFileNetworkTest.cpp.)
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "platform/urifile/CreateUriFile.h"
#include "platform/urifile/LocalFileHandle.h"
#include "platform/urifile/NoloProtocol.h"
#include "platform/urifile/UriFileMemory.h"
#include "tests/platform/urifile/PatternFile.h"
#include "tests/support/AllocationGate.h"
#include "tests/support/ProcessTestTools.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;
using namespace UriFileTest;
using ProcessTestTools::Wide;

constexpr uint64_t kFileSize = 100000;

UriFileParams Params(const char16_t* uri, const char16_t* side = nullptr) {
  return UriFileParams{uri, nullptr, side, nullptr, nullptr, nullptr, nullptr};
}

TEST(CreateUriFile, RoutesByLengthSchemeAndSideFiles) {
  const struct { const char16_t* uri; bool side; UriFileClass expected; } cases[] = {
      {u"file", false, UriFileClass::kNone},        {u"http", true, UriFileClass::kNone},
      {u"file:///a", false, UriFileClass::kLocal},  {u"file:///a", true, UriFileClass::kLocal},
      {u"File:///a", false, UriFileClass::kMemory}, {u"http://h/a", false, UriFileClass::kMemory},
      {u"ftp://h/a", false, UriFileClass::kMemory}, {u"http://h/a", true, UriFileClass::kObject}};
  for (const auto& c : cases) {
    const UriFileParams params = Params(c.uri, c.side ? u"/tmp/side" : nullptr);
    EXPECT_EQ(UriFileClassFor(&params), c.expected) << std::string(c.uri, c.uri + 5);
  }
}

// Reads seek only when the position moves; seeks, info, abort, and the slots it does not serve.
TEST(UriFileLocal, ReadsSeeksAndAnswersLikeAFileThatIsComplete) {
  PatternFile data{kFileSize};
  const std::u16string uri = Wide("file://" + data.path);
  const UriFileParams params = Params(uri.c_str());
  std::unique_ptr<IUriFile> file{CreateUriFile(&params, nullptr, nullptr)};
  ASSERT_TRUE(file);
  // seeks: the system seeks the read costs.
  const struct { uint64_t at; uint32_t count; int32_t result; uint32_t got; uint64_t seeks; } reads[] = {
      {0, 1000, kUriOk, 1000, 0},          {1000, 500, kUriOk, 500, 0},    {70000, 300, kUriOk, 300, 1},
      {70300, 300, kUriOk, 300, 0},        {5, 5, kUriOk, 5, 1},           {kFileSize, 50, kUriEnd, 0, 1},
      {kFileSize - 10, 50, kUriOk, 10, 1}};
  for (const auto& r : reads) {
    const uint64_t seeksBefore = LocalFileHandle::SystemSeekCount();
    std::vector<uint8_t> bytes(r.count);
    uint32_t count = r.count;
    EXPECT_EQ(file->ReadAt(r.at, bytes.data(), &count, 1), r.result) << r.at;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + count), Pattern(r.at, r.got)) << r.at;
    EXPECT_EQ(LocalFileHandle::SystemSeekCount() - seeksBefore, r.seeks) << r.at;
  }
  const struct { uint64_t offset; SeekOrigin origin; uint64_t position; } seeks[] = {
      {500, kSeekAbsolute, 500}, {100, kSeekForward, 600}, {1000, kSeekBackward, 0},
      {10, kSeekFromEnd, kFileSize - 10}, {kFileSize + 5, kSeekFromEnd, 0}};
  for (const auto& s : seeks) {
    uint64_t position = 1;
    EXPECT_TRUE(file->Seek(s.offset, s.origin) == kUriOk && file->Tell(&position) == kUriOk);
    EXPECT_EQ(position, s.position) << s.offset << " " << s.origin;
  }
  uint64_t info[] = {1, 4, 6, 7, 99}, offset = 40, length = 100;
  for (uint64_t& id : info) EXPECT_EQ(file->GetInfo(static_cast<uint32_t>(id), &id), kUriOk);
  EXPECT_EQ(std::vector<uint64_t>(info, info + 5), std::vector<uint64_t>(5, kFileSize));
  uint32_t state = 0, count = 4;
  uint8_t bytes[4];
  EXPECT_TRUE(file->GetMissingRange(&offset, &length) == kUriOk && offset == 140 && length == 0);
  EXPECT_TRUE(file->GetState(&state) == kUriOk && state == kUriStateComplete);
  EXPECT_TRUE(file->Abort() == kUriOk && file->ReadAt(0, bytes, &count, 1) == kUriAborted);
  count = 4;
  EXPECT_TRUE(file->Resume() == kUriOk && file->Read(bytes, &count, 1) == kUriOk && count == 4);
}

// Unopened, every operation fails; a failed open leaves the object closed and reusable. Over a
// "file://" source every byte is at hand, so GetMissingRange moves the offset past the whole
// 32-byte units asked and adds the parts below a unit back unchanged.
TEST(UriFileMemory, ReadsAFileSourceExactlyWithoutAllocating) {
  PatternFile data{kFileSize};
  const std::u16string bad = u"ftp://127.0.0.1/x", uri = Wide("file://" + data.path);
  const UriFileParams badParams = Params(bad.c_str()), params = Params(uri.c_str());
  auto file = std::make_unique<UriFileMemory>();
  std::vector<uint8_t> buffer(70000);
  const uint64_t spots[][2] = {{0, 4096}, {99990, 10}, {12345, 70000}, {77, 1}, {4096, 4096}};
  uint64_t value[5] = {0, 0, 0, 40, 100};
  uint32_t count = 1, state[2] = {};
  bool exact = true;
  AllocationGate::Watch();
  const std::array<int32_t, 10> unopened{file->ReadAt(0, buffer.data(), &count, 1), file->Seek(0, kSeekAbsolute),
                                      file->Tell(value), file->GetInfo(kUriInfoSize, value),
                                      file->Prefetch(0, 1), file->GetProperty(1, value),
                                      file->Open(&badParams, nullptr, nullptr), file->GetState(&state[0]),
                                      file->Open(&params, nullptr, nullptr), file->GetState(&state[1])};
  for (const auto& spot : spots) {
    count = static_cast<uint32_t>(spot[1]);
    exact = exact && file->ReadAt(spot[0], buffer.data(), &count, 1) == kUriOk && count == spot[1];
    for (uint32_t i = 0; exact && i < count; ++i) exact = buffer[i] == PatternByte(spot[0] + i);
  }
  count = 10;
  const std::array<int32_t, 7> results{file->ReadAt(kFileSize, buffer.data(), &count, 1),
                                     file->GetInfo(kUriInfoSize, &value[0]),
                                     file->GetInfo(kUriInfoByteRanges, &value[1]),
                                     file->GetMissingRange(&value[3], &value[4]),
                                     file->Seek(0x7FFFFFFF, kSeekAbsolute), file->Seek(0x80000000, kSeekAbsolute),
                                     (file->Close(), file->Open(&params, nullptr, nullptr))};
  EXPECT_EQ(AllocationGate::Stop(), 0);
  EXPECT_EQ(unopened, (std::array<int32_t, 10>{kUriFailed, kUriFailed, kUriFailed, kUriFailed, kUriFailed, kUriFailed,
                                              kUriFailed, kUriOk, kUriOk, kUriOk}));
  EXPECT_TRUE(state[0] == kUriStateClosed && state[1] == kUriStateOpen && exact);
  EXPECT_EQ(results, (std::array<int32_t, 7>{kUriEnd, kUriOk, kUriOk, kUriOk, kUriOk, kUriFailed, kUriOk}));
  EXPECT_EQ((std::vector<uint64_t>(value, value + 5)), (std::vector<uint64_t>{kFileSize, 1, 0, 136, 4}));
}

TEST(NoloUrl, FollowsTheAddressAndPortRules) {
  const struct { const char* url; uint16_t port; /* 0: refused */ } cases[] = {
      {"nolo://10.0.0.1", 31337}, {"nolo://10.0.0.1:8080/x/y", 8080}, {"nolo://1.2.3.4/", 31337},
      {"nolo://254.254.254.254:65535", 65535}, {"nolo://1.2.3.4:1", 1}, {"nolo://10.0.0.255", 0},
      {"nolo://10.0.0.1:0", 0}, {"nolo://10.0.0.1:65536", 0}, {"nolo://10.0.0.1:", 0},
      {"nolo://10.0.0.1x", 0}, {"nolo://10.0.0.1:80x", 0}, {"nolo://1.2.3/abcdef", 0},
      {"nolo://1.2.3", 0}, {"NOLO://10.0.0.1", 0}, {"nolo://1.2.3.4.5", 0}, {"nolo://0001.2.3.4", 0}};
  for (const auto& c : cases) {
    NoloAddress address{};
    EXPECT_EQ(ParseNoloUrl(c.url, &address), c.port != 0) << c.url;
    EXPECT_EQ(address.port, c.port) << c.url;
  }
  NoloAddress address{};
  EXPECT_TRUE(ParseNoloUrl("nolo://10.0.0.1", &address) && address.octets[0] == 10 && address.octets[3] == 1);
}

}  // namespace
