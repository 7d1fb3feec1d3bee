// Streaming from a real vexa-serve on 127.0.0.1 to real clients: originals by byte range, the
// plug-in's transport stream through ffmpeg, GStreamer and VLC, time seeking, job places.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"
#include "tests/tools/vexa-serve/ServeProcess.h"
#include "tools/hostkit/HostObjects.h"
#include "tools/vexa-serve/StreamRanges.h"
#include "tools/vexa-serve/StreamService.h"

namespace fs = std::filesystem;
using ProcessTestTools::TempDir;

namespace {

constexpr char kClip[] = "films/clip.mkv";
constexpr int kGopSeconds = 2;

TEST(StreamRanges, ReadsByteRangesAgainstTheFileSize) {
  const struct { const char* header; RangeKind kind; int64_t first, last; } cases[] = {
      {"", RangeKind::kWhole, 0, 999},
      {"bytes=0-99", RangeKind::kPart, 0, 99},
      {"bytes=990-", RangeKind::kPart, 990, 999},
      {"bytes=-10", RangeKind::kPart, 990, 999},
      {"bytes=-5000", RangeKind::kPart, 0, 999},
      {"bytes=500-5000", RangeKind::kPart, 500, 999},
      {"bytes=1000-", RangeKind::kUnsatisfiable, 0, -1},
      {"bytes=-0", RangeKind::kUnsatisfiable, 0, -1},
      {"bytes=9-3", RangeKind::kWhole, 0, 999},
      {"bytes=0-1,5-6", RangeKind::kWhole, 0, 999},
      {"items=0-1", RangeKind::kWhole, 0, 999},
      {"bytes=x-", RangeKind::kWhole, 0, 999},
  };
  for (const auto& c : cases) {
    ByteRange range = ParseByteRange(c.header, 1000);
    EXPECT_EQ(range.kind, c.kind) << c.header;
    EXPECT_EQ(range.first, c.first) << c.header;
    EXPECT_EQ(range.last, c.last) << c.header;
  }
}

TEST(StreamRanges, ReadsAndWritesNormalPlayTime) {
  const struct { const char* header; TimeSeekKind kind; int64_t start, end; const char* answer; } cases[] = {
      {"npt=30-", TimeSeekKind::kRange, 30000, -1, "npt=0:00:30.000-0:00:40.000/0:00:40.000"},
      {"npt=1.5-2.25", TimeSeekKind::kRange, 1500, 2250, "npt=0:00:01.500-0:00:02.250/0:00:40.000"},
      {"npt=0:00:30.5-", TimeSeekKind::kRange, 30500, -1, "npt=0:00:30.500-0:00:40.000/0:00:40.000"},
      {"npt=1:02:03-", TimeSeekKind::kRange, 3723000, -1, "npt=1:02:03.000-0:00:40.000/0:00:40.000"},
      {"", TimeSeekKind::kNone, 0, -1, nullptr},
      {"npt=30", TimeSeekKind::kMalformed, 0, -1, nullptr},
      {"npt=5-3", TimeSeekKind::kMalformed, 0, -1, nullptr},
      {"npt=0:61:00-", TimeSeekKind::kMalformed, 0, -1, nullptr},
      {"npt=now-", TimeSeekKind::kMalformed, 0, -1, nullptr},
      {"bytes=0-", TimeSeekKind::kMalformed, 0, -1, nullptr},
  };
  for (const auto& c : cases) {
    TimeSeek seek = ParseTimeSeek(c.header);
    EXPECT_EQ(seek.kind, c.kind) << c.header;
    if (c.kind != TimeSeekKind::kRange) continue;
    EXPECT_EQ(seek.startMs, c.start) << c.header;
    EXPECT_EQ(seek.endMs, c.end) << c.header;
    EXPECT_EQ(TimeSeekAnswer(seek, ParseOfferDuration("0:00:40.0")), c.answer) << c.header;
  }
  EXPECT_EQ(ParseOfferDuration("1:02:03.0"), 3723000);
  EXPECT_EQ(ParseOfferDuration(""), -1);
  EXPECT_EQ(TimeSeekAnswer({TimeSeekKind::kRange, 1000, -1}, -1), "npt=0:00:01.000-/*");
  const char kOffer[] = "http-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10";
  EXPECT_EQ(ProtocolInfoField(kOffer, 2), "video/MP2T");
  EXPECT_EQ(ProtocolInfoField(kOffer, 3), "MPEG_PS_NTSC;DLNA.ORG_OP=10");
}

// A client that sends one request, reads the answer's head and then holds the connection
// without reading on: a television that has paused, as far as the server can tell.
class HeldClient {
 public:
  HeldClient(uint16_t port, const std::string& request) {
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(m_socket, request.data(), request.size(), MSG_NOSIGNAL) < 0)
      return;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_head.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd wait{m_socket, POLLIN, 0};
      char byte;
      if (::poll(&wait, 1, 1000) > 0 && ::recv(m_socket, &byte, 1, 0) != 1) break;
      if (wait.revents & POLLIN) m_head += byte;
    }
  }
  ~HeldClient() { ::close(m_socket); }
  HeldClient(const HeldClient&) = delete;
  HeldClient& operator=(const HeldClient&) = delete;

  int Status() const { return m_head.size() > 12 ? std::atoi(m_head.c_str() + 9) : 0; }
  const std::string& Head() const { return m_head; }

 private:
  int m_socket = -1;
  std::string m_head;
};

