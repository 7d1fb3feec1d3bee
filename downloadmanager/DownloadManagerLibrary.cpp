// VexaDownloadManager.so: the download-manager library the framework loads for "http:" names,
// built on the tree's own network sources. Each opened file is one IUriFile; reads wait for
// their data, so this library never answers "not ready" to a read of mode 1.
#include <new>
#include <string>
#include <type_traits>

#include "platform/downloadmanager/DownloadManagerContract.h"
#include "platform/files/TextConvert.h"
#include "platform/urifile/IUriFile.h"

namespace {

using namespace VexaDownload;

// The options set before an open; copied into the file, since the server may ask for the
// credentials at any later read.
struct Configuration {
  std::u16string referrer;
  std::u16string userAgent;
  std::u16string cookies;
  std::u16string login;
  std::u16string password;
};

struct OpenFile {
  VexaUri::IUriFile* source = nullptr;
  std::string login;  // UTF-8, for the authentication callback
  std::string password;
  ~OpenFile() { delete source; }
};

std::u16string* OptionSlot(Configuration& config, std::u16string_view name) {
  if (name == kDmReferrerOption.name) return &config.referrer;
  if (name == kDmUserAgentOption.name) return &config.userAgent;
  if (name == kDmCookiesOption.name) return &config.cookies;
  if (name == kDmLoginOption.name) return &config.login;
  if (name == kDmPasswordOption.name) return &config.password;
  return nullptr;
}

const char16_t* OrNull(const std::u16string& text) { return text.empty() ? nullptr : text.c_str(); }

// Copies `text` with its terminator into a field of `capacity` bytes; false when it does not fit.
bool CopyField(const std::string& text, char* field, uint32_t capacity) {
  if (text.size() + 1 > capacity) return false;
  text.copy(field, text.size());
  field[text.size()] = 0;
  return true;
}

int32_t AnswerCredentials(void* context, char* login, char* password, uint32_t capacity) {
  if (!context || !login || !password) return VexaFiles::kUriNullArgument;
  const auto* file = static_cast<const OpenFile*>(context);
  if (!CopyField(file->login, login, capacity) || !CopyField(file->password, password, capacity))
    return VexaFiles::kUriTooSmall;
  return VexaFiles::kUriOk;
}

OpenFile* FileOf(DmFile handle) { return static_cast<OpenFile*>(handle); }

// Applies the caller's origin to the IUriFile's origins; a negative offset counts the other way.
int32_t SeekSource(VexaUri::IUriFile* source, int64_t offset, int32_t origin) {
  const uint64_t magnitude = offset < 0 ? 0 - static_cast<uint64_t>(offset)
                                        : static_cast<uint64_t>(offset);
  switch (origin) {
    case kDmSeekFromStart:
      return source->Seek(static_cast<uint64_t>(offset), VexaFiles::kSeekAbsolute);
    case kDmSeekFromCurrent:
      return source->Seek(magnitude, offset < 0 ? VexaFiles::kSeekBackward : VexaFiles::kSeekForward);
    case kDmSeekFromEnd:
      return source->Seek(magnitude, VexaFiles::kSeekFromEnd);
  }
  return kDmFailed;
}

uint64_t InfoOrZero(VexaUri::IUriFile* source, uint32_t id) {
  uint64_t value = 0;
  return source->GetInfo(id, &value) == VexaFiles::kUriOk ? value : 0;
}

}  // namespace

#define VEXA_DM_EXPORT extern "C" __attribute__((visibility("default")))

VEXA_DM_EXPORT int32_t VQMSetFileConfigPluginOption(DmConfig* config, const char16_t* plugin,
                                                    const char16_t* name, const char16_t* value) {
  if (!config || !plugin || !name || !value) return kDmNullArgument;
  if (std::u16string_view(plugin) != kDmOptionPlugin) return kDmUnavailable;
  if (!*config) *config = new (std::nothrow) Configuration();
  if (!*config) return kDmFailed;
  std::u16string* slot = OptionSlot(*static_cast<Configuration*>(*config), name);
  if (!slot) return kDmUnavailable;
  *slot = value;
  return kDmOk;
}

// Takes the configuration over whatever the outcome: it is freed and the handle cleared.
VEXA_DM_EXPORT int32_t VQMFileOpenEx(const char16_t* url, uint32_t, uint32_t, DmConfig* config,
                                     DmFile* file, uint32_t) {
  Configuration options;
  if (config && *config) {
    Configuration* given = static_cast<Configuration*>(*config);
    options = std::move(*given);
    delete given;
    *config = nullptr;
  }
  if (!url || !file) return kDmNullArgument;
  *file = nullptr;
  auto* opened = new (std::nothrow) OpenFile();
  if (!opened) return kDmFailed;
  VexaFiles::Utf16ToUtf8String(options.login, opened->login);
  VexaFiles::Utf16ToUtf8String(options.password, opened->password);
  const VexaUri::UriFileParams params{url, nullptr, nullptr, nullptr, OrNull(options.referrer),
                                      OrNull(options.userAgent), OrNull(options.cookies)};
  opened->source = VexaUri::CreateUriFile(&params, AnswerCredentials, opened);
  if (!opened->source) {
    delete opened;
    return kDmFailed;
  }
  *file = opened;
  return kDmOk;
}

