// Choosing the built-in module for real files made by FFmpeg and for names without files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "framework/ContainerAccess.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"

namespace {

namespace fs = std::filesystem;

fs::path FixtureDir() { return fs::path(VEXA_BINARY_DIR) / "framework_probe_fixtures"; }

std::u16string Wide(const fs::path& path) { return path.u16string(); }

class ModuleProbeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fs::create_directories(FixtureDir());
    const std::string video = "-f lavfi -i testsrc=size=64x48:rate=5:duration=0.4 ";
    const std::string audio = "-f lavfi -i sine=duration=0.4 ";
    const std::pair<const char*, std::string> fixtures[] = {
        {"clip.avi", video + audio + "-c:v mpeg4 -c:a mp2"}, {"clip.mp4", video + "-c:v mpeg4"},
        {"clip.ts", video + "-c:v mpeg2video"}, {"clip.mpg", video + "-c:v mpeg2video -f vob"},
        {"clip.aac", audio + "-c:a aac"}, {"clip.mkv", video + audio + "-c:v mpeg4 -c:a mp2"}};
    for (const auto& [name, arguments] : fixtures) {
      const fs::path file = FixtureDir() / name;
      if (fs::exists(file)) continue;
      const std::string command = "ffmpeg -nostdin -v error -y " + arguments + " '" + file.string() + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
  }
  void SetUp() override { ASSERT_EQ(vmf::Init(nullptr), VMF_OK); }

  // The module chosen for a name, or the failure of the choice.
  static int32_t Chosen(const std::u16string& name) {
    int32_t id = 0;
    const int32_t result = vmf::ChooseModule(name.c_str(), vmf::AccessMode::Read, nullptr, &id);
    return result == VMF_OK ? id : result;
  }
  static fs::path CopyAs(const char* fixture, const char* name) {
    const fs::path copy = FixtureDir() / name;
    fs::copy_file(FixtureDir() / fixture, copy, fs::copy_options::overwrite_existing);
    return copy;
  }
};

TEST_F(ModuleProbeTest, RealFilesAreChosenByTheirContent) {
  const struct { const char* fixture; const char* copy; int32_t chosen; } cases[] = {
      {"clip.avi", nullptr, VMF_MODULE_AVI}, {"clip.mkv", nullptr, VMF_MODULE_MATROSKA}, {"clip.mp4", nullptr, VMF_MODULE_MP4},
      {"clip.ts", nullptr, VMF_MODULE_MPEG}, {"clip.mpg", nullptr, VMF_MODULE_MPEG}, {"clip.aac", nullptr, VMF_MODULE_MPEG},
      // Content beats a misleading extension; capital letters do not matter when content decides.
      {"clip.mkv", "matroska.MKV", VMF_MODULE_MATROSKA}, {"clip.mkv", "matroska.avi", VMF_MODULE_MATROSKA},
      // Two modules scoring 100: the lower id wins (Matroska by content, SRT by extension).
      {"clip.mkv", "subtitles.srt", VMF_MODULE_MATROSKA}, {"clip.ts", "stream.264", VMF_MODULE_AVC},
      // The MP4 module never takes a 3GP name, whatever the content.
      {"clip.mp4", "phone.3GP", VMF_ERR_UNSUPPORTED_CONTAINER}};
  for (const auto& c : cases) {
    const fs::path file = c.copy == nullptr ? FixtureDir() / c.fixture : CopyAs(c.fixture, c.copy);
    EXPECT_EQ(Chosen(Wide(file)), c.chosen) << file;
  }
}

TEST_F(ModuleProbeTest, NamesWithoutFilesAreChosenByExtensionWhereAModuleAllowsIt) {
  const std::pair<const char*, int32_t> cases[] = {
      {"a.mkv", VMF_MODULE_MATROSKA}, {"a.vf3", VMF_MODULE_MATROSKA}, {"a.MKV", VMF_ERR_UNSUPPORTED_CONTAINER},
      {"a.AVI", VMF_MODULE_AVI}, {"a.Avi", VMF_ERR_UNSUPPORTED_CONTAINER}, {"a.VSBT", VMF_MODULE_AVI},
      {"a.H264", VMF_MODULE_AVC}, {"a.264", VMF_MODULE_AVC}, {"a.srt", VMF_MODULE_SRT},
      {"a.SRT", VMF_ERR_UNSUPPORTED_CONTAINER}, {"a.mp4", VMF_ERR_UNSUPPORTED_CONTAINER},
      {"noextension", VMF_ERR_UNSUPPORTED_CONTAINER}, {"a.M2TS  ", VMF_MODULE_MPEG}};  // trailing spaces dropped
  for (const auto& [name, chosen] : cases) EXPECT_EQ(Chosen(Wide(FixtureDir() / "missing" / name)), chosen) << name;
  // Without reading anything; .m4v ties with MPEG's extension.
  EXPECT_EQ(Chosen(u"http://host/a.MOV"), VMF_MODULE_MP4);
  EXPECT_EQ(Chosen(u"http://host/a.m4v"), VMF_MODULE_MP4);
  EXPECT_EQ(Chosen(u"http://host/a.3g2"), VMF_ERR_UNSUPPORTED_CONTAINER);
}

TEST_F(ModuleProbeTest, ContainersWithoutAReaderAreRefusedWhenOpened) {
  for (const char* name : {"clip.avi", "clip.mp4", "clip.ts", "clip.aac"}) {
    VmfContainer* container = nullptr;
    const std::u16string file = u"file://" + Wide(FixtureDir() / name);
    EXPECT_EQ(vmf::OpenContainer(&container, file.c_str(), nullptr),
              VMF_ERR_UNSUPPORTED_CONTAINER)
        << name;
    EXPECT_EQ(vmf::CloseContainer(container), VMF_OK);
  }
}

}  // namespace
