// A real vexa-serve on 127.0.0.1 and lo with real clients, over one served tree: originals by byte
// range; the plug-in's transport stream through ffmpeg, GStreamer and VLC, time seeking, job
// places; UPnP control requests and a GUPnP control point that browses the whole tree; the web
// page in headless Chromium.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/tools/vexa-serve/ServeProcess.h"
#include "tools/vexa-serve/ContentDirectory.h"
#include "tools/vexa-serve/StreamService.h"

namespace fs = std::filesystem;

namespace {

constexpr char kClip[] = "films/clip.mkv";
constexpr int kGopSeconds = 2;
// The DLNA features of the plug-in's transport-stream offer.
const std::string kTsFeatures = "MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=01500000000000000000000000000000";

// Sends one request for the clip's stream, reads the answer's head, then holds the connection
// without reading on: a television that has paused, as far as the server can tell.
struct HeldClient : RawClient {
  explicit HeldClient(const ServeProcess& serve) : RawClient(serve.Port()) {
    Send(std::string("GET /stream/1/") + kClip + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + kPs3UserAgent +
         "\r\n\r\n");
    head = Read("\r\n\r\n");
  }
  int Status() const { return head.size() > 12 ? std::atoi(head.c_str() + 9) : 0; }

  std::string head;
};

// films/clip.mkv with its subtitle, links to it under hostile names, an empty folder, and a link
// that leads out of the root.
class Serve : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UseTestEnvironment();
    s_dir = std::make_unique<ProcessTestTools::TempDir>("serve-clients");
    fs::path root = s_dir->path() / "root";
    fs::create_directories(root / "films");
    fs::create_directories(root / "empty");
    std::ofstream(root / "films" / "clip.srt") << "1\n00:00:01,000 --> 00:00:02,000\nhello\n\n";
    std::ofstream(s_dir->path() / "secret.mkv") << "outside";
    fs::create_symlink(s_dir->path() / "secret.mkv", root / "out.mkv");
    for (const char* name : {"<img src=x onerror=alert(1)>.mkv", "a&b\".mkv"})
      fs::create_symlink(kClip, root / name);
    // 40 s of H.264 with a key frame every two seconds, and AAC; noise keeps it at 3 Mbit/s,
    // more than the sink and the socket buffers hold, so that a client that stops reading
    // keeps its job running.
    ASSERT_EQ(RunShell(
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=320x240:rate=25:duration=40 -f lavfi"
        " -i sine=frequency=440:sample_rate=48000:duration=40 -vf noise=alls=40:allf=t -c:v libx264"
        " -preset ultrafast -g " + std::to_string(25 * kGopSeconds) + " -sc_threshold 0 -bf 2"
        " -b:v 3M -maxrate 3M -bufsize 3M -pix_fmt yuv420p -c:a aac " + (root / kClip).string()).exitCode, 0);
    s_serve = Start("settings");
  }
  static void TearDownTestSuite() {  // a sanitizer's report in the server shows as its exit code
    EXPECT_EQ(s_serve ? s_serve->Stop() : 0, 0) << (s_serve ? s_serve->Log() : "");
    s_serve.reset(), s_dir.reset();
  }

  // A server of the test's own on the tree, named with markup, with its settings in `settings`.
  static std::unique_ptr<ServeProcess> Start(const std::string& settings) {
    auto serve = std::make_unique<ServeProcess>((s_dir->path() / "root").string(), (s_dir->path() / settings).string(),
                                                std::vector<std::string>{"--name", "Vexa & <Test>"});
    EXPECT_FALSE(serve->Url().empty()) << serve->Log();
    return serve;
  }

  // curl's answer to a request: the status line's code, then the body.
  static std::string Curl(const std::string& arguments, const std::string& path) {
    return s_serve->Shell("curl -s -m 20 -w '\n%{http_code}' " + arguments + " \"$URL" + path + "\"");
  }

  static std::string Control(const char* service, const char* action, const std::string& arguments, const char* path) {
    std::ofstream(s_dir->path() / "body.xml")
        << "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
           "<s:Body><u:" << action << " xmlns:u=\"urn:schemas-upnp-org:service:" << service
        << ":1\">" << arguments << "</u:" << action << "></s:Body></s:Envelope>";
    return Curl("-X POST -H 'Content-Type: text/xml' --data-binary @'" + (s_dir->path() / "body.xml").string() + "'",
                path);
  }

  // The first video packet's "pts_time,flags" as ffprobe reads the stream, and the packets' count.
  static std::pair<std::string, int> VideoPackets(const std::string& options) {
    std::istringstream text(s_serve->Shell(R"(ffprobe -v error -user_agent "$UA" )" + options +
                                           R"( -select_streams v -show_entries packet=pts_time,flags -of csv=p=0 )"
                                           R"("$URL/stream/1/films/clip.mkv" | grep . | )"
                                           R"(awk 'NR == 1 { print } END { print NR }')"));
    std::pair<std::string, int> packets;
    text >> packets.first >> packets.second;
    return packets;
  }

  static inline std::unique_ptr<ProcessTestTools::TempDir> s_dir;
  static inline std::unique_ptr<ServeProcess> s_serve;
};

