#include "framework/LoggingModule.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "framework/FrameworkMemory.h"
#include "framework/L1Log.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"

#if VEXA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace vmf {
namespace {


// What the logging module keeps per opened file: the real module and its handle.
struct LogRecord {
  const VmfEntryTable* real;
  VmfModuleHandle realHandle;
  VexaOS::MemoryArena* allocator;
  bool traced;  // holds a reference on the log file
};

LogRecord* RecordOf(VmfModuleHandle module) { return static_cast<LogRecord*>(module); }

__attribute__((format(printf, 1, 2))) std::u16string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const size_t used = std::clamp<int>(length, 0, sizeof text - 1);
  return std::u16string(text, text + used);  // the texts are ASCII
}

void Trace(const LogRecord& record, std::u16string_view text) {
  if (record.traced) WriteL1Log(text);
}

// The name of a query for the log, or its decimal value when the vocabulary has none.
std::string QidText(uint32_t qid) {
  const char* name = VmfQidName(qid);
  return name != nullptr ? std::string(name) : std::to_string(qid);
}

// The data of a block that a read filled: nothing when the read failed, and never more than the
// caller's buffer holds even when the module reports a larger size.
int32_t CrcOfBlock(const VmfBlock* block, int32_t result) {
  if (result != VMF_OK || block == nullptr || block->data == nullptr) return 0;
  return static_cast<int32_t>(BlockCrc32(block->data, std::min(block->size, block->capacity)));
}

template <typename Entry, typename... Args>
int32_t Forward(const LogRecord& record, Entry VmfEntryTable::*slot, Args... args) {
  const Entry entry = record.real->*slot;
  if (entry == nullptr) return VMF_ERR_NULL_MODULE_FUNC;
  return entry(record.realHandle, args...);
}

// Opening: choose the real module, open the file with it and trace the name.
template <typename OpenSlot, typename... Extra>
int32_t OpenThrough(OpenSlot VmfEntryTable::*slot, AccessMode mode, VmfModuleHandle* module,
                    const char16_t* name, VexaOS::MemoryArena* allocator, Extra... extra) {
  if (module == nullptr || name == nullptr) return VMF_MISSING_ARGUMENT;
  *module = nullptr;
  int32_t realId = 0;
  int32_t result = ChooseModule(name, mode, allocator, &realId);
  if (result != VMF_OK) return result;
  const VmfModuleDescriptor* real = nullptr;
  result = FindModule(realId, &real);
  if (result != VMF_OK) return result;
  if (real->entries->*slot == nullptr) return VMF_ERR_NULL_MODULE_FUNC;
  auto* record = static_cast<LogRecord*>(Allocate(allocator, sizeof(LogRecord)));
  if (record == nullptr) return VMF_OUT_OF_MEMORY;
  *record = LogRecord{real->entries, nullptr, allocator, AcquireL1Log()};
  result = (real->entries->*slot)(&record->realHandle, name, allocator, extra...);
  Trace(*record, Format("OpenContainer:\nFile: ") + name + u"\n");
  if (result != VMF_OK) {
    if (record->traced) ReleaseL1Log();
    Free(allocator, record);
    return result;
  }
  *module = record;
  return VMF_OK;
}

int32_t LogInit(const VmfRegistrationRecord*) { return VMF_OK; }

const VmfModuleInfo* LogModuleInfo();

int32_t LogProbe(int32_t* score, const char16_t*, VexaOS::MemoryArena*) {
  if (score == nullptr) return VMF_FAILED;
  *score = 0;  // never chosen by probing
  return VMF_OK;
}

int32_t LogOpen(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena* allocator) {
  return OpenThrough(&VmfEntryTable::openContainer, AccessMode::Read, module, name, allocator);
}

int32_t LogCreate(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena* allocator) {
  return OpenThrough(&VmfEntryTable::createContainer, AccessMode::Write, module, name, allocator);
}

int32_t LogOpenEx(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena* allocator,
                  uintptr_t arg1, uintptr_t arg2) {
  return OpenThrough(&VmfEntryTable::openContainerEx, AccessMode::Read, module, name, allocator,
                     arg1, arg2);
}

int32_t LogHandleEntry(VmfModuleHandle module) {
  return Forward(*RecordOf(module), &VmfEntryTable::handleEntry);
}

