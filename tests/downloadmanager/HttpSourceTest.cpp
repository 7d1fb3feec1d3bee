// "http:" names read end to end: vexa-mkvdump and vexa-transcode, the framework's backend of
// kind 3, VexaDownloadManager.so found through InstallDir, and a real nginx serving the file;
// and a "file:" URL read through the backend of kind 4.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "tests/support/MuxFixture.h"
#include "tests/support/NginxServer.h"
#include "tests/support/ProcessTestTools.h"
#include "tests/support/SettingsLayers.h"

namespace {

class HttpSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseTestEnvironment(); }
  void SetUp() override {
    ASSERT_FALSE(m_local.empty());
    std::filesystem::create_directories(Output("www"));
    std::filesystem::copy_file(m_local, Output("www/x.mkv"));
    ASSERT_TRUE(m_server.Started()) << m_server.ErrorLog();
  }
  std::string Output(const std::string& name) const { return (m_dir.path() / name).string(); }

  TestSupport::SettingsLayers m_layers;  // InstallDir is set only where a test says so
  ProcessTestTools::TempDir m_dir{"dm-http"};
  std::string m_local = MakeMkvFixture("h264_aac");
  NginxTest::NginxServer m_server{Output("www")};
  std::string m_url = m_server.Url("/x.mkv");
};

TEST_F(HttpSourceTest, BothToolsReadTheSameAsFromTheLocalFile) {
  m_layers.SetInstallDir(VEXA_DM_DIR);
  for (const std::string& source : {m_local, m_url}) {
    const std::string tag = source == m_url ? "remote" : "local";
    const ProgramRun dump = RunProgram({VEXA_MKVDUMP, source}, Output(tag + ".txt"));
    const ProgramRun transcode = RunTranscode({"--output", Output(tag + ".ts"), source});
    EXPECT_EQ(dump.exitCode + transcode.exitCode, 0) << dump.standardError << transcode.standardError;
  }
  EXPECT_NE(ProcessTestTools::ReadText(Output("local.txt")).find("block kind=2"), std::string::npos);
  EXPECT_EQ(ProcessTestTools::ReadText(Output("remote.txt")), ProcessTestTools::ReadText(Output("local.txt")));
  // A "file:" URL of the same file is read through the URI-file backend; SubRip cues come
  // over HTTP as they come from the disk.
  std::ofstream(Output("www/x.srt")) << "1\n00:00:01,000 --> 00:00:02,500\n<i>first</i> cue\n\n"
                                        "2\n00:00:03,000 --> 00:00:04,000\nsecond\n";
  for (const auto& [local, url] : {std::pair{m_local, "file://" + m_local},
                                   std::pair{Output("www/x.srt"), m_server.Url("/x.srt")}}) {
    const ProgramRun byPath = RunProgram({VEXA_MKVDUMP, local}, Output("path.txt"));
    const ProgramRun byUrl = RunProgram({VEXA_MKVDUMP, url}, Output("url.txt"));
    EXPECT_EQ(byPath.exitCode + byUrl.exitCode, 0) << url << byUrl.standardError;
    EXPECT_NE(ProcessTestTools::ReadText(Output("path.txt")).find(" stream=0"), std::string::npos) << url;
    EXPECT_EQ(ProcessTestTools::ReadText(Output("url.txt")), ProcessTestTools::ReadText(Output("path.txt"))) << url;
  }
  // How the multiplexer interleaves its packets depends on timing, even between two runs on
  // one local file; what each stream carries, with its times, does not.
  const auto streams = [this](const std::string& tag) {
    std::map<uint16_t, std::vector<std::tuple<int64_t, int64_t, std::vector<uint8_t>>>> out;
    for (const auto& [pid, packets] : CheckTransportStream(ReadBytes(Output(tag + ".ts"))).pes)
      for (const TsPesInfo& pes : packets) out[pid].emplace_back(pes.pts, pes.dts, pes.payload);
    return out;
  };
  EXPECT_FALSE(streams("local").empty());
  EXPECT_TRUE(streams("remote") == streams("local"));
}

// Without the library, or with InstallDir naming a folder without it, both tools refuse the
// name with a message that says what is missing and where it is looked for.
TEST_F(HttpSourceTest, WithoutTheLibraryBothToolsFailWithTheReason) {
  for (const char* installDir : {"", "/nonexistent/vexa"}) {
    if (*installDir) m_layers.SetInstallDir(installDir);
    for (const ProgramRun& run : {RunProgram({VEXA_MKVDUMP, m_url}), RunTranscode({"--output", Output("x.ts"), m_url})}) {
      EXPECT_TRUE(run.exitCode > 0 && run.signal == 0) << installDir << ": " << run.exitCode;
      EXPECT_NE(run.standardError.find("VexaDownloadManager.so"), std::string::npos) << run.standardError;
      EXPECT_NE(run.standardError.find("InstallDir"), std::string::npos) << run.standardError;
    }
  }
}

}  // namespace
