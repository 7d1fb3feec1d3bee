// vexa-hostbench: the costs a streaming host feels around a stream, measured in-process through
// the host interfaces alone, beside FFmpeg started per request the way a server without the
// plug-in would serve the same positions. The scripts in bench/ drive it.
//
//   start FILE MS RUNS     Start to the first byte Read returns, from MS; Stop and Release
//   seek FILE MS RUNS      Seek on a running stream to the first byte of the new position
//   ffmpeg FILE MS RUNS    `ffmpeg -ss` started per request, to its first byte on standard output
//   offers DIR             OfferResources per Matroska item of DIR, and the process's growth
//   idle FILE SECONDS      a loaded plug-in after one offer: threads, wake-ups, resident size
//
// Each mode prints "name value unit" lines for the scripts to read.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/TextConvert.h"
#include "tools/hostkit/LoadedPlugin.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFirstByteLimit = std::chrono::seconds(20);
constexpr auto kReadPoll = std::chrono::microseconds(100);

double MsSince(Clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Prints the median and the worst of the samples under `name`.
void PrintSpread(const char* name, std::vector<double> samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  size_t n = samples.size();
  double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  std::printf("%s_median %.3f ms\n%s_worst %.3f ms\n", name, median, name, samples.back());
}

// One line of /proc/self/status, or of a thread's status file, as a number (0 when absent).
long StatusField(const std::string& file, const std::string& key) {
  std::ifstream status(file);
  std::string word;
  long value = 0;
  while (status >> word)
    if (word == key && status >> value) return value;
  return 0;
}

long ResidentKiB() { return StatusField("/proc/self/status", "VmRSS:"); }

// Context switches of every thread but the calling (main) one, and how many threads there are.
struct Wakeups {
  long switches = 0;
  int threads = 0;
};

Wakeups CountWakeups() {
  Wakeups total;
  const std::string self = std::to_string(getpid());
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return total;
  while (dirent* entry = readdir(tasks)) {
    std::string tid = entry->d_name;
    if (tid == "." || tid == "..") continue;
    ++total.threads;
    if (tid == self) continue;
    std::string status = "/proc/self/task/" + tid + "/status";
    total.switches += StatusField(status, "voluntary_ctxt_switches:") +
                      StatusField(status, "nonvoluntary_ctxt_switches:");
  }
  closedir(tasks);
  return total;
}

class Host {
 public:
  bool Load() {
    const char* path = std::getenv("VEXA_TRANSCODER_PLUGIN");
    std::string error;
    if (!m_plugin.Load(path ? path : VEXA_DEFAULT_PLUGIN, &error)) {
      std::fprintf(stderr, "vexa-hostbench: %s\n", error.c_str());
      return false;
    }
    m_plugin.Transcoder()->SetHost(&m_callback);
    return true;
  }
  ~Host() {
    if (m_plugin.Transcoder()) m_plugin.Transcoder()->SetHost(nullptr);
  }

  // The transport-stream offer's index, or -1 when the item has none.
  long TsOffer(const std::u16string& path) {
    HostItem item(path);
    std::vector<PluginOffer> offers;
    if (GetPluginOffers(m_plugin.Upnp(), m_request, item, &offers) != 0) return -1;
    for (const PluginOffer& offer : offers)
      if (offer.protocolInfo.find(":video/MP2T:") != std::string::npos) return offer.index;
    return -1;
  }

  NS::ITranscoderJob* CreateJob(const std::u16string& path, uint32_t index) {
    NS::ITranscoderJob* job = nullptr;
    return m_plugin.Upnp()->CreateJob(path.c_str(), nullptr, index, &m_listener, &job) == 0 ? job
                                                                                            : nullptr;
  }

 private:
  LoadedPlugin m_plugin;
  HostCallback m_callback;
  HostRequest m_request{"vexa-hostbench", kPs3UserAgent};
  HostListener m_listener;
};

// Reads until a byte comes; false when none comes in time or the stream ends first.
bool AwaitFirstByte(NS::ITranscoderJob* job, std::vector<uint8_t>* buffer) {
  const Clock::time_point limit = Clock::now() + kFirstByteLimit;
  while (Clock::now() < limit) {
    uint32_t count = 0;
    if (!job->Read(buffer->data(), static_cast<uint32_t>(buffer->size()), &count)) return false;
    if (count > 0) return true;
    std::this_thread::sleep_for(kReadPoll);
  }
  return false;
}

int Failed(const char* what, const char* file) {
  std::fprintf(stderr, "vexa-hostbench: %s: %s\n", file, what);
  return 1;
}

struct Item {
  std::u16string path;
  long index = -1;
};

bool OpenItem(Host* host, const char* file, Item* item) {
  if (!host->Load() || !VexaFiles::Utf8ToUtf16String(file, item->path)) return false;
  item->index = host->TsOffer(item->path);
  if (item->index < 0) std::fprintf(stderr, "vexa-hostbench: no transport-stream offer for %s\n", file);
  return item->index >= 0;
}

int MeasureStart(const char* file, int64_t ms, int runs) {
  Host host;
  Item item;
  if (!OpenItem(&host, file, &item)) return 1;
  std::vector<uint8_t> buffer(64 * 1024);
  std::vector<double> samples, stops;
  long restKiB = ResidentKiB();
  for (int run = 0; run < runs; ++run) {
    NS::ITranscoderJob* job = host.CreateJob(item.path, item.index);
    if (!job) return Failed("no job", file);
    Clock::time_point begin = Clock::now();
    bool ok = job->Start(ms, -1) == 0 && AwaitFirstByte(job, &buffer);
    if (ok) samples.push_back(MsSince(begin));
    // A client that hangs up once the stream runs (or has ended): its place must come back at
    // once.
    for (int i = 0; ok && i < 8 && AwaitFirstByte(job, &buffer); ++i) {
    }
    begin = Clock::now();
    job->Stop();
    job->Release();
    stops.push_back(MsSince(begin));
    if (!ok) return Failed("no first byte after Start", file);
  }
  PrintSpread("start", samples);
  PrintSpread("stop", stops);
  std::printf("rest_rss %ld KiB\nafter_jobs_rss %ld KiB\n", restKiB, ResidentKiB());
  return 0;
}

// Seeks a stream that has been running for a while, alternating between ms and the start so
// that every seek moves.
int MeasureSeek(const char* file, int64_t ms, int runs) {
  Host host;
  Item item;
  if (!OpenItem(&host, file, &item)) return 1;
  NS::ITranscoderJob* job = host.CreateJob(item.path, item.index);
  if (!job) return Failed("no job", file);
  std::vector<uint8_t> buffer(64 * 1024);
  std::vector<double> samples;
  bool ok = job->Start(0, -1) == 0 && AwaitFirstByte(job, &buffer);
  for (int run = 0; ok && run < runs; ++run) {
    for (int i = 0; i < 16 && AwaitFirstByte(job, &buffer); ++i) {  // the stream runs, or ends
    }
    Clock::time_point begin = Clock::now();
    ok = ok && job->Seek(run % 2 ? 0 : ms) && AwaitFirstByte(job, &buffer);
    if (ok) samples.push_back(MsSince(begin));
  }
  job->Stop();
  job->Release();
  PrintSpread("seek", samples);
  return ok ? 0 : Failed("no first byte after a seek", file);
}

int MeasureFfmpeg(const char* file, int64_t ms, int runs) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", ms / 1000.0);
  std::string command = std::string("exec ffmpeg -v quiet -nostdin -ss ") + seconds + " -i '" + file +
                        "' -map 0:v -map 0:a -c copy -f mpegts - 2>/dev/null";
  std::vector<double> samples;
  for (int run = 0; run < runs; ++run) {
    Clock::time_point begin = Clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 1;
    bool ok = std::fgetc(pipe) != EOF;
    if (ok) samples.push_back(MsSince(begin));
    pclose(pipe);  // FFmpeg ends on its next write
    if (!ok) return 1;
  }
  PrintSpread("ffmpeg_start", samples);
  return 0;
}