TEST_F(Serve, OriginalBytesByRange) {
  std::string whole = ProcessTestTools::ReadText((s_dir->path() / "root" / kClip).string());
  int64_t size = static_cast<int64_t>(whole.size());
  const struct { std::string range; int status; int64_t first, length; } cases[] = {
      {"", 200, 0, size},
      {"0-99", 206, 0, 100},
      {"1000-", 206, 1000, size - 1000},
      {"-500", 206, size - 500, 500},
      {"70000-" + std::to_string(size * 2), 206, 70000, size - 70000},
      {"900-800", 200, 0, size},      // malformed: ignored
      {"0-1,5-6", 200, 0, size},      // several ranges: the whole file instead
      {std::to_string(size) + "-", 416, 0, 0},
      {"-0", 416, 0, 0},
  };
  std::string body = (s_dir->path() / "body").string();
  for (const auto& c : cases) {
    std::string got = s_serve->Shell("curl -s -o " + body + (c.range.empty() ? "" : " -r " + c.range) +
                                     R"( -w '%{http_code} %{content_type}' "$URL/media/films/clip.mkv")");
    EXPECT_EQ(got, std::to_string(c.status) + " video/x-matroska") << c.range;
    EXPECT_TRUE(c.status == 416 || ProcessTestTools::ReadText(body) == whole.substr(c.first, c.length)) << c.range;
  }
  EXPECT_EQ(s_serve->Shell(R"(curl -s -o /dev/null -w '%{http_code} %{content_type}' "$URL/media/films/clip.srt")"),
            "200 text/srt");
}

TEST_F(Serve, PathsLeavingTheRootAreNotFound) {
  for (const std::string path : {"/media/../secret.mkv", "/media/%2e%2e/secret.mkv", "/media//etc/passwd",
                                 "/media/out.mkv", "/media/films/../../secret.mkv", "/stream/1/../secret.mkv",
                                 "/stream/1/out.mkv", "/stream/1/%2e%2e/secret.mkv", "/stream/0/films/clip.mkv"})
    EXPECT_EQ(s_serve->Shell(R"(curl -s --path-as-is -o /dev/null -A "$UA" -w '%{http_code}' "$URL)" + path + "\""),
              "404") << path;  // the last: a PlayStation is offered no ASF (index 0)
}

TEST_F(Serve, FfmpegDecodesTheWholeStreamAndSeeksToAKeyFrame) {
  EXPECT_EQ(s_serve->Shell(R"(ffmpeg -nostdin -v error -xerror -user_agent "$UA" -i "$URL/stream/1/films/clip.mkv" )"
                           "-f null - 2>&1; echo rc=$?"),
            "rc=0\n");
  auto all = VideoPackets(""), seeked = VideoPackets(" -headers 'TimeSeekRange.dlna.org: npt=30-\r\n'");
  ASSERT_EQ(all.second, 40 * 25);
  // The stream keeps the source's clock, shifted by a constant: the whole stream's first packet
  // is the source's time 0.
  double first = std::stod(seeked.first) - std::stod(all.first);
  EXPECT_NE(seeked.first.find(",K"), std::string::npos) << seeked.first;
  EXPECT_LE(first, 30.0 + 1e-3);
  EXPECT_GE(first, 30.0 - kGopSeconds - 1e-3);
}

