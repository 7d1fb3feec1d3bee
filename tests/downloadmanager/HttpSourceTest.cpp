// "http:" names read end to end: vexa-mkvdump and vexa-transcode, the framework's backend of
// kind 3, VexaDownloadManager.so found through InstallDir, and a real nginx serving the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/support/MuxFixture.h"
#include "tests/support/NginxServer.h"
#include "tests/support/ProcessTestTools.h"

namespace {

namespace fs = std::filesystem;

class HttpSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseTestEnvironment(); }

  void SetUp() override {
    // Settings layers of this test's own, in which InstallDir is set only where a test says so.
    ::setenv("VEXA_SETTINGS_USER_ROOT", (m_dir.path() / "user").c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", (m_dir.path() / "machine").c_str(), 1);
    m_local = MakeMkvFixture("h264_aac");
    ASSERT_FALSE(m_local.empty());
    fs::create_directories(m_dir.path() / "www");
    fs::copy_file(m_local, m_dir.path() / "www" / "x.mkv");
    m_server = std::make_unique<NginxTest::NginxServer>((m_dir.path() / "www").string());
    ASSERT_TRUE(m_server->Started()) << m_server->ErrorLog();
    m_url = m_server->Url("/x.mkv");
  }

  // Points InstallDir at the built library, or skips when the library is not built.
  void UseBuiltLibrary() {
    if (!*VEXA_DM_DIR) GTEST_SKIP() << "VexaDownloadManager.so is not built in this tree";
    SetInstallDir(VEXA_DM_DIR);
  }

  // The command the README gives, run as a user would.
  void SetInstallDir(const std::string& dir) {
    const ProgramRun run = RunProgram({VEXA_SETTINGS_TOOL, "set-string", "Settings/DesktopService", "InstallDir", dir});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
  }

  std::string Output(const std::string& name) const { return (m_dir.path() / name).string(); }

  ProcessTestTools::TempDir m_dir{"dm-http"};
  std::unique_ptr<NginxTest::NginxServer> m_server;
  std::string m_local, m_url;
};

TEST_F(HttpSourceTest, MkvdumpListsTheSameTracksAndBlocksAsForTheLocalFile) {
  UseBuiltLibrary();
  if (IsSkipped()) return;
  const ProgramRun local = RunProgram({VEXA_MKVDUMP, m_local}, Output("local.txt"));
  const ProgramRun remote = RunProgram({VEXA_MKVDUMP, m_url}, Output("remote.txt"));
  ASSERT_EQ(local.exitCode, 0) << local.standardError;
  ASSERT_EQ(remote.exitCode, 0) << remote.standardError;
  const std::string listing = ReadFileText(Output("local.txt"));
  EXPECT_NE(listing.find("block kind=2"), std::string::npos);
  EXPECT_EQ(ReadFileText(Output("remote.txt")), listing);
}

TEST_F(HttpSourceTest, TranscodeGivesTheSameTransportStreamAsForTheLocalFile) {
  UseBuiltLibrary();
  if (IsSkipped()) return;
  const ProgramRun local = RunTranscode({"--output", Output("local.ts"), m_local});
  const ProgramRun remote = RunTranscode({"--output", Output("remote.ts"), m_url});
  ASSERT_EQ(local.exitCode, 0) << local.standardError;
  ASSERT_EQ(remote.exitCode, 0) << remote.standardError;
  const std::vector<uint8_t> stream = ReadBytes(Output("local.ts"));
  EXPECT_GT(stream.size(), 0u);
  EXPECT_TRUE(ReadBytes(Output("remote.ts")) == stream);
}

// Without the library, or with InstallDir naming a folder without it, both tools refuse the
// name with a message that says what is missing and where it is looked for.
class HttpSourceWithoutLibraryTest : public HttpSourceTest,
                                     public ::testing::WithParamInterface<const char*> {};

TEST_P(HttpSourceWithoutLibraryTest, BothToolsFailWithTheReason) {
  if (*GetParam()) SetInstallDir(GetParam());
  const ProgramRun dump = RunProgram({VEXA_MKVDUMP, m_url});
  const ProgramRun transcode = RunTranscode({"--output", Output("remote.ts"), m_url});
  for (const ProgramRun& run : {dump, transcode}) {
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.signal, 0);
    EXPECT_NE(run.standardError.find("VexaDownloadManager.so"), std::string::npos) << run.standardError;
    EXPECT_NE(run.standardError.find("InstallDir"), std::string::npos) << run.standardError;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HttpSourceWithoutLibraryTest,
                         ::testing::Values("", "/nonexistent/vexa"));

}  // namespace
