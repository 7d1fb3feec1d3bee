#include "framework/srt/SrtModule.h"

#include <cstring>
#include <new>

#include "framework/FrameworkMemory.h"
#include "framework/ModuleEntryGuard.h"
#include "framework/ModuleProbes.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"

namespace srt {
namespace {

using vmf::Guarded;

// The property records the module answers: a file of one title with one subtitle stream.
struct SrtContainerProp {
  uint8_t version;
  uint8_t reserved[3];
  uint32_t titleCount;
};
static_assert(sizeof(SrtContainerProp) == 8);
static_assert(offsetof(SrtContainerProp, titleCount) == 4);

struct SrtTitleProp {
  uint32_t reserved[3];
  uint32_t streamCount;
};
static_assert(sizeof(SrtTitleProp) == 16);
static_assert(offsetof(SrtTitleProp, streamCount) == 12);

struct SrtSubtitleMediaProp {
  uint8_t version;
  uint8_t reserved[1055];
};
static_assert(sizeof(SrtSubtitleMediaProp) == 1056);

constexpr uint8_t kPropVersion = 16;
constexpr size_t kSubtitleCountSlot = 2;  // VmfTitleMediaProp::counts: video, audio, subtitle
constexpr char kCodec[4] = {'V', 'E', 'X', 'A'};
constexpr char kBitmapSubType[4] = {'V', 'E', 'S', 'B'};
constexpr char kTextSubType[4] = {'V', 'E', 'T', 'X'};
constexpr uint16_t kBitsPerPixel = 4;

VmfRegistrationRecord gRecord{};  // Init copies the registration record here

SrtModuleHandle* AsHandle(VmfModuleHandle module) { return static_cast<SrtModuleHandle*>(module); }

// width x height / 2 in signed 32-bit arithmetic, wrapping as that arithmetic does.
int32_t BitmapBytes(int32_t width, int32_t height) {
  return static_cast<int32_t>(static_cast<uint32_t>(width) * static_cast<uint32_t>(height)) / 2;
}

void AnnounceOutput(SrtModuleHandle& h) {
  std::memcpy(h.format.subType, h.textOutput ? kTextSubType : kBitmapSubType, sizeof h.format.subType);
}

void InitialFormat(SubtitleFormat* format) {
  *format = SubtitleFormat{};
  format->width = kSrtFrameWidth;
  format->height = kSrtFrameHeight;
  format->bitsPerPixel = kBitsPerPixel;
  std::memcpy(format->codec, kCodec, sizeof format->codec);
  std::memcpy(format->subType, kBitmapSubType, sizeof format->subType);
  format->bitmapBytes = BitmapBytes(format->width, format->height);
}

bool CanRead(const char16_t* name) { return OpenSrtBytes(name) != nullptr; }

// A fresh reader over the kept file name: the cursor at the first cue. A load that fails
// part-way still serves the cues it read.
int32_t Reload(SrtModuleHandle& h) {
  std::unique_ptr<CSRTReader> reader(new (std::nothrow) CSRTReader);
  if (!reader) return VMF_OUT_OF_MEMORY;
  reader->Load(h.fileName.c_str());
  h.reader = std::move(reader);
  return VMF_OK;
}

template <class Record>
int32_t PutRecord(VmfQueryValue* value, const Record& record) {
  if (value->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
  if (value->size < sizeof record) {
    value->size = sizeof record;
    return VMF_OUT_OF_MEMORY;
  }
  std::memcpy(value->value.ptr, &record, sizeof record);
  value->dataType = VMF_DTYPE_BUFFER;
  value->size = sizeof record;
  return VMF_OK;
}

int32_t PutCount(VmfQueryValue* value, uint16_t count) {
  value->value.u64 = 0;
  value->value.u16 = count;
  value->dataType = VMF_DTYPE_COUNT16;
  value->size = sizeof count;
  return VMF_OK;
}

int32_t PutFlag(VmfQueryValue* value, bool flag) {
  value->value.u64 = 0;
  value->value.bytes[0] = flag ? 1 : 0;
  value->dataType = VMF_DTYPE_FLAG;
  value->size = 1;
  return VMF_OK;
}

int32_t ReadTextBlock(SrtModuleHandle& h, VmfBlock* block) {
  SrtCue cue;
  if (h.reader->NextCue(&cue.start, &cue.end, cue.text) != kSrtOk) return VMF_FAILED;
  if (block->capacity < kCueTextBytes && block->enlarge != nullptr) block->enlarge(block, kCueTextBytes);
  if (block->capacity < kCueTextBytes) {
    // Answering 0 here would hand the caller its old bytes as this cue and lose the cue: it
    // stays for the next read, and the caller learns the size it needs.
    h.reader->PutBack();
    block->size = kCueTextBytes;
    return VMF_ERR_BLOCK_BUFFER_TOO_SMALL;
  }
  if (block->data == nullptr) return VMF_ERR_BLOCK_BUFFER_NULL;
  std::memset(block->data, 0, kCueTextBytes);
  const size_t length = std::strlen(cue.text);
  std::memcpy(block->data, cue.text, length);
  block->size = static_cast<uint32_t>(length);
  block->flags = VMF_BLOCK_FLAG_KEYFRAME;  // every cue stands alone
  block->time = cue.start;
  block->duration = cue.end - cue.start;
  return VMF_OK;
}

int32_t ReadCue(SrtModuleHandle& h, VmfBlock* block) {
  return h.textOutput ? ReadTextBlock(h, block) : ReadBitmapBlock(h, block);
}

// ---- Entries --------------------------------------------------------------------------

int32_t Init(const VmfRegistrationRecord* record) {
  if (record != nullptr) gRecord = *record;
  return VMF_OK;
}

constexpr VmfModuleInfo kInfo{1, 0, {1, 0, 0, 1}, u".srt", u"SRT read module."};
const VmfModuleInfo* GetModuleInfo() { return &kInfo; }

int32_t Close(VmfModuleHandle module) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  SrtModuleHandle* h = AsHandle(module);
  VexaOS::MemoryArena* allocator = h->allocator;
  h->~SrtModuleHandle();
  vmf::Free(allocator, h);
  return VMF_OK;
}

int32_t Open(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena* allocator) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  *module = nullptr;
  if (name == nullptr) return VMF_MISSING_ARGUMENT;
  void* memory = vmf::Allocate(allocator, sizeof(SrtModuleHandle));
  if (memory == nullptr) return VMF_OUT_OF_MEMORY;
  struct Closer {
    void operator()(SrtModuleHandle* h) const { Close(h); }
  };
  std::unique_ptr<SrtModuleHandle, Closer> h(new (memory) SrtModuleHandle);
  h->allocator = allocator;
  if (vmf::CreateSubtitleRasteriser(nullptr, &h->rasteriser) != vmf::kSubtitleOk) return VMF_OUT_OF_MEMORY;
  if (!CanRead(name)) return kSrtCannotOpen;
  InitialFormat(&h->format);
  h->fileName = name;
  const int32_t loaded = Reload(*h);
  if (loaded != VMF_OK) return loaded;
  AnnounceOutput(*h);
  *module = h.release();
  return VMF_OK;
}

int32_t SetTitle(VmfModuleHandle module, int32_t title) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  return title == 0 ? VMF_OK : VMF_ERR_INVALID_TITLE_INDEX;  // a file is one title
}