// A server of its own, whose places the test fills and which is stopped while they are held.
TEST_F(Serve, HeadAnswersFromTheOfferWhileEveryPlaceIsTaken) {
  std::unique_ptr<ServeProcess> serve = Start("settings-places");
  ASSERT_FALSE(serve->Url().empty());
  std::vector<std::unique_ptr<HeldClient>> held;
  for (size_t i = 0; i <= StreamService::kJobPlaces; ++i) held.push_back(std::make_unique<HeldClient>(*serve));
  for (size_t i = 0; i <= StreamService::kJobPlaces; ++i)
    EXPECT_EQ(held[i]->Status(), i < StreamService::kJobPlaces ? 200 : 503) << held[i]->head;
  EXPECT_NE(held.back()->head.find("Retry-After: "), std::string::npos) << held.back()->head;
  held.pop_back();

  const std::string kOfferHeaders = "\nContent-Type: video/MP2T\ntransferMode.dlna.org: Streaming\n"
      "contentFeatures.dlna.org: " + kTsFeatures + "\nCaptionInfo.sec: " + serve->Url() +
      "/media/films/clip.srt";
  const struct { const char* seek; std::string answer; } seeks[] = {
      {"npt=30-", "HTTP/1.1 200 OK\nTimeSeekRange.dlna.org: npt=0:00:30.000-0:00:40.000/0:00:40.000" + kOfferHeaders},
      {"npt=0:00:01.5-0:00:02", "HTTP/1.1 200 OK\nTimeSeekRange.dlna.org: npt=0:00:01.500-0:00:02.000/0:00:40.000"},
      {"npt=40-", "HTTP/1.1 416"},
      {"npt=now-", "HTTP/1.1 400"},
  };
  for (const auto& seek : seeks) {
    std::string head = serve->Shell(R"(curl -sI -A "$UA" -H 'TimeSeekRange.dlna.org: )" + std::string(seek.seek) +
                                   R"(' "$URL/stream/1/films/clip.mkv")");
    std::istringstream expected(seek.answer);
    for (std::string line; std::getline(expected, line);)
      EXPECT_NE(head.find(line), std::string::npos) << line << "\n" << head;
  }

  held.pop_back();  // a client that goes away gives its place back
  EXPECT_TRUE(ProcessTestTools::WaitFor([&] { return HeldClient(*serve).Status() == 200; }));
  EXPECT_EQ(serve->Stop(), 0) << serve->Log();  // with two streams held; 137 when it hung
}

// The server's resident memory (KiB) and open descriptors, from /proc.
std::pair<long, long> MemoryAndDescriptors(pid_t pid) {
  long fds = std::distance(fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"),
                           fs::directory_iterator());
  return {ProcessTestTools::ResidentKiB(pid), fds};
}

// Cycles of three clients that each start a stream at some time, take 300 kB of it and hang up,
// for VEXA_SOAK_SECONDS (60 unless set): afterwards the server holds as many descriptors as
// after the first cycles, and its memory is within 64 MiB of what it was then. The allocator's
// per-thread arenas make the resident size swing by tens of MiB between cycles; a job's buffers
// are megabytes, so one kept per stream would pass the bound within a few dozen cycles.
TEST_F(Serve, PlaySeekStopCyclesKeepMemoryAndDescriptorsFlat) {
  const char* wanted = std::getenv("VEXA_SOAK_SECONDS");
  const auto length = std::chrono::seconds(wanted ? std::atoi(wanted) : 60);
  auto cycle = [](int n) {
    std::string clients;
    for (int i = 0; i < 3; ++i)
      clients += R"(curl -s -A "$UA" -H 'TimeSeekRange.dlna.org: npt=)" + std::to_string((n * 3 + i) * 7 % 38) +
                 R"(-' "$URL/stream/1/films/clip.mkv" | head -c 300000 >/dev/null & )";
    s_serve->Shell(clients + "wait");
  };
  int cycles = 0;
  for (; cycles < 5; ++cycles) cycle(cycles);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto before = MemoryAndDescriptors(s_serve->Pid());
  for (auto end = std::chrono::steady_clock::now() + length; std::chrono::steady_clock::now() < end; ++cycles)
    cycle(cycles);
  std::pair<long, long> after;
  ProcessTestTools::WaitFor([&] {  // jobs still ending
    after = MemoryAndDescriptors(s_serve->Pid());
    return after.second <= before.second;
  });
  std::printf("%d cycles: RSS %ld -> %ld KiB, descriptors %ld -> %ld\n", cycles, before.first, after.first,
              before.second, after.second);
  EXPECT_LE(after.second, before.second);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (a sanitizer keeps freed memory in quarantine; its leak check at exit stands in for this)
  EXPECT_LT(after.first - before.first, 64 * 1024);
#endif
}

