#include "tools/vexa-transcode/SourceDiagnosis.h"

#include <cctype>
#include <cstdint>
#include <fstream>

#include "framework/L2carWrapper.h"
#include "framework/VmfQueryIds.h"
#include "platform/files/TextConvert.h"
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

// Reads the file's video streams through the media framework, as the plug-in does.
std::string CheckVideoStreams(const std::string& file) {
  std::u16string name;
  if (!VexaFiles::Utf8ToUtf16String(file, name)) return "the file name is not UTF-8";
  L2carWrapper* reader = new L2carWrapper;
  std::string reason;
  VmfQueryValue count{};
  if (reader->Init() != 0 || reader->Open(name.c_str()) != 0 || reader->SetTitle(0) != 0 ||
      reader->GetInfo(VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, &count, 0) != 0) {
    reason = "the Matroska file " + file + " cannot be read";
  } else {
    reason = "no H.264 video in " + file;
    for (int32_t i = 0; i < (count.value.i32 & 0xFFFF); ++i) {
      uint8_t format[48] = {};
      VmfQueryValue value{};
      value.size = sizeof format;
      value.value.ptr = format;
      bool h264 = reader->GetInfo(VMF_QID_VID_STREAM_FORMAT, &value, i) == 0 &&
                  (std::equal(format + 24, format + 28, "H264") ||
                   std::equal(format + 24, format + 28, "h264"));
      if (h264) reason = "the plug-in could not open " + file;
    }
  }
  reader->Release();
  return reason;
}

}  // namespace

std::string DiagnoseSource(const std::string& file) {
  std::string reason = CheckMatroskaFile(file);
  if (!reason.empty()) return reason;
  return CheckVideoStreams(file);
}

std::string DiagnoseRefusedOffer(const std::string& file, const std::string& userAgent) {
  if (!IsServedProfile(RecognizeClient(userAgent.c_str())))
    return "no offer for this client (User-Agent \"" + userAgent + "\")";
  return DiagnoseSource(file);
}
