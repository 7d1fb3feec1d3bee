#include "framework/ContainerAccess.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <string_view>

#include "framework/FrameworkMemory.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "platform/downloadmanager/DownloadManagerStream.h"
#include "platform/urifile/UriStreamBackend.h"


// The download-manager backend answers in the framework's vocabulary without including it.
static_assert(VexaDownload::kStreamDataNotReady == VMF_ERR_DATA_NOT_READY);
static_assert(VexaDownload::kStreamKilled == VMF_ERR_KILL);
static_assert(VexaDownload::kStreamMissingArgument == VMF_MISSING_ARGUMENT);
static_assert(VexaDownload::kQueryProgress == VMF_QID_GET_PROGRESS);
static_assert(VexaDownload::kQueryBitRate == VMF_QID_GET_BITRATE);
static_assert(VexaDownload::kQueryFileSize == VMF_QID_GET_FILE_SIZE);
static_assert(VexaDownload::kQueryDownloadedSize == VMF_QID_GET_FILE_DOWNLOADED_SIZE);
static_assert(VexaDownload::kQueryBytesAvailableAhead == VMF_QID_BYTES_AVAILABLE_AHEAD);
static_assert(VexaDownload::kQueryByteRangeRequests == VMF_QID_STREAM_BYTE_RANGE_REQUESTS);
static_assert(sizeof(VexaDownload::StreamQueryValue) == sizeof(VmfQueryValue));
static_assert(offsetof(VexaDownload::StreamQueryValue, value) == offsetof(VmfQueryValue, value));

