// One wrapper per entry point of the download-manager library. Each resolves its entry point
// through the process loader and answers kDmUnavailable (11) when the library or the entry
// point is not there; otherwise it answers what the entry point answered.
#pragma once

#include "platform/downloadmanager/DownloadManagerContract.h"

namespace VexaDownload {

int32_t DmSetFileConfigPluginOption(DmConfig* config, const char16_t* plugin,
                                    const char16_t* name, const char16_t* value);
int32_t DmFileOpenEx(const char16_t* url, uint32_t reserved1, uint32_t reserved2,
                     DmConfig* config, DmFile* file, uint32_t flags);
int32_t DmFileGetInfo(DmFile file, DownloadManagerInfo* info);
int32_t DmFileSeek(DmFile file, uint32_t offsetLow, uint32_t offsetHigh, int32_t origin,
                   uint64_t* newPosition);
int32_t DmFileGetPosition(DmFile file, uint64_t* position);
int32_t DmFileRead(DmFile file, void* buffer, uint32_t count, uint32_t* countRead, int32_t mode);
int32_t DmGetFileValidBytes(const DownloadManagerInfo* info, uint32_t positionLow,
                            uint32_t positionHigh, uint32_t limitLow, uint32_t limitHigh,
                            uint64_t* count, int32_t flags);
int32_t DmFileAbort(DmFile file);
int32_t DmFileClose(DmFile file);

// Whether the library can be loaded now (loading it when it can): for programs that want to
// say why an "http:" name cannot be read.
bool DownloadManagerAvailable();

}  // namespace VexaDownload