int32_t LogClose(VmfModuleHandle module) {
  LogRecord* record = RecordOf(module);
  Trace(*record, u"CloseContainer Entry:\n");
  const int32_t result = Forward(*record, &VmfEntryTable::closeContainer);
  Trace(*record, Format("CloseContainer Exit:\nVexaError: %d\n", result));
  // The record goes whatever the module answered: the handle is not used again.
  if (record->traced) ReleaseL1Log();
  Free(record->allocator, record);
  return result;
}

int32_t LogSetTitle(VmfModuleHandle module, int32_t titleIndex) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("SetTitle Entry:\nTitleIndex %d\n", titleIndex));
  const int32_t result = Forward(record, &VmfEntryTable::setTitle, titleIndex);
  Trace(record, Format("SetTitle Exit:\nVexaError: %d\n", result));
  return result;
}

int32_t LogSetMenu(VmfModuleHandle module, int32_t menuIndex) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("SetMenu Entry:\nMenuIndex %d\n", menuIndex));
  const int32_t result = Forward(record, &VmfEntryTable::setMenu, menuIndex);
  Trace(record, Format("SetMenu Exit:\nVexaError: %d\n", result));
  return result;
}

int32_t LogGetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t index) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("GetInfo Entry:\nQID: %s\nIndex: %d\n", QidText(qid).c_str(), index));
  const int32_t result = Forward(record, &VmfEntryTable::getInfo, qid, value, index);
  Trace(record, Format("GetInfo Exit:\nVexaError: %d\n", result));
  return result;
}

int32_t LogSetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t index) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("SetInfo Entry:\nQID: %s\nIndex: %d\n", QidText(qid).c_str(), index));
  const int32_t result = Forward(record, &VmfEntryTable::setInfo, qid, value, index);
  Trace(record, Format("SetInfo Exit:\nVexaError: %d\n", result));
  return result;
}

int32_t LogSetPosition(VmfModuleHandle module, int32_t blockType, int32_t nStream,
                       int64_t* pTime) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("SetPosition Entry:\nblockType: %d\nnStream: %d\nTime: %lld\n", blockType,
                       nStream, pTime ? static_cast<long long>(*pTime) : 0LL));
  const int32_t result = Forward(record, &VmfEntryTable::setPosition, blockType, nStream, pTime);
  Trace(record, Format("SetPosition Exit:\nTime: %lld\nVexaError: %d\n",
                       pTime ? static_cast<long long>(*pTime) : 0LL, result));
  return result;
}

int32_t LogSetTitleActiveStream(VmfModuleHandle module, int32_t blockType, int32_t nStream,
                                int32_t bActive) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("SetTitleActiveStream Entry:\nblockType: %d\nnStream: %d\nbActive: %d\n",
                       blockType, nStream, bActive));
  const int32_t result =
      Forward(record, &VmfEntryTable::setTitleActiveStream, blockType, nStream, bActive);
  Trace(record, Format("SetTitleActiveStream Exit:\nVexaError: %d\n", result));
  return result;
}

int32_t LogReadNextBlock(VmfModuleHandle module, int32_t* pBlockType, int32_t* pnStream,
                         VmfBlock* block) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, u"ReadNextBlock Entry:\n");
  const int32_t result =
      Forward(record, &VmfEntryTable::readNextBlock, pBlockType, pnStream, block);
  Trace(record, Format("ReadNextBlock Exit:\n*pBlockType: %d\n*pnStream: %d\n"
                       "Block Data CRC: %d\nBlock Time: %lld\nVexaError: %d\n",
                       pBlockType ? *pBlockType : 0, pnStream ? *pnStream : 0,
                       CrcOfBlock(block, result),
                       block ? static_cast<long long>(block->time) : 0LL, result));
  return result;
}

int32_t LogReadNextBlockByStream(VmfModuleHandle module, int32_t blockType, int32_t nStream,
                                 VmfBlock* block) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("ReadNextBlockByStream Entry:\nblockType: %d\nnStream: %d\n", blockType,
                       nStream));
  const int32_t result =
      Forward(record, &VmfEntryTable::readNextBlockByStream, blockType, nStream, block);
  Trace(record, Format("ReadNextBlockByStream Exit:\nBlock Data CRC: %d\nBlock Time: %lld\n"
                       "VexaError: %d\n",
                       CrcOfBlock(block, result),
                       block ? static_cast<long long>(block->time) : 0LL, result));
  return result;
}