namespace vmf {
namespace {

constexpr std::u16string_view kFileScheme = u"file://";

int32_t CheckContainer(const VmfContainer* container) {
  if (container == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (container->marker != VMF_CONTAINER_MARKER) return VMF_FAILED;
  return VMF_OK;
}

int32_t EntriesOf(const VmfFileHandle& file, const VmfEntryTable** entries) {
  const VmfModuleDescriptor* module = nullptr;
  const int32_t result = FindModule(file.moduleId, &module);
  if (result != VMF_OK) return result;
  *entries = module->entries;
  return VMF_OK;
}

// Calls one entry of the module that reads `file`: VMF_ERR_NULL_MODULE_FUNC when the module
// leaves the slot empty.
template <typename Entry, typename... Args>
int32_t CallModule(const VmfFileHandle& file, Entry VmfEntryTable::*slot, Args... args) {
  const VmfEntryTable* entries = nullptr;
  const int32_t result = EntriesOf(file, &entries);
  if (result != VMF_OK) return result;
  const Entry entry = entries->*slot;
  if (entry == nullptr) return VMF_ERR_NULL_MODULE_FUNC;
  return entry(file.moduleHandle, args...);
}

// The count query that says how many streams of a block type a file holds; 0 for the block
// types that cannot be located.
uint32_t CountQueryFor(int32_t blockType) {
  switch (blockType) {
    case VMF_BLOCK_AUDIO: return VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA;
    case VMF_BLOCK_VIDEO:
    case VMF_BLOCK_VIDEO_ALIAS: return VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA;
    case VMF_BLOCK_SUBTITLE:
    case VMF_BLOCK_SUBTITLE_ALIAS: return VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA;
    default: return 0;
  }
}

// A stream count is about the handle as a whole: the sum over its files.
int32_t CountStreams(const VmfContainer& container, uint32_t countQuery, VmfQueryValue* value) {
  uint32_t total = 0;
  for (uint32_t i = 0; i < container.fileCount; ++i) {
    VmfQueryValue count{};
    const int32_t result = CallModule(*container.files[i], &VmfEntryTable::getInfo, countQuery, &count, 0);
    if (result != VMF_OK) return result;
    total += count.value.u16;
  }
  value->value.u64 = 0;
  value->value.u16 = static_cast<uint16_t>(std::min<uint32_t>(total, UINT16_MAX));
  return VMF_OK;
}

struct StreamLocation {
  VmfFileHandle* file;
  int32_t nStream;  // the stream's number within that file
};

// Finds the file that holds stream `nStream` of a block type: the first file at which the
// running count of such streams exceeds the number. A number no file holds is an invalid
// stream, not some other stream's.
int32_t LocateStream(const VmfContainer& container, int32_t blockType, int32_t nStream,
                     StreamLocation* location) {
  const uint32_t countQuery = CountQueryFor(blockType);
  if (countQuery == 0 || container.fileCount == 0) return VMF_FAILED;
  if (nStream < 0) return VMF_ERR_INVALID_STREAM;
  int64_t total = 0;
  for (uint32_t i = 0; i < container.fileCount; ++i) {
    VmfFileHandle& file = *container.files[i];
    VmfQueryValue count{};
    const int32_t result = CallModule(file, &VmfEntryTable::getInfo, countQuery, &count, 0);
    if (result != VMF_OK) return result;
    const int64_t before = total;
    total += count.value.u16;
    if (total > nStream) {
      *location = {&file, static_cast<int32_t>(nStream - before)};
      return VMF_OK;
    }
  }
  return VMF_ERR_INVALID_STREAM;
}

// The block type whose streams the index of a query counts, by the identifier's stream kind;
// VMF_BLOCK_NONE for queries about the container as a whole.
int32_t BlockTypeOfQuery(uint32_t qid) {
  switch (VmfQidStreamKind(qid)) {
    case VMF_QID_KIND_VIDEO: return VMF_BLOCK_VIDEO;
    case VMF_QID_KIND_AUDIO: return VMF_BLOCK_AUDIO;
    case VMF_QID_KIND_SUBTITLE: return VMF_BLOCK_SUBTITLE;
    default: return VMF_BLOCK_NONE;
  }
}

int32_t GetTitleMediaProp(const VmfContainer& container, VmfQueryValue* value) {
  if (value->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
  if (value->size < sizeof(VmfTitleMediaProp)) return VMF_ERR_BUFFER_TOO_SMALL;
  VmfTitleMediaProp sum{};
  for (uint32_t i = 0; i < container.fileCount; ++i) {
    VmfTitleMediaProp own{};
    VmfQueryValue query{value->dataType, sizeof own, {}};
    query.value.ptr = &own;
    const int32_t result =
        CallModule(*container.files[i], &VmfEntryTable::getInfo, VMF_QID_GET_TITLE_MEDIA_PROP,
                   &query, 0);
    if (result != VMF_OK) return result;
    sum.field = own.field;
    for (size_t k = 0; k < std::size(sum.counts); ++k) sum.counts[k] += own.counts[k];
  }
  *static_cast<VmfTitleMediaProp*>(value->value.ptr) = sum;
  return VMF_OK;
}

struct FileNames {
  std::array<std::u16string_view, VMF_MAX_FILES> names;
  size_t count = 0;
};

// The file names of a container name; false when the name has more files than a handle covers
// or a file name that does not fit the name buffer.
bool SplitFileNames(std::u16string_view name, FileNames* files) {
  if (name.starts_with(kFileScheme)) name.remove_prefix(kFileScheme.size());
  while (true) {
    const size_t separator = name.find(u';');
    const std::u16string_view file = name.substr(0, separator);
    if (file.size() >= VMF_FILE_NAME_CHARS || files->count == VMF_MAX_FILES) return false;
    files->names[files->count++] = file;
    if (separator == std::u16string_view::npos) return true;
    name.remove_prefix(separator + 1);
    if (name.empty()) return true;  // an empty remainder after the last ";" ends the list
  }
}

// Opens one file: through the logging module when it has a name, which chooses the real module;
// an empty name goes to the module choice directly, and no module accepts it.
int32_t OpenFile(const char16_t* name, VexaOS::MemoryArena* allocator, VmfFileHandle* file) {
  int32_t moduleId = VMF_MODULE_LOGGING;
  if (name[0] == u'\0') {
    const int32_t chosen = ChooseModule(name, AccessMode::Read, allocator, &moduleId);
    if (chosen != VMF_OK) return chosen;
  }
  const VmfModuleDescriptor* module = nullptr;
  const int32_t found = FindModule(moduleId, &module);
  if (found != VMF_OK) return found;
  if (module->entries->openContainer == nullptr) return VMF_ERR_NULL_MODULE_FUNC;
  file->moduleId = moduleId;
  return module->entries->openContainer(&file->moduleHandle, name, allocator);
}

int32_t AddFile(VmfContainer* container, std::u16string_view name) {
  char16_t buffer[VMF_FILE_NAME_CHARS];
  name.copy(buffer, name.size());
  buffer[name.size()] = u'\0';
  auto* file = static_cast<VmfFileHandle*>(Allocate(container->allocator, sizeof(VmfFileHandle)));
  if (file == nullptr) return VMF_OUT_OF_MEMORY;
  *file = VmfFileHandle{VMF_FILE_MARKER, 0, nullptr, -1, 0, container->allocator};
  const int32_t result = OpenFile(buffer, container->allocator, file);
  if (result != VMF_OK) {
    Free(container->allocator, file);
    return result;
  }
  container->files[container->fileCount++] = file;
  return VMF_OK;
}

int32_t NewContainer(VexaOS::MemoryArena* allocator, VmfContainer** out) {
  auto* container = static_cast<VmfContainer*>(Allocate(allocator, sizeof(VmfContainer)));
  if (container == nullptr) return VMF_OUT_OF_MEMORY;
  *container = VmfContainer{VMF_CONTAINER_MARKER, nullptr, 0, allocator};
  *out = container;
  container->files =
      static_cast<VmfFileHandle**>(Allocate(allocator, VMF_MAX_FILES * sizeof(VmfFileHandle*)));
  return container->files == nullptr ? VMF_OUT_OF_MEMORY : VMF_OK;
}

}  // namespace

int32_t Init(const VmfRegistrationRecord* record) {
  // Names beginning "http:" are read through the download-manager library, when one is found.
  VexaDownload::RegisterDownloadManagerBackend();
  // "file:" and "nolo:" URLs are read through the URI files.
  VexaUri::RegisterUriFileStreamBackend();
  return Register(record) == VMF_OK ? VMF_OK : VMF_ERR_LAYER1_MODULE_INIT;
}

int32_t OpenContainer(VmfContainer** container, const char16_t* name,
                      VexaOS::MemoryArena* allocator) {
  if (container == nullptr) return VMF_ERR_INVALID_HANDLER;
  *container = nullptr;
  if (name == nullptr) return VMF_MISSING_ARGUMENT;
  FileNames files;
  if (!SplitFileNames(name, &files)) return VMF_ERR_OPEN_CONTAINER;
  std::lock_guard<std::recursive_mutex> hold(RegistryLock());
  int32_t result = NewContainer(allocator, container);
  for (size_t i = 0; i < files.count && result == VMF_OK; ++i) {
    result = AddFile(*container, files.names[i]);
  }
  return result;
}

int32_t CloseContainer(VmfContainer* container) {
  int32_t result = CheckContainer(container);
  if (result != VMF_OK) return result;
  // Every file is closed and every record returned even after a failure, so that a failing
  // module never leaves the rest of the handle behind.
  for (uint32_t i = 0; i < container->fileCount; ++i) {
    VmfFileHandle* file = container->files[i];
    const int32_t closed = CallModule(*file, &VmfEntryTable::closeContainer);
    if (result == VMF_OK) result = closed;
    file->marker = 0;
    Free(container->allocator, file);
  }
  Free(container->allocator, container->files);
  container->marker = 0;
  Free(container->allocator, container);
  return result;
}

int32_t SetTitle(VmfContainer* container, int32_t titleIndex) {
  const int32_t checked = CheckContainer(container);
  if (checked != VMF_OK) return checked;
  for (uint32_t i = 0; i < container->fileCount; ++i) {
    const int32_t result = CallModule(*container->files[i], &VmfEntryTable::setTitle, titleIndex);
    if (result != VMF_OK) return result;
  }
  return VMF_OK;
}

int32_t GetInfo(VmfContainer* container, uint32_t qid, VmfQueryValue* value, int32_t index) {
  const int32_t checked = CheckContainer(container);
  if (checked != VMF_OK) return checked;
  if (value == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (container->fileCount == 0) return VMF_FAILED;
  if (qid == VMF_QID_GET_TITLE_MEDIA_PROP) return GetTitleMediaProp(*container, value);
  if (qid == VMF_QID_INTERLEAVER_HANDLE) {
    value->value.i32 = container->files[0]->interleaver;
    return VMF_OK;
  }
  const int32_t blockType = BlockTypeOfQuery(qid);
  if (blockType != VMF_BLOCK_NONE && qid == CountQueryFor(blockType)) return CountStreams(*container, qid, value);
  StreamLocation location{container->files[0], index};
  if (blockType != VMF_BLOCK_NONE) {
    const int32_t located = LocateStream(*container, blockType, index, &location);
    if (located != VMF_OK) return located;
  }
  return CallModule(*location.file, &VmfEntryTable::getInfo, qid, value, location.nStream);
}

int32_t SetPosition(VmfContainer* container, int32_t blockType, int32_t nStream, int64_t* pTime) {
  const int32_t checked = CheckContainer(container);
  if (checked != VMF_OK) return checked;
  if (pTime == nullptr) return VMF_MISSING_ARGUMENT;
  StreamLocation location{};
  const int32_t located = LocateStream(*container, blockType, nStream, &location);
  if (located != VMF_OK) return located;
  const int32_t result =
      CallModule(*location.file, &VmfEntryTable::setPosition, blockType, location.nStream, pTime);
  if (result != VMF_OK) return result;
  // The module may have moved to another segment; the stream is looked up once more.
  return LocateStream(*container, blockType, nStream, &location);
}

int32_t ReadNextBlockByStream(VmfContainer* container, int32_t blockType, int32_t nStream,
                              VmfBlock* block) {
  const int32_t checked = CheckContainer(container);
  if (checked != VMF_OK) return checked;
  if (block == nullptr) return VMF_MISSING_ARGUMENT;
  StreamLocation location{};
  const int32_t located = LocateStream(*container, blockType, nStream, &location);
  if (located != VMF_OK) return located;
  return CallModule(*location.file, &VmfEntryTable::readNextBlockByStream, blockType,
                    location.nStream, block);
}

}  // namespace vmf
