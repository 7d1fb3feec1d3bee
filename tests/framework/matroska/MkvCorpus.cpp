#include "tests/framework/matroska/MkvCorpus.h"

#include <cstdio>
#include <map>
#include <sstream>

namespace mkvtest {

// One ffprobe run, compact output: a "packet|name=value|..." line per packet in file order,
// then a "stream|codec_type=..." line per stream.
std::vector<ProbeStream> Probe(const std::string& path) {
  const std::string command = "ffprobe -v error -show_data_hash CRC32 -show_entries "
                              "packet=stream_index,pts,size,flags,data_hash:stream=codec_type -of compact '" + path + "'";
  std::vector<ProbeStream> streams;
  std::vector<std::pair<size_t, ProbePacket>> packets;  // by stream index
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    pclose(pipe);
  }
  // A packet with side data goes on on a line of its own that starts with "|".
  for (size_t at; (at = output.find("\n|")) != std::string::npos;) output.erase(at, 1);
  std::stringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> field;
    std::stringstream fields(line);
    for (std::string item; std::getline(fields, item, '|');) {
      if (const size_t eq = item.find('='); eq != std::string::npos) field[item.substr(0, eq)] = item.substr(eq + 1);
    }
    if (const std::string& type = field["codec_type"]; !type.empty()) {
      streams.push_back({type == "video" ? 2 : type == "audio" ? 1 : type == "subtitle" ? 3 : 0, {}});
    } else if (const std::string& hash = field["data_hash"]; !hash.empty()) {
      const int64_t pts = field["pts"] == "N/A" ? INT64_MIN : std::stoll(field["pts"]);
      packets.push_back({std::stoul(field["stream_index"]),
                         {pts, static_cast<uint32_t>(std::stoul(field["size"])),
                          static_cast<uint32_t>(std::stoul(hash.substr(hash.find(':') + 1), nullptr, 16)),
                          field["flags"].find('K') != std::string::npos}});
    }
  }
  for (const auto& [index, packet] : packets) {
    if (index < streams.size()) streams[index].packets.push_back(packet);
  }
  return streams;
}

}  // namespace mkvtest