int32_t SetActiveStream(VmfModuleHandle module, int32_t, int32_t, int32_t bActive) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  AsHandle(module)->activeStream = bActive != 0 ? 1 : 0;
  return VMF_OK;
}

int32_t GetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (value == nullptr) return VMF_MISSING_ARGUMENT;
  SrtModuleHandle& h = *AsHandle(module);
  switch (qid) {
    case VMF_QID_SUB_STREAM_FORMAT: return PutRecord(value, h.format);
    case VMF_QID_NUM_ACTIVE_TITLE_STREAMS: return PutCount(value, h.activeStream);
    case VMF_QID_NUM_CONTAINER_TITLE: case VMF_QID_NUM_TITLE_STREAMS:
    case VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA: return PutCount(value, 1);
    case VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA: case VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA: return PutCount(value, 0);
    case VMF_QID_GET_CONTAINER_PROP: return PutRecord(value, SrtContainerProp{kPropVersion, {}, 1});
    case VMF_QID_GET_TITLE_PROP: return PutRecord(value, SrtTitleProp{{}, 1});
    case VMF_QID_GET_TITLE_MEDIA_PROP: {
      VmfTitleMediaProp prop{};
      prop.counts[kSubtitleCountSlot] = 1;
      return PutRecord(value, prop);
    }
    case VMF_QID_GET_SUBTITLE_MEDIA_PROP: return PutRecord(value, SrtSubtitleMediaProp{kPropVersion, {}});
    case VMF_QID_SET_SRT_OUTPUT_TEXT: case VMF_QID_GET_SRT_OUTPUT_TEXT: return PutFlag(value, h.textOutput);
    default: return VMF_ERR_INVALID_QUERY_ID;
  }
}