TEST_F(Serve, GStreamerAndVlcPlayIt) {
  EXPECT_EQ(s_serve->Shell(R"(timeout 120 gst-launch-1.0 -q souphttpsrc location="$URL/stream/1/films/clip.mkv" )"
                           R"(user-agent="$UA" ! tsdemux ! decodebin ! fakesink 2>&1; echo rc=$?)"),
            "rc=0\n");
  // VLC refuses to run as root: it runs as nobody, eight times as fast as real time, and the
  // user agent goes in as an option of the input. Its hot-key interface finds no X11: not an error here.
  // Nor are its complaints that data came later than eight-fold playback wanted it (a late PCR, a
  // decoder waiting on input): a slow build such as ThreadSanitizer's serves slower than that.
  std::string log = (s_dir->path() / "vlc.log").string();
  EXPECT_EQ(s_serve->Shell("LOG=" + log + R"(; HOME=/tmp timeout 120 setpriv --reuid=nobody --regid=nogroup )"
                           R"(--clear-groups cvlc --no-dbus --rate 8 --play-and-exit --no-video-title-show -A dummy )"
                           R"(-V dummy "$URL/stream/1/films/clip.mkv" ":http-user-agent=$UA" >$LOG 2>&1; echo rc=$?; )"
                           R"(grep ' error' $LOG | grep -v -e interface -e 'called too late' -e 'deadlock prevented'; )"
                           R"(grep -c 'AAC channels' $LOG)"),
            "rc=0\n1\n") << ProcessTestTools::ReadText(log);
}

TEST_F(Serve, BadControlRequestsGetTheirErrors) {
  const char* cd = "ContentDirectory";
  const char* cm = "ConnectionManager";
  auto browse = [](const std::string& id, const std::string& flag, const std::string& start) {
    return "<ObjectID>" + id + "</ObjectID><BrowseFlag>" + flag + "</BrowseFlag><Filter>*</Filter>"
           "<StartingIndex>" + start + "</StartingIndex><RequestedCount>0</RequestedCount>"
           "<SortCriteria></SortCriteria>";
  };
  // Posted to the service's own control URL, or to the one given.
  const struct { const char* service; const char* action; std::string arguments; std::string expected;
                 const char* path = nullptr; } cases[] = {
      {cd, "Browse", browse("0", "BrowseMetadata", "0"), "<NumberReturned>1<"},
      {cd, "Browse", browse("films", "BrowseDirectChildren", "1"), "<NumberReturned>0</NumberReturned><TotalMatches>1<"},
      {cd, "GetSortCapabilities", "", "<SortCaps></SortCaps>"},
      {cm, "GetProtocolInfo", "", kOriginalProtocolInfo},
      {cm, "GetCurrentConnectionInfo", "<ConnectionID>0</ConnectionID>", "<Status>OK</Status>"},
      {cd, "Frobnicate", "", "<errorCode>401<"},
      {cm, "GetProtocolInfo", "", "<errorCode>401<", ServeUrls::kContentDirectoryControl},  // another service's
      {cd, "Browse", browse("0", "BrowseAll", "0"), "<errorCode>402<"},
      {cd, "Browse", browse("0", "BrowseMetadata", "-1"), "<errorCode>402<"},
      {cd, "Browse", "<BrowseFlag>BrowseMetadata</BrowseFlag>", "<errorCode>402<"},
      {cd, "Browse", browse("films/none.mkv", "BrowseMetadata", "0"), "<errorCode>701<"},
      {cd, "Browse", browse("../root", "BrowseDirectChildren", "0"), "<errorCode>701<"},
      {cd, "Browse", browse("a&amp;b\".mkv", "BrowseDirectChildren", "0"), "<errorCode>710<"},
      {cm, "GetCurrentConnectionInfo", "<ConnectionID>5</ConnectionID>", "<errorCode>706<"},
  };
  for (const auto& c : cases) {
    const char* own = std::string(c.service) == cd ? ServeUrls::kContentDirectoryControl : ServeUrls::kConnectionManagerControl;
    std::string answer = Control(c.service, c.action, c.arguments, c.path ? c.path : own);
    bool fault = c.expected.rfind("<errorCode>", 0) == 0;
    EXPECT_NE(answer.find(c.expected), std::string::npos) << c.action << " " << c.arguments << answer;
    EXPECT_EQ(answer.substr(answer.size() - 3), fault ? "500" : "200") << c.action << answer;
  }
  std::ofstream(s_dir->path() / "body.xml") << "not xml";
  EXPECT_NE(Curl("-X POST --data-binary @'" + (s_dir->path() / "body.xml").string() + "'",
                 ServeUrls::kContentDirectoryControl)
                .find("<errorCode>401<"), std::string::npos);
  std::string subscribed = Curl("-i -X SUBSCRIBE -H 'CALLBACK: <http://127.0.0.1:9/>' -H 'NT: upnp:event'",
                                ServeUrls::kContentDirectoryEvents);
  EXPECT_NE(subscribed.find("SID: " + s_serve->Udn()), std::string::npos) << subscribed;
  EXPECT_EQ(Curl("-X SUBSCRIBE", ServeUrls::kContentDirectoryEvents), "\n412");
}

