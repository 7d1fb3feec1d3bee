#include "framework/matroska/MkvModule.h"

#include <algorithm>
#include <new>

#include "framework/FrameworkMemory.h"
#include "framework/ModuleEntryGuard.h"
#include "framework/ModuleProbes.h"
#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvCodecs.h"
#include "framework/matroska/MkvInfoQueries.h"
#include "framework/matroska/MkvPropQueries.h"
#include "framework/VmfErrors.h"
#include "framework/matroska/MkvStreamIoSource.h"

namespace mkv {
namespace {

VmfRegistrationRecord gRecord{};  // Init copies the registration record here

MkvModuleHandle* AsHandle(VmfModuleHandle module) { return static_cast<MkvModuleHandle*>(module); }

// ---- Entries --------------------------------------------------------------------------

int32_t Init(const VmfRegistrationRecord* record) {
  if (record != nullptr) gRecord = *record;
  return VMF_OK;
}

constexpr VmfModuleInfo kInfo{1, 0, {1, 0, 1, 0}, u".mkv", u"MKV read module."};
const VmfModuleInfo* GetModuleInfo() { return &kInfo; }

int32_t Open(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena* allocator) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  *module = nullptr;
  if (name == nullptr) return VMF_MISSING_ARGUMENT;
  auto source = std::unique_ptr<MkvStreamIoSource>(new (std::nothrow) MkvStreamIoSource);
  if (!source) return VMF_OUT_OF_MEMORY;
  const int32_t rc = source->Open(name, allocator);
  if (rc != VMF_OK) return rc;
  MkvModuleHandle* h = nullptr;
  const int32_t open = OpenModuleHandle(std::move(source), name, &h, allocator);
  *module = h;
  return open;
}

int32_t OpenEx(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena* allocator, uintptr_t, uintptr_t) {
  return Open(module, name, allocator);
}

int32_t SetTitle(VmfModuleHandle module, int32_t title) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  return title == 0 ? VMF_OK : VMF_ERR_INVALID_TITLE_INDEX;  // a file is one title
}

int32_t AnswerZeroIndex(VmfModuleHandle, int32_t) { return VMF_OK; }
int32_t AnswerZeroExtra(VmfModuleHandle, uintptr_t, uintptr_t, uintptr_t, uintptr_t) { return VMF_OK; }
int32_t SetActiveStream(VmfModuleHandle module, int32_t, int32_t, int32_t) {
  return module == nullptr ? VMF_ERR_INVALID_HANDLER : VMF_OK;  // every stream stays readable
}

int32_t FillBlock(VmfBlock* block, int32_t rc, const FrameInfo& info) {
  block->size = info.size;
  if (rc != VMF_OK) return rc;
  block->flags = info.key ? VMF_BLOCK_FLAG_KEYFRAME : 0;
  block->time = info.time;
  block->duration = info.duration;
  return VMF_OK;
}

int32_t ReadNextBlock(VmfModuleHandle module, int32_t* pBlockType, int32_t* pnStream, VmfBlock* block) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (pBlockType == nullptr || pnStream == nullptr || block == nullptr) return VMF_MISSING_ARGUMENT;
  FrameInfo info;
  const int32_t rc = AsHandle(module)->title->ReadAnyFrame(block->data, block->capacity, &info);
  *pBlockType = info.blockType;
  *pnStream = static_cast<int32_t>(info.stream);
  return FillBlock(block, rc, info);
}

using vmf::Guarded;

constexpr VmfEntryTable kEntries{
    .init = Init, .getModuleInfo = GetModuleInfo, .probe = vmf::ProbeMatroska, .openContainer = Guarded<Open>::Call,
    .openContainerEx = Guarded<OpenEx>::Call, .closeContainer = Guarded<MkvCloseContainer>::Call,
    .setTitle = SetTitle, .setMenu = AnswerZeroIndex, .getInfo = Guarded<MkvGetInfo>::Call,
    .setPosition = Guarded<MkvSetPosition>::Call, .setTitleActiveStream = SetActiveStream,
    .readNextBlock = Guarded<ReadNextBlock>::Call, .readNextBlockByStream = Guarded<MkvReadNextBlockByStream>::Call,
    .setInfo = Guarded<MkvSetInfo>::Call,
    .extra19To27 = {nullptr, nullptr, AnswerZeroExtra, AnswerZeroExtra, AnswerZeroExtra, AnswerZeroExtra,
                    AnswerZeroExtra}};
constexpr VmfModuleDescriptor kDescriptor{VMF_MODULE_MATROSKA, &kInfo, &kEntries};

}  // namespace

