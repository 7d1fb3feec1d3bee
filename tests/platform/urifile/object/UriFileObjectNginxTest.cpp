// A partial copy made the way a caller makes one: CreateUriFile with side files, over HTTP from
// a real nginx.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "platform/urifile/UriFileObject.h"
#include "tests/support/NginxServer.h"
#include "tests/support/ProcessTestTools.h"

namespace VexaUri {
namespace {

using namespace VexaFiles;

TEST(UriFileObjectNginxTest, DownloadsTheResourceIntoItsCopyByteExact) {
  ProcessTestTools::TempDir served("served"), copy("copy");
  std::string content(3 * 1024 * 1024 + 77, '\0'), tail(1000, '\0');
  std::mt19937 random(3);
  for (char& c : content) c = static_cast<char>(random());
  std::ofstream(served.path() / "clip.bin", std::ios::binary) << content;
  NginxTest::NginxServer server(served.path().string());
  ASSERT_TRUE(server.Started());
  const std::u16string uri = ProcessTestTools::Wide(server.Url("/clip.bin"));
  const std::u16string info = copy.Wide("i"), mask = copy.Wide("m"), data = copy.Wide("d");
  const UriFileParams params{uri.c_str(), info.c_str(), mask.c_str(), data.c_str(), nullptr, u"VexaTest", nullptr};
  std::unique_ptr<IUriFile> file(CreateUriFile(&params, nullptr, nullptr));
  ASSERT_NE(file, nullptr) << server.ErrorLog();
  uint32_t count = 1000, state = 0;
  ASSERT_EQ(file->ReadAt(content.size() - 1000, tail.data(), &count, 1), kUriOk) << server.ErrorLog();
  EXPECT_EQ(tail, content.substr(content.size() - 1000));
  ASSERT_TRUE(ProcessTestTools::WaitFor([&] { return file->GetState(&state) == kUriOk && state == kUriStateComplete; }));
  file.reset();
  std::ifstream in(copy.path() / "d", std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == content);
}

}  // namespace
}  // namespace VexaUri
