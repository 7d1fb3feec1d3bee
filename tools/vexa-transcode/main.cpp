// vexa-transcode: a host program that loads the plug-in as a streaming stack would and drives
// it through the host interfaces alone: it lists the offers for a client, or serves one job
// into a file or standard output.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/ProgramArguments.h"
#include "platform/files/StandardOutput.h"
#include "platform/files/TextConvert.h"
#include "tools/hostkit/LoadedPlugin.h"
#include "tools/vexa-transcode/SourceDiagnosis.h"

namespace {

constexpr uint32_t kDefaultReadSize = 1024 * 1024;
constexpr long long kMaxReadSize = 64 * 1024 * 1024;
constexpr int kStallLimitMs = 30000;
constexpr size_t kOutputBufferBytes = 1024 * 1024;

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitRefused = 2, kExitFailed = 3 };

struct MidStreamAction {
  uint64_t atBytes;
  int64_t ms;
  bool done = false;
};

struct Options {
  std::string userAgent = kPs3UserAgent;
  std::string clientId = "vexa-transcode";
  std::string plugin;
  bool listOffers = false;
  long index = -1;
  int64_t startMs = 0;
  std::string output = "-";
  std::vector<MidStreamAction> seeks;
  std::vector<MidStreamAction> pauses;
  uint32_t readSize = kDefaultReadSize;
  std::string file;
};

void Usage() {
  std::fprintf(stderr,
               "usage: vexa-transcode [--user-agent UA] [--client-id ID] --offers FILE\n"
               "       vexa-transcode [--user-agent UA] [--client-id ID] [--index N] [--start MS]\n"
               "                      [--output OUT|-] [--seek-at BYTES:MS] [--pause-at BYTES:MS]\n"
               "                      [--read-size BYTES] FILE\n"
               "       --plugin PATH loads another build of libvexatranscoder.so\n");
}

bool ParseAction(const char* text, MidStreamAction* action) {
  char* end = nullptr;
  action->atBytes = std::strtoull(text, &end, 10);
  if (end == text || *end != ':') return false;
  const char* ms = end + 1;
  action->ms = std::strtoll(ms, &end, 10);
  return end != ms && *end == 0;
}

bool ParseNumber(const char* text, long long* value) {
  char* end = nullptr;
  *value = std::strtoll(text, &end, 10);
  return end != text && *end == 0;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    long long number = 0;
    MidStreamAction action{};
    if (arg == "--offers") {
      options->listOffers = true;
    } else if (arg == "--user-agent" && hasValue) {
      options->userAgent = argv[++i];
    } else if (arg == "--client-id" && hasValue) {
      options->clientId = argv[++i];
    } else if (arg == "--plugin" && hasValue) {
      options->plugin = argv[++i];
    } else if (arg == "--output" && hasValue) {
      options->output = argv[++i];
    } else if (arg == "--index" && hasValue && ParseNumber(argv[i + 1], &number) && number >= 0) {
      options->index = static_cast<long>(number);
      ++i;
    } else if (arg == "--start" && hasValue && ParseNumber(argv[i + 1], &number)) {
      options->startMs = number;
      ++i;
    } else if (arg == "--read-size" && hasValue && ParseNumber(argv[i + 1], &number) &&
               number > 0 && number <= kMaxReadSize) {
      options->readSize = static_cast<uint32_t>(number);
      ++i;
    } else if (arg == "--seek-at" && hasValue && ParseAction(argv[i + 1], &action)) {
      options->seeks.push_back(action);
      ++i;
    } else if (arg == "--pause-at" && hasValue && ParseAction(argv[i + 1], &action)) {
      options->pauses.push_back(action);
      ++i;
    } else if (!arg.empty() && arg[0] != '-' && options->file.empty()) {
      options->file = arg;
    } else {
      std::fprintf(stderr, "vexa-transcode: unexpected argument '%s'\n", arg.c_str());
      return false;
    }
  }
  return !options->file.empty();
}

int Refuse(const std::string& reason) {
  std::fprintf(stderr, "vexa-transcode: refused: %s\n", reason.c_str());
  return kExitRefused;
}

// The default is the transport stream: the first offer of "video/MP2T", else the first offer.
bool ChooseOffer(const std::vector<PluginOffer>& offers, long wanted, uint32_t* index) {
  for (const PluginOffer& offer : offers) {
    bool match = wanted >= 0 ? offer.index == static_cast<uint32_t>(wanted)
                             : offer.protocolInfo.find(":video/MP2T:") != std::string::npos;
    if (match) {
      *index = offer.index;
      return true;
    }
  }
  if (wanted >= 0 || offers.empty()) return false;
  *index = offers.front().index;
  return true;
}

void ApplyDueActions(NS::ITranscoderJob* job, uint64_t written, Options* options) {
  for (MidStreamAction& seek : options->seeks)
    if (!seek.done && written >= seek.atBytes) {
      seek.done = true;
      job->Seek(seek.ms);
    }
  for (MidStreamAction& pause : options->pauses)
    if (!pause.done && written >= pause.atBytes) {
      pause.done = true;
      job->TogglePause();
      std::this_thread::sleep_for(std::chrono::milliseconds(pause.ms));
      job->TogglePause();
    }
}

