#include "tools/vexa-transcode/SourceDiagnosis.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>

#include "platform/downloadmanager/DownloadManagerApi.h"
#include "platform/files/PortableFile.h"
#include "platform/files/TextConvert.h"
#include "tools/hostkit/HostObjects.h"

namespace {

constexpr uint8_t kEbmlMagic[4] = {0x1A, 0x45, 0xDF, 0xA3};

bool HasMkvExtension(const std::string& file) {
  size_t dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string extension = file.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "mkv";
}

// Whether the plug-in offers file to a PlayStation 3, a client it always serves: tells a
// refusal of the client apart from a refusal of the file.
bool OfferedToKnownClient(NS::IUpnpTranscoder* upnp, const std::string& file) {
  std::u16string path;
  if (!VexaFiles::Utf8ToUtf16String(file, path)) return false;
  HostRequest request("", kPs3UserAgent);
  HostItem item(path);
  NS::ResourceOffer* list = nullptr;
  uint32_t count = 0;
  if (upnp->OfferResources(&request, &item, &list, &count) != NS::kTranscoderOk) return false;
  upnp->FreeResourceList(list, count);
  return count > 0;
}

}  // namespace

std::string CheckMatroskaFile(const std::string& file) {
  // An "http:" name is the plug-in's to read, through the download-manager library.
  if (file.rfind("http:", 0) == 0) {
    if (VexaDownload::DownloadManagerAvailable()) return "";
    return "cannot read " + file + ": http: names need the download-manager library "
           "VexaDownloadManager.so, which is neither on the library search path nor in the "
           "folder named by InstallDir (vexa-settings set-string Settings/DesktopService "
           "InstallDir DIR)";
  }
  // Only a regular file is read: opening a FIFO without a writer would block for ever.
  std::u16string name;
  if (!VexaFiles::Utf8ToUtf16String(file, name)) return "the file name is not UTF-8";
  switch (VexaFiles::PortableFileKind(name.c_str())) {
    case VexaFiles::kPortableNoEntry: return "cannot read " + file;
    case VexaFiles::kPortableOtherEntry: return "not Matroska: " + file + " is not a regular file";
    case VexaFiles::kPortableRegularFile: break;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot read " + file;
  uint8_t head[4] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (in.gcount() != sizeof head || !std::equal(head, head + 4, kEbmlMagic))
    return "not Matroska: " + file;
  if (!HasMkvExtension(file)) return "not Matroska: the name of " + file + " does not end in .mkv";
  return "";
}

std::string DiagnoseRefusedOffer(NS::IUpnpTranscoder* upnp, const std::string& file,
                                 const std::string& userAgent) {
  std::string reason = CheckMatroskaFile(file);
  if (!reason.empty()) return reason;
  if (OfferedToKnownClient(upnp, file))
    return "no offer for this client (User-Agent \"" + userAgent + "\")";
  return "the plug-in cannot serve " + file + ": no H.264 video it can read";
}