class ServeStream : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UseTestEnvironment();
    s_dir = std::make_unique<TempDir>("serve-stream");
    fs::path root = s_dir->path() / "root";
    fs::create_directories(root / "films");
    std::ofstream(root / "films" / "clip.srt") << "1\n00:00:01,000 --> 00:00:02,000\nhello\n\n";
    std::ofstream(s_dir->path() / "secret.mkv") << "outside";
    fs::create_symlink(s_dir->path() / "secret.mkv", root / "out.mkv");
    // 40 s of H.264 with a key frame every two seconds, and AAC; noise keeps it at 3 Mbit/s,
    // more than the sink and the socket buffers hold, so that a client that stops reading
    // keeps its job running.
    ASSERT_TRUE(RunCommand(
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=320x240:rate=25:duration=40 -f lavfi"
        " -i sine=frequency=440:sample_rate=48000:duration=40 -vf noise=alls=40:allf=t -c:v libx264"
        " -preset ultrafast -g " + std::to_string(25 * kGopSeconds) + " -sc_threshold 0 -bf 2"
        " -b:v 3M -maxrate 3M -bufsize 3M -pix_fmt yuv420p -c:a aac " + (root / kClip).string()));
    s_serve = std::make_unique<ServeProcess>(root.string(), (s_dir->path() / "settings").string());
    ASSERT_FALSE(s_serve->Url().empty()) << s_serve->Log();
  }
  static void TearDownTestSuite() {
    if (s_serve) {
      EXPECT_EQ(s_serve->Stop(), 0) << s_serve->Log();
    }
    s_serve.reset();
    s_dir.reset();
  }

  static std::string Original() { return (s_dir->path() / "root" / kClip).string(); }
  static std::string StreamUrl() { return s_serve->Url() + "/stream/1/" + kClip; }
  static uint16_t Port(const ServeProcess& serve = *s_serve) {
    return static_cast<uint16_t>(std::stoi(serve.Url().substr(serve.Url().rfind(':') + 1)));
  }
  static std::string StreamRequest(const char* method) {
    return std::string(method) + " /stream/1/" + kClip + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " +
           kPs3UserAgent + "\r\n\r\n";
  }
  // The video packets' "pts_time,flags" lines as ffprobe reads them from the stream.
  static std::vector<std::string> VideoPackets(const std::string& extraHeaders) {
    CommandResult probe = RunShell(
        "ffprobe -v error -user_agent '" + std::string(kPs3UserAgent) + "'" + extraHeaders +
        " -select_streams v -show_entries packet=pts_time,flags -of csv=p=0 '" + StreamUrl() + "'");
    std::vector<std::string> lines;
    std::istringstream text(probe.output);
    for (std::string line; std::getline(text, line);)
      if (!line.empty()) lines.push_back(line);
    return lines;
  }

  static std::unique_ptr<TempDir> s_dir;
  static std::unique_ptr<ServeProcess> s_serve;
};