int32_t OpenModuleHandle(std::unique_ptr<MkvByteSource> source, const char16_t* name, MkvModuleHandle** out,
                         VexaOS::MemoryArena* allocator) {
  *out = nullptr;
  // The handle comes from the caller's arena (the heap without one); what the reader holds
  // inside it comes from the heap.
  void* memory = vmf::Allocate(allocator, sizeof(MkvModuleHandle));
  if (memory == nullptr) return VMF_OUT_OF_MEMORY;
  struct Closer {
    void operator()(MkvModuleHandle* h) const { MkvCloseContainer(h); }
  };
  std::unique_ptr<MkvModuleHandle, Closer> h(new (memory) MkvModuleHandle);
  h->allocator = allocator;
  h->fileName = name != nullptr ? name : u"";
  h->reader = std::make_unique<MkvReader>(std::move(source));
  const int32_t rc = h->reader->Open();
  if (rc != VMF_OK) return rc;
  h->title = std::make_unique<MkvTitle>(h->reader.get());
  h->title->OpenFurtherSegments();
  *out = h.release();
  return VMF_OK;
}

int32_t MkvCloseContainer(VmfModuleHandle module) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  MkvModuleHandle* h = AsHandle(module);
  VexaOS::MemoryArena* allocator = h->allocator;
  h->~MkvModuleHandle();
  vmf::Free(allocator, h);
  return VMF_OK;
}

int32_t MkvGetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t index) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (value == nullptr) return VMF_MISSING_ARGUMENT;
  MkvModuleHandle& h = *AsHandle(module);
  bool handled = false;
  const int32_t rc = InfoQuery(h, qid, value, index, &handled);
  return handled ? rc : PropQuery(h, qid, value, index, &handled);
}

int32_t MkvSetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t index) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (value == nullptr) return VMF_MISSING_ARGUMENT;
  MkvModuleHandle& h = *AsHandle(module);
  switch (qid) {
    case VMF_QID_MKV_COMBINE_FIELDS: {
      MkvTrack* t = index >= 0 ? h.reader->Stream(kBlockVideo, static_cast<uint32_t>(index)) : nullptr;
      if (t == nullptr) return VMF_ERR_INVALID_STREAM;
      if (t->codecType != codec::kAvc) return VMF_ERR_COMBINE_FIELDS_UNSUPPORTED;
      t->video.combineFields = value->value.u32 != 0;
      return VMF_OK;
    }
    case VMF_QID_TAGS_SET_CURRENTTAGIDX:
      h.currentTag = value->value.u32;
      h.currentSimpleTag = 0;
      return VMF_OK;
    case VMF_QID_TAGS_SET_SIMPLETAGID:
      h.currentSimpleTag = value->value.u32;
      return VMF_OK;
    case VMF_QID_PLAYLISTS_SET_PLAYLIST_IDX: case VMF_QID_EDITIONENTRY_SET_PLAYLIST_IDX:
      return h.title->SelectEdition(value->value.u32);
    case VMF_QID_PLAYLISTS_SET_ALLOW_ORDERED_FLAG:
      h.title->AllowOrdered(value->value.u32 != 0);
      return VMF_OK;
    default:
      // Laced blocks are always delivered frame by frame; the other settings of the list
      // (index options, HTTP authentication) change nothing for a local file.
      return VMF_OK;
  }
}

int32_t MkvSetPosition(VmfModuleHandle module, int32_t blockType, int32_t nStream, int64_t* pTime) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (pTime == nullptr) return VMF_MISSING_ARGUMENT;
  if (nStream < 0) return VMF_ERR_INVALID_STREAM;
  return AsHandle(module)->title->Seek(blockType, static_cast<uint32_t>(nStream), pTime);
}

int32_t MkvReadNextBlockByStream(VmfModuleHandle module, int32_t blockType, int32_t nStream, VmfBlock* block) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (block == nullptr) return VMF_ERR_BLOCK_BUFFER_NULL;
  if (nStream < 0) return VMF_ERR_INVALID_STREAM;
  MkvTitle& r = *AsHandle(module)->title;
  FrameInfo info;
  int32_t rc = r.ReadFrame(blockType, static_cast<uint32_t>(nStream), block->data, block->capacity, &info);
  if (rc == VMF_OUT_OF_MEMORY && block->enlarge != nullptr && block->enlarge(block, info.size) == 0)
    rc = r.ReadFrame(blockType, static_cast<uint32_t>(nStream), block->data, block->capacity, &info);
  return FillBlock(block, rc, info);
}

}  // namespace mkv

const VmfModuleDescriptor* MatroskaModuleDescriptor() { return &mkv::kDescriptor; }
