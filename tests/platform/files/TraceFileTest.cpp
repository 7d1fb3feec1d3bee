// The framework's trace file stays bounded: a full L1log.txt becomes L1log.txt.1 and a new one
// begins, each a UTF-16LE text with its byte-order mark.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "framework/L1Log.h"
#include "tests/support/ProcessTestTools.h"

namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// `count` texts of 64 Ki characters of one letter.
void WriteTexts(int count, char16_t letter) {
  for (int i = 0; i < count; ++i) vmf::WriteL1Log(std::u16string(64 * 1024, letter));
}

constexpr size_t kTextBytes = 128 * 1024;

}  // namespace

TEST(TraceFile, StartsANewFileWhenFullAndKeepsOnePrevious) {
  ProcessTestTools::TempDir dir("trace");
  ::setenv("VEXA_L1LOG_DIR", dir.path().c_str(), 1);
  const auto current = dir.path() / "L1log.txt";
  const auto previous = dir.path() / "L1log.txt.1";
  // An earlier process left a full file: it is kept as the previous one at once.
  std::ofstream(current, std::ios::binary) << "\xFF\xFE" << std::string(vmf::kL1LogLimitBytes, 'x');
  ASSERT_TRUE(vmf::AcquireL1Log());
  EXPECT_EQ(std::filesystem::file_size(previous), vmf::kL1LogLimitBytes + 2);
  const int perFile = static_cast<int>(vmf::kL1LogLimitBytes / kTextBytes);  // the last one fills it
  for (char16_t letter : {u'a', u'b'}) {
    WriteTexts(perFile, letter);
    const std::string kept = Slurp(previous);
    EXPECT_EQ(kept.size(), 2 + perFile * kTextBytes);
    EXPECT_EQ(kept.substr(0, 4), std::string("\xFF\xFE", 2) + static_cast<char>(letter) + '\0');
  }
  WriteTexts(1, u'c');
  vmf::ReleaseL1Log();
  ::unsetenv("VEXA_L1LOG_DIR");
  const std::string begunAnew = Slurp(current);
  EXPECT_EQ(begunAnew.size(), 2 + kTextBytes);
  EXPECT_EQ(begunAnew.substr(0, 4), std::string("\xFF\xFE" "c\0", 4));
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2);
}
