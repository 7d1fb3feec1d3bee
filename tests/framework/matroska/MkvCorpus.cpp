#include "tests/framework/matroska/MkvCorpus.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace mkvtest {
namespace {

std::vector<std::string> RunLines(const std::string& cmd) {
  std::vector<std::string> lines;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return lines;
  char buf[512];
  while (fgets(buf, sizeof buf, p) != nullptr) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  pclose(p);
  return lines;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, ',')) out.push_back(item);
  return out;
}

}  // namespace

std::vector<ProbeStream> Probe(const std::string& path) {
  std::vector<ProbeStream> streams;
  for (const std::string& line :
       RunLines("ffprobe -v error -show_entries stream=index,codec_type -of csv=p=0 '" + path + "'")) {
    const auto f = Split(line);
    if (f.size() < 2) continue;
    const int32_t type = f[1] == "video" ? 2 : f[1] == "audio" ? 1 : f[1] == "subtitle" ? 3 : 0;
    streams.push_back({type, {}});
  }
  // One "packets.packet.N.key=value" line per field; a packet is complete at its hash.
  int64_t index = -1, pts = INT64_MIN;
  uint32_t size = 0;
  bool key = false;
  for (const std::string& line :
       RunLines("ffprobe -v error -show_packets -show_data_hash CRC32 -show_entries "
                "packet=stream_index,pts,size,flags,data_hash -of flat '" + path + "'")) {
    const size_t eq = line.find('=');
    if (line.rfind("packets.packet.", 0) != 0 || eq == std::string::npos) continue;
    const std::string name = line.substr(line.rfind('.', eq) + 1, eq - line.rfind('.', eq) - 1);
    std::string value = line.substr(eq + 1);
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    if (name == "stream_index") index = std::stoll(value);
    else if (name == "pts") pts = value == "N/A" ? INT64_MIN : std::stoll(value);
    else if (name == "size") size = static_cast<uint32_t>(std::stoul(value));
    else if (name == "flags") key = value.find('K') != std::string::npos;
    else if (name == "data_hash" && index >= 0 && static_cast<size_t>(index) < streams.size())
      streams[index].packets.push_back(
          {pts, size, static_cast<uint32_t>(std::stoul(value.substr(value.find(':') + 1), nullptr, 16)), key});
  }
  return streams;
}

}  // namespace mkvtest