std::vector<std::string> MatroskaItems(const std::string& dir) {
  std::vector<std::string> items;
  if (DIR* folder = opendir(dir.c_str())) {
    while (dirent* entry = readdir(folder)) {
      std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mkv") == 0) items.push_back(dir + "/" + name);
    }
    closedir(folder);
  }
  std::sort(items.begin(), items.end());
  return items;
}

int MeasureOffers(const char* dir) {
  Host host;
  if (!host.Load()) return 1;
  std::vector<std::string> items = MatroskaItems(dir);
  if (items.empty()) return 1;
  std::vector<double> samples;
  long firstKiB = 0;
  for (const std::string& file : items) {
    std::u16string path;
    if (!VexaFiles::Utf8ToUtf16String(file, path)) return 1;
    Clock::time_point begin = Clock::now();
    if (host.TsOffer(path) < 0) return 1;
    samples.push_back(MsSince(begin));
    if (samples.size() == 1) firstKiB = ResidentKiB();  // the plug-in's first use is paid
  }
  PrintSpread("offer", samples);
  std::printf("offer_items %zu items\noffer_growth %ld KiB\n", items.size(), ResidentKiB() - firstKiB);
  return 0;
}

int MeasureIdle(const char* file, int seconds) {
  std::printf("bare_host_rss %ld KiB\nbare_host_threads %d threads\n", ResidentKiB(),
              CountWakeups().threads);
  Host host;
  Item item;
  if (!OpenItem(&host, file, &item)) return 1;
  Wakeups before = CountWakeups();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  Wakeups after = CountWakeups();
  std::printf("idle_rss %ld KiB\nidle_threads %d threads\nidle_switches %ld switches\n", ResidentKiB(),
              after.threads, after.switches - before.switches);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 5 && (mode == "start" || mode == "seek" || mode == "ffmpeg")) {
    int64_t ms = std::atoll(argv[3]);
    int runs = std::max(1, std::atoi(argv[4]));
    if (mode == "start") return MeasureStart(argv[2], ms, runs);
    if (mode == "seek") return MeasureSeek(argv[2], ms, runs);
    return MeasureFfmpeg(argv[2], ms, runs);
  }
  if (argc == 3 && mode == "offers") return MeasureOffers(argv[2]);
  if (argc == 4 && mode == "idle") return MeasureIdle(argv[2], std::max(1, std::atoi(argv[3])));
  std::fprintf(stderr,
               "usage: vexa-hostbench start|seek|ffmpeg FILE MS RUNS\n"
               "       vexa-hostbench offers DIR\n"
               "       vexa-hostbench idle FILE SECONDS\n");
  return 2;
}
