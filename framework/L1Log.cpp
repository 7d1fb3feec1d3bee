#include "framework/L1Log.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files/PortableFile.h"
#include "platform/files/TextConvert.h"

namespace vmf {
namespace {

constexpr char16_t kLogName[] = u"L1log.txt";
constexpr char16_t kPreviousSuffix[] = u".1";
constexpr uint8_t kByteOrderMark[] = {0xFF, 0xFE};

struct SharedLog {
  std::mutex lock;
  int references = 0;
  VexaFiles::PortableFile* file = nullptr;
};

SharedLog& TheLog() {
  static SharedLog log;
  return log;
}

std::u16string LogPath() {
  std::u16string path;
  const char* directory = std::getenv("VEXA_L1LOG_DIR");
  if (directory != nullptr && directory[0] != '\0' &&
      VexaFiles::Utf8ToUtf16String(directory, path)) {
    if (path.back() != u'/') path += u'/';
  } else {
    path.clear();
  }
  return path + kLogName;
}

bool WriteBytes(VexaFiles::PortableFile* file, const void* bytes, size_t count) {
  uint32_t written = 0;
  return VexaFiles::PortableFileWrite(file, bytes, static_cast<uint32_t>(count), &written) ==
             VexaFiles::kPortableOk &&
         written == count;
}

// Opens the log for appending (or emptied, with `truncate`); an empty file starts with the
// byte-order mark.
VexaFiles::PortableFile* OpenLogFile(uint32_t truncate = 0) {
  VexaFiles::PortableFile* file = nullptr;
  const std::u16string path = LogPath();
  if (VexaFiles::PortableFileOpen(VexaFiles::kPortableWrite | truncate, nullptr, path.c_str(), &file) !=
      VexaFiles::kPortableOk) {
    return nullptr;
  }
  if (VexaFiles::PortableFileSeek(file, 0, VexaFiles::kSeekFromEnd) != VexaFiles::kPortableOk ||
      (file->position == 0 && !WriteBytes(file, kByteOrderMark, sizeof kByteOrderMark))) {
    VexaFiles::PortableFileClose(file);
    return nullptr;
  }
  return file;
}

// A full log is closed, kept as the previous one, and begun anew (with its byte-order mark).
void StartNewFileWhenFull(SharedLog& log) {
  if (log.file == nullptr || log.file->position < kL1LogLimitBytes) return;
  VexaFiles::PortableFileClose(log.file);
  const std::u16string path = LogPath();
  const bool kept = VexaFiles::PortableFileRename(path.c_str(), (path + kPreviousSuffix).c_str()) ==
                    VexaFiles::kPortableOk;
  log.file = OpenLogFile(kept ? 0u : uint32_t{VexaFiles::kPortableTruncate});  // bounded even when it cannot be kept
}

}  // namespace

bool AcquireL1Log() {
  SharedLog& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  if (log.references == 0) {
    log.file = OpenLogFile();
    StartNewFileWhenFull(log);  // a full file left by an earlier process
    if (log.file == nullptr) return false;
  }
  ++log.references;
  return true;
}

void ReleaseL1Log() {
  SharedLog& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  if (log.references == 0 || --log.references > 0) return;
  VexaFiles::PortableFileClose(log.file);
  log.file = nullptr;
}

void WriteL1Log(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {  // UTF-16LE whatever the host's byte order
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  SharedLog& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  if (log.file == nullptr) return;
  WriteBytes(log.file, bytes.data(), bytes.size());
  StartNewFileWhenFull(log);
}

}  // namespace vmf
