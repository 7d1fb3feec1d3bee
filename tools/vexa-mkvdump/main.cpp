// vexa-mkvdump FILE [--seek MS] [--write-blocks DIR]
// Opens FILE through layer 2 of the media framework and prints one line per stream with its
// format description, then every block of every stream, stream after stream. With --seek
// the streams are first positioned at MS milliseconds, as the demultiplexer does: the video
// stream first, the others at the key frame time it reached. A SubRip file is read in text
// output, one line per cue with its times and text. With --write-blocks each block's bytes
// also go to DIR/<kind>-<stream>-<n>.bin (kind video, audio or subtitle; n from 0 per stream).
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "framework/ContainerAccess.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvFormat.h"
#include "platform/downloadmanager/DownloadManagerApi.h"
#include "platform/files/PortableFile.h"
#include "platform/files/ProgramArguments.h"
#include "platform/files/TextConvert.h"

namespace {

constexpr int32_t kKinds[] = {VMF_BLOCK_VIDEO, VMF_BLOCK_AUDIO, VMF_BLOCK_SUBTITLE};

// How the blocks are read and where they go besides the listing.
struct DumpOptions {
  bool subtitleText = false;  // a SubRip file in text output: a cue per block, -1 after the last
  const char* blockDir = nullptr;
};

// The SubRip module hands its cues out as text once asked; the option goes to the module
// through the entry table of the container's file, as layer 2 has no entry for settings.
int32_t AskForSubtitleText(VmfContainer* c) {
  const VmfFileHandle& file = *c->files[0];
  const VmfModuleDescriptor* module = nullptr;
  const int32_t found = vmf::FindModule(file.moduleId, &module);
  if (found != VMF_OK) return found;
  VmfQueryValue v{};
  v.value.bytes[0] = 1;
  return module->entries->setInfo(file.moduleHandle, VMF_QID_SET_SRT_OUTPUT_TEXT, &v, 0);
}

bool IsSubRip(const char16_t* name) {
  int32_t id = 0;
  return vmf::ChooseModule(name, vmf::AccessMode::Read, nullptr, &id) == VMF_OK && id == VMF_MODULE_SRT;
}

int32_t WriteBlock(const char* dir, int32_t kind, int32_t stream, uint32_t n, const VmfBlock& block) {
  const char* kindName = kind == VMF_BLOCK_VIDEO ? "video" : kind == VMF_BLOCK_AUDIO ? "audio" : "subtitle";
  const std::string path = std::string(dir) + "/" + kindName + "-" + std::to_string(stream) + "-" + std::to_string(n) + ".bin";
  std::u16string wide;
  VexaFiles::PortableFile* file = nullptr;
  if (!VexaFiles::Utf8ToUtf16String(path, wide) ||
      VexaFiles::PortableFileOpen(VexaFiles::kPortableWrite | VexaFiles::kPortableTruncate, nullptr, wide.c_str(), &file) !=
          VexaFiles::kPortableOk)
    return VMF_ERR_FILE_OPEN_FAILURE;
  uint32_t written = 0;
  const int32_t rc = VexaFiles::PortableFileWrite(file, block.data, block.size, &written);
  VexaFiles::PortableFileClose(file);
  return rc == VexaFiles::kPortableOk && written == block.size ? VMF_OK : VMF_ERR_FILE_OPEN_FAILURE;
}

// A cue's text on one line: line feeds and backslashes escaped.
void PrintCue(const VmfBlock& block) {
  std::string text;
  for (uint32_t i = 0; i < block.size; ++i) {
    const char ch = static_cast<char>(block.data[i]);
    text += ch == '\\' ? "\\\\" : ch == '\n' ? "\\n" : std::string(1, ch);
  }
  std::printf("cue time=%" PRId64 " duration=%" PRId64 " text=%s\n", block.time, block.duration, text.c_str());
}

bool IsHttpName(const char* file) { return std::strncmp(file, "http:", 5) == 0; }

// "http:" names are read through the download-manager library; without it nothing can be
// read, and the message says where it is looked for.
int FailWithoutDownloadManager(const char* file) {
  std::fprintf(stderr,
               "vexa-mkvdump: %s: cannot read http: names: the download-manager library "
               "VexaDownloadManager.so is neither on the library search path nor in the folder "
               "named by InstallDir (vexa-settings set-string Settings/DesktopService InstallDir "
               "DIR)\n",
               file);
  return 1;
}

int Fail(const char* what, int32_t rc) {
  const VmfErrorEntry* e = VmfFindError(rc);
  if (e != nullptr)
    std::fprintf(stderr, "vexa-mkvdump: %s: %s: %s\n", what, e->name, e->message);
  else
    std::fprintf(stderr, "vexa-mkvdump: %s: error %" PRId32 "\n", what, rc);
  return 1;
}

uint32_t CountQid(int32_t kind) {
  return kind == VMF_BLOCK_VIDEO ? VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA
         : kind == VMF_BLOCK_AUDIO ? VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA
                                   : VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA;
}

std::string CodecId(VmfContainer* c, int32_t kind, int32_t stream) {
  const uint32_t qid = kind == VMF_BLOCK_VIDEO ? VMF_QID_VID_CODEC_ID
                       : kind == VMF_BLOCK_AUDIO ? VMF_QID_AUD_CODEC_ID : VMF_QID_SUB_CODEC_ID;
  char16_t wide[256] = {};
  VmfQueryValue v{};
  v.size = sizeof wide;
  v.value.ptr = wide;
  if (vmf::GetInfo(c, qid, &v, stream) != VMF_OK) return "?";
  std::string narrow;
  VexaFiles::Utf16ToUtf8String(wide, narrow);
  return narrow;
}

void PrintFormat(VmfContainer* c, int32_t kind, int32_t stream) {
  const std::string codec = CodecId(c, kind, stream);
  uint8_t bytes[mkv::kFormatSize] = {};
  VmfQueryValue v{};
  v.size = sizeof bytes;
  v.value.ptr = bytes;
  const uint32_t qid = kind == VMF_BLOCK_VIDEO ? VMF_QID_VID_STREAM_FORMAT
                       : kind == VMF_BLOCK_AUDIO ? VMF_QID_AUD_STREAM_FORMAT : VMF_QID_SUB_STREAM_FORMAT;
  const int32_t rc = vmf::GetInfo(c, qid, &v, stream);
  std::printf("stream kind=%d stream=%d codec=%s", kind, stream, codec.c_str());
  if (rc != VMF_OK) {
    const VmfErrorEntry* e = VmfFindError(rc);
    std::printf(" format=%s\n", e != nullptr ? e->name : std::to_string(rc).c_str());
    return;
  }
  if (kind == VMF_BLOCK_VIDEO) {
    mkv::MkvVideoFormat f;
    std::memcpy(&f, bytes, sizeof f);
    std::printf(" fourcc=%.4s rate=%u/%u width=%u height=%u display=%ux%u interlaced=%u\n", f.fourcc,
                f.frameRateNumerator, f.frameRateDenominator, f.width, f.height, f.displayWidth,
                f.displayHeight, f.interlaced);
  } else if (kind == VMF_BLOCK_AUDIO) {
    mkv::MkvAudioFormat f;
    std::memcpy(&f, bytes, sizeof f);
    std::printf(" tag=%u channels=%u rate=%u bits=%u extra=%u\n", f.formatTag, f.channels,
                f.samplesPerSecond, f.bitsPerSample, f.extraSize);
  } else {
    std::printf("\n");
  }
}

int32_t SeekAll(VmfContainer* c, const uint32_t counts[4], int64_t ms) {
  int64_t t = ms * 10000;
  // The video key frame governs; the other streams follow to the time it reached.
  for (int32_t kind : kKinds) {
    for (uint32_t s = 0; s < counts[kind]; ++s) {
      int64_t at = t;
      const int32_t rc = vmf::SetPosition(c, kind, static_cast<int32_t>(s), &at);
      if (rc != VMF_OK) return rc;
      if (kind == VMF_BLOCK_VIDEO && s == 0) t = at;
    }
  }
  std::printf("seek target=%" PRId64 " reached=%" PRId64 "\n", ms * 10000, t);
  return VMF_OK;
}

int32_t DumpBlocks(VmfContainer* c, int32_t kind, int32_t stream, const DumpOptions& options) {
  std::vector<uint8_t> buffer(64 * 1024);
  VmfBlock block{};
  for (uint32_t n = 0;; ++n) {
    block.data = buffer.data();
    block.capacity = static_cast<uint32_t>(buffer.size());
    const int32_t rc = vmf::ReadNextBlockByStream(c, kind, stream, &block);
    if (rc == VMF_ERR_END_OF_STREAM || (options.subtitleText && rc == VMF_FAILED)) return VMF_OK;
    if (rc == VMF_OUT_OF_MEMORY || rc == VMF_ERR_BLOCK_BUFFER_TOO_SMALL) {
      if (block.size <= buffer.size()) return rc;  // no larger size asked for: give up
      buffer.resize(block.size);
      continue;
    }
    if (rc == VMF_BAD_DATA) {
      std::printf("undecodable kind=%d stream=%d\n", kind, stream);
      continue;
    }
    if (rc != VMF_OK) return rc;
    if (options.blockDir != nullptr) {
      const int32_t written = WriteBlock(options.blockDir, kind, stream, n, block);
      if (written != VMF_OK) return written;
    }
    if (options.subtitleText) {
      PrintCue(block);
      continue;
    }
    std::printf("block kind=%d stream=%d time=%" PRId64 " duration=%" PRId64 " key=%d size=%u crc32=%08x\n",
                kind, stream, block.time, block.duration, (block.flags & VMF_BLOCK_FLAG_KEYFRAME) ? 1 : 0,
                block.size, static_cast<uint32_t>(crc32(0, block.data, block.size)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> utf8Arguments = VexaFiles::ProgramArguments(argc, argv);
  std::vector<char*> argumentPointers = VexaFiles::ArgumentPointers(utf8Arguments);
  argv = argumentPointers.data();
  const char* file = nullptr;
  DumpOptions options;
  bool seek = false;
  int64_t seekMs = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seek") == 0 && i + 1 < argc) {
      seek = true;
      seekMs = std::strtoll(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--write-blocks") == 0 && i + 1 < argc) {
      options.blockDir = argv[++i];
    } else if (file == nullptr && argv[i][0] != '-') {
      file = argv[i];
    } else {
      file = nullptr;
      break;
    }
  }
  if (file == nullptr) {
    std::fprintf(stderr, "usage: vexa-mkvdump FILE [--seek MS] [--write-blocks DIR]\n");
    return 2;
  }
  std::u16string name;
  if (!VexaFiles::Utf8ToUtf16String(file, name)) {
    std::fprintf(stderr, "vexa-mkvdump: the file name is not UTF-8\n");
    return 2;
  }
  int32_t rc = vmf::Init(nullptr);
  if (rc != VMF_OK) return Fail("init", rc);
  VmfContainer* c = nullptr;
  rc = vmf::OpenContainer(&c, name.c_str(), nullptr);
  if (rc != VMF_OK) {
    if (c != nullptr) vmf::CloseContainer(c);
    if (IsHttpName(file) && !VexaDownload::DownloadManagerAvailable())
      return FailWithoutDownloadManager(file);
    return Fail(file, rc);
  }
  if (IsSubRip(name.c_str())) {
    rc = AskForSubtitleText(c);
    options.subtitleText = rc == VMF_OK;
  }
  uint32_t counts[4] = {0, 0, 0, 0};
  for (int32_t kind : kKinds) {
    if (rc != VMF_OK) break;
    VmfQueryValue v{};
    rc = vmf::GetInfo(c, CountQid(kind), &v, 0);
    if (rc != VMF_OK) break;
    counts[kind] = v.value.u16;
    for (uint32_t s = 0; s < counts[kind]; ++s) PrintFormat(c, kind, static_cast<int32_t>(s));
  }
  // A file with nothing to read is no success, even when it opened.
  if (rc == VMF_OK && counts[VMF_BLOCK_VIDEO] + counts[VMF_BLOCK_AUDIO] + counts[VMF_BLOCK_SUBTITLE] == 0)
    rc = VMF_ERR_STREAM_DNE;
  if (rc == VMF_OK && seek) rc = SeekAll(c, counts, seekMs);
  for (int32_t kind : kKinds)
    for (uint32_t s = 0; rc == VMF_OK && s < counts[kind]; ++s) rc = DumpBlocks(c, kind, static_cast<int32_t>(s), options);
  vmf::CloseContainer(c);
  return rc == VMF_OK ? 0 : Fail(file, rc);
}
