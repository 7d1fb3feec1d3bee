#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "interfaces/SampleTimingRecord.h"
#include "mux/H264AccessUnit.h"
#include "pipeline/TranscodeDecodeFake.h"
#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMemConnection.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int64_t kShiftMs = 1000;  // keeps every source time positive, as a demultiplexer delivers it

// Runs one shell command, its output going nowhere; true when it exited with 0.
bool RunCommand(const std::string& command) { return RunShell(command + " >/dev/null 2>&1").exitCode == 0; }

// Tests run as parallel processes: each makes its own temporary file and renames it into
// place, so that a reader never sees a half-written fixture.
std::string Temporary(const std::string& path) {
  return path + ".tmp" + std::to_string(getpid()) + path.substr(path.rfind('.'));
}

// Makes path unless it is there, with the shell command that `command` makes for a temporary
// name (empty: it cannot be made).
bool MakeOnce(const std::string& path, const std::function<std::string(const std::string&)>& command) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && st.st_size > 0) return true;
  std::string temporary = Temporary(path), line = command(temporary);
  return !line.empty() && RunCommand(line) && std::rename(temporary.c_str(), path.c_str()) == 0;
}

// The units of a raw stream: H.264 access units, each opening with its delimiter, or ADTS
// frames, which carry their own length. Empty when the stream is not made of them.
std::vector<std::vector<uint8_t>> Units(const std::vector<uint8_t>& b, bool video) {
  std::vector<size_t> starts;
  for (size_t at = 0; at + 7 <= b.size();) {
    size_t length = ((b[at + 3] & 3) << 11) | (b[at + 4] << 3) | (b[at + 5] >> 5);
    if (video && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 0 && b[at + 3] == 1 && (b[at + 4] & 0x1F) == 9)
      starts.push_back(at);
    if (!video && (b[at] != 0xFF || length < 7)) return {};
    if (!video) starts.push_back(at);
    at += video ? 1 : length;
  }
  std::vector<std::vector<uint8_t>> units;
  for (size_t i = 0; i < starts.size(); ++i)
    units.emplace_back(b.begin() + long(starts[i]), i + 1 < starts.size() ? b.begin() + long(starts[i + 1]) : b.end());
  return units;
}

// The delimiter and parameter sets of an access unit, as the demultiplexer sends them first
// (its delimiter byte lacks the stop bit).
std::vector<uint8_t> ParameterSets(const std::vector<uint8_t>& unit) {
  std::vector<uint8_t> out = {0, 0, 0, 1, 9, 0xE0};
  for (const H264NalUnit& nal : H264SplitNalUnits(unit.data(), unit.size()))
    if (nal.type == kNalSps || nal.type == kNalPps) {
      out.insert(out.end(), {0, 0, 0, 1});
      out.insert(out.end(), unit.begin() + long(nal.payload), unit.begin() + long(nal.end));
    }
  return out;
}

struct StreamChain {
  CTranscodeMemConnection connection{0x500000, 0x10000};
  CTranscodeDecodeFake* decoder = nullptr;
  CTranscodeEncodeFake* encoder = nullptr;
};

void Write(CTranscodeMemConnection& connection, const std::vector<uint8_t>& bytes, int64_t ms) {
  std::vector<uint8_t> copy = bytes;
  connection.copyBytes(&connection, copy.data(), uint32_t(copy.size()));
  SampleTimingRecord record{.start = ms * 27000, .stop = ms * 27000 + 1,
                            .size = uint32_t(copy.size()), .present = 1, .startValid = 1,
                            .reserved = {}};
  connection.auxInfo(&connection, 0, kAuxSampleTiming, &record, sizeof record);
}