std::unique_ptr<TempDir> ServeStream::s_dir;
std::unique_ptr<ServeProcess> ServeStream::s_serve;

TEST_F(ServeStream, OriginalBytesByRange) {
  std::string whole = ReadFileText(Original());
  int64_t size = static_cast<int64_t>(whole.size());
  ASSERT_GT(size, 100000);
  const struct { std::string range; int status; int64_t first, length; } cases[] = {
      {"", 200, 0, size},
      {"0-99", 206, 0, 100},
      {"1000-", 206, 1000, size - 1000},
      {"-500", 206, size - 500, 500},
      {"70000-" + std::to_string(size * 2), 206, 70000, size - 70000},
      {std::to_string(size) + "-", 416, 0, 0},
  };
  std::string body = (s_dir->path() / "body").string();
  for (const auto& c : cases) {
    CommandResult got = RunShell("curl -s -o " + body + (c.range.empty() ? "" : " -r " + c.range) +
                                 " -w '%{http_code} %{content_type}' " + s_serve->Url() + "/media/" + kClip);
    EXPECT_EQ(got.output, std::to_string(c.status) + " video/x-matroska") << c.range;
    if (c.status != 416) {
      EXPECT_TRUE(ReadFileText(body) == whole.substr(c.first, c.length)) << c.range;
    }
  }
  CommandResult subtitle = RunShell("curl -s -o /dev/null -w '%{http_code} %{content_type}' " +
                                    s_serve->Url() + "/media/films/clip.srt");
  EXPECT_EQ(subtitle.output, "200 text/srt");
}

TEST_F(ServeStream, PathsLeavingTheRootAreNotFound) {
  const char* paths[] = {"/media/../secret.mkv", "/media/%2e%2e/secret.mkv", "/media//etc/passwd",
                         "/media/out.mkv", "/media/films/../../secret.mkv",
                         "/stream/1/../secret.mkv", "/stream/1/out.mkv", "/stream/1/%2e%2e/secret.mkv"};
  for (const char* path : paths) {
    CommandResult got = RunShell("curl -s --path-as-is -o /dev/null -A '" + std::string(kPs3UserAgent) +
                                 "' -w '%{http_code}' '" + s_serve->Url() + path + "'");
    EXPECT_EQ(got.output, "404") << path;
  }
}

TEST_F(ServeStream, FfmpegDecodesTheWholeStreamAndSeeksToAKeyFrame) {
  CommandResult decode = RunShell("ffmpeg -nostdin -v error -xerror -user_agent '" + std::string(kPs3UserAgent) +
                                  "' -i '" + StreamUrl() + "' -f null - 2>&1");
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");
  std::vector<std::string> all = VideoPackets("");
  EXPECT_EQ(all.size(), 40u * 25u);
  std::vector<std::string> seeked = VideoPackets(" -headers 'TimeSeekRange.dlna.org: npt=30-\r\n'");
  ASSERT_FALSE(all.empty());
  ASSERT_FALSE(seeked.empty());
  // The stream keeps the source's clock, shifted by a constant: the first packet of the whole
  // stream is the source's time 0.
  double zero = std::stod(all.front()), first = std::stod(seeked.front()) - zero;
  EXPECT_NE(seeked.front().find(",K"), std::string::npos) << seeked.front();
  EXPECT_LE(first, 30.0 + 1e-3);
  EXPECT_GE(first, 30.0 - kGopSeconds - 1e-3);
}

