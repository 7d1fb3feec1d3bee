#include "tests/framework/FakeModule.h"

#include <cstdio>
#include <memory>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "framework/ContainerAccess.h"
#include "framework/LoggingModule.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"

namespace fake {
namespace {

struct FakeFile {
  int counts[4] = {0, 0, 0, 0};  // by block type: 1 audio, 2 video, 3 subtitle
  int delivered[4][8] = {};
  std::string tag;
};

bool Parse(std::u16string_view name, FakeFile* file) {
  if (!name.starts_with(u"fake:")) return false;
  std::string text(name.begin() + 5, name.end());
  char tag[64] = "";
  int* counts = file->counts;
  if (std::sscanf(text.c_str(), "v%da%ds%d:%63s", &counts[VMF_BLOCK_VIDEO], &counts[VMF_BLOCK_AUDIO],
                  &counts[VMF_BLOCK_SUBTITLE], tag) < 3)
    return false;
  file->tag = tag;
  return true;
}

const VmfModuleInfo kInfo{1, 0, {0, 0, 0, 0}, u".fake", u"test module."};

int32_t Init(const VmfRegistrationRecord*) { return VMF_OK; }
const VmfModuleInfo* Info() { return &kInfo; }

int32_t Probe(int32_t* score, const char16_t* name, VexaOS::MemoryArena*) {
  FakeFile probe;
  *score = Parse(name, &probe) ? 100 : 0;
  return VMF_OK;
}

int32_t Open(VmfModuleHandle* module, const char16_t* name, VexaOS::MemoryArena*) {
  auto file = std::make_unique<FakeFile>();
  if (!Parse(name, file.get())) return VMF_ERR_INVALID_FILE;
  *module = file.release();
  return VMF_OK;
}

int32_t Close(VmfModuleHandle module) {
  delete static_cast<FakeFile*>(module);
  ++Closes();
  return VMF_OK;
}

// Stream kinds in the order of the title media record's counts and of the count queries.
constexpr int kKinds[] = {VMF_BLOCK_VIDEO, VMF_BLOCK_AUDIO, VMF_BLOCK_SUBTITLE};
constexpr uint32_t kCountQids[] = {VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA,
                                   VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA};

int32_t GetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t) {
  const auto& file = *static_cast<FakeFile*>(module);
  for (int i = 0; i < 3; ++i) {
    if (qid != kCountQids[i]) continue;
    value->value.u64 = 0xABCD0000u | static_cast<uint32_t>(file.counts[kKinds[i]]);  // counts are 16-bit
    return VMF_OK;
  }
  return VMF_ERR_UNSUPPORTED_QID;
}

int32_t ReadByStream(VmfModuleHandle module, int32_t blockType, int32_t nStream, VmfBlock* block) {
  auto& file = *static_cast<FakeFile*>(module);
  const int type = blockType == VMF_BLOCK_VIDEO_ALIAS      ? VMF_BLOCK_VIDEO
                   : blockType == VMF_BLOCK_SUBTITLE_ALIAS ? VMF_BLOCK_SUBTITLE
                                                           : blockType;
  if (nStream >= file.counts[type]) return VMF_ERR_INVALID_STREAM;
  int& n = file.delivered[type][nStream];
  if (n == 2) return VMF_ERR_END_OF_STREAM;
  char text[96];
  const int length = std::snprintf(text, sizeof text, "%s/%d/%d/%d", file.tag.c_str(), type,
                                   nStream, n);
  block->size = static_cast<uint32_t>(length);
  if (block->capacity < block->size) return VMF_ERR_BLOCK_BUFFER_TOO_SMALL;
  std::memcpy(block->data, text, block->size);
  block->time = 1000 * n;
  block->flags = n == 0 ? VMF_BLOCK_FLAG_KEYFRAME : 0;
  ++n;
  return VMF_OK;
}

const VmfEntryTable kEntries{.init = Init, .getModuleInfo = Info, .probe = Probe,
                             .openContainer = Open, .closeContainer = Close,
                             .getInfo = GetInfo,
                             .readNextBlockByStream = ReadByStream};
const VmfModuleDescriptor kModule{kFakeId, &kInfo, &kEntries};

}  // namespace

std::atomic<int>& Closes() {
  static std::atomic<int> closes{0};
  return closes;
}

const VmfModuleDescriptor& Module() { return kModule; }

int32_t RegisterWithLogging() {
  static const VmfModuleDescriptor* const modules[] = {&kModule, &vmf::LoggingModule()};
  static const VmfRegistrationRecord record{0, modules, nullptr, 2, 0};
  return vmf::Init(&record);
}

std::string BlockText(const VmfBlock& block) {
  return std::string(reinterpret_cast<const char*>(block.data), block.size);
}

std::string LogText(const std::string& dir) {
  std::ifstream in(dir + "/L1log.txt", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (bytes.rfind("\xFF\xFE", 0) != 0) return "no mark";
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0 || bytes[i] < 0) return "not ASCII";
    text += bytes[i];
  }
  return bytes.size() % 2 == 0 ? text : "not ASCII";
}

}  // namespace fake
