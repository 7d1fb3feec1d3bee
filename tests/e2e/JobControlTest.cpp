// The plug-in loaded as a host loads it, its transport-stream jobs driven only through the host
// interfaces: starting, stopping and admission, with real Matroska files. (Stop while another
// thread waits in Read on a paused stream: the job's own racing test.)
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "tests/support/MuxFixture.h"
#include "tests/support/FakeJob.h"
#include "tools/hostkit/LoadedPlugin.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kHangLimit = 20s;  // far beyond any normal answer: only a hang exceeds it

class JobControl : public testing::Test {
 protected:
  static void SetUpTestSuite() { UseTestEnvironment(); }

  void SetUp() override {
    small_ = MakeMkvFixture("h264_aac");
    long_ = MakeMkvFixture("long_640");
    ASSERT_FALSE(small_.empty() || long_.empty());
    std::string error;
    ASSERT_TRUE(plugin_.Load(VEXA_PLUGIN, &error)) << error;
  }

  void TearDown() override {  // the plug-in's own reference is the last
    if (!plugin_.Transcoder()) return;
    plugin_.Transcoder()->AddRef();
    EXPECT_EQ(plugin_.Transcoder()->Release(), 1) << "a job still holds the transcoder";
  }

  // A new job, opened with no MIME type: the source is judged by its extension.
  NS::ITranscoderJob* CreateJob(const std::string& path, int32_t* result = nullptr) {
    std::u16string wide(path.begin(), path.end());  // the fixtures' paths are ASCII
    NS::ITranscoderJob* job = nullptr;
    int32_t created = plugin_.Upnp()->CreateJob(wide.c_str(), nullptr, 1, nullptr, &job);
    if (result) *result = created;
    return created == 0 ? job : nullptr;
  }

  // The number of pictures in a whole stream read from the job; the stream must be clean.
  size_t PicturesIn(const std::string& stream) {
    TsReport report = CheckTransportStream({stream.begin(), stream.end()});
    EXPECT_TRUE(report.problems.empty()) << Problems(report);
    std::vector<uint16_t> video = Pids(report, true);
    return video.size() == 1 ? report.pes[video[0]].size() : 0;
  }

  size_t SourcePictures(const std::string& path) { return ProbeTracks(path).at(0).packets.size(); }

  std::string small_, long_;
  LoadedPlugin plugin_;
};

// Three jobs fill their buffers while the host reads only their first packets; stopping one of
// them (nobody reading) lets a fourth request in.
TEST_F(JobControl, AFourthRequestWaitsForOneOfThreeStreamingJobs) {
  std::vector<NS::ITranscoderJob*> jobs;
  for (int i = 0; i < 3; ++i) {
    jobs.push_back(CreateJob(long_));
    ASSERT_NE(jobs.back(), nullptr) << "job " << i;
    ASSERT_EQ(jobs.back()->Start(0, -1), 0);
  }
  std::vector<std::string> streams(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    uint8_t start[188 * 100];
    uint32_t count = 0;
    ASSERT_TRUE(jobs[i]->Read(start, sizeof start, &count));
    streams[i].assign(reinterpret_cast<char*>(start), count);
  }

  int32_t fourthResult = -1;
  auto fourth = std::async(std::launch::async, [&] { return CreateJob(small_, &fourthResult); });
  EXPECT_EQ(fourth.wait_for(1s), std::future_status::timeout) << "a fourth job was admitted at once";
  jobs[0]->Stop();
  jobs[0]->Release();
  ASSERT_EQ(fourth.wait_for(kHangLimit), std::future_status::ready);
  NS::ITranscoderJob* waited = fourth.get();
  ASSERT_NE(waited, nullptr) << "result " << fourthResult;
  ASSERT_EQ(waited->Start(0, -1), 0);
  EXPECT_EQ(PicturesIn(ReadJobStream(*waited)), SourcePictures(small_));
  waited->Release();

  size_t pictures = SourcePictures(long_);
  for (size_t i = 1; i < jobs.size(); ++i) {
    streams[i] += ReadJobStream(*jobs[i]);
    EXPECT_EQ(PicturesIn(streams[i]), pictures) << "job " << i;
    jobs[i]->Release();
  }
}

}  // namespace