TEST_F(Serve, ControlPointFindsItAndBrowsesTheWholeTree) {
  // The plug-in remembers a recognised client by its address: on a server of its own, the unknown
  // client asks first.
  std::unique_ptr<ServeProcess> serve = Start("settings-browse");
  auto browse = [&](const std::string& userAgent) {  // the control point's report of the whole tree
    return RunShell("timeout 90 /usr/bin/python3 " UPNP_CONTROL_POINT " '" + serve->Udn() + "' '" + userAgent + "' 30");
  };
  CommandResult unknown = browse("Mozilla/5.0");
  ASSERT_EQ(unknown.exitCode, 0) << unknown.output << serve->Log();
  EXPECT_EQ(unknown.output.find("/stream/"), std::string::npos) << unknown.output;

  CommandResult ps3 = browse(kPs3UserAgent);
  ASSERT_EQ(ps3.exitCode, 0) << ps3.output << serve->Log();
  const std::string url = serve->Url(), size = std::to_string(fs::file_size(s_dir->path() / "root" / kClip));
  // The plug-in's offer of the 40 s clip for a PlayStation 3, exactly: its transport stream.
  const std::string offer = std::string("http-get:*:video/MP2T:") + kTsFeatures + "\t0:00:40.0";
  auto item = [&](const std::string& id, const std::string& parent, const std::string& title, const std::string& path) {
    return "item\t" + id + "\t" + parent + "\t" + title + "\tobject.item.videoItem\n"
           "res\t" + id + "\thttp-get:*:video/x-matroska:*\t\t" + size + "\t" + url + "/media/" + path + "\n"
           "res\t" + id + "\t" + offer + "\t\t" + url + "/stream/1/" + path + "\n";
  };
  std::string expected = "server\tVexa & <Test>\n"
                         "container\t0\t-1\troot\t4\n"
                         "container\tempty\t0\tempty\t0\n"
                         "container\tfilms\t0\tfilms\t1\n" +
                         item(kClip, "films", "clip", kClip) +
                         "res\t" + kClip + "\thttp-get:*:text/srt:*\t\t\t" + url + "/media/films/clip.srt\n"
                         "caption\t" + kClip + "\t" + url + "/media/films/clip.srt\n" +
                         item("<img src=x onerror=alert(1)>.mkv", "0", "<img src=x onerror=alert(1)>",
                              "%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.mkv") +
                         item("a&b\".mkv", "0", "a&b\"", "a%26b%22.mkv");
  EXPECT_EQ(ps3.output, expected);
}