int32_t LogWriteNextBlock(VmfModuleHandle module, int32_t blockType, int32_t nStream,
                          VmfBlock* block) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("WriteNextBlock Entry:\nblockType: %d\nBlock Time: %lld\nnStream: %d\n",
                       blockType, block ? static_cast<long long>(block->time) : 0LL, nStream));
  const int32_t result =
      Forward(record, &VmfEntryTable::writeNextBlock, blockType, nStream, block);
  Trace(record, Format("WriteNextBlock Exit:\nVexaError: %d\n", result));
  return result;
}

int32_t LogAddStream(VmfModuleHandle module, int32_t blockType, const void* format,
                     int32_t* nStreamOfType) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, Format("AddStream Entry:\nblockType: %d\n", blockType));
  const int32_t result =
      Forward(record, &VmfEntryTable::addStream, blockType, format, nStreamOfType);
  Trace(record, Format("AddStream Exit:\n*nStreamOfType: %d\nVexaError: %d\n",
                       nStreamOfType ? *nStreamOfType : 0, result));
  return result;
}

int32_t LogAddTitle(VmfModuleHandle module, int32_t* titleId) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, u"AddTitle Entry:\n");
  const int32_t result = Forward(record, &VmfEntryTable::addTitle, titleId);
  Trace(record, Format("AddTitle Exit:\n*TitleID: %d\nVexaError: %d\n", titleId ? *titleId : 0,
                       result));
  return result;
}

int32_t LogFinishTitle(VmfModuleHandle module) {
  const LogRecord& record = *RecordOf(module);
  Trace(record, u"FinishTitle Entry:\n");
  const int32_t result = Forward(record, &VmfEntryTable::finishTitle);
  Trace(record, Format("FinishTitle Exit:\nVexaError: %d\n", result));
  return result;
}

// The further entries are forwarded untraced.
template <size_t Slot>
int32_t LogExtra(VmfModuleHandle module, uintptr_t a, uintptr_t b, uintptr_t c, uintptr_t d) {
  const LogRecord& record = *RecordOf(module);
  const VmfExtraEntry entry =
      Slot < 28 ? record.real->extra19To27[Slot - 19] : record.real->extra32To33[Slot - 32];
  if (entry == nullptr) return VMF_ERR_NULL_MODULE_FUNC;
  return entry(record.realHandle, a, b, c, d);
}

constexpr VmfModuleInfo kLoggingInfo{1, 1, {1, 1, 1, 1}, u"logging", u"logging module."};

const VmfModuleInfo* LogModuleInfo() { return &kLoggingInfo; }

constexpr VmfEntryTable kLoggingEntries{
    .init = LogInit, .getModuleInfo = LogModuleInfo, .probe = LogProbe,
    .openContainer = LogOpen, .createContainer = LogCreate, .openContainerEx = LogOpenEx,
    .handleEntry = LogHandleEntry, .closeContainer = LogClose, .setTitle = LogSetTitle,
    .setMenu = LogSetMenu, .getInfo = LogGetInfo, .setPosition = LogSetPosition,
    .setTitleActiveStream = LogSetTitleActiveStream, .readNextBlock = LogReadNextBlock,
    .readNextBlockByStream = LogReadNextBlockByStream, .writeNextBlock = LogWriteNextBlock,
    .addStream = LogAddStream, .setInfo = LogSetInfo, .addTitle = LogAddTitle,
    .extra19To27 = {LogExtra<19>, LogExtra<20>, LogExtra<21>, LogExtra<22>, LogExtra<23>,
                    LogExtra<24>, LogExtra<25>, LogExtra<26>, LogExtra<27>},
    .empty28To30 = {},
    .finishTitle = LogFinishTitle,
    .extra32To33 = {LogExtra<32>, LogExtra<33>}};

constexpr VmfModuleDescriptor kLogging{VMF_MODULE_LOGGING, &kLoggingInfo, &kLoggingEntries};

}  // namespace

const VmfModuleDescriptor& LoggingModule() { return kLogging; }

// The IEEE 802.3 CRC-32 of a block, taken over every block the transcoder reads: a library's
// word-wise (zlib) or carry-less-multiply (libdeflate) CRC instead of a byte-wise table.
uint32_t BlockCrc32(const uint8_t* data, size_t size) {
#if VEXA_HAVE_LIBDEFLATE
  return libdeflate_crc32(0, data, size);
#else
  uLong crc = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    uInt chunk = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = crc32(crc, data, chunk);
    data += chunk;
    size -= chunk;
  }
  return static_cast<uint32_t>(crc);
#endif
}

}  // namespace vmf
