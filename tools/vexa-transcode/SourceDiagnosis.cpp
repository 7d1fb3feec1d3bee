#include "tools/vexa-transcode/SourceDiagnosis.h"

#include <cctype>
#include <cstdint>
#include <fstream>

#include "plugin/ClientProfiles.h"

namespace {

constexpr uint8_t kEbmlMagic[4] = {0x1A, 0x45, 0xDF, 0xA3};

bool HasMkvExtension(const std::string& file) {
  size_t dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string extension = file.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "mkv";
}

// Empty when the file looks like Matroska, else the reason it does not.
std::string CheckMatroskaFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot read " + file;
  uint8_t head[4] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (in.gcount() != sizeof head || !std::equal(head, head + 4, kEbmlMagic))
    return "not Matroska: " + file;
  if (!HasMkvExtension(file)) return "not Matroska: the name of " + file + " does not end in .mkv";
  return "";
}

}  // namespace

std::string DiagnoseSource(const std::string& file) {
  std::string reason = CheckMatroskaFile(file);
  if (!reason.empty()) return reason;
  return "no H.264 video the plug-in can read in " + file;
}

std::string DiagnoseRefusedOffer(const std::string& file, const std::string& userAgent) {
  if (!IsServedProfile(RecognizeClient(userAgent.c_str())))
    return "no offer for this client (User-Agent \"" + userAgent + "\")";
  return DiagnoseSource(file);
}