TEST_F(ServeStream, HeadAnswersFromTheOfferWhileEveryPlaceIsTaken) {
  std::vector<std::unique_ptr<HeldClient>> held;
  for (size_t i = 0; i < StreamService::kJobPlaces; ++i) {
    held.push_back(std::make_unique<HeldClient>(Port(), StreamRequest("GET")));
    EXPECT_EQ(held.back()->Status(), 200) << held.back()->Head();
  }
  HeldClient fourth(Port(), StreamRequest("GET"));
  EXPECT_EQ(fourth.Status(), 503) << fourth.Head();
  EXPECT_NE(fourth.Head().find("Retry-After: "), std::string::npos) << fourth.Head();

  CommandResult head = RunShell("curl -sI -A '" + std::string(kPs3UserAgent) +
                                "' -H 'TimeSeekRange.dlna.org: npt=30-' '" + StreamUrl() + "'");
  for (const std::string& expected : std::vector<std::string>{"HTTP/1.1 200", "Content-Type: video/MP2T", "transferMode.dlna.org: Streaming",
        "contentFeatures.dlna.org: MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;",
        "TimeSeekRange.dlna.org: npt=0:00:30.000-0:00:40.000/0:00:40.000",
        "CaptionInfo.sec: " + s_serve->Url() + "/media/films/clip.srt"})
    EXPECT_NE(head.output.find(expected), std::string::npos) << expected << "\n" << head.output;
  // Only an offer made to this client is streamed: a PlayStation is offered no ASF (index 0).
  CommandResult other = RunShell("curl -sI -o /dev/null -w '%{http_code}' -A '" + std::string(kPs3UserAgent) +
                                 "' '" + s_serve->Url() + "/stream/0/" + kClip + "'");
  EXPECT_EQ(other.output, "404");

  // A client that goes away gives its place back.
  held.pop_back();
  int status = 0;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       status != 200 && std::chrono::steady_clock::now() < end;) {
    HeldClient next(Port(), StreamRequest("GET"));
    status = next.Status();
    if (status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(status, 200);
}

TEST_F(ServeStream, StopsCleanlyWhileClientsHoldStreams) {
  ServeProcess serve((s_dir->path() / "root").string(), (s_dir->path() / "settings-2").string());
  ASSERT_FALSE(serve.Url().empty()) << serve.Log();
  std::vector<std::unique_ptr<HeldClient>> held;
  for (size_t i = 0; i < StreamService::kJobPlaces; ++i) {
    held.push_back(std::make_unique<HeldClient>(Port(serve), StreamRequest("GET")));
    EXPECT_EQ(held.back()->Status(), 200) << held.back()->Head();
  }
  EXPECT_EQ(serve.Stop(), 0) << serve.Log();  // -1 when it hung and had to be killed
}

TEST_F(ServeStream, GStreamerAndVlcPlayIt) {
  CommandResult gstreamer = RunShell("timeout 120 gst-launch-1.0 -q souphttpsrc location='" + StreamUrl() +
                                     "' user-agent='" + kPs3UserAgent +
                                     "' ! tsdemux ! decodebin ! fakesink 2>&1");
  EXPECT_EQ(gstreamer.exitCode, 0) << gstreamer.output;
  EXPECT_EQ(gstreamer.output.find("ERROR"), std::string::npos) << gstreamer.output;
  // VLC refuses to run as root: it runs as nobody, eight times as fast as real time, and the
  // user agent goes in as an option of the input.
  CommandResult vlc = RunShell("HOME=/tmp timeout 120 setpriv --reuid=nobody --regid=nogroup --clear-groups"
                               " cvlc --no-dbus --rate 8 --play-and-exit --no-video-title-show -A dummy -V dummy '" +
                               StreamUrl() + "' ':http-user-agent=" + kPs3UserAgent + "' 2>&1");
  EXPECT_EQ(vlc.exitCode, 0) << vlc.output;
  std::istringstream lines(vlc.output);
  int errors = 0;
  for (std::string line; std::getline(lines, line);)  // no X11 for the hot-key interface
    errors += line.find(" error") != std::string::npos && line.find("interface") == std::string::npos;
  EXPECT_EQ(errors, 0) << vlc.output;
  EXPECT_NE(vlc.output.find("AAC channels: 1"), std::string::npos) << vlc.output;
}

}  // namespace