TEST_F(Serve, ControlPointSeesItGoAndComeBack) {
  std::unique_ptr<ServeProcess> serve = Start("settings-watch");
  std::string udn = serve->Udn(), events = (s_dir->path() / "events.txt").string();
  RunShell("(timeout 90 /usr/bin/python3 " UPNP_CONTROL_POINT " --watch '" + udn + "' 60 3 > '" + events + "' 2>&1 &)");
  auto seen = [&](const std::string& lines) {
    return ProcessTestTools::WaitFor([&] { return ProcessTestTools::ReadText(events).find(lines) != std::string::npos; });
  };
  ASSERT_TRUE(seen("available " + udn + "\n")) << ProcessTestTools::ReadText(events);  // found by searching
  EXPECT_EQ(serve->Stop(), 0);
  EXPECT_TRUE(seen("gone " + udn + "\n")) << ProcessTestTools::ReadText(events);  // told by its byebye
  serve = Start("settings-watch");  // the same identity again
  EXPECT_TRUE(seen("gone " + udn + "\navailable " + udn + "\n")) << ProcessTestTools::ReadText(events);
}

// The number page_player.py printed for key ("KEY=VALUE" lines), -1 when it printed none.
double Number(const std::string& output, const std::string& key) {
  size_t at = output.find("\n" + key + "=");
  return at == std::string::npos ? -1 : std::atof(output.c_str() + at + key.size() + 2);
}

// The page's URLs, then headless Chromium playing the first item and seeking 10 s on.
TEST_F(Serve, WebPageAnswersItsUrlsAndChromiumPlaysThroughIt) {
  const struct { std::string path; const char* answer; } cases[] = {
      {"/?id=films/clip.mkv", "404 text/plain; charset=utf-8"},  // an item is no folder
      {"/index.html", "404 text/plain; charset=utf-8"},
      {"/mpegts.js", "200 application/javascript"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(s_serve->Shell("curl -sI -o /dev/null -w '%{http_code} %{content_type}' \"$URL" + c.path + "\""),
              c.answer) << c.path;
  EXPECT_EQ(RunShell("curl -s " + s_serve->Url() + "/mpegts.js | cmp - " VEXA_SOURCE_DIR
                     "/tools/vexa-serve/node_modules/mpegts.js/dist/mpegts.js").exitCode, 0);
  std::string films = s_serve->Shell(R"(curl -s "$URL/?id=films")");  // the path as links
  EXPECT_NE(films.find(R"(<nav id="path"><a href="/">Vexa &amp; &lt;Test&gt;</a> / <a href="/?id=films">films</a>)"),
            std::string::npos) << films;

  const std::string url = s_serve->Url(), shot = VEXA_BINARY_DIR "/artefacts/web-page-frame.png";
  fs::remove(shot);
  CommandResult run = RunShell("python3 " VEXA_SOURCE_DIR "/tests/tools/vexa-serve/page_player.py " + url + "/ " +
                               shot + " " + (s_dir->path() / "browser").string() + " 2>&1");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  // mpegts.js from this server and nothing from elsewhere; the names shown as text, none as markup
  EXPECT_NE(run.output.find("player_loaded=true\nplayer_script=" + url + "/mpegts.js\nforeign_requests=0\n"
                            R"(titles=["<img src=x onerror=alert(1)>", "a&b\""])"
                            "\nimages=0\nscripts=2\n"),
            std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\nsource=blob:" + url + "/"), std::string::npos) << "no media source";
  EXPECT_NE(run.output.find("\nstate=playing\n"), std::string::npos) << run.output;
  EXPECT_GT(Number(run.output, "time"), 1.0) << run.output;
  // +10 s: a new request from the time reached, which the server answered from there
  EXPECT_GE(Number(run.output, "seek_position"), 11.0) << run.output;
  EXPECT_GE(Number(run.output, "seek_sent"), 11.0) << run.output;
  EXPECT_EQ(Number(run.output, "seek_answered"), Number(run.output, "seek_sent")) << run.output;
  // testsrc's colours: a black or empty element has no saturation
  EXPECT_GT(std::atof(RunShell("ffprobe -v error -f lavfi -i 'movie=" + shot + ",signalstats' "
                               "-show_entries frame_tags=lavfi.signalstats.SATAVG -of csv=p=0")
                          .output.c_str()),
            30.0) << shot;
  std::printf("decoded frame kept as %s\n", shot.c_str());
}

}  // namespace
