#include "tests/platform/downloadmanager/ScriptedDownloadManager.h"

#include "platform/downloadmanager/DownloadManagerContract.h"

using namespace VexaDownload;
#ifdef _WIN32
#define SCRIPTED_EXPORT extern "C" __declspec(dllexport)
#else
#define SCRIPTED_EXPORT extern "C" __attribute__((visibility("default")))
#endif

static DownloadManagerScript script;
static int fileToken;

SCRIPTED_EXPORT DownloadManagerScript* ScriptedDownloadManagerScript() { return &script; }

SCRIPTED_EXPORT int32_t VQMSetFileConfigPluginOption(DmConfig* config, const char16_t* plugin,
                                                     const char16_t* name, const char16_t* value) {
  *config = &script;
  script.options.push_back(std::u16string(plugin) + u":" + name + u"=" + value);
  return kDmOk;
}

SCRIPTED_EXPORT int32_t VQMFileOpenEx(const char16_t*, uint32_t, uint32_t, DmConfig*, DmFile* file, uint32_t) {
  ++script.opens;
  *file = &fileToken;
  return kDmOk;
}

SCRIPTED_EXPORT int32_t VQMFileGetInfo(DmFile, DownloadManagerInfo* info) {
  *info = DownloadManagerInfo{script.totalSize, 0, script.downloaded, kScriptedRate, 0, 1, 0};
  return script.getInfoResult;
}

SCRIPTED_EXPORT int32_t VQMFileSeek(DmFile, uint32_t low, uint32_t high, int32_t origin, uint64_t* reached) {
  ++script.seeks;
  const uint64_t offset = JoinWords(low, high);
  const uint64_t base = origin == kDmSeekFromStart ? 0 : origin == kDmSeekFromCurrent ? script.position : script.totalSize;
  *reached = script.position = origin == kDmSeekFromEnd ? base - offset : base + offset;
  return kDmOk;
}

SCRIPTED_EXPORT int32_t VQMFileGetPosition(DmFile, uint64_t* position) {
  *position = script.position;
  return kDmOk;
}

SCRIPTED_EXPORT int32_t VQMFileRead(DmFile, void* buffer, uint32_t count, uint32_t* got, int32_t) {
  ++script.reads;
  if (script.notReadyReads-- > 0) return script.notReadyAnswer;
  *got = count - script.shortBy;
  for (uint32_t i = 0; i < *got; ++i) static_cast<uint8_t*>(buffer)[i] = ScriptedByte(script.position++);
  return kDmOk;
}

SCRIPTED_EXPORT int32_t VQMGetFileValidBytes(const DownloadManagerInfo*, uint32_t positionLow, uint32_t positionHigh,
                                             uint32_t limitLow, uint32_t limitHigh, uint64_t* count, int32_t) {
  script.validFrom = JoinWords(positionLow, positionHigh);
  script.validLimit = JoinWords(limitLow, limitHigh);
  *count = kScriptedValidBytes;
  return kDmOk;
}

SCRIPTED_EXPORT int32_t VQMFileAbort(DmFile) { return ++script.aborts, kDmOk; }
SCRIPTED_EXPORT int32_t VQMFileClose(DmFile) { return ++script.closes, kDmOk; }