int32_t SetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (value == nullptr) return VMF_MISSING_ARGUMENT;
  SrtModuleHandle& h = *AsHandle(module);
  switch (qid) {
    case VMF_QID_SET_DSC_FONTFILE:
      return vmf::SetSubtitleFont(h.rasteriser.get(), static_cast<const char16_t*>(value->value.ptr)) ==
                     vmf::kSubtitleOk
                 ? VMF_OK
                 : VMF_FAILED;
    case VMF_QID_SET_HTTP_AUTH: return VMF_OK;  // a local file needs none
    case VMF_QID_SET_SRT_OUTPUT_TEXT: {
      h.textOutput = value->value.bytes[0] != 0;
      const int32_t loaded = Reload(h);
      if (loaded != VMF_OK) h.textOutput = false;
      AnnounceOutput(h);
      return loaded;
    }
    case VMF_QID_SUB_STREAM_FORMAT: {
      if (value->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
      if (value->size < sizeof h.format) return VMF_OUT_OF_MEMORY;
      std::memcpy(&h.format, value->value.ptr, sizeof h.format);
      h.format.bitmapBytes = BitmapBytes(h.format.width, h.format.height);
      return VMF_OK;
    }
    default: return VMF_ERR_INVALID_QUERY_ID;
  }
}

// Only text output can be positioned; in bitmap output the cues keep coming from where they
// are.
int32_t SetPosition(VmfModuleHandle module, int32_t, int32_t, int64_t* pTime) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (pTime == nullptr) return VMF_MISSING_ARGUMENT;
  SrtModuleHandle& h = *AsHandle(module);
  return h.textOutput ? h.reader->Seek(pTime) : VMF_OK;
}

int32_t ReadNextBlock(VmfModuleHandle module, int32_t* pBlockType, int32_t* pnStream, VmfBlock* block) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (pBlockType == nullptr || pnStream == nullptr) return VMF_MISSING_ARGUMENT;
  if (block == nullptr) return VMF_ERR_BLOCK_BUFFER_NULL;
  *pBlockType = VMF_BLOCK_SUBTITLE;
  *pnStream = 0;
  return ReadCue(*AsHandle(module), block);
}

int32_t ReadNextBlockByStream(VmfModuleHandle module, int32_t blockType, int32_t nStream, VmfBlock* block) {
  if (module == nullptr) return VMF_ERR_INVALID_HANDLER;
  if (block == nullptr) return VMF_ERR_BLOCK_BUFFER_NULL;
  if ((blockType != VMF_BLOCK_SUBTITLE && blockType != VMF_BLOCK_SUBTITLE_ALIAS) || nStream != 0)
    return VMF_ERR_INVALID_STREAM;
  return ReadCue(*AsHandle(module), block);
}

constexpr VmfEntryTable kEntries{
    .init = Init, .getModuleInfo = GetModuleInfo, .probe = vmf::ProbeSrt, .openContainer = Guarded<Open>::Call,
    .closeContainer = Guarded<Close>::Call, .setTitle = SetTitle, .getInfo = Guarded<GetInfo>::Call,
    .setPosition = Guarded<SetPosition>::Call, .setTitleActiveStream = SetActiveStream,
    .readNextBlock = Guarded<ReadNextBlock>::Call, .readNextBlockByStream = Guarded<ReadNextBlockByStream>::Call,
    .setInfo = Guarded<SetInfo>::Call};
constexpr VmfModuleDescriptor kDescriptor{VMF_MODULE_SRT, &kInfo, &kEntries};

}  // namespace
}  // namespace srt

const VmfModuleDescriptor* SrtModuleDescriptor() { return &srt::kDescriptor; }
