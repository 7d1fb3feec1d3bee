#include "platform/downloadmanager/DownloadManagerApi.h"

#include "platform/downloadmanager/DownloadManagerLoader.h"

namespace VexaDownload {
namespace {

template <typename Fn, typename... Args>
int32_t CallEntry(EntryPoint entry, Args... args) {
  const auto function = reinterpret_cast<Fn>(ProcessLoader().Resolve(entry));
  return function ? function(args...) : kDmUnavailable;
}

}  // namespace

int32_t DmSetFileConfigPluginOption(DmConfig* config, const char16_t* plugin,
                                    const char16_t* name, const char16_t* value) {
  return CallEntry<VQMSetFileConfigPluginOptionFn>(kEntrySetFileConfigPluginOption, config,
                                                   plugin, name, value);
}

int32_t DmFileOpenEx(const char16_t* url, uint32_t reserved1, uint32_t reserved2,
                     DmConfig* config, DmFile* file, uint32_t flags) {
  return CallEntry<VQMFileOpenExFn>(kEntryFileOpenEx, url, reserved1, reserved2, config, file,
                                    flags);
}

int32_t DmFileGetInfo(DmFile file, DownloadManagerInfo* info) {
  return CallEntry<VQMFileGetInfoFn>(kEntryFileGetInfo, file, info);
}

int32_t DmFileSeek(DmFile file, uint32_t offsetLow, uint32_t offsetHigh, int32_t origin,
                   uint64_t* newPosition) {
  return CallEntry<VQMFileSeekFn>(kEntryFileSeek, file, offsetLow, offsetHigh, origin,
                                  newPosition);
}

int32_t DmFileGetPosition(DmFile file, uint64_t* position) {
  return CallEntry<VQMFileGetPositionFn>(kEntryFileGetPosition, file, position);
}

int32_t DmFileRead(DmFile file, void* buffer, uint32_t count, uint32_t* countRead, int32_t mode) {
  return CallEntry<VQMFileReadFn>(kEntryFileRead, file, buffer, count, countRead, mode);
}

int32_t DmGetFileValidBytes(const DownloadManagerInfo* info, uint32_t positionLow,
                            uint32_t positionHigh, uint32_t limitLow, uint32_t limitHigh,
                            uint64_t* count, int32_t flags) {
  return CallEntry<VQMGetFileValidBytesFn>(kEntryGetFileValidBytes, info, positionLow,
                                           positionHigh, limitLow, limitHigh, count, flags);
}

int32_t DmFileAbort(DmFile file) { return CallEntry<VQMFileAbortFn>(kEntryFileAbort, file); }

int32_t DmFileClose(DmFile file) { return CallEntry<VQMFileCloseFn>(kEntryFileClose, file); }

bool DownloadManagerAvailable() { return ProcessLoader().EnsureLoaded(); }

}  // namespace VexaDownload