// Reads the job until it ends, writing every byte to out.
int Stream(NS::ITranscoderJob* job, FILE* out, Options* options, const HostListener& listener) {
  // A server hands the job the buffers its connection has room for, often 16 to 64 KiB.
  std::vector<uint8_t> buffer(options->readSize);
  uint64_t written = 0;
  int stalledMs = 0;
  for (;;) {
    uint32_t count = 0;
    if (!job->Read(buffer.data(), options->readSize, &count)) break;
    if (count == 0) {
      // A stream whose producer failed answers empty reads; give up rather than spin for ever.
      if (listener.LastEvent() != 0 || (stalledMs += 10) > kStallLimitMs) {
        std::fprintf(stderr, "vexa-transcode: the stream stopped producing data\n");
        return kExitFailed;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    stalledMs = 0;
    if (std::fwrite(buffer.data(), 1, count, out) != count) {
      std::fprintf(stderr, "vexa-transcode: cannot write the output: %s\n", std::strerror(errno));
      return kExitFailed;
    }
    written += count;
    ApplyDueActions(job, written, options);
  }
  if (listener.LastEvent() != 0) {
    std::fprintf(stderr, "vexa-transcode: the stream ended early: the job reported event %d after "
                 "%llu bytes\n", listener.LastEvent(), static_cast<unsigned long long>(written));
    return kExitFailed;
  }
  if (written == 0) {
    std::fprintf(stderr, "vexa-transcode: the stream ended without any data\n");
    return kExitFailed;
  }
  return kExitOk;
}

int ServeJob(NS::IUpnpTranscoder* upnp, const std::u16string& path, uint32_t index,
             Options* options, FILE* standardOutput) {
  HostListener listener;
  NS::ITranscoderJob* job = nullptr;
  int32_t created = upnp->CreateJob(path.c_str(), nullptr, index, &listener, &job);
  if (created == NS::kTranscoderNoPlace) return Refuse("no free job place");
  if (created != 0 || !job) {
    std::string reason = CheckMatroskaFile(options->file);
    return Refuse(reason.empty() ? "the plug-in could not open " + options->file : reason);
  }

  int result = kExitOk;
  std::vector<char> outputBuffer(kOutputBufferBytes);  // outlives the stream's FILE
  if (job->Start(options->startMs, -1) != 0) {
    std::fprintf(stderr, "vexa-transcode: the job could not start\n");
    result = kExitFailed;
  } else {
    const bool toStdout = options->output == "-";
    FILE* out = toStdout ? standardOutput : VexaFiles::CreateOutputFile(options->output);
    if (!out) {
      std::fprintf(stderr, "vexa-transcode: cannot create %s: %s\n", options->output.c_str(),
                   std::strerror(errno));
      result = kExitFailed;
    } else {
      // A file takes the stream in large writes whatever size the job is read in, so that the
      // tool's own output calls stay out of the cost of reading the job in small pieces. A pipe
      // keeps its small buffer: a player at its other end wants the first bytes at once.
      if (!toStdout) std::setvbuf(out, outputBuffer.data(), _IOFBF, outputBuffer.size());
      result = Stream(job, out, options, listener);
      if (std::fflush(out) != 0) result = kExitFailed;
      // Closing may report what the system could not write back.
      if (!toStdout && std::fclose(out) != 0) result = kExitFailed;
    }
  }
  job->Stop();
  job->Release();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> utf8Arguments = VexaFiles::ProgramArguments(argc, argv);
  std::vector<char*> argumentPointers = VexaFiles::ArgumentPointers(utf8Arguments);
  argv = argumentPointers.data();
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return kExitUsage;
  }
  if (options.plugin.empty()) {
    const char* fromEnvironment = std::getenv("VEXA_TRANSCODER_PLUGIN");
    options.plugin = fromEnvironment ? fromEnvironment : VEXA_DEFAULT_PLUGIN;
  }
  std::u16string path;
  if (!VexaFiles::Utf8ToUtf16String(options.file, path)) {
    std::fprintf(stderr, "vexa-transcode: the file name is not UTF-8\n");
    return kExitUsage;
  }

  FILE* standardOutput = VexaFiles::TakeStandardOutput();
  if (!standardOutput) {
    std::fprintf(stderr, "vexa-transcode: cannot set up standard output: %s\n", std::strerror(errno));
    return kExitFailed;
  }
  LoadedPlugin plugin;
  std::string error;
  if (!plugin.Load(options.plugin, &error)) {
    std::fprintf(stderr, "vexa-transcode: %s\n", error.c_str());
    return kExitFailed;
  }
  HostCallback callback;
  plugin.Transcoder()->SetHost(&callback);

  HostRequest request(options.clientId, options.userAgent);
  HostItem item(path);
  std::vector<PluginOffer> offers;
  int32_t offered = GetPluginOffers(plugin.Upnp(), request, item, &offers);
  if (offered != 0)
    return Refuse(DiagnoseRefusedOffer(plugin.Upnp(), options.file, options.userAgent));

  if (options.listOffers) {
    for (const PluginOffer& offer : offers)
      std::fprintf(standardOutput, "%u\t%s\t%s\n", offer.index, offer.protocolInfo.c_str(),
                   offer.duration.c_str());
    return std::fflush(standardOutput) == 0 ? kExitOk : kExitFailed;
  }
  uint32_t index = 0;
  if (!ChooseOffer(offers, options.index, &index))
    return Refuse("no offer with index " + std::to_string(options.index) + " for this client");
  int result = ServeJob(plugin.Upnp(), path, index, &options, standardOutput);
  plugin.Transcoder()->SetHost(nullptr);
  return result;
}