VEXA_DM_EXPORT int32_t VQMFileGetInfo(DmFile handle, DownloadManagerInfo* info) {
  if (!handle || !info) return kDmNullArgument;
  VexaUri::IUriFile* source = FileOf(handle)->source;
  *info = DownloadManagerInfo{};
  info->owner = reinterpret_cast<uintptr_t>(handle);
  info->totalSize = InfoOrZero(source, VexaUri::kUriInfoSize);
  info->downloaded = InfoOrZero(source, VexaUri::kUriInfoDownloaded);
  info->bitRate = static_cast<uint32_t>(InfoOrZero(source, VexaUri::kUriInfoRate));
  info->byteRanges = InfoOrZero(source, VexaUri::kUriInfoByteRanges) == 1 ? 1 : 0;
  return kDmOk;
}

VEXA_DM_EXPORT int32_t VQMFileSeek(DmFile handle, uint32_t offsetLow, uint32_t offsetHigh,
                                   int32_t origin, uint64_t* newPosition) {
  if (!handle || !newPosition) return kDmNullArgument;
  VexaUri::IUriFile* source = FileOf(handle)->source;
  const auto offset = static_cast<int64_t>(JoinWords(offsetLow, offsetHigh));
  if (SeekSource(source, offset, origin) != VexaFiles::kUriOk) return kDmFailed;
  return source->Tell(newPosition) == VexaFiles::kUriOk ? kDmOk : kDmFailed;
}

VEXA_DM_EXPORT int32_t VQMFileGetPosition(DmFile handle, uint64_t* position) {
  if (!handle || !position) return kDmNullArgument;
  return FileOf(handle)->source->Tell(position) == VexaFiles::kUriOk ? kDmOk : kDmFailed;
}

// Fills the whole count unless the resource ends first (kDmEnd with what was read).
VEXA_DM_EXPORT int32_t VQMFileRead(DmFile handle, void* buffer, uint32_t count,
                                   uint32_t* countRead, int32_t) {
  if (!handle || !countRead || (!buffer && count > 0)) return kDmNullArgument;
  *countRead = 0;
  VexaUri::IUriFile* source = FileOf(handle)->source;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (*countRead < count) {
    uint32_t got = count - *countRead;
    const int32_t result = source->Read(bytes + *countRead, &got, 1);
    *countRead += result == VexaFiles::kUriOk || result == VexaFiles::kUriEnd ? got : 0;
    if (result == VexaFiles::kUriEnd) return kDmEnd;
    if (result == VexaFiles::kUriNotReady) return kDmNotReady;
    if (result != VexaFiles::kUriOk) return kDmFailed;
    if (got == 0) return kDmEnd;  // a source that moves nothing has nothing more to give
  }
  return kDmOk;
}

VEXA_DM_EXPORT int32_t VQMGetFileValidBytes(const DownloadManagerInfo* info, uint32_t positionLow,
                                            uint32_t positionHigh, uint32_t limitLow,
                                            uint32_t limitHigh, uint64_t* count, int32_t) {
  if (!info || !info->owner || !count) return kDmNullArgument;
  VexaUri::IUriFile* source = FileOf(reinterpret_cast<DmFile>(info->owner))->source;
  const uint64_t position = JoinWords(positionLow, positionHigh);
  uint64_t offset = position;
  uint64_t length = JoinWords(limitLow, limitHigh);
  if (source->GetMissingRange(&offset, &length) != VexaFiles::kUriOk) return kDmFailed;
  *count = offset - position;
  return kDmOk;
}

VEXA_DM_EXPORT int32_t VQMFileAbort(DmFile handle) {
  if (!handle) return kDmNullArgument;
  return FileOf(handle)->source->Abort() == VexaFiles::kUriOk ? kDmOk : kDmFailed;
}

VEXA_DM_EXPORT int32_t VQMFileClose(DmFile handle) {
  if (!handle) return kDmNullArgument;
  delete FileOf(handle);
  return kDmOk;
}

// The exported functions keep the argument lists the callers use.
static_assert(std::is_same_v<decltype(&VQMSetFileConfigPluginOption), VQMSetFileConfigPluginOptionFn>);
static_assert(std::is_same_v<decltype(&VQMFileOpenEx), VQMFileOpenExFn>);
static_assert(std::is_same_v<decltype(&VQMFileGetInfo), VQMFileGetInfoFn>);
static_assert(std::is_same_v<decltype(&VQMFileSeek), VQMFileSeekFn>);
static_assert(std::is_same_v<decltype(&VQMFileGetPosition), VQMFileGetPositionFn>);
static_assert(std::is_same_v<decltype(&VQMFileRead), VQMFileReadFn>);
static_assert(std::is_same_v<decltype(&VQMGetFileValidBytes), VQMGetFileValidBytesFn>);
static_assert(std::is_same_v<decltype(&VQMFileAbort), VQMFileAbortFn>);
static_assert(std::is_same_v<decltype(&VQMFileClose), VQMFileCloseFn>);
