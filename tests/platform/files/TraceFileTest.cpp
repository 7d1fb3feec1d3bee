// The framework's trace file stays bounded: a full L1log.txt becomes L1log.txt.1 and a new one
// begins, each a UTF-16LE text with its byte-order mark.
#include <gtest/gtest.h>

#include "framework/L1Log.h"
#include "tests/support/ProcessTestTools.h"

TEST(TraceFile, StartsANewFileWhenFullAndKeepsOnePrevious) {
  ProcessTestTools::TraceDir dir("trace");
  const auto current = dir.path() / "L1log.txt", previous = dir.path() / "L1log.txt.1";
  // The size and first letter of a file holding UTF-16LE texts of 64 Ki characters of one letter.
  auto shape = [](const std::filesystem::path& file) {
    const std::string text = ProcessTestTools::ReadText(file);
    return std::make_pair(text.size(), text.substr(0, 4));
  };
  constexpr size_t kTextBytes = 128 * 1024;
  // An earlier process left a full file: it is kept as the previous one at once.
  std::ofstream(current, std::ios::binary) << "\xFF\xFE" << std::string(vmf::kL1LogLimitBytes, 'x');
  ASSERT_TRUE(vmf::AcquireL1Log());
  EXPECT_EQ(std::filesystem::file_size(previous), vmf::kL1LogLimitBytes + 2);
  const int perFile = static_cast<int>(vmf::kL1LogLimitBytes / kTextBytes);  // the last one fills it
  for (char16_t letter : {u'a', u'b'}) {
    for (int i = 0; i < perFile; ++i) vmf::WriteL1Log(std::u16string(64 * 1024, letter));
    EXPECT_EQ(shape(previous), std::make_pair(2 + perFile * kTextBytes, std::string("\xFF\xFE", 2) + char(letter) + '\0'));
  }
  vmf::WriteL1Log(std::u16string(64 * 1024, u'c'));
  vmf::ReleaseL1Log();
  EXPECT_EQ(shape(current), std::make_pair(2 + kTextBytes, std::string("\xFF\xFE" "c\0", 4)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}