// Waits until the library has read what the face holds, for a while at most.
void WaitUntilTaken(bufstream* face) {
  for (int i = 0; i < 200 && face->usableBytes(face) > 0; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// FFmpeg's arguments for each fixture it makes alone: {v} and {a} a 3 s picture and tone,
// {h264} the encoder with a key frame every second and B-frames in pyramids.
struct FixtureRecipe {
  const char* name;
  const char* arguments;
};
constexpr FixtureRecipe kRecipes[] = {
    {"h264_aac", "{v}{a}{h264} -c:a aac"},
    {"ac3_51", "{v}{a}{h264} -c:a ac3 -ac 6 -b:a 384k"},
    {"mp3", "{v}{a}{h264} -c:a libmp3lame -ar 44100 -b:a 96k"},
    // pictures 2, 7, 12, ... dropped: gaps of 40 and 80 ms
    {"vfr", "{v}{a} -vf select='not(eq(mod(n\\,5)\\,2))' -vsync vfr{h264} -c:a aac"},
    {"late_audio", "{v} -itsoffset 1{a}{h264} -c:a aac"},
    {"inband_headers", "{v}{a}{h264} -x264-params repeat-headers=1 -c:a aac"},
    {"mpeg4_video", "{v}{a} -c:v mpeg4 -c:a aac"},
    // a deeper B-pyramid later than in the first pictures
    {"pyramid_23976", " -f lavfi -i testsrc2=size=960x540:rate=24000/1001:duration=6 -f lavfi -i "
                      "sine=frequency=440:sample_rate=44100:duration=6 -c:v libx264 -preset medium -bf 3"
                      " -b_strategy 2 -g 250 -pix_fmt yuv420p -c:a aac"},
    // 12 MB a picture, more than the multiplexer reads ahead (8 MiB)
    {"big_frames", " -f lavfi -i testsrc=size=3072x1728:rate=25:duration=0.2 -f lavfi -i "
                   "sine=frequency=440:sample_rate=48000:duration=0.2 -vf noise=alls=100:allf=t"
                   " -c:v libx264 -preset ultrafast -qp 1 -pix_fmt yuv420p -c:a aac"},
    // 12 s at 20 Mbit/s, more than the pipeline buffers
    {"long_640", " -f lavfi -i testsrc=size=640x360:rate=25:duration=12{a} -vf noise=alls=60:allf=t"
                 " -c:v libx264 -preset ultrafast -g 25 -bf 3 -b:v 20M -pix_fmt yuv420p -c:a aac -t 12"},
    // constant 12 Mbit/s, filler included
    {"hd_60s", " -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 -f lavfi -i "
               "sine=frequency=440:sample_rate=48000:duration=60 -c:v libx264 -preset ultrafast -g 50 -b:v 12M"
               " -minrate 12M -maxrate 12M -bufsize 12M -x264-params nal-hrd=cbr -pix_fmt yuv420p -c:a aac"},
};

// Damage done to an undamaged fixture by mkv_patch.py (see UndamagedFixture).
constexpr FixtureRecipe kDamages[] = {
    {"broken_avcc", "avcc"}, {"broken_avcc_inband", "avcc"}, {"zlib_corrupt", "zlib 40"}, {"aac_no_private", "noaacpriv"}};

std::string Expand(std::string text) {
  const std::pair<const char*, const char*> parts[] = {
      {"{v}", " -f lavfi -i testsrc=size=320x240:rate=25:duration=3"},
      {"{a}", " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3"},
      {"{h264}", " -c:v libx264 -preset veryfast -g 25 -bf 3 -pix_fmt yuv420p"}};
  for (auto [key, value] : parts)
    for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, std::strlen(key), value);
  return text;
}

std::string Ffmpeg(const std::string& arguments, const std::string& output) {
  return "ffmpeg -v error -nostdin -y" + Expand(arguments) + " " + output;
}

// The shell command that writes the fixture into `out` (a temporary name), or empty.
std::string FixtureCommand(const std::string& name, const std::string& out) {
  for (const FixtureRecipe& recipe : kRecipes)
    if (name == recipe.name) return Ffmpeg(recipe.arguments, out);
  for (const FixtureRecipe& damage : kDamages)
    if (name == damage.name) {
      std::string source = MakeMkvFixture(UndamagedFixture(name));
      return source.empty() ? "" : "cp " + source + " " + out + " && python3 " VEXA_SOURCE_DIR
                                   "/tests/support/mkv_patch.py " + out + " " + damage.arguments;
    }
  if (name == "multi_audio_subs") {
    const std::string srt = Temporary(FixtureDir() + "/subs.srt");  // this process's own
    std::ofstream(srt) << "1\n00:00:00,500 --> 00:00:01,500\nfirst\n\n"
                          "2\n00:00:02,000 --> 00:00:02,800\nsecond\n\n";
    return Ffmpeg("{v}{a} -i " + srt + "{h264} -map 0:v -map 1:a -map 1:a -map 1:a -map 2:s"
                  " -c:a:0 aac -c:a:1 ac3 -c:a:2 libmp3lame -c:s srt", out) + " && rm -f " + srt;
  }
  if (name == "piped")  // no seeking back: no cues, no sizes, no duration
    return Ffmpeg("{v}{a}{h264} -c:a aac -f matroska", "- | dd status=none of=" + out);
  if (name == "no_cues" || name == "zlib") {
    std::string source = MakeMkvFixture("h264_aac");
    std::string options = name == "no_cues" ? " --no-cues" : " --compression 0:zlib --compression 1:zlib";
    return source.empty() ? "" : "mkvmerge -q -o " + out + options + " " + source;
  }
  return "";
}

// ffprobe's entries for path, a line per stream or packet, the fields in ffprobe's order.
std::vector<std::string> ProbeLines(const std::string& entries, const std::string& path) {
  std::istringstream in(
      RunShell("ffprobe -v error -of csv=p=0 -show_entries " + entries + " " + path).output);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

CommandResult RunShell(const std::string& command) {
  CommandResult result{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.output.append(buffer, n);
  int status = pipe ? pclose(pipe) : -1;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::vector<EsStream> MakeFixture(const std::string& dir, const std::string& name, const std::string& videoSize,
                                  int seconds) {
  RunCommand("mkdir -p " + dir);
  std::string base = dir + "/" + name, mkv = base + ".mkv", video = base + ".h264", audio = base + ".aac";
  auto extract = [&](const std::string& what, const std::string& path) {
    return MakeOnce(path, [&](const std::string& out) { return "ffmpeg -v error -y -i " + mkv + " -c copy " + what + " " + out; });
  };
  bool made = MakeOnce(mkv, [&](const std::string& out) {
    return "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + videoSize +
           ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t " + std::to_string(seconds) +
           " -c:v libx264 -preset veryfast -bf 3 -b_strategy 0 -x264-params b-pyramid=normal -g 50 -c:a aac " + out;
  });
  if (!made || !extract("-map 0:v -bsf:v h264_mp4toannexb,h264_metadata=aud=insert -f rawvideo", video) ||
      !extract("-map 0:a -f adts", audio))
    return {};
  // Each unit takes the time of the source's packet at its place in decode order.
  std::vector<SourceTrack> tracks = ProbeTracks(mkv);
  std::vector<EsStream> streams{{10, {}}, {143, {}}};
  for (size_t s = 0; s < streams.size(); ++s) {
    std::vector<std::vector<uint8_t>> units = Units(ReadBytes(s == 0 ? video : audio), s == 0);
    if (tracks.size() != 2 || units.empty() || units.size() != tracks[s].packets.size()) return {};
    for (size_t i = 0; i < units.size(); ++i)
      streams[s].samples.push_back({tracks[s].packets[i].pts90 / 90 + kShiftMs, std::move(units[i])});
  }
  return streams;
}

PipelineRun RunPipeline(const std::vector<EsStream>& streams, const std::vector<int64_t>& passShiftsMs, bool paced) {
  PipelineRun run;
  auto* sink = new CTranscodeSink(nullptr);
  auto* mux = new CTranscodeMuxMP2(nullptr);
  mux->SetOutput(sink->WritingFace());
  std::vector<StreamChain> chains(streams.size());
  std::vector<bufstream*> faces(streams.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    chains[i].decoder = new CTranscodeDecodeFake(nullptr);
    chains[i].encoder = new CTranscodeEncodeFake(nullptr, streams[i].code);
    chains[i].decoder->SetSource(&chains[i].connection, streams[i].code);
    chains[i].decoder->SetReceiver(chains[i].encoder);
    int32_t code = 0;
    bufstream* face = faces[i] = chains[i].encoder->GetOutput(&code);
    mux->AddStream(face, code);
  }
  std::thread reader([&] {
    std::vector<uint8_t> buffer(1 << 20);
    uint32_t count = 0;
    while ((run.readResultAtEnd = sink->Read(buffer.data(), uint32_t(buffer.size()), &count)) == 0)
      run.output.insert(run.output.end(), buffer.begin(), buffer.begin() + count);
  });
  for (int64_t shiftMs : passShiftsMs) {
    std::vector<size_t> next(streams.size(), 0);
    std::vector<int64_t> last(streams.size(), INT64_MIN);
    for (size_t i = 0; i < streams.size(); ++i)
      if (streams[i].code == 10) Write(chains[i].connection, ParameterSets(streams[i].samples[0].bytes),
                                       streams[i].samples[0].ptsMs + shiftMs);
    for (;;) {
      size_t pick = streams.size();
      for (size_t i = 0; i < streams.size(); ++i)
        if (next[i] < streams[i].samples.size() && (pick == streams.size() || last[i] < last[pick])) pick = i;
      if (pick == streams.size()) break;
      const EsSample& sample = streams[pick].samples[next[pick]++];
      Write(chains[pick].connection, sample.bytes, sample.ptsMs + shiftMs);
      last[pick] = sample.ptsMs;
      if (paced) WaitUntilTaken(faces[pick]);
    }
  }
  mux->Close();
  sink->SetEndOfStream();
  reader.join();
  mux->Release();
  for (StreamChain& chain : chains) {
    chain.decoder->Release();
    chain.encoder->Release();
  }
  sink->Release();
  return run;
}

std::string UndamagedFixture(const std::string& name) {
  if (name == "broken_avcc" || name == "aac_no_private") return "h264_aac";
  if (name == "broken_avcc_inband") return "inband_headers";
  if (name == "zlib_corrupt") return "zlib";
  return name;
}

void UseTestEnvironment() {
  std::string dir = FixtureDir();
  setenv("VEXA_L1LOG_DIR", dir.c_str(), 1);
  setenv("VEXA_SETTINGS_USER_ROOT", (dir + "/settings-user").c_str(), 1);
  setenv("VEXA_SETTINGS_MACHINE_ROOT", (dir + "/settings-machine").c_str(), 1);
}

std::string FixtureDir() {
  std::string dir = std::string(VEXA_BINARY_DIR) + "/tests/e2e/fixtures";
  std::error_code error;
  fs::create_directories(dir, error);
  return dir;
}

std::string MakeMkvFixture(const std::string& name) {
  std::string path = FixtureDir() + "/" + name + ".mkv";
  return MakeOnce(path, [&](const std::string& out) { return FixtureCommand(name, out); }) ? path : "";
}

ProgramRun RunProgram(std::vector<std::string> arguments, const std::string& outputFile, std::chrono::seconds limit) {
  ProgramRun run;
  std::string errorFile = FixtureDir() + "/stderr." + std::to_string(getpid()) + ".txt";
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    if ((run.timedOut = std::chrono::steady_clock::now() > deadline)) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!run.timedOut && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (!run.timedOut && WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.peakRssKiB = usage.ru_maxrss;
  run.outputBytes = outputFile == "/dev/null" ? 0 : ReadBytes(outputFile).size();
  run.standardError = ProcessTestTools::ReadText(errorFile);
  fs::remove(errorFile);
  return run;
}

ProgramRun RunTranscode(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{VEXA_TRANSCODE};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return RunProgram(all);
}

std::vector<SourceTrack> ProbeTracks(const std::string& path) {
  std::vector<SourceTrack> tracks;
  std::vector<std::pair<int64_t, int64_t>> timeBases;
  for (const std::string& line : ProbeLines("stream=codec_name,codec_type,time_base", path)) {
    char name[64] = "", type[64] = "";
    long long num = 1, den = 1000;
    std::sscanf(line.c_str(), "%63[^,],%63[^,],%lld/%lld", name, type, &num, &den);
    tracks.push_back({type, name, {}});
    timeBases.emplace_back(num, den);
  }
  for (const std::string& line : ProbeLines("packet=stream_index,pts,flags", path)) {
    size_t index = 0;
    long long pts = 0;
    char flags[8] = "";
    if (std::sscanf(line.c_str(), "%zu,%lld,%7s", &index, &pts, flags) == 3 && index < tracks.size())
      tracks[index].packets.push_back({pts * 90000 * timeBases[index].first / timeBases[index].second, flags[0] == 'K'});
  }
  return tracks;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Problems(const TsReport& report) {
  std::string text;
  for (const std::string& problem : report.problems) text += problem + "\n";
  return text;
}

std::string FfmpegDecodeErrors(const std::string& path) {
  return RunShell("ffmpeg -nostdin -v error -xerror -i " + path + " -f null - 2>&1").output;
}

std::vector<uint16_t> Pids(const TsReport& report, bool video) {
  std::vector<uint16_t> pids;
  for (auto& [pid, type] : report.streamTypes)
    if (video ? type == 0x1B : type == 0x03 || type == 0x04 || type == 0x0F || type == 0x81) pids.push_back(pid);
  return pids;
}
