#include "tests/e2e/RemuxFixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/MuxFixture.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char kVideo[] = " -f lavfi -i testsrc=size=320x240:rate=25:duration=3";
const char kTone[] = " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3";
// Key frame every second, B-frames in pyramids.
const char kH264[] = " -c:v libx264 -preset veryfast -g 25 -bf 3 -pix_fmt yuv420p";

std::string Ffmpeg(const std::string& arguments, const std::string& output) {
  return "ffmpeg -v error -nostdin -y" + arguments + " " + output;
}

// The shell command that writes the fixture into `out` (a temporary name), or empty.
std::string FixtureCommand(const std::string& name, const std::string& out) {
  const std::string dir = FixtureDir();
  if (name == "h264_aac") return Ffmpeg(kVideo + std::string(kTone) + kH264 + " -c:a aac", out);
  if (name == "ac3_51")
    return Ffmpeg(kVideo + std::string(kTone) + kH264 + " -c:a ac3 -ac 6 -b:a 384k", out);
  if (name == "mp3")
    return Ffmpeg(kVideo + std::string(kTone) + kH264 + " -c:a libmp3lame -ar 44100 -b:a 96k", out);
  if (name == "multi_audio_subs") {
    std::ofstream(dir + "/subs.srt") << "1\n00:00:00,500 --> 00:00:01,500\nfirst\n\n"
                                        "2\n00:00:02,000 --> 00:00:02,800\nsecond\n\n";
    return Ffmpeg(kVideo + std::string(kTone) + " -i " + dir + "/subs.srt" + kH264 +
                      " -map 0:v -map 1:a -map 1:a -map 1:a -map 2:s -c:a:0 aac -c:a:1 ac3"
                      " -c:a:2 libmp3lame -c:s srt",
                  out);
  }
  if (name == "vfr")  // pictures 2, 7, 12, ... dropped: gaps of 40 and 80 ms
    return Ffmpeg(kVideo + std::string(kTone) + " -vf select='not(eq(mod(n\\,5)\\,2))' -vsync vfr" +
                      kH264 + " -c:a aac",
                  out);
  if (name == "late_audio")
    return Ffmpeg(kVideo + std::string(" -itsoffset 1") + kTone + kH264 + " -c:a aac", out);
  if (name == "piped")  // no seeking back: no cues, no sizes, no duration
    return Ffmpeg(kVideo + std::string(kTone) + kH264 + " -c:a aac -f matroska", "- | dd status=none of=" + out);
  if (name == "no_cues" || name == "zlib") {
    std::string source = MakeMkvFixture("h264_aac");
    if (source.empty()) return "";
    std::string options = name == "no_cues" ? " --no-cues" : " --compression 0:zlib --compression 1:zlib";
    return "mkvmerge -q -o " + out + options + " " + source;
  }
  // Faults of real files: a configuration record that does not parse, with and without the
  // parameter sets in the blocks; one zlib frame that does not inflate; AAC without its
  // AudioSpecificConfig; pictures larger than every buffer of the pipeline.
  const std::string patch = "python3 " VEXA_SOURCE_DIR "/tests/e2e/mkv_patch.py " + out;
  if (name == "pyramid_23976")  // a deeper B-pyramid later than in the first pictures
    return Ffmpeg(" -f lavfi -i testsrc2=size=960x540:rate=24000/1001:duration=6 -f lavfi -i "
                  "sine=frequency=440:sample_rate=44100:duration=6 -c:v libx264 -preset medium -bf 3"
                  " -b_strategy 2 -g 250 -pix_fmt yuv420p -c:a aac",
                  out);
  if (name == "inband_headers")
    return Ffmpeg(kVideo + std::string(kTone) + kH264 + " -x264-params repeat-headers=1 -c:a aac", out);
  const std::map<std::string, std::string> damage = {{"broken_avcc", "avcc"}, {"broken_avcc_inband", "avcc"},
                                                     {"zlib_corrupt", "zlib 40"}, {"aac_no_private", "noaacpriv"}};
  if (damage.count(name)) {
    std::string source = MakeMkvFixture(UndamagedFixture(name));
    return source.empty() ? "" : "cp " + source + " " + out + " && " + patch + " " + damage.at(name);
  }
  if (name == "big_frames")  // 6.2 to 7 MB a picture
    return Ffmpeg(" -f lavfi -i testsrc=size=2304x1296:rate=25:duration=0.2 -f lavfi -i "
                  "sine=frequency=440:sample_rate=48000:duration=0.2 -vf noise=alls=100:allf=t"
                  " -c:v libx264 -preset ultrafast -qp 1 -pix_fmt yuv420p -c:a aac",
                  out);
  if (name == "mpeg4_video")
    return Ffmpeg(kVideo + std::string(kTone) + " -c:v mpeg4 -c:a aac", out);
  if (name == "long_640")
    return Ffmpeg(" -f lavfi -i testsrc=size=640x360:rate=25:duration=12" + std::string(kTone) +
                      " -vf noise=alls=60:allf=t -c:v libx264 -preset ultrafast -g 25 -bf 3"
                      " -b:v 20M -pix_fmt yuv420p -c:a aac -t 12",
                  out);
  if (name == "hd_60s")  // constant 12 Mbit/s, filler included
    return Ffmpeg(" -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60"
                  " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60"
                  " -c:v libx264 -preset ultrafast -g 50 -b:v 12M -minrate 12M -maxrate 12M"
                  " -bufsize 12M -x264-params nal-hrd=cbr -pix_fmt yuv420p -c:a aac",
                  out);
  return "";
}

}  // namespace

std::string UndamagedFixture(const std::string& name) {
  if (name == "broken_avcc" || name == "aac_no_private") return "h264_aac";
  if (name == "broken_avcc_inband") return "inband_headers";
  if (name == "zlib_corrupt") return "zlib";
  return name;
}

namespace {

std::map<std::string, std::string> ParseCompactLine(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '|')) {
    size_t equals = field.find('=');
    if (equals != std::string::npos) fields[field.substr(0, equals)] = field.substr(equals + 1);
  }
  return fields;
}

std::vector<std::map<std::string, std::string>> ProbeLines(const std::string& arguments) {
  std::string log = FixtureDir() + "/probe." + std::to_string(getpid()) + ".txt";
  std::vector<std::map<std::string, std::string>> lines;
  if (!RunCommand("ffprobe -v error -of compact=p=0" + arguments, log)) return lines;
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(ParseCompactLine(line));
  fs::remove(log);
  return lines;
}

}  // namespace

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
  if (fs::exists(path)) return path;
  // Parallel test processes each write their own file and rename it into place.
  std::string temporary = path + ".tmp" + std::to_string(getpid()) + ".mkv";
  std::string command = FixtureCommand(name, temporary);
  if (command.empty() || !RunCommand(command, temporary + ".log")) return "";
  std::error_code error;
  fs::rename(temporary, path, error);
  fs::remove(temporary + ".log", error);
  return error ? "" : path;
}

ProgramRun RunTranscode(const std::vector<std::string>& arguments) {
  ProgramRun run;
  std::string errorFile = FixtureDir() + "/stderr." + std::to_string(getpid()) + ".txt";
  std::vector<std::string> all{VEXA_TRANSCODE};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peakRssKiB = usage.ru_maxrss;
  run.standardError = ReadFileText(errorFile);
  std::error_code error;
  fs::remove(errorFile, error);
  return run;
}

std::vector<SourceTrack> ProbeTracks(const std::string& path) {
  std::vector<SourceTrack> tracks;
  std::vector<int64_t> num, den;
  for (auto& stream : ProbeLines(" -show_entries stream=codec_type,codec_name,time_base " + path)) {
    tracks.push_back({stream["codec_type"], stream["codec_name"], {}});
    long long n = 1, d = 1000;
    std::sscanf(stream["time_base"].c_str(), "%lld/%lld", &n, &d);
    num.push_back(n);
    den.push_back(d);
  }
  for (size_t i = 0; i < tracks.size(); ++i) {
    std::string select = " -select_streams " + std::to_string(i);
    for (auto& packet : ProbeLines(select + " -show_entries packet=pts,flags " + path)) {
      if (packet["pts"].empty() || packet["pts"] == "N/A") continue;
      int64_t pts = std::stoll(packet["pts"]);
      tracks[i].packets.push_back({pts * 90000 * num[i] / den[i], packet["flags"].rfind('K', 0) == 0});
    }
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
  std::string log = path + ".ffmpeg.log";
  RunCommand("ffmpeg -nostdin -v error -xerror -i " + path + " -f null -", log);
  return ReadFileText(log);
}

std::string DecoderErrors(const std::string& path) {
  std::string log = path + ".decode.log";
  // Every frame is decoded and listed; the listing goes to /dev/null, decoder errors to the log.
  RunCommand("ffprobe -v error -show_entries frame=pts -of csv=p=0 -i " + path +
                 " 2>" + log + " >/dev/null; true",
             "/dev/null");
  return ReadFileText(log);
}

namespace {
bool IsAudioType(uint8_t type) { return type == 0x03 || type == 0x04 || type == 0x0F || type == 0x81; }
}  // namespace

std::vector<uint16_t> VideoPids(const TsReport& report) {
  std::vector<uint16_t> pids;
  for (auto& [pid, type] : report.streamTypes)
    if (type == 0x1B) pids.push_back(pid);
  return pids;
}

std::vector<uint16_t> AudioPids(const TsReport& report) {
  std::vector<uint16_t> pids;
  for (auto& [pid, type] : report.streamTypes)
    if (IsAudioType(type)) pids.push_back(pid);
  return pids;
}

std::vector<int> NalTypes(const std::vector<uint8_t>& au) {
  std::vector<int> types;
  for (size_t i = 0; i + 3 < au.size(); ++i)
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
      types.push_back(au[i + 3] & 0x1F);
      i += 2;
    }
  return types;
}
